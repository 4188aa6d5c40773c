#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/socket.h>

// One host address of either family. The engine, the address log and the
// rows hold it, compare it and show its text without asking which family it
// is; only net/ looks inside.
class IpAddress {
public:
    using Ipv6Bytes = std::array<uint8_t, 16>;

    IpAddress() = default; // 0.0.0.0, "no address"
    static IpAddress fromIpv4(uint32_t networkOrder);
    // scopeId is the interface index of a link-local address, 0 for none.
    static IpAddress fromIpv6(const Ipv6Bytes &bytes, uint32_t scopeId = 0);

    // A typed address: a dotted quad, or any RFC 4291 text form, optionally in
    // brackets, with a zone ("fe80::1%eth0", or the interface's index). An
    // IPv4-mapped text (::ffff:192.0.2.1) is the IPv4 address it maps: it is
    // traced over IPv4, as ping traces it. Nothing for anything else,
    // including a zone that names no interface.
    static std::optional<IpAddress> parse(std::string_view text);

    bool isIpv6() const { return ipv6_; }
    uint32_t ipv4() const;                          // network byte order; 0 for IPv6
    const Ipv6Bytes &ipv6() const { return bytes_; } // the first 4 hold an IPv4 address
    uint32_t scopeId() const { return scope_; }

    // The socket address of this host (port 0), and its length.
    socklen_t toSockaddr(sockaddr_storage &storage) const;
    // The address in a sockaddr_in or sockaddr_in6 of these bytes; nothing
    // for a shorter one or another family.
    static std::optional<IpAddress> fromSockaddr(std::span<const uint8_t> bytes);

    // Dotted decimal, or RFC 5952 text (inet_ntop) with "%zone" when scoped.
    std::string text() const;
    // Only a single host can answer a trace: IPv4 not in 0/8, 224/4 or 240/4;
    // IPv6 neither :: nor multicast (ff00::/8).
    bool isUnicastHost() const;
    // Bytes of IP and ICMP header in front of an echo's payload: 28 or 48.
    int16_t headerBytes() const { return ipv6_ ? 48 : 28; }

    friend bool operator==(const IpAddress &, const IpAddress &) = default;

private:
    bool ipv6_ = false;
    Ipv6Bytes bytes_{};
    uint32_t scope_ = 0;
};
