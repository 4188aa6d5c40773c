// Cost of the trace engine per main probe over a scripted network that answers
// at once: three hops, the target answering at the third, 10000 runs, names
// off. A second trace with the MTU search on gives its added cost per search.
//
//   engine_probe
//
// The last line is the microseconds per main probe (goal: at most 5).
#include <chrono>
#include <cstdio>
#include <string>

#include "engine/TraceEngine.h"
#include "tests/fakes/FakeNetwork.h"
#include "tests/fakes/FakeWindowOps.h"

namespace {

constexpr int hops = 3;
constexpr int16_t runs = 10000;
constexpr int mtuColumn = 10;
const std::string target = "192.0.2.1";

struct Timing {
    double us = 0;
    size_t requests = 0;
    bool complete = false;
};

// One trace of the whole run count; yields and the network do nothing but answer.
Timing timeTrace(bool findMtu)
{
    TraceSettings settings;
    settings.setStartupValues();
    settings.optMaxRuns = runs;
    settings.optMaxHops = 30;
    settings.optResolveNames = false;
    settings.optFindMtu = findMtu;

    FakeNetwork net;
    net.setRecording(false);
    net.setRecordPayloads(false);
    for (int ttl = 1; ttl < hops; ++ttl)
        net.hop(ttl) = FakeHop{{"10.0.0." + std::to_string(ttl)}};
    net.hop(hops) = FakeHop{{target}};
    net.hop(hops).status = IpStatus::success;

    FakeWindowOps ops;
    ops.setCombo1Text(target);
    TraceEngine engine{settings, net, net, ops};

    const auto start = std::chrono::steady_clock::now();
    engine.command1Click();
    const auto end = std::chrono::steady_clock::now();

    Timing t;
    t.us = std::chrono::duration<double, std::micro>(end - start).count();
    t.requests = net.requestCount();
    t.complete = engine.results.rowCount() == hops && ops.messages().empty() &&
                 engine.stats.hopSent[hops] == runs && engine.stats.hopRecv[hops] == runs &&
                 engine.results.cell(hops, mtuColumn) == (findMtu ? "1500" : "");
    return t;
}

} // namespace

int main()
{
    const size_t mainProbes = static_cast<size_t>(runs) * hops;
    const Timing plain = timeTrace(false);
    const Timing mtu = timeTrace(true);
    if (!plain.complete || !mtu.complete || plain.requests != mainProbes) {
        std::fprintf(stderr, "engine_probe: the trace did not run as scripted\n");
        return 1;
    }
    const size_t searches = mainProbes; // one per answered hop
    const double perMain = plain.us / static_cast<double>(mainProbes);
    const double mtuProbes = static_cast<double>(mtu.requests - mainProbes) /
                             static_cast<double>(searches);
    const double perSearch = (mtu.us - plain.us) / static_cast<double>(searches);

    std::printf("main probes: %zu in %.0f us\n", mainProbes, plain.us);
    std::printf("MTU on: %zu searches, %.1f probes each, %.0f us in all\n", searches, mtuProbes,
                mtu.us);
    std::printf("us per MTU search (added to its main probe): %.2f\n", perSearch);
    std::printf("us per main probe: %.3f\n", perMain);
    return 0;
}
