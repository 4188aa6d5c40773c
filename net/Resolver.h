#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// Forward and reverse host-name look-ups, the platform's part of them only.
class Resolver {
public:
    virtual ~Resolver() = default;
    // The first IPv4 address of the host, its four bytes in network order;
    // a literal address yields itself. Empty when the name does not resolve.
    virtual std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) = 0;
    // The official name of the address (network byte order); empty when there is none.
    virtual std::string officialName(uint32_t address) = 0;
};
