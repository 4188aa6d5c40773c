#pragma once

#include "net/IpAddress.h"

#include <chrono>
#include <cstdint>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <optional>
#include <span>

// The control messages of one recvmsg on an ICMP or ICMPv6 socket, read from
// their bytes by a pure function: any bytes at all are safe input.
namespace ControlMessages {

struct Control {
    std::optional<sock_extended_err> error; // IP_RECVERR or IPV6_RECVERR
    IpAddress offender;                     // the router that answered; 0.0.0.0 when not given
    uint8_t ttl = 0;                        // IP_TTL or IPV6_HOPLIMIT, 0 when not given
    // SCM_TIMESTAMPNS: when the kernel received the packet, on CLOCK_REALTIME.
    std::optional<std::chrono::nanoseconds> arrival;
};

// One walk over all messages, each taken by its level (socket, IP or IPv6).
Control read(std::span<const uint8_t> bytes);

} // namespace ControlMessages
