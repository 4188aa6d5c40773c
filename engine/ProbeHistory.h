#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/HopHistory.h"
#include "engine/MtuRecord.h"
#include "engine/RunOutcome.h"

// Every main probe of the current trace, hop by hop, with what a hop's figures
// need beside them: how far each run got, which hops the target answered at,
// each hop's last MTU search and the TTL of its last reply. The trace writes
// it; the rows' reset clears it; the hop details only read it.
class ProbeHistory {
public:
    static constexpr int16_t maxHop = 255;

    // ---- written by the trace
    void clear();
    // The runs the trace will make at most: a hop's first probe sets aside
    // room for that many.
    void expectRuns(int32_t runs) { expectedRuns_ = runs; }
    // run is 1-based; the run stays open until endRun() (the target answered
    // or the hop limit was probed) or cutRun() (it ended before either).
    void beginRun(int32_t run);
    void endRun();
    void cutRun();
    void addLoss(int16_t hop, uint64_t sentUs);
    // entry: the address-log entry the reply was counted in (0: the log was
    // full). preciseUs: the kernel stamps' time; without it rttMs stands in.
    void addReply(int16_t hop, uint64_t sentUs, int32_t entry, uint32_t rttMs,
                  std::optional<uint32_t> preciseUs, bool fromTarget, uint8_t replyTtl);
    // A new search of hop in the open run: its record starts empty.
    MtuRecord &beginMtuSearch(int16_t hop);
    MtuRecord &mtuRecord(int16_t hop) { return mtu_[index(hop)]; }

    // ---- read by the hop details
    const HopHistory &hop(int16_t hop) const { return hops_[index(hop)]; }
    // The highest hop with a probe; 0 before any.
    int16_t highestHop() const { return highestHop_; }
    // The highest hop that answered in run (1-based); 0 when none did or
    // the run has not begun.
    int16_t reachOfRun(int32_t run) const { return outcome(run).reach; }
    // What run (1-based) reached; all zero for a run not begun.
    RunOutcome outcome(int32_t run) const;
    // The highest hop that has answered in this trace; 0 before any reply.
    int16_t reach() const { return reach_; }
    // The run still going (later hops may yet answer in it); 0 when none.
    int32_t openRun() const { return openRun_; }
    // Some reply at this hop came from the target.
    bool targetAt(int16_t hop) const { return target_[index(hop)]; }
    // The arriving TTL (hop limit) of the hop's last main reply.
    std::optional<uint8_t> replyTtl(int16_t hop) const;
    const MtuRecord &mtu(int16_t hop) const { return mtu_[index(hop)]; }
    // Changes with every probe, search and clear: a view redraws only when it moved.
    uint64_t revision() const { return revision_; }

private:
    // A hop outside 1..255 reads as slot 0, which no probe ever fills.
    static size_t index(int16_t hop)
    {
        return hop >= 1 && hop <= maxHop ? static_cast<size_t>(hop) : 0;
    }
    void append(int16_t hop, const HopProbe &probe);

    std::array<HopHistory, maxHop + 1> hops_;
    std::array<MtuRecord, maxHop + 1> mtu_;
    std::array<bool, maxHop + 1> target_{};
    std::array<uint8_t, maxHop + 1> replyTtl_{};
    std::array<bool, maxHop + 1> replied_{};
    std::vector<RunOutcome> runs_; // by run - 1
    int32_t openRun_ = 0;
    int32_t expectedRuns_ = 0;
    int16_t highestHop_ = 0;
    int16_t reach_ = 0;
    uint64_t revision_ = 0;
};
