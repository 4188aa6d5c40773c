#include "engine/LossBreakdown.h"

#include <algorithm>
#include <cstdio>

namespace {

// "25", "33.3": a share of probes in percent, with a decimal only where it
// is not whole.
std::string percentText(int32_t count, int32_t total)
{
    const double percent = total > 0 ? count * 100.0 / total : 0;
    char text[16];
    if (count * 100 % std::max(total, 1) == 0)
        std::snprintf(text, sizeof text, "%.0f", percent);
    else
        std::snprintf(text, sizeof text, "%.1f", percent);
    return text;
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

std::string lostShare(const LossBreakdown &loss)
{
    return percentText(loss.lost, loss.probes) + " % of probes got no reply";
}

std::string pathShare(const LossBreakdown &loss)
{
    return "the path itself lost " + percentText(loss.forward, loss.probes) + " %";
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
        // The target answering one hop further in a run that lost it here is
        // the path losing a probe, not a router keeping quiet.
        if (!b.target && history.reachOfRun(p.run) > hop)
            ++b.noReply;
        else if (!b.target && p.run == history.openRun())
            ++b.pending;
        else
            ++b.forward;
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
    if (loss.target)
        return lostShare(loss) + ". This is the target: its loss is loss of the path.";
    if (loss.lost == loss.pending)
        return lostShare(loss) + "; the run still going has not reached later hops yet.";
    if (loss.silent)
        return "This router answered none of its " + probesText(loss.probes) +
               ", but later hops answered in those runs: it forwards traffic without "
               "replying to probes; " +
               pathShare(loss) + "." + pendingText(loss);
    if (loss.noReply > 0)
        return percentText(loss.noReply, loss.probes) +
               " % of probes got no reply from this router, but later hops answered in those "
               "runs: the router limits its replies; " +
               pathShare(loss) + "." + pendingText(loss);
    if (loss.nothingBeyond)
        return lostShare(loss) + ". No later hop has answered: loss here is loss of the path." +
               pendingText(loss);
    return lostShare(loss) + ", and no later hop answered in those runs: " + pathShare(loss) + "." +
           pendingText(loss);
}
