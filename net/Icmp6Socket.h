#pragma once

#include <cstdint>

// Opening and setting up the raw ICMPv6 echo socket; the datagram socket
// needs nothing of its own family that EchoFamily does not give.
namespace Icmp6Socket {

// socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6), CAP_NET_RAW: only echo replies
// and the errors 1 to 4 with our id reach it. Returns the socket, or -1 with
// errno set by the call that failed.
int openRaw(uint16_t id);

} // namespace Icmp6Socket
