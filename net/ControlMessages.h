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
    // SCM_TIMESTAMPING's software stamp, on CLOCK_REALTIME too.
    std::optional<std::chrono::nanoseconds> software;
};

// The kernel's stamp of a request leaving (SOF_TIMESTAMPING_TX_SOFTWARE), an
// error-queue entry of its own; key counts the socket's sends from 0.
struct SendStamp {
    uint32_t key = 0;
    std::chrono::nanoseconds at{};
};
std::optional<SendStamp> sendStamp(const Control &control);

// One walk over all messages, each taken by its level (socket, IP or IPv6).
Control read(std::span<const uint8_t> bytes);

} // namespace ControlMessages
