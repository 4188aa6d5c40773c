#include "engine/HopHistory.h"

#include <algorithm>

void HopHistory::append(const HopProbe &probe)
{
    if (size_ == chunks_.size() * chunkSize)
        chunks_.push_back(std::make_unique_for_overwrite<Chunk>());
    (*chunks_.back())[size_ % chunkSize] = probe;
    ++size_;
}

// A reset gives the memory back: the next trace may be a short one.
void HopHistory::clear()
{
    chunks_.clear();
    size_ = 0;
}

size_t HopHistory::lowerBound(uint64_t sentUs) const
{
    size_t low = 0;
    size_t high = size_;
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if ((*this)[mid].sentUs < sentUs)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}
