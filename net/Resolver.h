#pragma once

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
        uint32_t address; // network byte order
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
    // Resolvers that answer at once never wait, and have no use for the hook.
    virtual void setIdleHook(IdleHook) {}
    // Ends the wait of a forward look-up in progress (Stop was pressed in the
    // idle hook): it then finds nothing.
    virtual void abandonForward() {}
    // Names that came after their look-up's wait, oldest first, each once.
    virtual std::vector<LateName> takeLateNames() { return {}; }
    virtual void setLateNameHook(LateNameHook) {}
};
