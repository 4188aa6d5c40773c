#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// Forward and reverse host-name look-ups, the platform's part of them only.
class Resolver {
public:
    // Called about every 12 ms while a look-up waits, so the window can
    // process its events; returning false abandons the look-up, which then
    // finds nothing.
    using IdleHook = std::function<bool()>;

    virtual ~Resolver() = default;
    // The first IPv4 address of the host, its four bytes in network order;
    // a literal address yields itself. Empty when the name does not resolve.
    virtual std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) = 0;
    // The official name of the address (network byte order); empty when there is none.
    virtual std::string officialName(uint32_t address) = 0;
    // Resolvers that answer at once never wait, and have no use for the hook.
    virtual void setIdleHook(IdleHook) {}
};
