#pragma once

#include "net/DatagramPacket.h"
#include "net/IcmpPacket.h"
#include "net/IpAddress.h"

#include <optional>

#include <cstdint>
#include <sys/socket.h>
#include <span>
#include <vector>

// What the echo sockets need to know of one address family: one description
// per family, picked once from the destination, so the socket code reads the
// same for IPv4 and IPv6.
struct EchoFamily {
    int domain;   // AF_INET, AF_INET6
    int protocol; // IPPROTO_ICMP, IPPROTO_ICMPV6
    int level;    // of every option below: IPPROTO_IP, IPPROTO_IPV6
    // A control message of each send.
    int hopLimit; // IP_TTL, IPV6_HOPLIMIT
    // A socket option, set when it changes.
    int trafficClass; // IP_TOS, IPV6_TCLASS
    // Socket options.
    int receiveHopLimit; // IP_RECVTTL, IPV6_RECVHOPLIMIT
    int receiveErrors;   // IP_RECVERR, IPV6_RECVERR
    int mtuDiscover;     // IP_MTU_DISCOVER, IPV6_MTU_DISCOVER
    // IPV6_DONTFRAG; 0 for IPv4, where IP_PMTUDISC_PROBE sets DF itself.
    int dontFragment;
    // For messages: "AF_INET" or "AF_INET6", "IPPROTO_ICMP" or "IPPROTO_ICMPV6".
    const char *domainName;
    const char *protocolName;
    // The echo request: IPv4's carries its checksum, the kernel fills ICMPv6's.
    std::vector<uint8_t> (*buildRequest)(uint16_t id, uint16_t sequence,
                                         std::span<const uint8_t> payload);
    // The same request with another sequence number, changed in place.
    void (*renumberRequest)(std::span<uint8_t> request, uint16_t sequence);
    // What one recvmsg read: on a datagram socket, an echo reply or an
    // error-queue entry; on a raw socket, anything the filters let through.
    std::optional<IcmpPacket::Answer> (*parseDatagramReply)(const DatagramPacket::Received &,
                                                            uint16_t sequence);
    std::optional<IcmpPacket::Answer> (*parseErrorQueueEntry)(const DatagramPacket::Received &,
                                                              const IpAddress &destination,
                                                              uint16_t sequence);
    std::optional<IcmpPacket::Answer> (*parseRaw)(const DatagramPacket::Received &,
                                                  const IpAddress &destination, uint16_t id,
                                                  uint16_t sequence);

    bool isIpv6() const { return domain == AF_INET6; }

    static const EchoFamily &of(const IpAddress &address);

    // On: the size goes on the wire unfragmented whatever the cached path MTU
    // (a packet larger than the outgoing link fails with EMSGSIZE). Off: the
    // kernel may fragment. False with errno set on failure.
    bool setDontFragment(int fd, bool on) const;
};
