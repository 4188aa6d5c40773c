#pragma once

#include <array>
#include <cstdint>

// Per-hop counters of the current trace, indexed by hop 0..255 (0 is unused).
struct HopStats {
    static constexpr int32_t noBest = 1000000000; // hopBest before any reply

    std::array<int32_t, 256> hopSent{};
    std::array<int32_t, 256> hopRecv{};
    std::array<int32_t, 256> hopBest{};
    std::array<int32_t, 256> hopSum{};
    std::array<int32_t, 256> hopWorst{};

    void reset();
};
