#pragma once

#include <array>
#include <cstdint>

#include "engine/AddressLog.h"
#include "engine/HopStats.h"
#include "engine/ResultModel.h"
#include "engine/TraceSettings.h"

class EchoService;
class Resolver;
class WindowOps;

// The trace: the Start/Stop button's handler with its run and hop loops, the
// hop statistics, the MTU search and the notes. It owns the state the main
// window shares with the Options dialog and the report; the window owns it.
class TraceEngine {
public:
    TraceEngine(TraceSettings &settings, EchoService &echo, Resolver &resolver, WindowOps &ops);

    // Click of the Start/Stop button: starts a trace (returns when it ends)
    // or, pressed during one, asks it to stop.
    void command1Click();

    // The reset of the results shared by the host entry and the Options
    // dialog: rows, maxhop, notes, dbIndex and hopNoted.
    void resetResults();

    TraceSettings &settings;
    ResultModel results;
    bool tracing = false;
    int16_t curHop = 0;
    int16_t maxhop = 0;
    int32_t dbIndex = 0;
    HopStats stats;
    AddressLog log;
    std::array<bool, 256> hopNoted{};

private:
    EchoService &echo_;
    Resolver &resolver_;
    WindowOps &ops_;
};
