#pragma once

#include <chrono>
#include <string>

#include "net/Resolver.h"

// What a report of a whole trace knows beyond the window's state: when it
// ran, what it asked for and how it ended. The shell fills it in as a trace
// ends.
struct TraceFacts {
    using Clock = std::chrono::system_clock;
    enum class Ended { completed, stopped, failed };

    AddressFamily family = AddressFamily::any; // the family asked for
    // The first run's start, from which the probes' send times count (the
    // trace's start when no run began), and the trace's end.
    Clock::time_point start;
    Clock::time_point end;
    Ended ended = Ended::completed;
    std::string error;  // with failed: the message the window would show
    std::string source; // the address the probes left from; empty when unknown
    std::string program = "korvalen";
};
