#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr auto redrawInterval = std::chrono::milliseconds(100);
// Back to the line's start, and the rest of the line cleared.
constexpr const char *eraseLine = "\r\033[K";

void writeAll(const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(STDERR_FILENO, text.data() + done, text.size() - done);
        if (n <= 0)
            return; // a terminal that went away takes no progress
        done += static_cast<size_t>(n);
    }
}

} // namespace

void Progress::update(int32_t run, int16_t hop)
{
    if (!shown_ || run < 1)
        return;
    const Clock::time_point now = Clock::now();
    if (run != run_) {
        if (run_ == 0)
            firstRunStart_ = now;
        run_ = run;
        runStart_ = now;
    }
    if (drawn_ && now - lastDrawn_ < redrawInterval)
        return;
    writeAll(eraseLine + line(run, runs_, hop, secondsLeft(run, now)));
    lastDrawn_ = now;
    drawn_ = true;
}

void Progress::erase()
{
    if (drawn_)
        writeAll(eraseLine);
    drawn_ = false;
}

// The finished runs' mean length for each run still to come, less what the
// current one has taken; unknown (negative) while no run has finished.
double Progress::secondsLeft(int32_t run, Clock::time_point now) const
{
    if (run < 2)
        return -1;
    const std::chrono::duration<double> finished = runStart_ - firstRunStart_;
    const std::chrono::duration<double> current = now - runStart_;
    const double perRun = finished.count() / (run - 1);
    return std::max(0.0, perRun * (runs_ - run + 1) - current.count());
}

std::string Progress::line(int32_t run, int32_t runs, int16_t hop, double secondsLeft)
{
    std::string text = "run " + std::to_string(run) + " of " + std::to_string(runs) + ", hop " +
                       std::to_string(hop);
    if (secondsLeft < 0)
        return text;
    const auto seconds = static_cast<long>(std::ceil(secondsLeft));
    char left[48];
    if (seconds >= 60)
        std::snprintf(left, sizeof left, ", %ld:%02ld left", seconds / 60, seconds % 60);
    else
        std::snprintf(left, sizeof left, ", %ld s left", seconds);
    return text + left;
}
