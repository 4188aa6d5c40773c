#pragma once

#include "net/Resolver.h"

#include <map>
#include <vector>

// Answers look-ups from tables and records what was asked.
class ScriptedResolver : public Resolver {
public:
    std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) override
    {
        forwardAsked.push_back(host);
        const auto found = forward.find(host);
        if (found == forward.end())
            return std::nullopt;
        return found->second;
    }
    std::string officialName(uint32_t address) override
    {
        reverseAsked.push_back(address);
        const auto found = reverse.find(address);
        return found == reverse.end() ? std::string() : found->second;
    }

    std::map<std::string, std::array<uint8_t, 4>> forward;
    std::map<uint32_t, std::string> reverse;
    std::vector<std::string> forwardAsked;
    std::vector<uint32_t> reverseAsked;
};
