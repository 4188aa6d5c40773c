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
    if (rows_.hopNoted[static_cast<size_t>(hop)]) {
        rows_.writeAmbiguousMtu(hop);
        return;
    }
    int16_t mtuLow = mtuFirstSize;
    int16_t mtuHigh = mtuSizeLimit;
    int16_t mtuProbe = mtuFirstSize;
    bool successSeen = false;
    std::vector<int16_t> mtuTtls;
    for (;;) {
        const MtuOutcome outcome = tryMtuSize(mtuProbe, successSeen, address, handle, reply);
        if (outcome == MtuOutcome::cutOff)
            return;
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
            rows_.writeMtu(hop, std::to_string(mtuLow),
                           asymText(mtuTtls, hop, settings_.optAsymmetryView));
            return;
        }
    }
    rows_.writeMtu(hop, HopTable::noAnswer, HopTable::noAnswer);
}

// Up to optMtuRetries probes of one size until it is decided.
PathMtuSearch::MtuOutcome PathMtuSearch::tryMtuSize(int16_t size, bool successSeen,
                                                    const IpAddress &address, EchoHandle &handle,
                                                    IcmpEchoReply &reply)
{
    const IpOptionInformation options{255, static_cast<uint8_t>(settings_.optTos),
                                      IpOptionInformation::dontFragment};
    for (int16_t tries = 0;;) {
        if (tries >= settings_.optMtuRetries || !tracing_)
            return MtuOutcome::failed;
        ++tries;
        if (!sendProbe_(handle, address, size, options, reply))
            return MtuOutcome::cutOff;
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
