#include "net/IcmpPacket.h"

#include "net/EchoService.h"

#include <algorithm>
#include <cstring>

namespace IcmpPacket {
namespace {

uint16_t read16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// Address fields are kept in network byte order: the first byte in memory is
// the first number of the dotted text.
uint32_t readAddress(std::span<const uint8_t> bytes, size_t at)
{
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// Length of a plausible IPv4 header at the start of the bytes, or 0.
size_t ipHeaderLength(std::span<const uint8_t> bytes)
{
    if (bytes.size() < minIpHeaderSize || bytes[0] >> 4 != 4)
        return 0;
    const size_t length = static_cast<size_t>(bytes[0] & 0x0f) * 4;
    if (length < minIpHeaderSize || length > bytes.size())
        return 0;
    return length;
}

uint32_t unreachableStatus(uint8_t code)
{
    switch (code) {
    case 0: case 6: case 11: return IpStatus::destNetUnreachable;
    case 1: case 7: case 12: return IpStatus::destHostUnreachable;
    case 2: return IpStatus::destProtUnreachable;
    case 3: return IpStatus::destPortUnreachable;
    case codeFragNeeded: return IpStatus::packetTooBig;
    case 5: return IpStatus::badSourceRoute;
    default: return IpStatus::generalFailure;
    }
}

// The error's quote: the IP header of our request (its own ihl), protocol 1,
// sent to our destination, followed by at least the 8 bytes of our echo header.
bool quotesOurRequest(std::span<const uint8_t> quote, uint32_t destination, uint16_t id,
                      uint16_t sequence)
{
    const size_t headerLength = ipHeaderLength(quote);
    if (headerLength == 0 || quote[9] != 1 || readAddress(quote, 16) != destination)
        return false;
    return isOurRequest(quote.subspan(headerLength), id, sequence);
}

std::optional<Answer> parseRawIcmp(std::span<const uint8_t> icmp, uint32_t destination,
                                   uint16_t id, uint16_t sequence)
{
    if (icmp.size() < icmpHeaderSize || internetChecksum(icmp) != 0)
        return std::nullopt;
    const uint8_t type = icmp[0];
    if (type == typeEchoReply) {
        if (icmp[1] != 0 || read16(icmp, 4) != id || read16(icmp, 6) != sequence)
            return std::nullopt;
        return Answer{IpStatus::success, {}, 0, 0, std::nullopt};
    }
    if (!isErrorType(type)
        || !quotesOurRequest(icmp.subspan(icmpHeaderSize), destination, id, sequence))
        return std::nullopt;
    Answer answer{statusFor(type, icmp[1]), {}, 0, 0, std::nullopt};
    if (type == typeDestUnreachable && icmp[1] == codeFragNeeded)
        answer.nextHopMtu = read16(icmp, 6);
    return answer;
}

} // namespace

uint16_t internetChecksum(std::span<const uint8_t> bytes)
{
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += read16(bytes, i);
    if (i < bytes.size())
        sum += static_cast<uint32_t>(bytes[i]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload)
{
    std::vector<uint8_t> packet = buildEchoMessage(typeEchoRequest, id, sequence, payload);
    const uint16_t checksum = internetChecksum(packet);
    packet[2] = static_cast<uint8_t>(checksum >> 8);
    packet[3] = static_cast<uint8_t>(checksum);
    return packet;
}

// HC' = ~(~HC + ~m + m') (RFC 1624, eqn. 3), m the old sequence and m' the
// new one: the checksum a sum from scratch gives.
void renumberEchoRequest(std::span<uint8_t> request, uint16_t sequence)
{
    uint32_t sum = static_cast<uint16_t>(~read16(request, 2))
                 + static_cast<uint16_t>(~read16(request, 6)) + sequence;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    const auto checksum = static_cast<uint16_t>(~sum);
    request[2] = static_cast<uint8_t>(checksum >> 8);
    request[3] = static_cast<uint8_t>(checksum);
    setEchoSequence(request, sequence);
}

void setEchoSequence(std::span<uint8_t> message, uint16_t sequence)
{
    message[6] = static_cast<uint8_t>(sequence >> 8);
    message[7] = static_cast<uint8_t>(sequence);
}

std::vector<uint8_t> buildEchoMessage(uint8_t type, uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload)
{
    std::vector<uint8_t> packet(icmpHeaderSize + payload.size());
    packet[0] = type;
    packet[4] = static_cast<uint8_t>(id >> 8);
    packet[5] = static_cast<uint8_t>(id);
    setEchoSequence(packet, sequence);
    std::copy(payload.begin(), payload.end(), packet.begin() + icmpHeaderSize);
    return packet;
}

bool isErrorType(uint8_t type)
{
    return type == typeDestUnreachable || type == typeSourceQuench || type == typeTimeExceeded
        || type == typeParamProblem;
}

uint32_t statusFor(uint8_t type, uint8_t code)
{
    switch (type) {
    case typeEchoReply: return IpStatus::success;
    case typeDestUnreachable: return unreachableStatus(code);
    case typeSourceQuench: return IpStatus::sourceQuench;
    case typeTimeExceeded: return timeExceededStatus(code);
    case typeParamProblem: return IpStatus::paramProblem;
    default: return IpStatus::generalFailure;
    }
}

uint32_t timeExceededStatus(uint8_t code)
{
    if (code == 0)
        return IpStatus::ttlExpiredTransit;
    return code == 1 ? IpStatus::ttlExpiredReassem : IpStatus::generalFailure;
}

bool isOurRequest(std::span<const uint8_t> icmp, std::optional<uint16_t> id, uint16_t sequence)
{
    return isEchoHeader(icmp, typeEchoRequest, id, sequence);
}

bool isEchoHeader(std::span<const uint8_t> icmp, uint8_t type, std::optional<uint16_t> id,
                  uint16_t sequence)
{
    if (icmp.size() < icmpHeaderSize || icmp[0] != type || icmp[1] != 0)
        return false;
    return read16(icmp, 6) == sequence && (!id || read16(icmp, 4) == *id);
}

std::optional<Answer> parseDatagramReply(std::span<const uint8_t> icmp, uint16_t sequence)
{
    if (icmp.size() < icmpHeaderSize || icmp[0] != typeEchoReply || icmp[1] != 0
        || read16(icmp, 6) != sequence)
        return std::nullopt;
    return Answer{IpStatus::success, {}, 0, 0, std::nullopt};
}

std::optional<Answer> parseRawPacket(std::span<const uint8_t> packet, uint32_t destination,
                                     uint16_t id, uint16_t sequence)
{
    const size_t headerLength = ipHeaderLength(packet);
    if (headerLength == 0 || packet[9] != 1)
        return std::nullopt;
    // Bytes past the total length are not part of the datagram; fewer is a truncation.
    const size_t totalLength = read16(packet, 2);
    if (totalLength < headerLength || totalLength > packet.size())
        return std::nullopt;
    const auto icmp = packet.subspan(headerLength, totalLength - headerLength);
    auto answer = parseRawIcmp(icmp, destination, id, sequence);
    if (answer) {
        answer->source = IpAddress::fromIpv4(readAddress(packet, 12));
        answer->ttl = packet[8];
    }
    return answer;
}

} // namespace IcmpPacket
