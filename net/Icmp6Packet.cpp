#include "net/Icmp6Packet.h"

#include "net/EchoService.h"

#include <algorithm>
#include <cstring>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Icmp6Packet {
namespace {

template <typename T> bool copyFrom(std::span<const uint8_t> bytes, T &value, size_t at = 0)
{
    if (bytes.size() < at + sizeof value)
        return false;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return true;
}

// Calls visit(type, data) for each control message at IPPROTO_IPV6, in order.
// The walk trusts no length: a message whose length runs past the bytes or
// below its own header ends it. It copies instead of casting, as the bytes
// need not be aligned.
template <typename Visit> void forEachIpv6Message(std::span<const uint8_t> bytes, Visit visit)
{
    size_t at = 0;
    while (bytes.size() - at >= sizeof(cmsghdr)) {
        cmsghdr header;
        std::memcpy(&header, bytes.data() + at, sizeof header);
        if (header.cmsg_len < CMSG_LEN(0) || header.cmsg_len > bytes.size() - at)
            return;
        if (header.cmsg_level == IPPROTO_IPV6)
            visit(header.cmsg_type, bytes.subspan(at + CMSG_LEN(0), header.cmsg_len - CMSG_LEN(0)));
        // The last message's padding may be missing.
        at += std::min(CMSG_ALIGN(header.cmsg_len), bytes.size() - at);
    }
}

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

// What the control messages of one recvmsg carried.
struct Control {
    std::optional<sock_extended_err> error;
    std::optional<IpAddress> offender;
    uint8_t hopLimit = 0;
};

// An IPv6 sockaddr at this offset; an IPv4 one is not an answer to an IPv6 probe.
std::optional<IpAddress> addressOf(std::span<const uint8_t> bytes, size_t at = 0)
{
    if (bytes.size() < at)
        return std::nullopt;
    const auto address = IpAddress::fromSockaddr(bytes.subspan(at));
    if (!address || !address->isIpv6())
        return std::nullopt;
    return address;
}

// The scope is the receiving side's: a quoted header carries none.
bool sameHost(const std::optional<IpAddress> &address, const IpAddress &destination)
{
    return address && address->isIpv6() && address->ipv6() == destination.ipv6();
}

Control readControl(std::span<const uint8_t> bytes)
{
    Control control;
    forEachIpv6Message(bytes, [&control](int type, std::span<const uint8_t> data) {
        int hopLimit = 0;
        sock_extended_err error{};
        if (type == IPV6_HOPLIMIT && copyFrom(data, hopLimit)) {
            control.hopLimit = static_cast<uint8_t>(hopLimit);
        } else if (type == IPV6_RECVERR && copyFrom(data, error)) {
            control.error = error;
            control.offender = addressOf(data, sizeof(sock_extended_err));
        }
    });
    return control;
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
    return icmp.size() >= icmpHeaderSize && icmp[0] == typeEchoReply && icmp[1] == 0
        && read16(icmp, 6) == sequence && (!id || read16(icmp, 4) == *id);
}

} // namespace

std::vector<uint8_t> buildEchoRequest(uint16_t id, uint16_t sequence,
                                      std::span<const uint8_t> payload)
{
    std::vector<uint8_t> packet(icmpHeaderSize + payload.size());
    packet[0] = typeEchoRequest;
    packet[4] = static_cast<uint8_t>(id >> 8);
    packet[5] = static_cast<uint8_t>(id);
    packet[6] = static_cast<uint8_t>(sequence >> 8);
    packet[7] = static_cast<uint8_t>(sequence);
    std::copy(payload.begin(), payload.end(), packet.begin() + icmpHeaderSize);
    return packet;
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
    case typeTimeExceeded:
        if (code == 0)
            return IpStatus::ttlExpiredTransit;
        return code == 1 ? IpStatus::ttlExpiredReassem : IpStatus::generalFailure;
    case typeParamProblem: return IpStatus::paramProblem;
    default: return IpStatus::generalFailure;
    }
}

bool isOurRequest(std::span<const uint8_t> icmp, std::optional<uint16_t> id, uint16_t sequence)
{
    if (icmp.size() < icmpHeaderSize || icmp[0] != typeEchoRequest || icmp[1] != 0)
        return false;
    return read16(icmp, 6) == sequence && (!id || read16(icmp, 4) == *id);
}

std::optional<Answer> parseDatagramReply(const DatagramPacket::Received &received,
                                         uint16_t sequence)
{
    if (!isReply(received.data, std::nullopt, sequence))
        return std::nullopt;
    return Answer{IpStatus::success, addressOf(received.name).value_or(IpAddress()),
                  readControl(received.control).hopLimit, 0};
}

std::optional<Answer> parseErrorQueueEntry(const DatagramPacket::Received &received,
                                           const IpAddress &destination, uint16_t sequence)
{
    // The kernel matched the error to the socket by the quoted id alone; the
    // quoted destination is ours to check, as msg_name.
    if (!sameHost(addressOf(received.name), destination))
        return std::nullopt;
    const Control control = readControl(received.control);
    if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_ICMP6
        || !isErrorType(control.error->ee_type)
        || !isOurRequest(received.data, std::nullopt, sequence))
        return std::nullopt;
    const sock_extended_err &error = *control.error;
    return Answer{statusFor(error.ee_type, error.ee_code), control.offender.value_or(IpAddress()),
                  control.hopLimit, mtuOf(error.ee_type, error.ee_info)};
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
    return Answer{statusFor(type, icmp[1]), addressOf(received.name).value_or(IpAddress()),
                  readControl(received.control).hopLimit, mtuOf(type, read32(icmp, 4))};
}

} // namespace Icmp6Packet
