#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/HopHistory.h"

// Round-trip figures of a set of main probes, in milliseconds with the
// microseconds the kernel stamps give. Truncated to whole milliseconds, best,
// worst and last are the row's Best, Worst and Last. The row's Avg truncates
// twice, each time to whole milliseconds and then their integer mean, so it
// may sit up to, not including, 2 ms below avg (1.999 and 2.999 ms: the row
// says 1, avg 2.499).
struct RttStatistics {
    int32_t probes = 0; // hop: its main probes; address: its replies
    int32_t replies = 0;
    // Hop: replies / probes. Address: its share of the hop's replies. 0..1.
    double share = 0;
    int32_t imprecise = 0; // replies timed in whole milliseconds only
    // The rest is 0 without replies.
    double best = 0;
    double median = 0;
    double avg = 0;
    double p95 = 0; // 95th percentile, interpolated between ranks as the median is
    double worst = 0;
    double stdev = 0;  // sample standard deviation; 0 for one reply
    double jitter = 0; // mean absolute difference of consecutive replies' times
    // Hop: the last probe's time when it was answered, none after a loss, as
    // the row's Last. Address: its latest reply's time.
    std::optional<double> last;
};

// One address a hop answered from, as the address log numbers it.
struct AddressStatistics {
    int32_t entry = 0; // address-log entry; 0: addresses the full log could not hold
    RttStatistics stats;
};

// The hop's figures over all its main probes.
RttStatistics rttStatistics(const HopHistory &probes);
// One group per address in the order first answered from, those the log
// could not hold last (entry 0, only when there are any).
std::vector<AddressStatistics> addressStatistics(const HopHistory &probes);
