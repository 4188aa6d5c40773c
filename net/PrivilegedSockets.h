#pragma once

#include <cstdint>

// The sockets that need a capability, opened once at start while the process
// still holds it and kept for the program's life, as ping and mtr-packet do:
// nothing after the start needs the capability, so it is dropped at once.
// Where ping sockets are open (net.ipv4.ping_group_range, which admits ICMPv6
// ping sockets too), nothing is opened here.
class PrivilegedSockets {
public:
    // A raw socket set up for echo (kernel filters, receive stamps) and its id.
    struct RawSocket {
        int fd = -1;
        uint16_t id = 0;
    };

    PrivilegedSockets() = default;
    ~PrivilegedSockets();
    PrivilegedSockets(PrivilegedSockets &&other) noexcept;
    PrivilegedSockets &operator=(PrivilegedSockets &&other) noexcept;

    // Opens the raw ICMP and ICMPv6 sockets where the datagram socket is
    // refused and the process may open raw ones; else holds nothing.
    static PrivilegedSockets open();
    // Opens them whether ping sockets are open or not (-1 where refused).
    static PrivilegedSockets openRaw();
    // Drops CAP_NET_RAW from the effective, permitted and inheritable sets and
    // from the ambient set, and from the bounding set where the process may
    // change it (root). False when the capability could not be dropped.
    static bool dropCapability();

    // The raw ICMP (ICMPv6) socket, handed over to the caller; fd -1 when
    // none is held.
    RawSocket takeRawIcmp();
    RawSocket takeRawIcmp6();

private:
    RawSocket rawIcmp_;
    RawSocket rawIcmp6_;
};
