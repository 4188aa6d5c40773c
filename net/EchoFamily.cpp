#include "net/EchoFamily.h"

#include "net/Icmp6Packet.h"
#include "net/IcmpPacket.h"

#include <netinet/in.h>

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
