#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/HopDetails.h"
#include "engine/HopTable.h"
#include "engine/PathMtuSearch.h"
#include "engine/TraceSettings.h"
#include "net/EchoService.h"
#include "net/IpAddress.h"

class Resolver;
class TraceObserver;
class WindowOps;

// The trace: the Start/Stop button's handler with its run and hop loops and
// the target's look-ups; the hop rows and the MTU search are its parts. It
// owns the state the main window shares with the Options dialog and the
// report; the window owns it.
class TraceEngine {
public:
    TraceEngine(TraceSettings &settings, EchoService &echo, Resolver &resolver, WindowOps &ops);

    // The trace's clock: the wall-clock time of the first run's start, and the
    // microseconds from it to a probe's send, read right before it. By
    // default the system's clock and the monotonic one.
    struct Clock {
        std::function<std::chrono::system_clock::time_point()> runsStart;
        std::function<uint64_t()> sinceRunsStart;
    };

    // Click of the Start/Stop button: starts a trace (returns when it ends)
    // or, pressed during one, asks it to stop.
    void command1Click();

    // Told of everything the world gives a trace, as it comes (null: nobody).
    void setObserver(TraceObserver *observer);
    // A trace made with other probes, names, window and clock (a recorded
    // trace given again); the engine's own serve again once it returns.
    void traceWith(EchoService &echo, Resolver &resolver, WindowOps &ops, Clock clock);

    // The reset of the results shared by the host entry and the Options
    // dialog: rows, maxhop, notes, dbIndex and hopNoted.
    void resetResults();

    // Puts the names whose look-ups outlasted their wait where the row rules
    // would have put them; names of look-ups made before the last reset go
    // nowhere. The trace calls it at its yields, the window when told that a
    // name came.
    void deliverLateNames();

    // Each hop's probes and figures for the hop details window; it only
    // reads, between probes, and sees the names the log holds at that moment.
    HopDetails details() const { return HopDetails(rows_.history, rows_.log, rows_.dbIndex); }

    // The wall-clock time of the first run's start, which the probes' send
    // times count from; none before the runs of a trace began.
    std::optional<std::chrono::system_clock::time_point> runsStartedAt() const
    {
        return runsStartedAt_;
    }

    TraceSettings &settings;

private:
    HopTable rows_; // before the references into it below

public:
    ResultModel &results = rows_.results;
    bool tracing = false;
    int16_t curHop = 0;
    int16_t &maxhop = rows_.maxhop;
    int32_t &dbIndex = rows_.dbIndex;
    HopStats &stats = rows_.stats;
    AddressLog &log = rows_.log;
    std::array<bool, 256> &hopNoted = rows_.hopNoted;

private:
    void stopClick();
    void startClick();
    bool settingsRefused();
    void clearForStart();
    bool resolveTarget(IpAddress &targetAddr);
    bool refuseTarget(const std::string &dotted, IpAddress &targetAddr);
    void runLoop(const IpAddress &targetAddr);
    bool probeHop(const IpAddress &targetAddr, IpAddress &lastReplyAddr);
    bool refuseUnsent(int16_t hop, const IpAddress &targetAddr, const IcmpEchoReply &reply);
    bool waitOutUnsent(int16_t hop, const IpAddress &targetAddr, const IcmpEchoReply &reply);
    // A main probe's outcome waiting to be written, because its reply (or an
    // earlier one: the order holds) waits for the kernel's send stamp.
    struct PendingProbe {
        int16_t hop = 0;
        int32_t run = 0;
        uint64_t sentUs = 0;
        bool answered = false;
        bool fromTarget = false;
        IcmpEchoReply reply;
    };
    void writeProbe(int16_t hop, const IpAddress &targetAddr, const IcmpEchoReply &reply,
                    bool answered);
    void writeNow(PendingProbe &probe);
    void settlePending();
    void recordProbe(const PendingProbe &probe);
    void reportHeld();
    // The reply count of one probe of size bytes, headers included, sent after
    // yielding to the window; empty when the window started closing.
    std::optional<uint32_t> sendProbe(EchoHandle &handle, const IpAddress &address, int16_t size,
                                      const IpOptionInformation &options, IcmpEchoReply &reply);
    void endTrace();

    bool windowGone();
    uint32_t timeoutMs() const;
    const std::vector<uint8_t> &payloadOf(int16_t size);

    Clock ownClock();
    uint64_t sinceRunsStart() const;

    // The services a trace uses: the engine's own, or traceWith's for its length.
    EchoService *echo_;
    Resolver *resolver_;
    WindowOps *ops_;
    Clock clock_;
    TraceObserver *observer_ = nullptr;
    PathMtuSearch mtu_;
    bool gone_ = false;            // the window closed during this trace
    bool firstProbe_ = false;      // no main probe of this trace has been sent yet
    int32_t run_ = 0;              // the run going on, 1-based
    // Written together once their send stamps are read: at most a batch, and
    // none later than the window's own refresh would show it; also before a
    // path MTU search, in a long wait, on Stop and at the end of the runs.
    static constexpr size_t pendingBatch = 64;
    static constexpr uint64_t pendingAgeUs = 50000;
    std::vector<PendingProbe> pending_;
    uint64_t pendingSinceUs_ = 0;
    bool settling_ = false;
    // The observer hears of the end of a run and of a press of Stop only once
    // every probe sent before is written, as if each had been written at once.
    std::vector<int32_t> heldRunEnds_;
    bool heldStop_ = false;
    // The history's clock: the first run's start.
    std::chrono::steady_clock::time_point runsStart_;
    uint64_t sentUs_ = 0;
    std::optional<std::chrono::system_clock::time_point> runsStartedAt_;
    std::vector<uint8_t> payload_; // reused between probes: every byte is 'a'
};
