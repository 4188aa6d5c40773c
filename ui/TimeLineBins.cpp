#include "ui/TimeLineBins.h"

#include <algorithm>
#include <cmath>

#include "engine/HopHistory.h"

namespace {

// Room above the highest time shown, so its mark does not sit on the frame.
constexpr double headroom = 1.05;
// Outliers are clipped only where they would press the rest into a third of
// the height or less.
constexpr uint32_t squeeze = 3;

// A round figure a little above us.
uint32_t roundUp(uint32_t us)
{
    return static_cast<uint32_t>(std::min(TimeLineBins::niceCeil(us * headroom), 4e9));
}

} // namespace

double TimeLineBins::niceCeil(double v)
{
    if (v <= 0)
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= v * (1 - 1e-9))
            return m * power;
    return 10 * power;
}

void TimeLineBins::clear()
{
    spans_.clear();
    start_.assign(1, 0);
    probes_.clear();
    lost_.clear();
    entries_.clear();
    seriesByEntry_.clear();
    times_.clear();
    probeCount_ = 0;
    worstUs_ = 0;
    scaleUs_ = 1000;
    clipped_ = 0;
    endUs_ = 0;
}

uint16_t TimeLineBins::seriesOf(int32_t entry)
{
    const auto e = static_cast<size_t>(entry);
    if (e >= seriesByEntry_.size())
        seriesByEntry_.resize(e + 1, -1);
    if (seriesByEntry_[e] < 0) {
        seriesByEntry_[e] = static_cast<int32_t>(entries_.size());
        entries_.push_back(entry);
    }
    return static_cast<uint16_t>(seriesByEntry_[e]);
}

// The probes are in send order, so each column's spans are appended in turn;
// a column holds few addresses, and finding one among them is a short scan.
void TimeLineBins::build(const HopHistory &probes, uint64_t endUs, int columns)
{
    clear();
    endUs_ = std::max<uint64_t>(endUs, 1);
    lost_.assign(static_cast<size_t>(std::max(columns, 1)), 0);
    probes_.assign(lost_.size(), 0);
    start_.assign(lost_.size() + 1, 0);
    times_.reserve(probes.size());
    probeCount_ = probes.size();
    int column = 0;
    for (size_t i = 0; i < probes.size(); ++i) {
        const HopProbe &p = probes[i];
        const int c = columnOf(p.sentUs);
        while (column < c)
            start_[static_cast<size_t>(++column)] = static_cast<uint32_t>(spans_.size());
        ++probes_[static_cast<size_t>(c)];
        if (p.lost)
            ++lost_[static_cast<size_t>(c)];
        else
            add(c, seriesOf(p.entry), p.rttUs);
    }
    while (column < static_cast<int>(lost_.size()))
        start_[static_cast<size_t>(++column)] = static_cast<uint32_t>(spans_.size());
    chooseScale();
}

void TimeLineBins::add(int column, uint16_t series, uint32_t rttUs)
{
    worstUs_ = std::max(worstUs_, rttUs);
    times_.push_back(rttUs);
    auto first = spans_.begin() + start_[static_cast<size_t>(column)];
    auto it = std::find_if(first, spans_.end(), [&](const Span &s) { return s.series == series; });
    if (it == spans_.end()) {
        spans_.push_back({series, 1, rttUs, rttUs, rttUs});
        return;
    }
    ++it->replies;
    it->minUs = std::min(it->minUs, rttUs);
    it->maxUs = std::max(it->maxUs, rttUs);
    it->sumUs += rttUs;
}

// Up to the slowest reply, unless some of the slowest hundredth (at least
// one, of at least four replies) lie more than three times above the rest:
// the axis then ends above the rest (about the 99th percentile) and those
// outliers are clipped.
void TimeLineBins::chooseScale()
{
    scaleUs_ = worstUs_ > 0 ? roundUp(worstUs_) : 1000;
    const size_t n = times_.size();
    const size_t outliers = std::max<size_t>(1, n / 100);
    if (n < 4 * outliers)
        return;
    const auto bulk = times_.begin() + static_cast<std::ptrdiff_t>(n - 1 - outliers);
    std::nth_element(times_.begin(), bulk, times_.end());
    const uint32_t limit = squeeze * std::max<uint32_t>(*bulk, 1);
    if (worstUs_ <= limit)
        return;
    // the axis keeps every reply that is not an outlier
    uint32_t kept = *bulk;
    for (auto it = bulk; it != times_.end(); ++it)
        if (*it <= limit)
            kept = std::max(kept, *it);
    scaleUs_ = roundUp(std::max<uint32_t>(kept, 1));
    clipped_ = static_cast<uint32_t>(
        std::count_if(bulk, times_.end(), [this](uint32_t t) { return t > scaleUs_; }));
}

std::span<const TimeLineBins::Span> TimeLineBins::spans(int column) const
{
    const auto c = static_cast<size_t>(column);
    return std::span(spans_).subspan(start_[c], start_[c + 1] - start_[c]);
}

int TimeLineBins::columnOf(uint64_t sentUs) const
{
    const double at = static_cast<double>(sentUs) / static_cast<double>(endUs_) * columns();
    return std::clamp(static_cast<int>(at), 0, columns() - 1);
}

uint64_t TimeLineBins::columnStartUs(int column) const
{
    return static_cast<uint64_t>(static_cast<double>(endUs_) * column / columns() + 0.999999);
}
