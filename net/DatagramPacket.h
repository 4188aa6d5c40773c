#pragma once

#include "net/IcmpPacket.h"

#include <cstdint>
#include <optional>
#include <span>

// Parsing of what one recvmsg on an ICMP datagram socket returned, pure
// functions on byte spans so that any kernel output, or any bytes at all, are
// safe input.
namespace DatagramPacket {

// One recvmsg's result: the data, msg_name and msg_control as far as the
// kernel filled them (msg_namelen and msg_controllen bytes).
struct Received {
    std::span<const uint8_t> data;
    std::span<const uint8_t> name;
    std::span<const uint8_t> control;
};

// An echo reply of this sequence; the replying address is msg_name, the
// arriving TTL comes with the IP_TTL control message and the kernel's receive
// stamp with SCM_TIMESTAMPNS (on an error-queue entry too).
std::optional<IcmpPacket::Answer> parseReply(const Received &received, uint16_t sequence);

// An error-queue entry: an ICMP error (IP_RECVERR control message of ICMP
// origin) for our echo request of this sequence. The data is our own echo
// header; msg_name is the quoted destination, the router is the offender.
std::optional<IcmpPacket::Answer> parseErrorQueueEntry(const Received &received,
                                                       uint32_t destination, uint16_t sequence);

} // namespace DatagramPacket
