#include "engine/HopDetails.h"

#include <cstdio>

namespace {

const std::string none;

std::string threeDecimals(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

} // namespace

const std::string &HopDetails::addressText(int32_t entry) const
{
    return entry > 0 && entry <= dbIndex_ ? log_.dbAddr[static_cast<size_t>(entry)] : none;
}

const std::string &HopDetails::addressName(int32_t entry) const
{
    return entry > 0 && entry <= dbIndex_ ? log_.dbName[static_cast<size_t>(entry)] : none;
}

RttStatistics HopDetails::statistics(int16_t hop) const
{
    return rttStatistics(history_.hop(hop));
}

std::vector<AddressStatistics> HopDetails::addressStatistics(int16_t hop) const
{
    return ::addressStatistics(history_.hop(hop));
}

LossBreakdown HopDetails::loss(int16_t hop) const
{
    return lossBreakdown(history_, hop);
}

std::string HopDetails::lossText(int16_t hop) const
{
    return ::lossText(loss(hop));
}

std::optional<AsymBasis> HopDetails::asymBasis(int16_t hop) const
{
    const std::vector<int16_t> &ttls = history_.mtu(hop).asymTtls;
    if (ttls.empty())
        return std::nullopt;
    return ::asymBasis(ttls, hop);
}

std::string HopDetails::probeLines(int16_t hop) const
{
    const HopHistory &probes = history_.hop(hop);
    std::string text;
    for (size_t i = 0; i < probes.size(); ++i) {
        const HopProbe &p = probes[i];
        text += std::to_string(p.run) + '\t' + threeDecimals(p.sentMs()) + '\t';
        if (p.lost) {
            text += "\ttimeout\n";
            continue;
        }
        text += p.entry == 0 ? "(not in the address log)" : addressText(p.entry);
        text += '\t' + threeDecimals(p.rttMs()) + '\n';
    }
    return text;
}
