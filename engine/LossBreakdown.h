#pragma once

#include <cstdint>
#include <string>

#include "engine/ProbeHistory.h"

// Where a hop's lost probes were lost, run by run. A probe lost at a hop while
// a later hop answered in the same run went through: the router forwards but
// did not answer (it limits its ICMP replies). A loss with nothing beyond
// answering in a run that went to its end is the path's (forward loss); in a
// run cut short (Stop) it is undecided. Where the target answered is decided
// per run, as a route may grow or shrink: a loss is the target's own when the
// target answered at this hop in the run before or after and nothing but the
// target answered beyond it in its run (a lost reply of the target is answered
// again one hop further).
struct LossBreakdown {
    int32_t probes = 0;
    int32_t lost = 0;
    int32_t noReply = 0;   // lost, but a later hop answered in that run
    int32_t forward = 0;   // lost, and nothing beyond answered in that run
    int32_t pending = 0;   // lost in the run still going; later hops may yet answer
    int32_t undecided = 0; // lost in a run cut short before a later hop answered
    bool silent = false;   // every probe lost while later hops answered
    bool target = false;   // the target answered at this hop
    // No later hop has answered in this trace: the last hop reached, or one
    // beyond it.
    bool nothingBeyond = false;
    int32_t longestLossRun = 0; // most consecutive lost probes
};

LossBreakdown lossBreakdown(const ProbeHistory &history, int16_t hop);

// The breakdown in plain words, e.g. "25 % of probes got no reply from this
// router, but later hops answered in those runs: the router limits its
// replies; the path itself lost 0 %".
std::string lossText(const LossBreakdown &loss);
