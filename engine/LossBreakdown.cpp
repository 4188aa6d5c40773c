#include "engine/LossBreakdown.h"

#include <algorithm>

#include "engine/PercentText.h"

namespace {

// "25", "33.3": a share of probes in percent, with a decimal only where it
// is not whole.
std::string shareText(int32_t count, int32_t total)
{
    if (total <= 0)
        return "0";
    const bool whole = int64_t{count} * 100 % total == 0;
    return ::percentText(static_cast<double>(count) / total, whole ? 0 : 1);
}

std::string probesText(int32_t n)
{
    return std::to_string(n) + (n == 1 ? " probe" : " probes");
}

std::string pendingText(const LossBreakdown &loss)
{
    if (loss.pending == 0)
        return {};
    return " " + probesText(loss.pending) + " lost in the run still going " +
           (loss.pending == 1 ? "waits" : "wait") + " for later hops.";
}

std::string undecidedText(const LossBreakdown &loss)
{
    if (loss.undecided == 0)
        return {};
    return " " + probesText(loss.undecided) + " lost in the run cut short before a later hop " +
           "answered " + (loss.undecided == 1 ? "is" : "are") + " undecided.";
}

std::string lostShare(const LossBreakdown &loss)
{
    return shareText(loss.lost, loss.probes) + " % of probes got no reply";
}

std::string pathShare(const LossBreakdown &loss)
{
    return "the path itself lost " + shareText(loss.forward, loss.probes) + " %";
}

// The target answered at hop in a run next to this one, and in this one
// nothing but the target answered beyond it: its reply was lost here and
// answered again further on.
bool targetLoss(const ProbeHistory &history, int16_t hop, int32_t run)
{
    const auto atHop = [&](int32_t r) { return history.outcome(r).target == hop; };
    return history.outcome(run).routerReach < hop && (atHop(run - 1) || atHop(run + 1));
}

// Which count of LossBreakdown a probe lost at hop in run adds to.
int32_t LossBreakdown::*lossKind(const ProbeHistory &history, int16_t hop, int32_t run)
{
    if (targetLoss(history, hop, run))
        return &LossBreakdown::forward;
    const RunOutcome outcome = history.outcome(run);
    if (outcome.reach > hop)
        return &LossBreakdown::noReply;
    if (run == history.openRun())
        return &LossBreakdown::pending;
    return outcome.cut ? &LossBreakdown::undecided : &LossBreakdown::forward;
}

// What the losses of runs that went to their end (or reached beyond) say.
std::string decidedText(const LossBreakdown &loss)
{
    if (loss.target && loss.noReply == 0)
        return lostShare(loss) + ". This is the target: its loss is loss of the path.";
    if (loss.silent)
        return "This router answered none of its " + probesText(loss.probes) +
               ", but later hops answered in those runs: it forwards traffic without "
               "replying to probes; " +
               pathShare(loss) + ".";
    if (loss.noReply > 0 && loss.target)
        return shareText(loss.noReply, loss.probes) +
               " % of probes got no reply here while later hops answered in those runs (the "
               "route was longer then); " +
               pathShare(loss) + ".";
    if (loss.noReply > 0)
        return shareText(loss.noReply, loss.probes) +
               " % of probes got no reply from this router, but later hops answered in those "
               "runs: the router limits its replies; " +
               pathShare(loss) + ".";
    if (loss.nothingBeyond && loss.undecided == 0)
        return lostShare(loss) + ". No later hop has answered: loss here is loss of the path.";
    if (loss.nothingBeyond)
        return lostShare(loss) + ". No later hop has answered: " + pathShare(loss) + ".";
    return lostShare(loss) + ", and no later hop answered in those runs: " + pathShare(loss) + ".";
}

} // namespace

LossBreakdown lossBreakdown(const ProbeHistory &history, int16_t hop)
{
    const HopHistory &probes = history.hop(hop);
    LossBreakdown b;
    b.probes = static_cast<int32_t>(probes.size());
    b.target = history.targetAt(hop);
    b.nothingBeyond = history.reach() <= hop;
    int32_t streak = 0;
    for (size_t i = 0; i < probes.size(); ++i) {
        const HopProbe &p = probes[i];
        if (!p.lost) {
            streak = 0;
            continue;
        }
        ++b.lost;
        b.longestLossRun = std::max(b.longestLossRun, ++streak);
        ++(b.*lossKind(history, hop, p.run));
    }
    b.silent = b.probes > 0 && b.lost == b.probes && b.noReply > 0;
    return b;
}

std::string lossText(const LossBreakdown &loss)
{
    if (loss.probes == 0)
        return "No probes yet.";
    if (loss.lost == 0)
        return "Every probe got a reply.";
    if (loss.lost == loss.pending)
        return lostShare(loss) + "; the run still going has not reached later hops yet.";
    if (loss.lost == loss.undecided)
        return lostShare(loss) + " in the run cut short before a later hop answered: whether " +
               "this router or the path lost " + (loss.lost == 1 ? "it" : "them") +
               " is undecided.";
    return decidedText(loss) + undecidedText(loss) + pendingText(loss);
}
