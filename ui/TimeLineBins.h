#pragma once

#include <cstdint>
#include <span>
#include <vector>

class HopHistory;

// A hop's probes summed up per pixel column of the time line, so that a
// repaint walks the columns and not the probes: 10 000 runs draw as fast as
// 10. Each column keeps, per address, the replies that fell into it (their
// count, lowest, highest and mean time) and how many probes it holds and
// lost. The binning also chooses the time the y axis reaches: one slow reply
// among many fast ones is clipped rather than pressing the rest flat.
class TimeLineBins {
public:
    struct Span {
        uint16_t series; // the address in the order the hop first answered from it
        uint32_t replies;
        uint32_t minUs;
        uint32_t maxUs;
        uint64_t sumUs;
        uint32_t meanUs() const { return static_cast<uint32_t>(sumUs / replies); }
    };
    // What series 0, 1, ... are: address-log entries, 0 for replies from
    // addresses the full log could not hold.
    const std::vector<int32_t> &seriesEntries() const { return entries_; }

    // Probes sent from 0 up to endUs are spread over columns columns.
    void build(const HopHistory &probes, uint64_t endUs, int columns);
    void clear();

    int columns() const { return static_cast<int>(lost_.size()); }
    std::span<const Span> spans(int column) const;
    uint32_t probes(int column) const { return probes_[static_cast<size_t>(column)]; }
    uint32_t lost(int column) const { return lost_[static_cast<size_t>(column)]; }
    size_t probeCount() const { return probeCount_; }
    uint32_t worstUs() const { return worstUs_; }
    // The top of the y axis, a round figure; replies above it are clipped
    // (clipped() of them).
    uint32_t scaleUs() const { return scaleUs_; }
    uint32_t clipped() const { return clipped_; }
    uint64_t endUs() const { return endUs_; }
    int columnOf(uint64_t sentUs) const;
    // The send times that fall into column: [first, second).
    uint64_t columnStartUs(int column) const;

    // The smallest of 1, 2 and 5 times a power of ten that is at least v.
    static double niceCeil(double v);

private:
    uint16_t seriesOf(int32_t entry);
    void add(int column, uint16_t series, uint32_t rttUs);
    void chooseScale();

    std::vector<Span> spans_;
    std::vector<uint32_t> start_; // column c's spans are [start_[c], start_[c + 1])
    std::vector<uint32_t> probes_;
    std::vector<uint32_t> lost_;
    std::vector<int32_t> entries_;
    std::vector<int32_t> seriesByEntry_; // -1: not seen yet
    std::vector<uint32_t> times_;        // every reply's time, for the scale
    size_t probeCount_ = 0;
    uint32_t worstUs_ = 0;
    uint32_t scaleUs_ = 1000;
    uint32_t clipped_ = 0;
    uint64_t endUs_ = 0;
};
