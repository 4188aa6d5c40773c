#include "net/ControlMessages.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace ControlMessages {
namespace {

template <typename T> bool copyFrom(std::span<const uint8_t> bytes, T &value, size_t at = 0)
{
    if (bytes.size() < at + sizeof value)
        return false;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return true;
}

// The offender follows the record: a sockaddr_in for ICMP errors, a
// sockaddr_in6 for ICMPv6 ones.
IpAddress offender(std::span<const uint8_t> data)
{
    if (data.size() <= sizeof(sock_extended_err))
        return {};
    return IpAddress::fromSockaddr(data.subspan(sizeof(sock_extended_err))).value_or(IpAddress());
}

// The hop count and the extended error come at IP's level for IPv4 and at
// IPv6's for IPv6, under the names each level gives them.
void readIp(int type, std::span<const uint8_t> data, Control &control, int ttlType, int errorType)
{
    int ttl = 0;
    sock_extended_err error{};
    if (type == ttlType && copyFrom(data, ttl)) {
        control.ttl = static_cast<uint8_t>(ttl);
    } else if (type == errorType && copyFrom(data, error)) {
        control.error = error;
        control.offender = offender(data);
    }
}

// A stamp that is no time of this era (found by fuzzing: a huge tv_sec
// overflowed the nanoseconds) is no stamp.
std::optional<std::chrono::nanoseconds> stampAt(std::span<const uint8_t> data)
{
    constexpr time_t latest = time_t(1) << 33; // the year 2242, well inside 64-bit nanoseconds
    timespec stamp{};
    if (!copyFrom(data, stamp) || stamp.tv_sec < 0 || stamp.tv_sec >= latest || stamp.tv_nsec < 0
        || stamp.tv_nsec >= 1'000'000'000)
        return std::nullopt;
    return std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec);
}

// SCM_TIMESTAMPING carries three stamps; the software one comes first.
void readSocket(int type, std::span<const uint8_t> data, Control &control)
{
    const auto at = stampAt(data);
    if (!at)
        return;
    if (type == SCM_TIMESTAMPNS)
        control.arrival = at;
    else if (type == SCM_TIMESTAMPING && data.size() >= 3 * sizeof(timespec))
        control.software = at;
}

} // namespace

// The walk trusts no length: a message whose length runs past the bytes or
// below its own header ends it. It copies instead of casting, as the bytes
// need not be aligned.
Control read(std::span<const uint8_t> bytes)
{
    Control control;
    size_t at = 0;
    while (bytes.size() - at >= sizeof(cmsghdr)) {
        cmsghdr header;
        std::memcpy(&header, bytes.data() + at, sizeof header);
        if (header.cmsg_len < CMSG_LEN(0) || header.cmsg_len > bytes.size() - at)
            break;
        const auto data = bytes.subspan(at + CMSG_LEN(0), header.cmsg_len - CMSG_LEN(0));
        switch (header.cmsg_level) {
        case SOL_IP: readIp(header.cmsg_type, data, control, IP_TTL, IP_RECVERR); break;
        case SOL_IPV6: readIp(header.cmsg_type, data, control, IPV6_HOPLIMIT, IPV6_RECVERR); break;
        case SOL_SOCKET: readSocket(header.cmsg_type, data, control); break;
        default: break;
        }
        // The last message's padding may be missing.
        at += std::min(CMSG_ALIGN(header.cmsg_len), bytes.size() - at);
    }
    return control;
}

std::optional<SendStamp> sendStamp(const Control &control)
{
    if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_TIMESTAMPING
        || control.error->ee_errno != ENOMSG || control.error->ee_info != SCM_TSTAMP_SND
        || !control.software)
        return std::nullopt;
    return SendStamp{control.error->ee_data, *control.software};
}

} // namespace ControlMessages
