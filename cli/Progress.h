#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// One line on standard error while a trace runs in a terminal: the run, the
// hop and the time left, rewritten about ten times a second and erased at
// the end. Pipes and cron get none.
class Progress {
public:
    using Clock = std::chrono::steady_clock;

    Progress(bool shown, int32_t runs) : shown_(shown), runs_(runs) {}

    // Before each probe: run is 1-based, 0 before the first run.
    void update(int32_t run, int16_t hop);
    void erase();

    // "run 3 of 20, hop 7, 0:42 left"; without the time when it is negative
    // (unknown until a run has finished).
    static std::string line(int32_t run, int32_t runs, int16_t hop, double secondsLeft);

private:
    double secondsLeft(int32_t run, Clock::time_point now) const;

    bool shown_;
    int32_t runs_;
    int32_t run_ = 0;
    Clock::time_point firstRunStart_;
    Clock::time_point runStart_;
    Clock::time_point lastDrawn_;
    bool drawn_ = false;
};
