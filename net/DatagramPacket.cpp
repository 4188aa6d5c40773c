#include "net/DatagramPacket.h"

#include <cstring>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace DatagramPacket {
namespace {

// What the control messages of one recvmsg carried.
struct Control {
    const sock_extended_err *error = nullptr;
    uint8_t ttl = 0;
};

Control readControl(std::span<const uint8_t> bytes)
{
    msghdr message{};
    message.msg_control = const_cast<uint8_t *>(bytes.data());
    message.msg_controllen = bytes.size();
    Control control;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP)
            continue;
        if (c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            control.ttl = static_cast<uint8_t>(ttl);
        } else if (c->cmsg_type == IP_RECVERR
                   && c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
            control.error = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
        }
    }
    return control;
}

uint32_t offender(const sock_extended_err &error)
{
    // The offender follows the record; it is a sockaddr_in for ICMP errors.
    const auto *address = reinterpret_cast<const sockaddr_in *>(SO_EE_OFFENDER(&error));
    if (address->sin_family != AF_INET)
        return 0;
    return address->sin_addr.s_addr;
}

uint32_t nameAddress(std::span<const uint8_t> name)
{
    sockaddr_in address{};
    if (name.size() < sizeof address)
        return 0;
    std::memcpy(&address, name.data(), sizeof address);
    return address.sin_addr.s_addr;
}

} // namespace

std::optional<IcmpPacket::Answer> parseReply(const Received &received, uint16_t sequence)
{
    auto answer = IcmpPacket::parseDatagramReply(received.data, sequence);
    if (!answer)
        return std::nullopt;
    answer->source = nameAddress(received.name);
    answer->ttl = readControl(received.control).ttl;
    return answer;
}

std::optional<IcmpPacket::Answer> parseErrorQueueEntry(const Received &received, uint32_t,
                                                       uint16_t sequence)
{
    const Control control = readControl(received.control);
    if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_ICMP
        || !IcmpPacket::isOurRequest(received.data, std::nullopt, sequence))
        return std::nullopt;
    const sock_extended_err &error = *control.error;
    IcmpPacket::Answer answer{IcmpPacket::statusFor(error.ee_type, error.ee_code),
                              offender(error), control.ttl, 0};
    if (error.ee_type == IcmpPacket::typeDestUnreachable
        && error.ee_code == IcmpPacket::codeFragNeeded)
        answer.nextHopMtu = static_cast<uint16_t>(error.ee_info);
    return answer;
}

} // namespace DatagramPacket
