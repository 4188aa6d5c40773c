#pragma once

#include "net/IpAddress.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Forward and reverse host-name look-ups, the platform's part of them only.
class Resolver {
public:
    // Called about every 12 ms while a look-up waits, so the window can
    // process its events; returning false abandons the look-up, which then
    // finds nothing.
    using IdleHook = std::function<bool()>;

    // A name whose reverse look-up outlasted its wait.
    struct LateName {
        IpAddress address;
        std::string name;
    };
    // Called, on any thread, when a late name is ready to be taken.
    using LateNameHook = std::function<void()>;

    virtual ~Resolver() = default;
    // The first IPv4 address of the host, its four bytes in network order;
    // a literal address yields itself. Empty when the name does not resolve
    // or the wait was abandoned.
    virtual std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) = 0;
    // The official name of the address (network byte order), as valid text;
    // empty when there is none or it did not come within the wait.
    virtual std::string officialName(uint32_t address) = 0;
    // The address a trace goes to: the host's first IPv4 address when it has
    // one; else, for a typed IPv6 address, that address, and for a name with
    // IPv6 addresses only, the first one. Empty when there is none. Resolvers
    // that know IPv4 only answer with firstIpv4.
    virtual std::optional<IpAddress> firstAddress(const std::string &host);
    // The official name of an address of either family; IPv4-only resolvers
    // answer with officialName.
    virtual std::string officialNameOf(const IpAddress &address);
    // Resolvers that answer at once never wait, and have no use for the hook.
    virtual void setIdleHook(IdleHook) {}
    // Ends the wait of a forward look-up in progress (Stop was pressed in the
    // idle hook): it then finds nothing.
    virtual void abandonForward() {}
    // Names that came after their look-up's wait, oldest first, each once.
    virtual std::vector<LateName> takeLateNames() { return {}; }
    virtual void setLateNameHook(LateNameHook) {}
};

inline std::optional<IpAddress> Resolver::firstAddress(const std::string &host)
{
    const auto bytes = firstIpv4(host);
    if (!bytes)
        return std::nullopt;
    uint32_t address = 0;
    std::copy(bytes->begin(), bytes->end(), reinterpret_cast<uint8_t *>(&address));
    return IpAddress::fromIpv4(address);
}

inline std::string Resolver::officialNameOf(const IpAddress &address)
{
    return address.isIpv6() ? std::string() : officialName(address.ipv4());
}
