#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/HopProbe.h"

// The main probes of one hop in send order. Stored in fixed chunks, so a
// long trace never copies what it has collected and holds no more than 16
// bytes a probe plus one partly filled chunk.
class HopHistory {
public:
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const HopProbe &operator[](size_t i) const { return (*chunks_[i / chunkSize])[i % chunkSize]; }
    const HopProbe &back() const { return (*this)[size_ - 1]; }
    // The first probe sent at or after sentUs (size() when none): the probes
    // are in send order, so a chart finds a pixel column's probes with two
    // searches.
    size_t lowerBound(uint64_t sentUs) const;

    void append(const HopProbe &probe);
    void clear();

    static constexpr size_t chunkSize = 1024; // 16 KiB

private:
    using Chunk = std::array<HopProbe, chunkSize>;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    size_t size_ = 0;
};
