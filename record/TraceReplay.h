#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/TraceEngine.h"
#include "engine/WindowOps.h"
#include "net/EchoService.h"
#include "net/Resolver.h"
#include "record/TraceLog.h"

// A saved trace given to the engine again: its probes answer the engine's
// requests, its names its look-ups, its presses of Stop come at its yields and
// its clock gives the recorded send times, so the engine builds the rows, the
// Notes, the MTU and Asym figures and every hop's details with its own code.
// A record that does not answer what the engine asks ends the replay with
// the record's line.
class TraceReplay {
public:
    // visible: the window that shows the trace (its boxes and buttons), or null.
    TraceReplay(const TraceDocument &document, TraceEngine &engine, WindowOps *visible);
    ~TraceReplay();

    // Empty when the file made the trace it claims; else why not.
    std::string run();
    // The messages the trace gave (a trace that failed at its start).
    const std::vector<std::string> &messages() const;

private:
    class Cursor;
    class Echo;
    class Names;
    class Window;

    std::unique_ptr<Cursor> cursor_;
    std::unique_ptr<Echo> echo_;
    std::unique_ptr<Names> names_;
    std::unique_ptr<Window> window_;
    TraceEngine &engine_;
};
