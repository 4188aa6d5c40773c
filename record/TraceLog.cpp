#include "record/TraceLog.h"

#include <utility>

void TraceLog::clear()
{
    records_.clear();
    addresses_.clear();
    addressIndex_.clear();
    texts_.clear();
}

int32_t TraceLog::addressIndex(const IpAddress &address)
{
    const auto [it, added] =
        addressIndex_.emplace(address.text(), static_cast<int32_t>(addresses_.size()));
    if (added)
        addresses_.push_back(address);
    return it->second;
}

int32_t TraceLog::textIndex(std::string text)
{
    texts_.push_back(std::move(text));
    return static_cast<int32_t>(texts_.size() - 1);
}
