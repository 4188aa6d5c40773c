#include "engine/ProbeHistory.h"

#include <algorithm>

namespace {

void noteReply(RunOutcome &run, uint8_t hop, bool fromTarget)
{
    run.reach = std::max(run.reach, hop);
    if (!fromTarget)
        run.routerReach = std::max(run.routerReach, hop);
    else if (run.target == 0)
        run.target = hop;
}

} // namespace

void ProbeHistory::clear()
{
    for (HopHistory &h : hops_)
        h.clear();
    mtu_.fill(MtuRecord{});
    target_.fill(false);
    replied_.fill(false);
    std::vector<RunOutcome>().swap(runs_);
    openRun_ = 0;
    highestHop_ = 0;
    reach_ = 0;
    ++revision_;
}

void ProbeHistory::beginRun(int32_t run)
{
    openRun_ = run;
    if (runs_.empty())
        runs_.reserve(static_cast<size_t>(std::max(expectedRuns_, run)));
    if (runs_.size() < static_cast<size_t>(run))
        runs_.resize(static_cast<size_t>(run));
}

void ProbeHistory::endRun()
{
    openRun_ = 0;
    ++revision_;
}

void ProbeHistory::cutRun()
{
    if (openRun_ > 0)
        runs_[static_cast<size_t>(openRun_ - 1)].cut = true;
    endRun();
}

void ProbeHistory::addLoss(int16_t hop, uint64_t sentUs)
{
    HopProbe probe{};
    probe.sentUs = sentUs;
    probe.lost = 1;
    append(hop, probe);
}

void ProbeHistory::addReply(int16_t hop, uint64_t sentUs, int32_t entry, uint32_t rttMs,
                            std::optional<uint32_t> preciseUs, bool fromTarget, uint8_t ttl)
{
    HopProbe probe{};
    probe.sentUs = sentUs;
    probe.precise = preciseUs.has_value();
    probe.rttUs = preciseUs.value_or(rttMs * 1000);
    probe.entry = static_cast<uint16_t>(std::max(entry, 0));
    probe.ttl = ttl;
    append(hop, probe);
    const size_t h = index(hop);
    target_[h] = target_[h] || fromTarget;
    replyTtl_[h] = ttl;
    replied_[h] = true;
    reach_ = std::max(reach_, hop);
    if (openRun_ > 0)
        noteReply(runs_[static_cast<size_t>(openRun_ - 1)], static_cast<uint8_t>(hop), fromTarget);
}

void ProbeHistory::append(int16_t hop, const HopProbe &probe)
{
    HopProbe p = probe;
    p.run = static_cast<uint16_t>(openRun_);
    HopHistory &probes = hops_[index(hop)];
    if (probes.empty())
        probes.reserve(static_cast<size_t>(std::max(expectedRuns_, 1)));
    probes.append(p);
    highestHop_ = std::max(highestHop_, hop);
    ++revision_;
}

MtuRecord &ProbeHistory::beginMtuSearch(int16_t hop)
{
    MtuRecord &record = mtu_[index(hop)];
    record.run = openRun_;
    record.tries.clear();
    record.result = MtuResult::none;
    record.mtu = 0;
    ++revision_;
    return record;
}

RunOutcome ProbeHistory::outcome(int32_t run) const
{
    if (run < 1 || static_cast<size_t>(run) > runs_.size())
        return {};
    return runs_[static_cast<size_t>(run - 1)];
}

std::optional<uint8_t> ProbeHistory::replyTtl(int16_t hop) const
{
    if (!replied_[index(hop)])
        return std::nullopt;
    return replyTtl_[index(hop)];
}
