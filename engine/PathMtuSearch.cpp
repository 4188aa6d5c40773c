#include "engine/PathMtuSearch.h"

#include <string>
#include <utility>
#include <vector>

#include "engine/AsymText.h"
#include "engine/HopTable.h"
#include "engine/TraceSettings.h"
#include "net/EchoService.h"

namespace {

// Packet sizes of the MTU search, headers included: the same on the wire for
// both families, so the payloads are the address's header bytes smaller.
constexpr int16_t mtuFirstSize = 120;
constexpr int16_t mtuSizeLimit = 2000; // never sent
constexpr size_t mtuTtlCapacity = 50;

// (high - low) / 2 + low rounded to the nearest integer, exact halves to the
// even neighbour; kept in integers so no floating-point rounding mode matters.
int16_t midpoint(int16_t low, int16_t high)
{
    const int diff = high - low;
    int mid = low + diff / 2;
    if (diff % 2 != 0 && mid % 2 != 0)
        ++mid; // mid + 0.5 goes to the even one of mid and mid + 1
    return static_cast<int16_t>(mid);
}

MtuAnswer answerOf(const IcmpEchoReply &reply)
{
    switch (reply.status) {
    case IpStatus::success: return MtuAnswer::reply;
    case IpStatus::packetTooBig: return MtuAnswer::tooBig;
    case IpStatus::reqTimedOut: return MtuAnswer::noAnswer;
    default: return MtuAnswer::other;
    }
}

} // namespace

PathMtuSearch::PathMtuSearch(const TraceSettings &settings, const bool &tracing, HopTable &rows,
                             SendProbe sendProbe)
    : settings_(settings), tracing_(tracing), rows_(rows), sendProbe_(std::move(sendProbe))
{
}

// Halves the interval of packet sizes between one known to pass and one known
// not to.
void PathMtuSearch::findPathMtu(int16_t hop, IpAddress address, EchoHandle &handle,
                                IcmpEchoReply &reply)
{
    MtuRecord &record = rows_.history.beginMtuSearch(hop);
    if (rows_.hopNoted[static_cast<size_t>(hop)]) {
        record.result = MtuResult::ambiguous;
        rows_.writeAmbiguousMtu(hop);
        return;
    }
    int16_t mtuLow = mtuFirstSize;
    int16_t mtuHigh = mtuSizeLimit;
    int16_t mtuProbe = mtuFirstSize;
    bool successSeen = false;
    std::vector<int16_t> mtuTtls;
    for (;;) {
        const MtuOutcome outcome =
            tryMtuSize(mtuProbe, successSeen, address, handle, reply, record);
        if (outcome == MtuOutcome::cutOff) {
            record.result = MtuResult::stopped;
            return;
        }
        if (outcome == MtuOutcome::failed)
            break;
        if (outcome == MtuOutcome::passes) {
            successSeen = true;
            mtuLow = mtuProbe;
            if (mtuTtls.size() < mtuTtlCapacity)
                mtuTtls.push_back(reply.ttl);
        } else {
            mtuHigh = mtuProbe;
        }
        if (mtuHigh <= mtuLow)
            break; // even the first size is too big: the interval can never close
        mtuProbe = midpoint(mtuLow, mtuHigh);
        if (mtuHigh == mtuLow + 1) {
            complete(hop, mtuLow, std::move(mtuTtls), record);
            return;
        }
    }
    fail(hop, record);
}

void PathMtuSearch::complete(int16_t hop, int16_t mtu, std::vector<int16_t> ttls,
                             MtuRecord &record)
{
    rows_.writeMtu(hop, std::to_string(mtu), asymText(ttls, hop, settings_.optAsymmetryView));
    record.result = MtuResult::found;
    record.mtu = mtu;
    record.asymTtls = std::move(ttls);
}

void PathMtuSearch::fail(int16_t hop, MtuRecord &record)
{
    rows_.writeMtu(hop, HopTable::noAnswer, HopTable::noAnswer);
    record.result = tracing_ ? MtuResult::failed : MtuResult::stopped;
    record.asymTtls.clear();
}

// Up to optMtuRetries probes of one size until it is decided.
PathMtuSearch::MtuOutcome PathMtuSearch::tryMtuSize(int16_t size, bool successSeen,
                                                    const IpAddress &address, EchoHandle &handle,
                                                    IcmpEchoReply &reply, MtuRecord &record)
{
    const IpOptionInformation options{255, static_cast<uint8_t>(settings_.optTos),
                                      IpOptionInformation::dontFragment};
    for (int16_t tries = 0;;) {
        if (tries >= settings_.optMtuRetries || !tracing_)
            return MtuOutcome::failed;
        ++tries;
        if (!sendProbe_(handle, address, size, options, reply))
            return MtuOutcome::cutOff;
        record.tries.push_back({size, answerOf(reply), reply.ttl});
        // Refused on this machine for a reason other than its size: no later
        // probe of the search would leave either.
        if (reply.status == IpStatus::notSent)
            return MtuOutcome::failed;
        if (reply.status == IpStatus::packetTooBig)
            return MtuOutcome::tooBig;
        if (reply.status == IpStatus::success)
            return MtuOutcome::passes;
        // A path that drops over-size packets silently: once a smaller size has
        // passed, a size that times out on every try counts as too big.
        if (reply.status == IpStatus::reqTimedOut && tries == settings_.optMtuRetries &&
            successSeen)
            return MtuOutcome::tooBig;
    }
}
