#pragma once

#include "net/IpAddress.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// Building and parsing of ICMP echo packets, pure functions on byte spans.
// Every parser checks each length before it reads, so any byte string is safe
// input; a packet that is not the answer to our request yields nullopt.
namespace IcmpPacket {

inline constexpr uint8_t typeEchoReply = 0;
inline constexpr uint8_t typeDestUnreachable = 3;
inline constexpr uint8_t typeSourceQuench = 4;
inline constexpr uint8_t typeEchoRequest = 8;
inline constexpr uint8_t typeTimeExceeded = 11;
inline constexpr uint8_t typeParamProblem = 12;
inline constexpr uint8_t codeFragNeeded = 4;

inline constexpr size_t icmpHeaderSize = 8;
inline constexpr size_t minIpHeaderSize = 20;

// The answer to one request, as read from one packet, of either family.
struct Answer {
    uint32_t status = 0;     // IpStatus code
    IpAddress source;        // responder; 0.0.0.0 when not known
    uint8_t ttl = 0;         // arriving TTL or hop limit, 0 when not known
    uint16_t nextHopMtu = 0; // from "fragmentation needed", else 0
    // The kernel's receive stamp (CLOCK_REALTIME), from the socket's control
    // messages rather than the packet.
    std::optional<std::chrono::nanoseconds> arrival;
};

// RFC 1071 one's-complement sum of the bytes, complemented.
uint16_t internetChecksum(std::span<const uint8_t> bytes);

// ICMP echo request: type 8, code 0, checksum, id, sequence, payload.
std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload);
// An echo message of the given type with the checksum left 0: ICMPv6's echo
// header has ICMP's layout with other type numbers.
std::vector<uint8_t> buildEchoMessage(uint8_t type, uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload);
// Gives a built echo request another sequence number. The checksum is
// updated from the two words that changed (RFC 1624), not summed anew.
void renumberEchoRequest(std::span<uint8_t> request, uint16_t sequence);
// Writes the sequence number of an echo message of either family.
void setEchoSequence(std::span<uint8_t> message, uint16_t sequence);

// True for the ICMP errors that quote a request: 3, 4, 11 and 12.
bool isErrorType(uint8_t type);

// Status code of an ICMP message of this type and code.
uint32_t statusFor(uint8_t type, uint8_t code);

// True when the bytes start with an echo request header of this sequence
// (and id, unless id is nullopt: a datagram socket's kernel owns the id).
bool isOurRequest(std::span<const uint8_t> icmp, std::optional<uint16_t> id, uint16_t sequence);
// The same for an echo header of the given type: ICMPv6's echo header has
// ICMP's layout (type, code, checksum, id, sequence) with other type numbers.
bool isEchoHeader(std::span<const uint8_t> icmp, uint8_t type, std::optional<uint16_t> id,
                  uint16_t sequence);
// Time exceeded in transit (code 0) or in reassembly (1), the same codes in both families.
uint32_t timeExceededStatus(uint8_t code);

// A datagram socket delivers the ICMP message without the IP header; the
// kernel has already matched the id. Only an echo reply of this sequence matches.
std::optional<Answer> parseDatagramReply(std::span<const uint8_t> icmp, uint16_t sequence);

// A raw socket delivers the whole IP packet. Matches an echo reply with our id
// and sequence, or an ICMP error (3, 4, 11, 12) that quotes our request to
// destination (network byte order).
std::optional<Answer> parseRawPacket(std::span<const uint8_t> packet, uint32_t destination,
                                     uint16_t id, uint16_t sequence);

} // namespace IcmpPacket
