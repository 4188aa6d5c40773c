#include "record/TraceLog.h"

#include <utility>

void TraceLog::clear()
{
    records_.clear();
    addresses_.clear();
    addressIndex_.clear();
    texts_.clear();
}

size_t TraceLog::AddressHash::operator()(const IpAddress &a) const
{
    uint64_t hash = 1469598103934665603u; // FNV-1a
    for (const uint8_t byte : a.ipv6()) {
        hash ^= byte;
        hash *= 1099511628211u;
    }
    return static_cast<size_t>(hash ^ a.scopeId() ^ (a.isIpv6() ? 0x9e3779b9u : 0));
}

int32_t TraceLog::addressIndex(const IpAddress &address)
{
    const auto [it, added] =
        addressIndex_.emplace(address, static_cast<int32_t>(addresses_.size()));
    if (added)
        addresses_.push_back(address);
    return it->second;
}

int32_t TraceLog::textIndex(std::string text)
{
    texts_.push_back(std::move(text));
    return static_cast<int32_t>(texts_.size() - 1);
}
