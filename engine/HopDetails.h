#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/AddressLog.h"
#include "engine/AsymText.h"
#include "engine/LossBreakdown.h"
#include "engine/ProbeHistory.h"
#include "engine/RttStatistics.h"

// What the hop details window reads, between probes, on the trace's thread:
// a hop's probes, their addresses and names, its figures, its loss explained,
// its last MTU search and the basis of its Asym/TTL figure. It only reads;
// names are read from the address log at each call, so late ones show.
class HopDetails {
public:
    HopDetails(const ProbeHistory &history, const AddressLog &log, const int32_t &dbIndex)
        : history_(history), log_(log), dbIndex_(dbIndex)
    {
    }

    // The highest hop with a probe (the rows of the trace); 0 before any.
    int16_t hopCount() const { return history_.highestHop(); }
    // hop 1..255; an unprobed hop's history is empty, and so is any other hop's.
    const HopHistory &probes(int16_t hop) const { return history_.hop(hop); }
    // Dotted (or IPv6) text and host name of an address-log entry; empty for
    // entry 0 (lost, or not held by the full log).
    const std::string &addressText(int32_t entry) const;
    const std::string &addressName(int32_t entry) const;

    RttStatistics statistics(int16_t hop) const;
    std::vector<AddressStatistics> addressStatistics(int16_t hop) const;
    LossBreakdown loss(int16_t hop) const;
    std::string lossText(int16_t hop) const;

    const MtuRecord &mtu(int16_t hop) const { return history_.mtu(hop); }
    // What the Asym/TTL column rests on; none while it is empty or shows "***".
    std::optional<AsymBasis> asymBasis(int16_t hop) const;
    // The arriving TTL (hop limit) of the hop's last main reply.
    std::optional<uint8_t> replyTtl(int16_t hop) const { return history_.replyTtl(hop); }

    // The hop's probes as tab-separated lines: run, milliseconds since the
    // start, address, round-trip time in ms (both with three decimals) or
    // "timeout"; each line ends in "\n".
    std::string probeLines(int16_t hop) const;

    // The run still going, 1-based; 0 when none.
    int32_t currentRun() const { return history_.openRun(); }

    // Moves with every probe, search and reset.
    uint64_t revision() const { return history_.revision(); }

private:
    const ProbeHistory &history_;
    const AddressLog &log_;
    const int32_t &dbIndex_;
};
