#pragma once

#include <cstdint>
#include <span>
#include <vector>

class HopHistory;

// A hop's probes summed up per pixel column of the time line, so that a
// repaint walks the columns and not the probes: 10 000 runs draw as fast as
// 10. Each column keeps, per address, the lowest and highest round-trip time
// that fell into it, and how many probes were lost there.
class TimeLineBins {
public:
    struct Span {
        uint16_t series; // the address in the order the hop first answered from it
        uint32_t minUs;
        uint32_t maxUs;
    };
    // What series 0, 1, ... are: address-log entries, 0 for replies from
    // addresses the full log could not hold.
    const std::vector<int32_t> &seriesEntries() const { return entries_; }

    // Probes sent from 0 up to endUs are spread over columns columns.
    void build(const HopHistory &probes, uint64_t endUs, int columns);
    void clear();

    int columns() const { return static_cast<int>(lost_.size()); }
    std::span<const Span> spans(int column) const;
    uint32_t lost(int column) const { return lost_[static_cast<size_t>(column)]; }
    uint32_t worstUs() const { return worstUs_; }
    uint64_t endUs() const { return endUs_; }
    int columnOf(uint64_t sentUs) const;
    // The send times that fall into column: [first, second).
    uint64_t columnStartUs(int column) const;

private:
    uint16_t seriesOf(int32_t entry);

    std::vector<Span> spans_;
    std::vector<uint32_t> start_; // column c's spans are [start_[c], start_[c + 1])
    std::vector<uint32_t> lost_;
    std::vector<int32_t> entries_;
    std::vector<int32_t> seriesByEntry_; // -1: not seen yet
    uint32_t worstUs_ = 0;
    uint64_t endUs_ = 0;
};
