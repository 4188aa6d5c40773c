#include "net/SendStamps.h"

#include "net/RoundTrip.h"

void SendStamps::record(uint32_t key, std::chrono::nanoseconds at)
{
    entries_[key % kept] = {key, at};
    if (!newest_ || key > *newest_)
        newest_ = key;
}

// A key at or below the newest one seen is settled either way: stamps come in
// the order of the sends, so a missing one was dropped.
std::optional<std::chrono::nanoseconds> SendStamps::find(uint32_t key)
{
    if ((!newest_ || key > *newest_) && reader_)
        reader_();
    return known(key);
}

std::optional<std::chrono::nanoseconds> SendStamps::known(uint32_t key) const
{
    const Entry &entry = entries_[key % kept];
    if (entry.key != key)
        return std::nullopt;
    return entry.at;
}

// A stamp before the clock read ahead of the send is an earlier numbering's
// (the keys restarted) or a stepped clock's: the user-space time stays.
void settleSendStamp(IcmpEchoReply &reply)
{
    if (!reply.pendingStamp)
        return;
    const PendingSendStamp pending = *reply.pendingStamp;
    reply.pendingStamp.reset();
    const auto sent = pending.stamps->find(pending.key);
    if (!sent || *sent < pending.sentReal)
        return;
    const auto roundTrip = RoundTrip::stamped(pending.arrival, *sent, pending.timeout);
    if (!roundTrip)
        return;
    using namespace std::chrono;
    reply.roundTripTime = static_cast<uint32_t>(duration_cast<milliseconds>(*roundTrip).count());
    reply.roundTripUs = static_cast<uint32_t>(duration_cast<microseconds>(*roundTrip).count());
}
