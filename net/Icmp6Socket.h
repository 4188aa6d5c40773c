#pragma once

#include <cstdint>

// Opening and setting up the two ICMPv6 echo sockets. Each returns the socket,
// or -1 with errno set by the call that failed.
namespace Icmp6Socket {

// socket(AF_INET6, SOCK_DGRAM, IPPROTO_ICMPV6): admitted by the same
// net.ipv4.ping_group_range as IPv4's; errors come through the error queue.
int openDatagram();

// socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6), CAP_NET_RAW: only echo replies
// and the errors 1 to 4 with our id reach it.
int openRaw(uint16_t id);

} // namespace Icmp6Socket
