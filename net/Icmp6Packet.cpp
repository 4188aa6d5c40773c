#include "net/Icmp6Packet.h"

#include "net/ControlMessages.h"
#include "net/EchoService.h"
#include "net/IcmpPacket.h"

#include <algorithm>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <netinet/in.h>

namespace Icmp6Packet {
namespace {

constexpr uint8_t nextHeaderFragment = 44;
constexpr uint8_t nextHeaderIcmpv6 = 58;
constexpr size_t fragmentHeaderSize = 8;
// Offsets in an IPv6 header.
constexpr size_t ipv6NextHeader = 6;
constexpr size_t ipv6Destination = 24;

uint16_t read16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

uint32_t read32(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint32_t>(read16(bytes, at)) << 16 | read16(bytes, at + 2);
}

// An IPv6 sockaddr; an IPv4 one is not an answer to an IPv6 probe.
std::optional<IpAddress> addressOf(std::span<const uint8_t> bytes)
{
    const auto address = IpAddress::fromSockaddr(bytes);
    if (!address || !address->isIpv6())
        return std::nullopt;
    return address;
}

// The scope is the receiving side's: a quoted header carries none.
bool sameHost(const std::optional<IpAddress> &address, const IpAddress &destination)
{
    return address && address->isIpv6() && address->ipv6() == destination.ipv6();
}

uint32_t unreachableStatus(uint8_t code)
{
    switch (code) {
    case 0: return IpStatus::destNetUnreachable;  // no route
    case 3: return IpStatus::destHostUnreachable; // address unreachable
    case 4: return IpStatus::destPortUnreachable;
    default: return IpStatus::generalFailure;
    }
}

// The error's quote: an IPv6 header to our destination whose payload, after
// at most the first fragment's header, is our echo request.
bool quotesOurRequest(std::span<const uint8_t> quote, const IpAddress &destination, uint16_t id,
                      uint16_t sequence)
{
    if (quote.size() < ipv6HeaderSize || quote[0] >> 4 != 6
        || !std::equal(destination.ipv6().begin(), destination.ipv6().end(),
                       quote.begin() + ipv6Destination))
        return false;
    uint8_t nextHeader = quote[ipv6NextHeader];
    auto rest = quote.subspan(ipv6HeaderSize);
    // A main probe larger than the link goes out in fragments; the first one
    // carries the echo header.
    if (nextHeader == nextHeaderFragment) {
        if (rest.size() < fragmentHeaderSize || (read16(rest, 2) & 0xfff8) != 0)
            return false;
        nextHeader = rest[0];
        rest = rest.subspan(fragmentHeaderSize);
    }
    return nextHeader == nextHeaderIcmpv6 && isOurRequest(rest, id, sequence);
}

uint16_t mtuOf(uint8_t type, uint32_t mtu)
{
    return type == typePacketTooBig ? static_cast<uint16_t>(std::min<uint32_t>(mtu, 0xffff)) : 0;
}

bool isReply(std::span<const uint8_t> icmp, std::optional<uint16_t> id, uint16_t sequence)
{
    return IcmpPacket::isEchoHeader(icmp, typeEchoReply, id, sequence);
}

} // namespace

std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload)
{
    return IcmpPacket::buildEchoMessage(typeEchoRequest, id, sequence, payload);
}

bool isErrorType(uint8_t type)
{
    return type >= typeDestUnreachable && type <= typeParamProblem;
}

uint32_t statusFor(uint8_t type, uint8_t code)
{
    switch (type) {
    case typeEchoReply: return IpStatus::success;
    case typeDestUnreachable: return unreachableStatus(code);
    case typePacketTooBig: return IpStatus::packetTooBig;
    case typeTimeExceeded: return IcmpPacket::timeExceededStatus(code);
    case typeParamProblem: return IpStatus::paramProblem;
    default: return IpStatus::generalFailure;
    }
}

bool isOurRequest(std::span<const uint8_t> icmp, std::optional<uint16_t> id, uint16_t sequence)
{
    return IcmpPacket::isEchoHeader(icmp, typeEchoRequest, id, sequence);
}

std::optional<Answer> parseDatagramReply(const DatagramPacket::Received &received,
                                         uint16_t sequence)
{
    if (!isReply(received.data, std::nullopt, sequence))
        return std::nullopt;
    const auto control = ControlMessages::read(received.control);
    return Answer{IpStatus::success, addressOf(received.name).value_or(IpAddress()), control.ttl,
                  0, control.arrival};
}

std::optional<Answer> parseErrorQueueEntry(const DatagramPacket::Received &received,
                                           const IpAddress &destination, uint16_t sequence)
{
    // The kernel matched the error to the socket by the quoted id alone; the
    // quoted destination is ours to check, as msg_name.
    if (!sameHost(addressOf(received.name), destination))
        return std::nullopt;
    const auto control = ControlMessages::read(received.control);
    if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_ICMP6
        || !isErrorType(control.error->ee_type)
        || !isOurRequest(received.data, std::nullopt, sequence))
        return std::nullopt;
    const sock_extended_err &error = *control.error;
    const IpAddress router = control.offender.isIpv6() ? control.offender : IpAddress();
    return Answer{statusFor(error.ee_type, error.ee_code), router, control.ttl,
                  mtuOf(error.ee_type, error.ee_info), control.arrival};
}

std::optional<Answer> parseRawMessage(const DatagramPacket::Received &received,
                                      const IpAddress &destination, uint16_t id,
                                      uint16_t sequence)
{
    const auto icmp = received.data;
    if (icmp.size() < icmpHeaderSize)
        return std::nullopt;
    const uint8_t type = icmp[0];
    if (!isReply(icmp, id, sequence)
        && !(isErrorType(type)
             && quotesOurRequest(icmp.subspan(icmpHeaderSize), destination, id, sequence)))
        return std::nullopt;
    const auto control = ControlMessages::read(received.control);
    return Answer{statusFor(type, icmp[1]), addressOf(received.name).value_or(IpAddress()),
                  control.ttl, mtuOf(type, read32(icmp, 4)), control.arrival};
}

} // namespace Icmp6Packet
