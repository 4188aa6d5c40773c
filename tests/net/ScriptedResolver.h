#pragma once

#include "net/Resolver.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <vector>

// Answers look-ups from tables and records what was asked.
class ScriptedResolver : public Resolver {
public:
    std::optional<IpAddress> firstAddress(const std::string &host) override
    {
        forwardAsked.push_back(host);
        const auto found = forward.find(host);
        if (found == forward.end())
            return std::nullopt;
        uint32_t address = 0;
        std::memcpy(&address, found->second.data(), 4);
        return IpAddress::fromIpv4(address);
    }
    // The tables are IPv4's: an IPv6 address has no name here.
    std::string officialName(const IpAddress &address) override
    {
        if (address.isIpv6())
            return {};
        reverseAsked.push_back(address.ipv4());
        const auto found = reverse.find(address.ipv4());
        return found == reverse.end() ? std::string() : found->second;
    }

    std::map<std::string, std::array<uint8_t, 4>> forward;
    std::map<uint32_t, std::string> reverse;
    std::vector<std::string> forwardAsked;
    std::vector<uint32_t> reverseAsked;
};
