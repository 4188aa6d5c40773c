#include "record/TraceRecorder.h"

void TraceRecorder::begin(const TraceHeader &header)
{
    clear();
    header_ = header;
    begun_ = true;
}

void TraceRecorder::clear()
{
    log_.clear();
    flushed_ = 0;
    begun_ = false;
}

void TraceRecorder::flush()
{
    if (sink_ && flushed_ < log_.records().size())
        sink_(log_, flushed_);
    flushed_ = log_.records().size();
    if (sink_ && !keepRecords_) {
        log_.truncate(0);
        flushed_ = 0;
    }
}

void TraceRecorder::target(const std::string &address)
{
    TraceRecord r;
    r.kind = TraceRecord::Kind::target;
    r.text = log_.textIndex(address);
    log_.add(r);
}

void TraceRecorder::runsStarted(std::chrono::system_clock::time_point at)
{
    TraceRecord r;
    r.kind = TraceRecord::Kind::runsStart;
    r.sentUs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(at.time_since_epoch()).count());
    log_.add(r);
}

void TraceRecorder::probe(const ProbeEvent &event)
{
    const IcmpEchoReply &reply = event.reply;
    TraceRecord r;
    r.kind = event.mtu ? TraceRecord::Kind::mtu : TraceRecord::Kind::probe;
    r.run = event.run;
    r.hop = event.hop;
    r.size = event.size;
    r.sentUs = event.sentUs;
    r.status = reply.status;
    if (reply.replyCount > 0) {
        r.address = log_.addressIndex(reply.address);
        r.precise = reply.roundTripUs.has_value();
        r.rttUs = reply.roundTripUs.value_or(reply.roundTripTime * 1000);
        r.ttl = reply.ttl;
    }
    r.sendErrno = reply.status == IpStatus::notSent ? reply.sendErrno : 0;
    log_.add(r);
}

void TraceRecorder::name(const IpAddress &address, const std::string &name, bool late)
{
    TraceRecord r;
    r.kind = late ? TraceRecord::Kind::late : TraceRecord::Kind::name;
    r.address = log_.addressIndex(address);
    r.text = log_.textIndex(name);
    log_.add(r);
}

void TraceRecorder::stopPressed(int32_t run)
{
    TraceRecord r;
    r.kind = TraceRecord::Kind::stop;
    r.run = run;
    log_.add(r);
}

void TraceRecorder::runEnded(int32_t run)
{
    TraceRecord r;
    r.kind = TraceRecord::Kind::runEnd;
    r.run = run;
    log_.add(r);
    flush();
}
