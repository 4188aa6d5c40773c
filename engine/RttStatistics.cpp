#include "engine/RttStatistics.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

double ms(double us)
{
    return us / 1000.0;
}

// The replies of one group of probes, gathered in send order.
struct Replies {
    std::vector<uint32_t> times; // microseconds
    int32_t probes = 0;
    int32_t imprecise = 0;
    uint64_t jitterSum = 0;       // of |t(i) - t(i-1)|, in microseconds
    std::optional<uint32_t> last; // the latest probe's time, none once it is lost

    void add(const HopProbe &p)
    {
        ++probes;
        if (p.lost) {
            last.reset();
            return;
        }
        if (!times.empty())
            jitterSum += static_cast<uint64_t>(std::llabs(int64_t{p.rttUs} - times.back()));
        times.push_back(p.rttUs);
        imprecise += p.precise ? 0 : 1;
        last = p.rttUs;
    }
};

// Linear interpolation between the ranks around p × (n - 1), as the median
// of an even count is the mean of the middle two. Reorders times.
double percentile(std::vector<uint32_t> &times, double p)
{
    const double rank = p * static_cast<double>(times.size() - 1);
    const auto lower = static_cast<size_t>(std::floor(rank));
    const auto at = times.begin() + static_cast<std::ptrdiff_t>(lower);
    std::nth_element(times.begin(), at, times.end());
    const double low = *at;
    const double fraction = rank - static_cast<double>(lower);
    if (fraction == 0)
        return low;
    const double high = *std::min_element(at + 1, times.end());
    return low + fraction * (high - low);
}

RttStatistics figures(Replies &r)
{
    RttStatistics s;
    s.probes = r.probes;
    s.replies = static_cast<int32_t>(r.times.size());
    s.share = s.probes > 0 ? static_cast<double>(s.replies) / s.probes : 0;
    s.imprecise = r.imprecise;
    if (r.last)
        s.last = ms(*r.last);
    if (r.times.empty())
        return s;
    const auto n = static_cast<double>(r.times.size());
    double sum = 0;
    for (const uint32_t t : r.times)
        sum += t;
    const double mean = sum / n;
    double squares = 0;
    for (const uint32_t t : r.times)
        squares += (t - mean) * (t - mean);
    const auto [best, worst] = std::minmax_element(r.times.begin(), r.times.end());
    s.best = ms(*best);
    s.worst = ms(*worst);
    s.avg = ms(mean);
    s.stdev = r.times.size() > 1 ? ms(std::sqrt(squares / (n - 1))) : 0;
    s.jitter = r.times.size() > 1 ? ms(static_cast<double>(r.jitterSum) / (n - 1)) : 0;
    s.median = ms(percentile(r.times, 0.5));
    s.p95 = ms(percentile(r.times, 0.95));
    return s;
}

} // namespace

RttStatistics rttStatistics(const HopHistory &probes)
{
    Replies all;
    all.times.reserve(probes.size());
    for (size_t i = 0; i < probes.size(); ++i)
        all.add(probes[i]);
    return figures(all);
}

std::vector<AddressStatistics> addressStatistics(const HopHistory &probes)
{
    std::vector<int32_t> slot; // by entry: index into groups + 1, 0 for none yet
    std::vector<Replies> groups;
    std::vector<int32_t> entries;
    Replies unlogged;
    int32_t replies = 0;
    for (size_t i = 0; i < probes.size(); ++i) {
        const HopProbe &p = probes[i];
        if (p.lost)
            continue;
        ++replies;
        if (p.entry == 0) {
            unlogged.add(p);
            continue;
        }
        if (slot.size() <= p.entry)
            slot.resize(p.entry + 1u, 0);
        if (slot[p.entry] == 0) {
            groups.emplace_back();
            entries.push_back(p.entry);
            slot[p.entry] = static_cast<int32_t>(groups.size());
        }
        groups[static_cast<size_t>(slot[p.entry] - 1)].add(p);
    }
    std::vector<AddressStatistics> out;
    for (size_t g = 0; g < groups.size(); ++g)
        out.push_back({entries[g], figures(groups[g])});
    if (!unlogged.times.empty())
        out.push_back({0, figures(unlogged)});
    for (AddressStatistics &a : out)
        a.stats.share = static_cast<double>(a.stats.replies) / replies;
    return out;
}
