#include "net/DatagramPacket.h"

#include "net/ControlMessages.h"

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace DatagramPacket {
namespace {

template <typename T> bool copyFrom(std::span<const uint8_t> bytes, T &value)
{
    if (bytes.size() < sizeof value)
        return false;
    std::memcpy(&value, bytes.data(), sizeof value);
    return true;
}

// The address in msg_name, a sockaddr_in for these sockets.
std::optional<uint32_t> nameAddress(std::span<const uint8_t> name)
{
    sockaddr_in address{};
    if (!copyFrom(name, address) || address.sin_family != AF_INET)
        return std::nullopt;
    return address.sin_addr.s_addr;
}

} // namespace

std::optional<IcmpPacket::Answer> parseReply(const Received &received, uint16_t sequence)
{
    auto answer = IcmpPacket::parseDatagramReply(received.data, sequence);
    if (!answer)
        return std::nullopt;
    const auto control = ControlMessages::read(received.control);
    answer->source = IpAddress::fromIpv4(nameAddress(received.name).value_or(0));
    answer->ttl = control.ttl;
    answer->arrival = control.arrival;
    return answer;
}

std::optional<IcmpPacket::Answer> parseErrorQueueEntry(const Received &received,
                                                       uint32_t destination, uint16_t sequence)
{
    // The kernel matched the error to the socket by the quoted id alone; the
    // quoted destination is ours to check, as msg_name.
    if (nameAddress(received.name) != destination)
        return std::nullopt;
    const auto control = ControlMessages::read(received.control);
    if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_ICMP
        || !IcmpPacket::isErrorType(control.error->ee_type)
        || !IcmpPacket::isOurRequest(received.data, std::nullopt, sequence))
        return std::nullopt;
    const sock_extended_err &error = *control.error;
    IcmpPacket::Answer answer{IcmpPacket::statusFor(error.ee_type, error.ee_code), control.offender,
                              control.ttl, 0, control.arrival};
    if (error.ee_type == IcmpPacket::typeDestUnreachable
        && error.ee_code == IcmpPacket::codeFragNeeded)
        answer.nextHopMtu = static_cast<uint16_t>(error.ee_info);
    return answer;
}

} // namespace DatagramPacket
