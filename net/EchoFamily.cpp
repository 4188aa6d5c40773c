#include "net/EchoFamily.h"

#include "net/ControlMessages.h"
#include "net/Icmp6Packet.h"
#include "net/IcmpPacket.h"

#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

std::optional<IcmpPacket::Answer> ipv4ErrorQueueEntry(const DatagramPacket::Received &received,
                                                      const IpAddress &destination,
                                                      uint16_t sequence)
{
    return DatagramPacket::parseErrorQueueEntry(received, destination.ipv4(), sequence);
}

// A raw IPv4 socket reads the whole IP packet; only the stamp comes beside it.
std::optional<IcmpPacket::Answer> ipv4Raw(const DatagramPacket::Received &received,
                                          const IpAddress &destination, uint16_t id,
                                          uint16_t sequence)
{
    auto answer = IcmpPacket::parseRawPacket(received.data, destination.ipv4(), id, sequence);
    if (answer)
        answer->arrival = ControlMessages::read(received.control).arrival;
    return answer;
}

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
                      IcmpPacket::buildEchoRequest,
                      IcmpPacket::renumberEchoRequest,
                      DatagramPacket::parseReply,
                      ipv4ErrorQueueEntry,
                      ipv4Raw};

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
                      Icmp6Packet::buildEchoRequest,
                      IcmpPacket::setEchoSequence, // the kernel fills the checksum
                      Icmp6Packet::parseDatagramReply,
                      Icmp6Packet::parseErrorQueueEntry,
                      Icmp6Packet::parseRawMessage};

static_assert(IP_PMTUDISC_PROBE == IPV6_PMTUDISC_PROBE && IP_PMTUDISC_DONT == IPV6_PMTUDISC_DONT,
              "one discovery value serves both families");

} // namespace

const EchoFamily &EchoFamily::of(const IpAddress &address)
{
    return address.isIpv6() ? ipv6 : ipv4;
}

bool EchoFamily::setDontFragment(int fd, bool on) const
{
    const int discovery = on ? IP_PMTUDISC_PROBE : IP_PMTUDISC_DONT;
    if (setsockopt(fd, level, mtuDiscover, &discovery, sizeof discovery) != 0)
        return false;
    const int flag = on ? 1 : 0;
    return dontFragment == 0 || setsockopt(fd, level, dontFragment, &flag, sizeof flag) == 0;
}
