#pragma once

#include <chrono>
#include <optional>

namespace RoundTrip {

using std::chrono::nanoseconds;

// The kernel stamps' difference, when there are stamps and the clock was not
// stepped in between (a negative difference, or one past the time-out).
constexpr std::optional<nanoseconds> stamped(std::optional<nanoseconds> arrival,
                                             nanoseconds sentReal, nanoseconds timeout)
{
    if (!arrival)
        return std::nullopt;
    const nanoseconds difference = *arrival - sentReal;
    if (difference < nanoseconds::zero() || difference > timeout)
        return std::nullopt;
    return difference;
}

// The time from the send to the reply's arrival. The arrival is the kernel's
// receive stamp, on CLOCK_REALTIME like sentReal, so neither the window's
// work nor a busy machine delaying the read counts. Without a stamp, or when
// the clock was stepped in between (a negative difference, or one past the
// time-out), the monotonic time from the send to the read stands in.
constexpr nanoseconds measure(std::optional<nanoseconds> arrival, nanoseconds sentReal,
                              nanoseconds monotonic, nanoseconds timeout)
{
    return stamped(arrival, sentReal, timeout).value_or(monotonic);
}

} // namespace RoundTrip
