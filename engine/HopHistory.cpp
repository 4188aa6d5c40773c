#include "engine/HopHistory.h"

#include <algorithm>

// A reset gives the memory back: the next trace may be a short one.
void HopHistory::clear()
{
    std::vector<HopProbe>().swap(probes_);
}

size_t HopHistory::lowerBound(uint64_t sentUs) const
{
    return static_cast<size_t>(
        std::partition_point(probes_.begin(), probes_.end(),
                             [sentUs](const HopProbe &p) { return p.sentUs < sentUs; }) -
        probes_.begin());
}
