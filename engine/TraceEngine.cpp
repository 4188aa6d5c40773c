#include "engine/TraceEngine.h"

#include <algorithm>
#include <memory>
#include <tuple>
#include <utility>

#include "engine/NotSentText.h"
#include "engine/TraceObserver.h"
#include "engine/WindowOps.h"
#include "net/EchoService.h"
#include "net/Module1.h"
#include "net/Resolver.h"
#include "net/SendStamps.h"
#include "net/Sockets.h"

namespace {

size_t idx(int16_t hop)
{
    return static_cast<size_t>(hop);
}

} // namespace

TraceEngine::TraceEngine(TraceSettings &settings, EchoService &echo, Resolver &resolver,
                         WindowOps &ops)
    : settings(settings), rows_(settings, resolver, ops, [this] { return windowGone(); }),
      echo_(&echo), resolver_(&resolver), ops_(&ops), clock_(ownClock()),
      mtu_(settings, tracing, rows_,
           [this](EchoHandle &handle, const IpAddress &address, int16_t size,
                  const IpOptionInformation &options, IcmpEchoReply &reply) {
               return sendProbe(handle, address, size, options, reply).has_value();
           })
{
}

void TraceEngine::command1Click()
{
    if (tracing)
        stopClick();
    else
        startClick();
}

void TraceEngine::setObserver(TraceObserver *observer)
{
    observer_ = observer;
    rows_.setObserver(observer);
}

TraceEngine::Clock TraceEngine::ownClock()
{
    return {[] { return std::chrono::system_clock::now(); }, [this] { return sinceRunsStart(); }};
}

void TraceEngine::traceWith(EchoService &echo, Resolver &resolver, WindowOps &ops, Clock clock)
{
    const auto own = std::make_tuple(echo_, resolver_, ops_);
    clock_ = std::move(clock);
    echo_ = &echo;
    resolver_ = &resolver;
    ops_ = &ops;
    rows_.useWorld(resolver, ops);
    command1Click();
    rows_.deliverLateNames(); // names that came once the trace was over
    std::tie(echo_, resolver_, ops_) = own;
    rows_.useWorld(*resolver_, *ops_);
    clock_ = ownClock();
}

void TraceEngine::resetResults()
{
    rows_.resetResults();
}

void TraceEngine::deliverLateNames()
{
    rows_.deliverLateNames();
}

// A press during a trace only asks it to stop; the trace notices at its next
// check. A forward look-up in progress stops waiting at once.
void TraceEngine::stopClick()
{
    ops_->setCommand1Enabled(false);
    tracing = false;
    resolver_->abandonForward();
    if (!observer_)
        return;
    heldStop_ = true;
    settlePending();
    reportHeld();
}

void TraceEngine::startClick()
{
    if (settingsRefused())
        return;
    gone_ = false;
    firstProbe_ = true;
    ops_->setCommand1Caption("Stop");
    ops_->setCommand3Enabled(false);
    ops_->setCommand4Enabled(false);
    ops_->setCombo1Enabled(false);
    ops_->hideOptions();
    tracing = true;
    clearForStart();
    if (!startSockets()) {
        ops_->messageBox("Unable to initialize the Windows Sockets", MessageIcon::none);
        endTrace();
        return;
    }
    IpAddress targetAddr;
    if (resolveTarget(targetAddr))
        runLoop(targetAddr);
    echo_->closeSpares();
    if (gone_)
        return; // the window is closing: it gets no more calls
    deliverLateNames();
    stopSockets(*ops_);
    endTrace();
}

// The Options dialog lets no number outside its range through; one that got
// here by a fault would size packets and index the hop arrays wrongly.
bool TraceEngine::settingsRefused()
{
    const std::string fault = settings.outOfRange();
    if (fault.empty())
        return false;
    ops_->messageBox("The trace cannot start: " + fault + ". Correct it in Options.",
                    MessageIcon::stop);
    return true;
}

void TraceEngine::clearForStart()
{
    runsStartedAt_.reset();
    run_ = 0;
    heldRunEnds_.clear();
    heldStop_ = false;
    rows_.resetResults();
    stats.reset();
}

// The forward look-up, the history and the reverse look-up of the target.
// False when the trace must not run.
bool TraceEngine::resolveTarget(IpAddress &targetAddr)
{
    const std::string dotted = Module1::hostToAddress(ops_->combo1Text(), *resolver_, *ops_);
    if (windowGone() || !tracing)
        return false; // Stop during the look-up: nothing to show, record or probe
    if (observer_)
        observer_->target(dotted);
    ops_->setText3(dotted);
    ops_->recordHistory();
    if (refuseTarget(dotted, targetAddr))
        return false;
    if (settings.optResolveNames) {
        std::string name = rows_.lookUpTargetName(dotted);
        if (windowGone())
            return false;
        rows_.awaitName(name, dotted, 0, false);
        ops_->setText2(name);
    }
    return true;
}

// An empty look-up result would be probed as 255.255.255.255; neither it nor
// any other address that is not one host's can be traced.
bool TraceEngine::refuseTarget(const std::string &dotted, IpAddress &targetAddr)
{
    if (dotted.empty()) {
        ops_->messageBox("Unable to resolve the host name.", MessageIcon::none);
        return true;
    }
    const auto address = textToAddress(dotted);
    if (!address || !address->isUnicastHost()) {
        ops_->messageBox("Invalid IP address", MessageIcon::none);
        return true;
    }
    targetAddr = *address;
    return false;
}

void TraceEngine::runLoop(const IpAddress &targetAddr)
{
    bool goOn = true;
    runsStart_ = std::chrono::steady_clock::now();
    runsStartedAt_ = clock_.runsStart();
    if (observer_)
        observer_->runsStarted(*runsStartedAt_);
    rows_.history.expectRuns(settings.optMaxRuns);
    echo_->setLongWaitHook([this] { settlePending(); });
    for (int32_t run = 0; goOn && tracing && run < settings.optMaxRuns; ++run) {
        curHop = 0;
        run_ = run + 1;
        rows_.history.beginRun(run_);
        IpAddress lastReplyAddr;
        while (goOn && tracing && curHop < settings.optMaxHops && lastReplyAddr != targetAddr)
            goOn = probeHop(targetAddr, lastReplyAddr);
        // A run stopped before its end tells nothing about the hops it never probed.
        if (lastReplyAddr == targetAddr || (goOn && curHop >= settings.optMaxHops))
            rows_.history.endRun();
        else
            rows_.history.cutRun();
        if (observer_) {
            heldRunEnds_.push_back(run + 1);
            reportHeld();
        }
    }
    echo_->setLongWaitHook({});
    settlePending();
    reportHeld();
}

// One hop's main probe and, for an answer, its MTU search. False when the
// trace must end at once.
bool TraceEngine::probeHop(const IpAddress &targetAddr, IpAddress &lastReplyAddr)
{
    ++curHop;
    const int16_t hop = curHop;
    const std::unique_ptr<EchoHandle> handle = echo_->openHandle(targetAddr);
    if (!handle) {
        // Every later hop would fail the same way: say why once and end the trace.
        const std::string reason = echo_->lastOpenFailure().reason;
        ops_->messageBox("Unable to Open an Icmp File Handle" +
                            (reason.empty() ? "" : "\n" + reason),
                        MessageIcon::none);
        return false;
    }
    const IpOptionInformation options{static_cast<uint8_t>(hop),
                                      static_cast<uint8_t>(settings.optTos), 0};
    IcmpEchoReply reply;
    const std::optional<uint32_t> count =
        sendProbe(*handle, targetAddr, settings.optPacketSize, options, reply);
    if (!count)
        return false;
    const bool first = std::exchange(firstProbe_, false);
    if (reply.status == IpStatus::notSent) {
        if (first)
            return refuseUnsent(hop, targetAddr, reply);
        return waitOutUnsent(hop, targetAddr, reply);
    }
    if (*count < 1) {
        writeProbe(hop, targetAddr, reply, false);
        return true;
    }
    lastReplyAddr = reply.address;
    writeProbe(hop, targetAddr, reply, true);
    if (!gone_ && settings.optFindMtu) {
        settlePending(); // the search writes into the row its main probe made
        mtu_.findPathMtu(hop, reply.address, *handle, reply);
    }
    return !gone_;
}

// Nothing left the machine, so nothing was lost on the way: the probe is not
// counted, and every later one would fail alike until the network is back.
bool TraceEngine::refuseUnsent(int16_t hop, const IpAddress &targetAddr, const IcmpEchoReply &reply)
{
    recordProbe({hop, run_, sentUs_, false, false, reply});
    ops_->messageBox(notSentText(targetAddr.text(), reply.sendErrno), MessageIcon::exclamation);
    return false;
}

// An outage in the middle of a trace (a dropped link, a route withdrawn) costs
// the probes of its length, not the rest of the trace: the probe counts as
// lost and takes its whole time-out, and Stop or Quit ends that wait at once.
bool TraceEngine::waitOutUnsent(int16_t hop, const IpAddress &targetAddr,
                                const IcmpEchoReply &reply)
{
    writeProbe(hop, targetAddr, reply, false);
    settlePending();
    echo_->waitIdle(timeoutMs(), [this] { return tracing && !windowGone(); });
    return !windowGone();
}

// A main probe's outcome in its hop's row and its hop's history; answered is
// false for a time-out. It waits while its time waits for the send stamp, or
// while an earlier probe's outcome does.
void TraceEngine::writeProbe(int16_t hop, const IpAddress &targetAddr, const IcmpEchoReply &reply,
                             bool answered)
{
    PendingProbe probe{hop, run_, sentUs_, answered, answered && reply.address == targetAddr,
                       reply};
    if (pending_.empty() && !probe.reply.pendingStamp) {
        writeNow(probe);
        return;
    }
    if (pending_.empty())
        pendingSinceUs_ = sentUs_;
    pending_.push_back(std::move(probe));
    if (pending_.size() >= pendingBatch || sentUs_ - pendingSinceUs_ >= pendingAgeUs)
        settlePending();
}

void TraceEngine::writeNow(PendingProbe &probe)
{
    const int16_t hop = probe.hop;
    recordProbe(probe);
    ++stats.hopSent[idx(hop)];
    if (!probe.answered) {
        rows_.handleRow(hop, false, {}, 0);
        rows_.history.addLoss(hop, probe.sentUs);
        return;
    }
    const IcmpEchoReply &reply = probe.reply;
    const int32_t entry =
        rows_.handleRow(hop, true, reply.address, static_cast<int32_t>(reply.roundTripTime));
    rows_.history.addReply(hop, probe.sentUs, entry, reply.roundTripTime, reply.roundTripUs,
                           probe.fromTarget, reply.ttl);
}

// The first reply's stamp reads the batch from the socket; each probe is
// written into the run it was sent in, and the run going on is open again after.
void TraceEngine::settlePending()
{
    if (pending_.empty() || settling_) // a name look-up of a write yields to the window
        return;
    settling_ = true;
    ProbeHistory &history = rows_.history;
    const int32_t open = history.openRun();
    // Also once the window started closing: each answer is written, without
    // the look-ups that would yield to the window.
    for (PendingProbe &probe : pending_) {
        settleSendStamp(probe.reply);
        if (observer_)
            while (!heldRunEnds_.empty() && heldRunEnds_.front() < probe.run) {
                observer_->runEnded(heldRunEnds_.front());
                heldRunEnds_.erase(heldRunEnds_.begin());
            }
        if (history.openRun() != probe.run)
            history.beginRun(probe.run);
        writeNow(probe);
    }
    pending_.clear();
    if (open == 0)
        history.endRun();
    else if (history.openRun() != open)
        history.beginRun(open);
    settling_ = false;
    reportHeld();
}

// What a replay of the saved trace asks for in its place: the main probe as it
// is written, with the time its send stamp gave.
void TraceEngine::recordProbe(const PendingProbe &probe)
{
    if (observer_)
        observer_->probe({probe.run, probe.hop, false, settings.optPacketSize, probe.sentUs,
                          probe.reply});
}

void TraceEngine::reportHeld()
{
    if (!observer_ || settling_ || !pending_.empty())
        return;
    for (const int32_t run : heldRunEnds_)
        observer_->runEnded(run);
    heldRunEnds_.clear();
    if (std::exchange(heldStop_, false))
        observer_->stopPressed(run_);
}

std::optional<uint32_t> TraceEngine::sendProbe(EchoHandle &handle, const IpAddress &address,
                                               int16_t size, const IpOptionInformation &options,
                                               IcmpEchoReply &reply)
{
    const std::vector<uint8_t> &payload =
        payloadOf(static_cast<int16_t>(size - address.headerBytes()));
    ops_->yield();
    if (windowGone())
        return std::nullopt;
    rows_.deliverLateNames();
    sentUs_ = clock_.sinceRunsStart();
    const uint32_t count = handle.sendEcho(address, payload, options, reply, timeoutMs());
    if (windowGone())
        return std::nullopt;
    // A main probe is told of as it is written (its stamp may come later).
    if (observer_ && options.flags != 0)
        observer_->probe({rows_.history.openRun(), curHop, true, size, sentUs_, reply});
    return count;
}

void TraceEngine::endTrace()
{
    tracing = false;
    ops_->setCommand1Caption("Start");
    ops_->setCommand1Enabled(true);
    ops_->setCommand3Enabled(true);
    ops_->setCommand4Enabled(true);
    ops_->setCombo1Enabled(true);
}

// True once the window has started closing; the trace then ends without
// another probe and without touching the window.
uint64_t TraceEngine::sinceRunsStart() const
{
    const auto since = std::chrono::steady_clock::now() - runsStart_;
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(since).count();
    return static_cast<uint64_t>(std::max<int64_t>(us, 0));
}

bool TraceEngine::windowGone()
{
    if (!gone_ && ops_->closing()) {
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
