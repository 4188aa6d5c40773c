#pragma once

#include "net/DatagramPacket.h"
#include "net/IcmpPacket.h"
#include "net/IpAddress.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Building and parsing of ICMPv6 echo packets, pure functions on byte spans.
// Both ICMPv6 sockets, datagram and raw, deliver the ICMPv6 message without
// the IPv6 header: the sender comes in msg_name, the hop limit in an
// IPV6_HOPLIMIT control message. Every parser checks each length before it
// reads; a packet that is not the answer to our request yields nullopt.
namespace Icmp6Packet {

inline constexpr uint8_t typeDestUnreachable = 1;
inline constexpr uint8_t typePacketTooBig = 2;
inline constexpr uint8_t typeTimeExceeded = 3;
inline constexpr uint8_t typeParamProblem = 4;
inline constexpr uint8_t typeEchoRequest = 128;
inline constexpr uint8_t typeEchoReply = 129;

inline constexpr size_t icmpHeaderSize = 8;
inline constexpr size_t ipv6HeaderSize = 40;

// The answer is the same as for IPv4: its ttl is the hop limit.
using Answer = IcmpPacket::Answer;

// Echo request: type 128, code 0, id, sequence, payload. The checksum stays 0:
// it covers the IPv6 addresses, and the kernel fills it on both sockets.
std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload);

// True for the ICMPv6 errors that quote a request: 1 to 4.
bool isErrorType(uint8_t type);

// Status code of an ICMPv6 message of this type and code.
uint32_t statusFor(uint8_t type, uint8_t code);

// True when the bytes start with an echo request header of this sequence
// (and id, unless id is nullopt: a datagram socket's kernel owns the id).
bool isOurRequest(std::span<const uint8_t> icmp, std::optional<uint16_t> id, uint16_t sequence);

// Datagram socket: an echo reply of this sequence (the kernel matched the id).
std::optional<Answer> parseDatagramReply(const DatagramPacket::Received &received,
                                         uint16_t sequence);

// Datagram socket: an error-queue entry of ICMPv6 origin for our echo request
// of this sequence. The data is our own echo header, msg_name the quoted
// destination; the router is the offender.
std::optional<Answer> parseErrorQueueEntry(const DatagramPacket::Received &received,
                                           const IpAddress &destination, uint16_t sequence);

// Raw socket: an echo reply with our id and sequence, or an error (1 to 4)
// quoting an IPv6 packet to destination that carries our echo request.
std::optional<Answer> parseRawMessage(const DatagramPacket::Received &received,
                                      const IpAddress &destination, uint16_t id,
                                      uint16_t sequence);

} // namespace Icmp6Packet
