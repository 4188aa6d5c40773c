#pragma once

#include "net/Resolver.h"

// Look-ups through the C library's resolver (hosts file, DNS, as nsswitch says).
class SystemResolver : public Resolver {
public:
    std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) override;
    std::string officialName(uint32_t address) override;
};
