#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "net/EchoService.h"
#include "net/IpAddress.h"

// One echo request of a trace and what came back: a main probe, or one of an
// MTU search (don't-fragment, with its own size).
struct ProbeEvent {
    int32_t run = 0;      // 1-based
    int16_t hop = 0;      // the main probe's TTL; the hop an MTU search is of
    bool mtu = false;     // a probe of the MTU search
    int16_t size = 0;     // IP packet, headers included
    uint64_t sentUs = 0;  // from the first run's start
    IcmpEchoReply reply;  // replyCount 0: nothing came
};

// What the world gave a trace, in the order it came: the target's address,
// every probe's answer, each name looked up (at once or late) and each press
// of Stop. Given these again in this order, the engine makes the same trace.
class TraceObserver {
public:
    virtual ~TraceObserver() = default;
    // The forward look-up's result; empty when the host did not resolve.
    virtual void target(const std::string &address) = 0;
    // The wall-clock time of the first run's start, which send times count from.
    virtual void runsStarted(std::chrono::system_clock::time_point at) = 0;
    virtual void probe(const ProbeEvent &event) = 0;
    // A reverse look-up's name (empty for none); late: one that came after its wait.
    virtual void name(const IpAddress &address, const std::string &name, bool late) = 0;
    virtual void stopPressed(int32_t run) = 0;
    virtual void runEnded(int32_t run) = 0;
};
