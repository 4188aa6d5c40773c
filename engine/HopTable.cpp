#include "engine/HopTable.h"

#include <utility>

#include "engine/Notes.h"
#include "engine/TraceObserver.h"
#include "engine/NumberText.h"
#include "engine/WindowOps.h"
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

const std::string noValue = "---";
const std::string ambiguous = "???";
const std::string seeNotes = "see Notes !!!";

size_t idx(int16_t hop)
{
    return static_cast<size_t>(hop);
}

} // namespace

HopTable::HopTable(const TraceSettings &settings, Resolver &resolver, WindowOps &ops,
                   WindowGone windowGone)
    : settings_(settings), resolver_(&resolver), ops_(&ops), windowGone_(std::move(windowGone))
{
    stats.reset();
    results.setNotesWriter([this] { return notesText(hopNoted, log, dbIndex); });
}

void HopTable::resetResults()
{
    results.removeAllRows();
    maxhop = 0;
    results.setNotes({});
    dbIndex = 0;
    hopNoted.fill(false);
    history.clear();
    forgetLateNames();
}

int32_t HopTable::handleRow(int16_t hop, bool answered, const IpAddress &address, int32_t rtt)
{
    replyEntry_ = 0;
    if (answered)
        handleReply(hop, address, rtt);
    else
        handleTimeout(hop);
    return replyEntry_;
}

void HopTable::handleTimeout(int16_t hop)
{
    if (maxhop < hop) {
        ++maxhop;
        results.addRow(signRoomText(hop));
    }
    results.setCell(hop, colAddress, hopNoted[idx(hop)] ? seeNotes : noAnswer);
    results.setCell(hop, colHostname, settings_.optResolveNames ? noAnswer : std::string_view());
    writeCounts(hop);
    writeTimeoutTimes(hop);
}

void HopTable::handleReply(int16_t hop, const IpAddress &address, int32_t rtt)
{
    ++stats.hopRecv[idx(hop)];
    const std::string &s = addressText(hop, address);
    if (maxhop < hop)
        addReplyRow(hop, s, rtt);
    else
        updateReplyRow(hop, s, rtt);
}

// A hop mostly answers from the address it answered from last time; the text
// of that one is kept, since a fast trace shows tens of thousands of replies a second.
const std::string &HopTable::addressText(int16_t hop, const IpAddress &address)
{
    auto &last = lastText_[idx(hop)];
    if (!last || last->first != address)
        last.emplace(address, address.text());
    return last->second;
}

void HopTable::addReplyRow(int16_t hop, const std::string &s, int32_t rtt)
{
    ++maxhop;
    results.addRow(signRoomText(hop));
    results.setCell(hop, colAddress, s);
    const int32_t k = appendToLog(hop, s);
    results.setCell(hop, colHostname, "");
    writeCounts(hop);
    writeReplyTimes(hop, rtt);
    if (!settings_.optResolveNames)
        return;
    std::string name;
    if (!lookUpName(s, name))
        return;
    results.setCell(hop, colHostname, name);
    if (k < 1)
        return;
    awaitName(name, s, k, true);
    log.dbName[static_cast<size_t>(k)] = std::move(name);
}

void HopTable::updateReplyRow(int16_t hop, const std::string &s, int32_t rtt)
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
    if (hopNoted[idx(hop)] || !settings_.optResolveNames || k < 1)
        return; // k < 1: the log was full, there is no entry to name
    if (found) {
        results.setCell(hop, colHostname, log.dbName[static_cast<size_t>(k)]);
        return;
    }
    // A new address's name shows from the hop's next reply on.
    std::string name;
    if (!lookUpName(s, name))
        return;
    awaitName(name, s, k, false);
    log.dbName[static_cast<size_t>(k)] = std::move(name);
}

// A reply at a hop whose several addresses are listed in the Notes box.
void HopTable::noteReply(int16_t hop, const std::string &s, int32_t k)
{
    results.setCell(hop, colAddress, seeNotes);
    if (k > 0)
        countReply(k);
    else
        appendToLog(hop, s);
    results.notesChanged();
}

void HopTable::writeCounts(int16_t hop)
{
    const int32_t sent = stats.hopSent[idx(hop)];
    const int32_t recv = stats.hopRecv[idx(hop)];
    results.setNumber(hop, colSent, sent);
    results.setNumber(hop, colRecv, recv);
    results.setNumber(hop, colLoss, (sent - recv) * 100 / sent);
}

void HopTable::writeTimeoutTimes(int16_t hop)
{
    const size_t h = idx(hop);
    const int32_t best = stats.hopBest[h];
    const int32_t worst = stats.hopWorst[h];
    const int32_t recv = stats.hopRecv[h];
    const auto numberOrNone = [&](int column, bool known, int32_t value) {
        if (known)
            results.setNumber(hop, column, value);
        else
            results.setCell(hop, column, noValue);
    };
    numberOrNone(colBest, best != HopStats::noBest, best);
    numberOrNone(colAvg, recv > 0, recv > 0 ? stats.hopSum[h] / recv : 0);
    numberOrNone(colWorst, worst != 0, worst);
    results.setCell(hop, colLast, noValue);
}

void HopTable::writeReplyTimes(int16_t hop, int32_t rtt)
{
    const size_t h = idx(hop);
    if (rtt < stats.hopBest[h])
        stats.hopBest[h] = rtt;
    stats.hopSum[h] += rtt;
    if (rtt > stats.hopWorst[h])
        stats.hopWorst[h] = rtt;
    results.setNumber(hop, colBest, stats.hopBest[h]);
    results.setNumber(hop, colAvg, stats.hopSum[h] / stats.hopRecv[h]);
    results.setNumber(hop, colWorst, stats.hopWorst[h]);
    results.setNumber(hop, colLast, rtt);
}

int32_t HopTable::findInLog(int16_t hop, const std::string &s) const
{
    for (int32_t k = 1; k <= dbIndex; ++k) {
        const auto i = static_cast<size_t>(k);
        if (log.dbHop[i] == hop && log.dbAddr[i] == s)
            return k;
    }
    return 0;
}

bool HopTable::hopInLog(int16_t hop) const
{
    for (int32_t k = 1; k <= dbIndex; ++k) {
        if (log.dbHop[static_cast<size_t>(k)] == hop)
            return true;
    }
    return false;
}

// The new entry's index, or 0 when the log is full: the reply is then still
// counted in the row, only its address is not listed.
int32_t HopTable::appendToLog(int16_t hop, const std::string &s)
{
    if (dbIndex >= AddressLog::capacity)
        return 0;
    ++dbIndex;
    replyEntry_ = dbIndex;
    const auto i = static_cast<size_t>(dbIndex);
    log.dbHop[i] = hop;
    log.dbAddr[i] = s;
    log.dbCount[i].assign(1, '1');
    log.dbName[i].clear();
    return dbIndex;
}

// The count is the entry's decimal text: one more carries from its last digit.
void HopTable::countReply(int32_t k)
{
    replyEntry_ = k;
    std::string &count = log.dbCount[static_cast<size_t>(k)];
    for (auto digit = count.rbegin(); digit != count.rend(); ++digit) {
        if (*digit != '9') {
            ++*digit;
            return;
        }
        *digit = '0';
    }
    count.insert(count.begin(), '1');
}

// False when the window started closing, before the look-up or during it.
bool HopTable::lookUpName(const std::string &dotted, std::string &name)
{
    name = lookUpTargetName(dotted);
    return !windowGone_();
}

// A look-up yields to the window, so a closing one gets none (the probes a
// trace still writes as it ends): the name is told as not found.
std::string HopTable::lookUpTargetName(const std::string &dotted)
{
    std::string name =
        windowGone_() ? std::string() : Module1::addressToHost(dotted, *resolver_, *ops_);
    if (observer_)
        if (const auto address = textToAddress(dotted))
            observer_->name(*address, name, false);
    return name;
}

void HopTable::awaitName(const std::string &name, const std::string &dotted, int32_t k, bool inRow)
{
    if (name.empty())
        nameWaits_.push_back({dotted, k, inRow});
}

void HopTable::deliverLateNames()
{
    for (const Resolver::LateName &late : resolver_->takeLateNames()) {
        if (observer_)
            observer_->name(late.address, late.name, true);
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
void HopTable::placeLateName(const NameWait &wait, const std::string &name)
{
    if (wait.k == 0) {
        if (!ops_->closing())
            ops_->setText2(name);
        return;
    }
    const auto k = static_cast<size_t>(wait.k);
    log.dbName[k] = name;
    const int16_t hop = log.dbHop[k];
    if (hopNoted[idx(hop)])
        results.notesChanged();
    else if (wait.inRow && results.cell(hop, colAddress) == wait.dotted)
        results.setCell(hop, colHostname, name);
}

// After a reset no earlier look-up may name anything.
void HopTable::forgetLateNames()
{
    nameWaits_.clear();
    resolver_->takeLateNames();
}

void HopTable::writeMtu(int16_t hop, const std::string &mtu, const std::string &asym)
{
    results.setCell(hop, colMtu, mtu);
    results.setCell(hop, colAsym, asym);
}

void HopTable::writeAmbiguousMtu(int16_t hop)
{
    results.setCell(hop, colMtu, ambiguous);
}
