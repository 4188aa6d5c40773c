#include "ui/TimeLineBins.h"

#include <algorithm>

#include "engine/HopHistory.h"

void TimeLineBins::clear()
{
    spans_.clear();
    start_.assign(1, 0);
    lost_.clear();
    entries_.clear();
    seriesByEntry_.clear();
    worstUs_ = 0;
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
    start_.assign(lost_.size() + 1, 0);
    int column = 0;
    for (size_t i = 0; i < probes.size(); ++i) {
        const HopProbe &p = probes[i];
        const int c = columnOf(p.sentUs);
        while (column < c)
            start_[static_cast<size_t>(++column)] = static_cast<uint32_t>(spans_.size());
        if (p.lost) {
            ++lost_[static_cast<size_t>(c)];
            continue;
        }
        const uint16_t series = seriesOf(p.entry);
        worstUs_ = std::max(worstUs_, p.rttUs);
        auto first = spans_.begin() + start_[static_cast<size_t>(c)];
        auto it = std::find_if(first, spans_.end(), [&](const Span &s) { return s.series == series; });
        if (it == spans_.end()) {
            spans_.push_back({series, p.rttUs, p.rttUs});
        } else {
            it->minUs = std::min(it->minUs, p.rttUs);
            it->maxUs = std::max(it->maxUs, p.rttUs);
        }
    }
    while (column < static_cast<int>(lost_.size()))
        start_[static_cast<size_t>(++column)] = static_cast<uint32_t>(spans_.size());
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
