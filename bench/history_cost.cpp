// Memory of the hop history: the real engine over a scripted network that
// answers at once, RUNS runs over HOPS hops (the target answering at the
// last, every 4th reply of hop 2 lost), names and MTU search off. Prints the
// process's RSS before the trace, after its first tenth of the runs and after
// the last, and the growth per probe between the last two: what one more
// probe costs once the rows exist.
//
//   history_cost [HOPS [RUNS]]        (default 30 hops, 10000 runs)
//
// The last line ends with the bytes a probe (goal: at most 16).
#include <cstdio>
#include <fstream>
#include <string>

#include "engine/TraceEngine.h"
#include "tests/fakes/FakeNetwork.h"
#include "tests/fakes/FakeWindowOps.h"

namespace {

const std::string target = "192.0.2.1";

long rssKb()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

std::string routerText(int ttl)
{
    return "10." + std::to_string(ttl / 256) + "." + std::to_string(ttl % 256) + ".1";
}

} // namespace

int main(int argc, char **argv)
{
    const int hops = argc > 1 ? std::stoi(argv[1]) : 30;
    const int runs = argc > 2 ? std::stoi(argv[2]) : 10000;
    if (hops < 2 || hops > 255 || runs < 1 || runs > 10000) {
        std::fprintf(stderr, "usage: history_cost [HOPS 2..255 [RUNS 1..10000]]\n");
        return 2;
    }
    TraceSettings settings;
    settings.setStartupValues();
    settings.optMaxRuns = static_cast<int16_t>(runs);
    settings.optMaxHops = static_cast<int16_t>(hops);

    FakeNetwork net;
    net.setRecording(false);
    net.setRecordPayloads(false);
    for (int ttl = 1; ttl < hops; ++ttl)
        net.hop(ttl) = FakeHop{{routerText(ttl)}};
    std::string quarter;
    for (int i = 0; i < runs; ++i)
        quarter += i % 4 == 3 ? '-' : '+';
    net.hop(2).answers = quarter;
    net.hop(hops) = FakeHop{{target}};
    net.hop(hops).status = IpStatus::success;

    FakeWindowOps ops;
    ops.setCombo1Text(target);
    TraceEngine engine{settings, net, net, ops};

    const size_t tenth = static_cast<size_t>(runs / 10);
    long atTenth = -1;
    ops.onEveryYield([&] {
        if (atTenth < 0 && engine.details().probes(static_cast<int16_t>(hops)).size() == tenth)
            atTenth = rssKb();
    });
    const long before = rssKb();
    engine.command1Click();
    const long after = rssKb();

    const HopDetails details = engine.details();
    size_t probes = 0;
    for (int16_t hop = 1; hop <= details.hopCount(); ++hop)
        probes += details.probes(hop).size();
    if (details.hopCount() != hops || probes != static_cast<size_t>(hops) * runs ||
        details.loss(2).noReply != runs / 4) {
        std::fprintf(stderr, "history_cost: the trace did not run as scripted\n");
        return 1;
    }
    std::printf("%d hops, %d runs: %zu probes, a probe record %zu bytes\n", hops, runs, probes,
                sizeof(HopProbe));
    const size_t laterProbes = probes - tenth * static_cast<size_t>(hops);
    std::printf("RSS before the trace %.1f MB, after %zu runs %.1f MB, after %d runs %.1f MB: "
                "%.2f bytes a probe in between\n",
                before / 1024.0, tenth, atTenth / 1024.0, runs, after / 1024.0,
                static_cast<double>(after - atTenth) * 1024 / static_cast<double>(laterProbes));
    return 0;
}
