#pragma once

#include <chrono>

#include "net/BoundedLookup.h"
#include "net/Resolver.h"

// Look-ups through the C library's resolver (hosts file, DNS, as nsswitch
// says). Name look-ups run on a worker thread with a deadline of their own,
// whatever resolv.conf sets: a name server that never answers makes a
// look-up find nothing after the deadline instead of stalling the trace.
class SystemResolver : public Resolver {
public:
    // A forward look-up runs once per Start; this covers the C library's
    // default of two 5-second tries at one name server.
    static constexpr std::chrono::milliseconds forwardDeadline{10'000};
    // A reverse look-up runs for every new address of a trace; it costs at
    // most what one lost probe costs at the default time-out.
    static constexpr std::chrono::milliseconds reverseDeadline{2'000};

    std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) override;
    std::string officialName(uint32_t address) override;
    void setIdleHook(IdleHook hook) override { lookups_.setIdleHook(std::move(hook)); }

private:
    BoundedLookup lookups_;
};
