#include "engine/TraceEngine.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "engine/AsymText.h"
#include "engine/Notes.h"
#include "engine/NumberText.h"
#include "engine/WindowOps.h"
#include "net/EchoService.h"
#include "net/Module1.h"
#include "net/Resolver.h"
#include "net/Sockets.h"

namespace {


// Sub-items of a result row.
enum Column : int {
    colAddress = 1,
    colHostname,
    colSent,
    colRecv,
    colLoss,
    colBest,
    colAvg,
    colWorst,
    colLast,
    colMtu,
    colAsym
};

const std::string noAnswer = "***";
const std::string noValue = "---";
const std::string ambiguous = "???";
const std::string seeNotes = "see Notes !!!";

// Packet sizes of the MTU search, headers included: the same on the wire for
// both families, so the payloads are the address's header bytes smaller.
constexpr int16_t mtuFirstSize = 120;
constexpr int16_t mtuSizeLimit = 2000; // never sent
constexpr size_t mtuTtlCapacity = 50;

size_t idx(int16_t hop) { return static_cast<size_t>(hop); }

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

TraceEngine::TraceEngine(TraceSettings &settings, EchoService &echo, Resolver &resolver,
                         WindowOps &ops)
    : settings(settings), echo_(echo), resolver_(resolver), ops_(ops)
{
    stats.reset();
}

void TraceEngine::command1Click()
{
    if (tracing)
        stopClick();
    else
        startClick();
}

void TraceEngine::resetResults()
{
    results.removeAllRows();
    maxhop = 0;
    results.setNotes({});
    dbIndex = 0;
    hopNoted.fill(false);
    forgetLateNames();
}

// A press during a trace only asks it to stop; the trace notices at its next
// check. A forward look-up in progress stops waiting at once.
void TraceEngine::stopClick()
{
    ops_.setCommand1Enabled(false);
    tracing = false;
    resolver_.abandonForward();
}

void TraceEngine::startClick()
{
    if (settingsRefused())
        return;
    gone_ = false;
    ops_.setCommand1Caption("Stop");
    ops_.setCommand3Enabled(false);
    ops_.setCommand4Enabled(false);
    ops_.setCombo1Enabled(false);
    ops_.hideOptions();
    tracing = true;
    clearForStart();
    if (!startSockets()) {
        ops_.messageBox("Unable to initialize the Windows Sockets", MessageIcon::none);
        endTrace();
        return;
    }
    IpAddress targetAddr;
    if (resolveTarget(targetAddr))
        runLoop(targetAddr);
    echo_.closeSpares();
    if (gone_)
        return; // the window is closing: it gets no more calls
    deliverLateNames();
    stopSockets(ops_);
    endTrace();
}

// The Options dialog lets no number outside its range through; one that got
// here by a fault would size packets and index the hop arrays wrongly.
bool TraceEngine::settingsRefused()
{
    const std::string fault = settings.outOfRange();
    if (fault.empty())
        return false;
    ops_.messageBox("The trace cannot start: " + fault + ". Correct it in Options.",
                    MessageIcon::stop);
    return true;
}

void TraceEngine::clearForStart()
{
    results.removeAllRows();
    maxhop = 0;
    results.setNotes({});
    dbIndex = 0;
    stats.reset();
    hopNoted.fill(false);
    forgetLateNames();
}

// The forward look-up, the history and the reverse look-up of the target.
// False when the trace must not run.
bool TraceEngine::resolveTarget(IpAddress &targetAddr)
{
    const std::string dotted = Module1::hostToAddress(ops_.combo1Text(), resolver_, ops_);
    if (windowGone() || !tracing)
        return false; // Stop during the look-up: nothing to show, record or probe
    ops_.setText3(dotted);
    ops_.recordHistory();
    if (refuseTarget(dotted, targetAddr))
        return false;
    if (settings.optResolveNames) {
        std::string name = Module1::addressToHost(dotted, resolver_, ops_);
        if (windowGone())
            return false;
        awaitName(name, dotted, 0, false);
        ops_.setText2(name);
    }
    return true;
}

// An empty look-up result would be probed as 255.255.255.255; neither it nor
// any other address that is not one host's can be traced.
bool TraceEngine::refuseTarget(const std::string &dotted, IpAddress &targetAddr)
{
    if (dotted.empty()) {
        ops_.messageBox("Unable to resolve the host name.", MessageIcon::none);
        return true;
    }
    const auto address = textToAddress(dotted);
    if (!address || !address->isUnicastHost()) {
        ops_.messageBox("Invalid IP address", MessageIcon::none);
        return true;
    }
    targetAddr = *address;
    return false;
}

void TraceEngine::runLoop(const IpAddress &targetAddr)
{
    bool goOn = true;
    for (int32_t run = 0; goOn && tracing && run < settings.optMaxRuns; ++run) {
        curHop = 0;
        IpAddress lastReplyAddr;
        while (goOn && tracing && curHop < settings.optMaxHops && lastReplyAddr != targetAddr)
            goOn = probeHop(targetAddr, lastReplyAddr);
    }
}

// One hop's main probe and, for an answer, its MTU search. False when the
// trace must end at once.
bool TraceEngine::probeHop(const IpAddress &targetAddr, IpAddress &lastReplyAddr)
{
    ++curHop;
    const int16_t hop = curHop;
    const std::unique_ptr<EchoHandle> handle = echo_.openHandle(targetAddr);
    if (!handle) {
        // Every later hop would fail the same way: say why once and end the trace.
        const std::string reason = echo_.lastOpenFailure().reason;
        ops_.messageBox("Unable to Open an Icmp File Handle" + (reason.empty() ? "" : "\n" + reason),
                        MessageIcon::none);
        return false;
    }
    const IpOptionInformation options{static_cast<uint8_t>(hop),
                                      static_cast<uint8_t>(settings.optTos), 0};
    const std::vector<uint8_t> &payload =
        payloadOf(static_cast<int16_t>(settings.optPacketSize - targetAddr.headerBytes()));
    ++stats.hopSent[idx(hop)];
    ops_.yield();
    if (windowGone())
        return false;
    deliverLateNames();
    IcmpEchoReply reply;
    const uint32_t count = handle->sendEcho(targetAddr, payload, options, reply, timeoutMs());
    if (windowGone())
        return false;
    if (count < 1) {
        handleRow(hop, false, {}, 0);
        return true;
    }
    lastReplyAddr = reply.address;
    handleRow(hop, true, reply.address, static_cast<int32_t>(reply.roundTripTime));
    if (!gone_ && settings.optFindMtu)
        findPathMtu(hop, reply.address, *handle, reply);
    return !gone_;
}

void TraceEngine::endTrace()
{
    tracing = false;
    ops_.setCommand1Caption("Start");
    ops_.setCommand1Enabled(true);
    ops_.setCommand3Enabled(true);
    ops_.setCommand4Enabled(true);
    ops_.setCombo1Enabled(true);
}

// ---- hop statistics and result rows

void TraceEngine::handleRow(int16_t hop, bool answered, const IpAddress &address, int32_t rtt)
{
    if (answered)
        handleReply(hop, address, rtt);
    else
        handleTimeout(hop);
}

void TraceEngine::handleTimeout(int16_t hop)
{
    if (maxhop < hop) {
        ++maxhop;
        results.addRow(signRoomText(hop));
    }
    results.setCell(hop, colAddress, hopNoted[idx(hop)] ? seeNotes : noAnswer);
    results.setCell(hop, colHostname, settings.optResolveNames ? noAnswer : "");
    writeCounts(hop);
    writeTimeoutTimes(hop);
}

void TraceEngine::handleReply(int16_t hop, const IpAddress &address, int32_t rtt)
{
    ++stats.hopRecv[idx(hop)];
    const std::string s = address.text();
    if (maxhop < hop)
        addReplyRow(hop, s, rtt);
    else
        updateReplyRow(hop, s, rtt);
}

void TraceEngine::addReplyRow(int16_t hop, const std::string &s, int32_t rtt)
{
    ++maxhop;
    results.addRow(signRoomText(hop));
    results.setCell(hop, colAddress, s);
    const int32_t k = appendToLog(hop, s);
    results.setCell(hop, colHostname, "");
    writeCounts(hop);
    writeReplyTimes(hop, rtt);
    if (!settings.optResolveNames)
        return;
    std::string name = lookUpName(s);
    if (gone_)
        return;
    results.setCell(hop, colHostname, name);
    if (k < 1)
        return;
    awaitName(name, s, k, true);
    log.dbName[static_cast<size_t>(k)] = std::move(name);
}

void TraceEngine::updateReplyRow(int16_t hop, const std::string &s, int32_t rtt)
{
    const bool wasNoted = hopNoted[idx(hop)];
    int32_t k = findInLog(hop, s);
    const bool found = k > 0;
    if (wasNoted)
        noteReply(hop, s, k);
    else if (found) {
        results.setCell(hop, colAddress, s);
        countReply(k);
    } else if (hopInLog(hop)) {
        hopNoted[idx(hop)] = true;
        noteReply(hop, s, 0);
    } else {
        results.setCell(hop, colAddress, s);
        k = appendToLog(hop, s);
    }
    results.setCell(hop, colHostname, "");
    writeCounts(hop);
    writeReplyTimes(hop, rtt);
    if (hopNoted[idx(hop)] || !settings.optResolveNames || k < 1)
        return; // k < 1: the log was full, there is no entry to name
    if (found) {
        results.setCell(hop, colHostname, log.dbName[static_cast<size_t>(k)]);
        return;
    }
    // A new address's name shows from the hop's next reply on.
    std::string name = lookUpName(s);
    if (gone_)
        return;
    awaitName(name, s, k, false);
    log.dbName[static_cast<size_t>(k)] = std::move(name);
}

// A reply at a hop whose several addresses are listed in the Notes box.
void TraceEngine::noteReply(int16_t hop, const std::string &s, int32_t k)
{
    results.setCell(hop, colAddress, seeNotes);
    if (k > 0)
        countReply(k);
    else
        appendToLog(hop, s);
    rebuildNotes();
}

void TraceEngine::writeCounts(int16_t hop)
{
    const int32_t sent = stats.hopSent[idx(hop)];
    const int32_t recv = stats.hopRecv[idx(hop)];
    results.setCell(hop, colSent, std::to_string(sent));
    results.setCell(hop, colRecv, std::to_string(recv));
    results.setCell(hop, colLoss, std::to_string((sent - recv) * 100 / sent));
}

void TraceEngine::writeTimeoutTimes(int16_t hop)
{
    const size_t h = idx(hop);
    const int32_t best = stats.hopBest[h];
    const int32_t worst = stats.hopWorst[h];
    const int32_t recv = stats.hopRecv[h];
    results.setCell(hop, colBest, best == HopStats::noBest ? noValue : std::to_string(best));
    results.setCell(hop, colAvg, recv < 1 ? noValue : std::to_string(stats.hopSum[h] / recv));
    results.setCell(hop, colWorst, worst == 0 ? noValue : std::to_string(worst));
    results.setCell(hop, colLast, noValue);
}

void TraceEngine::writeReplyTimes(int16_t hop, int32_t rtt)
{
    const size_t h = idx(hop);
    if (rtt < stats.hopBest[h])
        stats.hopBest[h] = rtt;
    stats.hopSum[h] += rtt;
    if (rtt > stats.hopWorst[h])
        stats.hopWorst[h] = rtt;
    results.setCell(hop, colBest, std::to_string(stats.hopBest[h]));
    results.setCell(hop, colAvg, std::to_string(stats.hopSum[h] / stats.hopRecv[h]));
    results.setCell(hop, colWorst, std::to_string(stats.hopWorst[h]));
    results.setCell(hop, colLast, std::to_string(rtt));
}

int32_t TraceEngine::findInLog(int16_t hop, const std::string &s) const
{
    for (int32_t k = 1; k <= dbIndex; ++k) {
        const auto i = static_cast<size_t>(k);
        if (log.dbHop[i] == hop && log.dbAddr[i] == s)
            return k;
    }
    return 0;
}

bool TraceEngine::hopInLog(int16_t hop) const
{
    for (int32_t k = 1; k <= dbIndex; ++k) {
        if (log.dbHop[static_cast<size_t>(k)] == hop)
            return true;
    }
    return false;
}

// The new entry's index, or 0 when the log is full: the reply is then still
// counted in the row, only its address is not listed.
int32_t TraceEngine::appendToLog(int16_t hop, const std::string &s)
{
    if (dbIndex >= AddressLog::capacity)
        return 0;
    ++dbIndex;
    const auto i = static_cast<size_t>(dbIndex);
    log.dbHop[i] = hop;
    log.dbAddr[i] = s;
    log.dbCount[i].assign(1, '1');
    log.dbName[i].clear();
    return dbIndex;
}

void TraceEngine::countReply(int32_t k)
{
    std::string &count = log.dbCount[static_cast<size_t>(k)];
    int32_t n = 0;
    std::from_chars(count.data(), count.data() + count.size(), n);
    count = std::to_string(n + 1);
}

void TraceEngine::rebuildNotes()
{
    results.setNotes(notesText(hopNoted, log, dbIndex));
}

std::string TraceEngine::lookUpName(const std::string &dotted)
{
    std::string name = Module1::addressToHost(dotted, resolver_, ops_);
    windowGone(); // the look-up yields: the window may have closed meanwhile
    return name;
}

// A look-up that came back empty may still find its name later.
void TraceEngine::awaitName(const std::string &name, const std::string &dotted, int32_t k,
                            bool inRow)
{
    if (name.empty())
        nameWaits_.push_back({dotted, k, inRow});
}

void TraceEngine::deliverLateNames()
{
    for (const Resolver::LateName &late : resolver_.takeLateNames()) {
        const std::string dotted = late.address.text();
        std::vector<NameWait> waiting;
        for (NameWait &wait : nameWaits_) {
            if (wait.dotted == dotted)
                placeLateName(wait, late.name);
            else
                waiting.push_back(std::move(wait));
        }
        nameWaits_ = std::move(waiting);
    }
}

// The name goes where it would have gone in time: the entry, the row while it
// still shows that address (from its next reply on otherwise), the Notes box
// for a hop with several addresses, or the target's Host name box.
void TraceEngine::placeLateName(const NameWait &wait, const std::string &name)
{
    if (wait.k == 0) {
        if (!ops_.closing())
            ops_.setText2(name);
        return;
    }
    const auto k = static_cast<size_t>(wait.k);
    log.dbName[k] = name;
    const int16_t hop = log.dbHop[k];
    if (hopNoted[idx(hop)])
        rebuildNotes();
    else if (wait.inRow && results.cell(hop, colAddress) == wait.dotted)
        results.setCell(hop, colHostname, name);
}

// After a reset no earlier look-up may name anything.
void TraceEngine::forgetLateNames()
{
    nameWaits_.clear();
    resolver_.takeLateNames();
}

// ---- path MTU search

// Halves the interval of packet sizes between one known to pass and one known
// not to, with don't-fragment probes to the hop's own address.
void TraceEngine::findPathMtu(int16_t hop, IpAddress address, EchoHandle &handle,
                              IcmpEchoReply &reply)
{
    if (hopNoted[idx(hop)]) {
        results.setCell(hop, colMtu, ambiguous);
        return;
    }
    int16_t mtuLow = mtuFirstSize;
    int16_t mtuHigh = mtuSizeLimit;
    int16_t mtuProbe = mtuFirstSize;
    bool successSeen = false;
    std::vector<int16_t> mtuTtls;
    for (;;) {
        const MtuOutcome outcome = tryMtuSize(mtuProbe, successSeen, address, handle, reply);
        if (gone_)
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
            writeMtu(hop, std::to_string(mtuLow), asymText(mtuTtls, hop, settings.optAsymmetryView));
            return;
        }
    }
    writeMtu(hop, noAnswer, noAnswer);
}

// Up to optMtuRetries probes of one size until it is decided.
TraceEngine::MtuOutcome TraceEngine::tryMtuSize(int16_t size, bool successSeen,
                                                const IpAddress &address, EchoHandle &handle,
                                                IcmpEchoReply &reply)
{
    const IpOptionInformation options{255, static_cast<uint8_t>(settings.optTos),
                                      IpOptionInformation::dontFragment};
    const std::vector<uint8_t> &payload =
        payloadOf(static_cast<int16_t>(size - address.headerBytes()));
    for (int16_t tries = 0;;) {
        if (tries >= settings.optMtuRetries || !tracing)
            return MtuOutcome::failed;
        ++tries;
        ops_.yield();
        if (windowGone())
            return MtuOutcome::failed;
        deliverLateNames();
        handle.sendEcho(address, payload, options, reply, timeoutMs());
        if (windowGone())
            return MtuOutcome::failed;
        if (reply.status == IpStatus::packetTooBig)
            return MtuOutcome::tooBig;
        if (reply.status == IpStatus::success)
            return MtuOutcome::passes;
        // A path that drops over-size packets silently: once a smaller size has
        // passed, a size that times out on every try counts as too big.
        if (reply.status == IpStatus::reqTimedOut && tries == settings.optMtuRetries && successSeen)
            return MtuOutcome::tooBig;
    }
}

void TraceEngine::writeMtu(int16_t hop, const std::string &mtu, const std::string &asym)
{
    results.setCell(hop, colMtu, mtu);
    results.setCell(hop, colAsym, asym);
}

// ---- helpers

// True once the window has started closing; the trace then ends without
// another probe and without touching the window.
bool TraceEngine::windowGone()
{
    if (!gone_ && ops_.closing()) {
        gone_ = true;
        tracing = false;
    }
    return gone_;
}

uint32_t TraceEngine::timeoutMs() const
{
    const auto ms = static_cast<int16_t>(settings.optTimeoutSec * 1000); // at most 30000
    return static_cast<uint32_t>(ms);
}

const std::vector<uint8_t> &TraceEngine::payloadOf(int16_t size)
{
    payload_.resize(static_cast<size_t>(std::max<int16_t>(size, 0)), 'a');
    return payload_;
}
