#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/HopProbe.h"

// The main probes of one hop in send order. A hop gets at most one main probe
// a run, so room for every run of the trace is set aside at its first probe:
// a long trace never copies what it has collected, and the pages it never
// reaches (a trace stopped early) are never touched, so never resident.
class HopHistory {
public:
    size_t size() const { return probes_.size(); }
    bool empty() const { return probes_.empty(); }
    const HopProbe &operator[](size_t i) const { return probes_[i]; }
    const HopProbe &back() const { return probes_.back(); }
    // The first probe sent at or after sentUs (size() when none): the probes
    // are in send order, so a chart finds a pixel column's probes with two
    // searches.
    size_t lowerBound(uint64_t sentUs) const;

    // Room for this many probes in all, set aside once, at the first append.
    void reserve(size_t probes) { probes_.reserve(probes); }
    void append(const HopProbe &probe) { probes_.push_back(probe); }
    void clear();

private:
    std::vector<HopProbe> probes_;
};
