#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/TraceSettings.h"
#include "net/IpAddress.h"
#include "net/Resolver.h"

// One thing the world gave a trace (TraceObserver), as a saved trace keeps it.
struct TraceRecord {
    enum class Kind : uint8_t { target, runsStart, probe, mtu, name, late, stop, runEnd };
    static constexpr int32_t none = -1;

    Kind kind = Kind::probe;
    uint8_t ttl = 0;         // probe, mtu: the reply's TTL (hop limit)
    bool precise = true;     // probe, mtu: rttUs is the kernel stamps', else whole ms
    int16_t hop = 0;         // probe, mtu
    int16_t size = 0;        // mtu: the IP packet's size
    int32_t run = 0;         // probe, mtu, stop, runEnd
    uint32_t status = 0;     // probe, mtu: the reply's status
    uint32_t rttUs = 0;      // probe, mtu, with an address
    int32_t address = none;  // probe, mtu: who answered; name, late: whose
    int32_t text = none;     // target: the address text; name, late: the name
    int32_t sendErrno = 0;   // probe, mtu with status notSent
    int32_t line = 0;        // read from a file: its line
    uint64_t sentUs = 0;     // probe, mtu; runsStart: microseconds since 1970
};

// The records of one trace, with the addresses and texts they name kept once.
class TraceLog {
public:
    void clear();
    void add(const TraceRecord &record) { records_.push_back(record); }
    int32_t addressIndex(const IpAddress &address);
    int32_t textIndex(std::string text);

    const std::vector<TraceRecord> &records() const { return records_; }
    const IpAddress &address(int32_t index) const { return addresses_[static_cast<size_t>(index)]; }
    const std::string &text(int32_t index) const { return texts_[static_cast<size_t>(index)]; }
    // Drops the records from index on (a run the file did not hold in full).
    void truncate(size_t records) { records_.resize(records); }

private:
    // Looked up at every reply the window records: by the address's bytes,
    // never its text.
    struct AddressHash {
        size_t operator()(const IpAddress &a) const;
    };

    std::vector<TraceRecord> records_;
    std::vector<IpAddress> addresses_;
    std::unordered_map<IpAddress, int32_t, AddressHash> addressIndex_;
    std::vector<std::string> texts_;
};

// How a saved trace begins and ends.
struct TraceHeader {
    using Clock = std::chrono::system_clock;
    int version = 1;
    std::string program;
    Clock::time_point start; // the first run's start (the trace's, when none began)
    std::string host;        // as typed
    AddressFamily family = AddressFamily::any;
    TraceSettings settings;
};

struct TraceEnd {
    TraceHeader::Clock::time_point end;
    std::string ended;  // "completed", "stopped" or the failure's message
    std::string source; // the address the probes left from; empty when unknown
};

// A saved trace as read: its header, its records and, when it has one, its end.
struct TraceDocument {
    TraceHeader header;
    TraceLog log;
    std::optional<TraceEnd> end;
    // Empty, or why the file holds less than the whole trace (it ends early).
    std::string note;
};
