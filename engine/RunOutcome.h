#pragma once

#include <cstdint>

// How one run of the trace went, as far as its hops' losses need it: a loss
// is told apart by what answered beyond it in the same run.
struct RunOutcome {
    uint8_t reach = 0;       // the highest hop that answered
    uint8_t routerReach = 0; // the highest hop that answered from an address not the target's
    uint8_t target = 0;      // the hop at which the target answered (the run ended there); 0: none
    // Ended before the target answered or the hop limit was probed (Stop, the
    // window closing, a probe that could not be sent): the hops it never
    // probed say nothing about its losses.
    bool cut = false;
};
