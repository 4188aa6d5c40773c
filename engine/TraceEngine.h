#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/AddressLog.h"
#include "engine/HopStats.h"
#include "engine/ResultModel.h"
#include "engine/TraceSettings.h"
#include "net/IpAddress.h"

class EchoHandle;
class EchoService;
class Resolver;
class WindowOps;
struct IcmpEchoReply;

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

    // Puts the names whose look-ups outlasted their wait where the row rules
    // would have put them; names of look-ups made before the last reset go
    // nowhere. The trace calls it at its yields, the window when told that a
    // name came.
    void deliverLateNames();

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
    enum class MtuOutcome { passes, tooBig, failed };

    // A look-up that found no name in time, and where a late name goes.
    struct NameWait {
        std::string dotted;
        int32_t k;  // the address-log entry to name; 0: the target's Host name box
        bool inRow; // the Hostname cell of hop dbHop[k] shows it too, while it shows dotted
    };

    void stopClick();
    void startClick();
    bool settingsRefused();
    void clearForStart();
    bool resolveTarget(IpAddress &targetAddr);
    bool refuseTarget(const std::string &dotted, IpAddress &targetAddr);
    void runLoop(const IpAddress &targetAddr);
    bool probeHop(const IpAddress &targetAddr, IpAddress &lastReplyAddr);
    void endTrace();

    void handleRow(int16_t hop, bool answered, const IpAddress &address, int32_t rtt);
    void handleTimeout(int16_t hop);
    void handleReply(int16_t hop, const IpAddress &address, int32_t rtt);
    void addReplyRow(int16_t hop, const std::string &s, int32_t rtt);
    void updateReplyRow(int16_t hop, const std::string &s, int32_t rtt);
    void noteReply(int16_t hop, const std::string &s, int32_t k);
    void writeCounts(int16_t hop);
    void writeTimeoutTimes(int16_t hop);
    void writeReplyTimes(int16_t hop, int32_t rtt);
    int32_t findInLog(int16_t hop, const std::string &s) const;
    bool hopInLog(int16_t hop) const;
    int32_t appendToLog(int16_t hop, const std::string &s);
    void countReply(int32_t k);
    void rebuildNotes();
    std::string lookUpName(const std::string &dotted);
    void awaitName(const std::string &name, const std::string &dotted, int32_t k, bool inRow);
    void placeLateName(const NameWait &wait, const std::string &name);
    void forgetLateNames();

    // The address is a copy: the search writes its replies into reply.
    void findPathMtu(int16_t hop, IpAddress address, EchoHandle &handle, IcmpEchoReply &reply);
    MtuOutcome tryMtuSize(int16_t size, bool successSeen, const IpAddress &address,
                          EchoHandle &handle,
                          IcmpEchoReply &reply);
    void writeMtu(int16_t hop, const std::string &mtu, const std::string &asym);

    bool windowGone();
    uint32_t timeoutMs() const;
    const std::vector<uint8_t> &payloadOf(int16_t size);

    EchoService &echo_;
    Resolver &resolver_;
    WindowOps &ops_;
    bool gone_ = false;            // the window closed during this trace
    std::vector<uint8_t> payload_; // reused between probes: every byte is 'a'
    std::vector<NameWait> nameWaits_;
};
