#pragma once

#include <functional>

#include "engine/TraceObserver.h"
#include "record/TraceLog.h"

// Keeps what the world gives a trace as the records of a saved trace: the
// window keeps them for Save trace, the shell writes them out run by run.
class TraceRecorder : public TraceObserver {
public:
    // Called at the end of every run with the index of the first record not
    // yet given to it.
    using RunSink = std::function<void(const TraceLog &log, size_t from)>;

    // A new trace: the records so far are dropped.
    void begin(const TraceHeader &header);
    void clear();
    // keepRecords false: what the sink has had is dropped, so a long trace
    // written out as it runs holds no more than a run of records.
    void setRunSink(RunSink sink, bool keepRecords = true)
    {
        sink_ = std::move(sink);
        keepRecords_ = keepRecords;
    }
    // The records the sink has not had yet go to it.
    void flush();

    const TraceHeader &header() const { return header_; }
    const TraceLog &log() const { return log_; }
    bool empty() const { return !begun_; }

    void target(const std::string &address) override;
    void runsStarted(std::chrono::system_clock::time_point at) override;
    void probe(const ProbeEvent &event) override;
    void name(const IpAddress &address, const std::string &name, bool late) override;
    void stopPressed(int32_t run) override;
    void runEnded(int32_t run) override;

private:
    TraceHeader header_;
    TraceLog log_;
    RunSink sink_;
    size_t flushed_ = 0;
    bool keepRecords_ = true;
    bool begun_ = false;
};
