#include "report/AtlasReport.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "net/Sockets.h"

namespace {

using Json = nlohmann::ordered_json;
using Clock = TraceFacts::Clock;

// Not a probe's firmware: Atlas's documentation gives every result of a
// firmware from 5000 on its newest layout, the one written here, and RIPE's
// parser reads the family from "af" only from 4460 on. No measurement or probe
// of Atlas has the id 0, nor a clock sync -1 seconds ago ("unknown").
constexpr int atlasLayout = 5000;

// Each hop's probes in run order, read forward one run at a time.
class RunCursor {
public:
    RunCursor(const HopDetails &details, int16_t hops) : details_(details), next_(hops + 1, 0) {}

    // The hop's probe of run, if it had one.
    const HopProbe *probe(int16_t hop, int32_t run)
    {
        const HopHistory &probes = details_.probes(hop);
        size_t &i = next_[static_cast<size_t>(hop)];
        while (i < probes.size() && probes[i].run < run)
            ++i;
        return i < probes.size() && probes[i].run == run ? &probes[i] : nullptr;
    }

private:
    const HopDetails &details_;
    std::vector<size_t> next_;
};

int32_t lastRun(const HopDetails &details, int16_t hops)
{
    int32_t runs = 0;
    for (int16_t hop = 1; hop <= hops; ++hop)
        if (!details.probes(hop).empty())
            runs = std::max<int32_t>(runs, details.probes(hop).back().run);
    return runs;
}

// A reply's size is not kept, so a packet has none.
Json packetJson(const HopDetails &details, const HopProbe &p)
{
    if (p.lost)
        return {{"x", "*"}};
    Json packet = Json::object();
    if (p.entry)
        packet["from"] = details.addressText(p.entry);
    packet["rtt"] = std::round(p.rttMs() * 1000.0) / 1000.0;
    packet["ttl"] = static_cast<int>(p.ttl);
    return packet;
}

int64_t unixSeconds(Clock::time_point start, uint64_t us)
{
    const auto at = start + std::chrono::microseconds(us);
    return std::chrono::duration_cast<std::chrono::seconds>(at.time_since_epoch()).count();
}

} // namespace

std::string atlasReport(const ReportSnapshot &snapshot, const HopDetails &details,
                        const TraceFacts &facts)
{
    const auto hops = static_cast<int16_t>(snapshot.rows.size());
    const auto target = textToAddress(snapshot.text3);
    const int af = target && target->isIpv6() ? 6 : 4;
    const uint64_t timeoutUs = static_cast<uint64_t>(snapshot.settings.optTimeoutSec) * 1'000'000;
    RunCursor cursor(details, hops);
    std::string out;
    for (int32_t run = 1, runs = lastRun(details, hops); run <= runs; ++run) {
        Json result = Json::array();
        uint64_t firstUs = UINT64_MAX, endUs = 0;
        for (int16_t hop = 1; hop <= hops; ++hop) {
            const HopProbe *p = cursor.probe(hop, run);
            if (!p)
                continue;
            firstUs = std::min<uint64_t>(firstUs, p->sentUs);
            endUs = std::max<uint64_t>(endUs, p->sentUs + (p->lost ? timeoutUs : p->rttUs));
            result.push_back({{"hop", hop}, {"result", Json::array({packetJson(details, *p)})}});
        }
        if (result.empty())
            continue;
        Json line = {{"af", af},
                     {"dst_addr", snapshot.text3},
                     {"dst_name", snapshot.combo1Text},
                     {"endtime", unixSeconds(facts.start, endUs)},
                     {"from", facts.source},
                     {"fw", atlasLayout},
                     {"lts", -1},
                     {"msm_id", 0},
                     {"msm_name", "Traceroute"},
                     {"paris_id", 0},
                     {"prb_id", 0},
                     {"proto", "ICMP"},
                     {"result", std::move(result)},
                     {"size", snapshot.settings.optPacketSize - (af == 6 ? 48 : 28)},
                     {"src_addr", facts.source},
                     {"timestamp", unixSeconds(facts.start, firstUs)},
                     {"type", "traceroute"}};
        out += line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    }
    return out;
}
