#include "net/EchoFamily.h"

#include "net/Icmp6Packet.h"
#include "net/IcmpPacket.h"

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// PROBE (the same value for both families) sends every size of the MTU
// search whatever the cached path MTU; DONT lets the kernel fragment main
// probes. IPv6 routers never fragment, so there DONTFRAG also keeps the
// sender from it.
const EchoFamily ipv4{AF_INET,
                      IPPROTO_ICMP,
                      IPPROTO_IP,
                      IP_TTL,
                      IP_TOS,
                      IP_RECVTTL,
                      IP_RECVERR,
                      IP_MTU_DISCOVER,
                      0,
                      "AF_INET",
                      "IPPROTO_ICMP",
                      IcmpPacket::buildEchoRequest};

const EchoFamily ipv6{AF_INET6,
                      IPPROTO_ICMPV6,
                      IPPROTO_IPV6,
                      IPV6_HOPLIMIT,
                      IPV6_TCLASS,
                      IPV6_RECVHOPLIMIT,
                      IPV6_RECVERR,
                      IPV6_MTU_DISCOVER,
                      IPV6_DONTFRAG,
                      "AF_INET6",
                      "IPPROTO_ICMPV6",
                      Icmp6Packet::buildEchoRequest};

static_assert(IP_PMTUDISC_PROBE == IPV6_PMTUDISC_PROBE && IP_PMTUDISC_DONT == IPV6_PMTUDISC_DONT,
              "one discovery value serves both families");

} // namespace

const EchoFamily &EchoFamily::of(const IpAddress &address)
{
    return address.isIpv6() ? ipv6 : ipv4;
}

bool EchoFamily::sendRequest(int fd, const IpAddress &to, std::span<const uint8_t> request,
                             uint8_t hops, uint8_t trafficClass) const
{
    sockaddr_storage address;
    const socklen_t addressLength = to.toSockaddr(address);
    iovec data{const_cast<uint8_t *>(request.data()), request.size()};
    alignas(cmsghdr) char control[2 * CMSG_SPACE(sizeof(int))] = {};
    msghdr message{&address, addressLength, &data, 1, control, sizeof control, 0};
    const int values[2][2] = {{hopLimit, hops}, {this->trafficClass, trafficClass}};
    cmsghdr *entry = CMSG_FIRSTHDR(&message);
    for (const auto &value : values) {
        entry->cmsg_level = level;
        entry->cmsg_type = value[0];
        entry->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(entry), &value[1], sizeof(int));
        entry = CMSG_NXTHDR(&message, entry);
    }
    return sendmsg(fd, &message, 0) >= 0;
}

bool EchoFamily::setDontFragment(int fd, bool on) const
{
    const int discovery = on ? IP_PMTUDISC_PROBE : IP_PMTUDISC_DONT;
    if (setsockopt(fd, level, mtuDiscover, &discovery, sizeof discovery) != 0)
        return false;
    const int flag = on ? 1 : 0;
    return dontFragment == 0 || setsockopt(fd, level, dontFragment, &flag, sizeof flag) == 0;
}
