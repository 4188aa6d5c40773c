#include "net/DatagramPacket.h"

#include <algorithm>
#include <cstring>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace DatagramPacket {
namespace {

// What the control messages of one recvmsg carried.
struct Control {
    std::optional<sock_extended_err> error;
    uint32_t offender = 0; // network byte order, 0 when not given
    uint8_t ttl = 0;
};

// Calls visit(type, data) for each control message at IPPROTO_IP, in order.
// The walk trusts no length: a message whose length runs past the bytes or
// below its own header ends it. It copies instead of casting, as the bytes
// need not be aligned.
template <typename Visit> void forEachIpMessage(std::span<const uint8_t> bytes, Visit visit)
{
    size_t at = 0;
    while (bytes.size() - at >= sizeof(cmsghdr)) {
        cmsghdr header;
        std::memcpy(&header, bytes.data() + at, sizeof header);
        if (header.cmsg_len < CMSG_LEN(0) || header.cmsg_len > bytes.size() - at)
            return;
        if (header.cmsg_level == IPPROTO_IP)
            visit(header.cmsg_type, bytes.subspan(at + CMSG_LEN(0), header.cmsg_len - CMSG_LEN(0)));
        // The last message's padding may be missing.
        at += std::min(CMSG_ALIGN(header.cmsg_len), bytes.size() - at);
    }
}

template <typename T> bool copyFrom(std::span<const uint8_t> bytes, T &value, size_t at = 0)
{
    if (bytes.size() < at + sizeof value)
        return false;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return true;
}

// The offender follows the record; it is a sockaddr_in for ICMP errors.
uint32_t offender(std::span<const uint8_t> data)
{
    sockaddr_in address{};
    if (!copyFrom(data, address, sizeof(sock_extended_err)) || address.sin_family != AF_INET)
        return 0;
    return address.sin_addr.s_addr;
}

Control readControl(std::span<const uint8_t> bytes)
{
    Control control;
    forEachIpMessage(bytes, [&control](int type, std::span<const uint8_t> data) {
        int ttl = 0;
        sock_extended_err error{};
        if (type == IP_TTL && copyFrom(data, ttl)) {
            control.ttl = static_cast<uint8_t>(ttl);
        } else if (type == IP_RECVERR && copyFrom(data, error)) {
            control.error = error;
            control.offender = offender(data);
        }
    });
    return control;
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
    answer->source = nameAddress(received.name).value_or(0);
    answer->ttl = readControl(received.control).ttl;
    return answer;
}

std::optional<IcmpPacket::Answer> parseErrorQueueEntry(const Received &received,
                                                       uint32_t destination, uint16_t sequence)
{
    // The kernel matched the error to the socket by the quoted id alone; the
    // quoted destination is ours to check, as msg_name.
    if (nameAddress(received.name) != destination)
        return std::nullopt;
    const Control control = readControl(received.control);
    if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_ICMP
        || !IcmpPacket::isErrorType(control.error->ee_type)
        || !IcmpPacket::isOurRequest(received.data, std::nullopt, sequence))
        return std::nullopt;
    const sock_extended_err &error = *control.error;
    IcmpPacket::Answer answer{IcmpPacket::statusFor(error.ee_type, error.ee_code), control.offender,
                              control.ttl, 0};
    if (error.ee_type == IcmpPacket::typeDestUnreachable
        && error.ee_code == IcmpPacket::codeFragNeeded)
        answer.nextHopMtu = static_cast<uint16_t>(error.ee_info);
    return answer;
}

} // namespace DatagramPacket
