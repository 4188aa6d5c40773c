#pragma once

#include "net/IpAddress.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The address family a name's look-up may give: any is IPv4 when the name
// has an IPv4 address, else IPv6.
enum class AddressFamily { any, ipv4, ipv6 };

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
    // The address a trace to the host goes to: the host's first IPv4 address
    // when it has one (a literal IPv4 address read as inet_addr reads it);
    // else, for a typed IPv6 address, that address, and for a name with IPv6
    // addresses only, the first one. Empty when there is none or the wait
    // was abandoned.
    virtual std::optional<IpAddress> firstAddress(const std::string &host) = 0;
    // The official name of the address, as valid text; empty when there is
    // none or it did not come within the wait.
    virtual std::string officialName(const IpAddress &address) = 0;
    // Resolvers that answer at once never wait, and have no use for the hook.
    virtual void setIdleHook(IdleHook) {}
    // Ends the wait of a forward look-up in progress (Stop was pressed in the
    // idle hook): it then finds nothing.
    virtual void abandonForward() {}
    // Names that came after their look-up's wait, oldest first, each once.
    virtual std::vector<LateName> takeLateNames() { return {}; }
    virtual void setLateNameHook(LateNameHook) {}
};
