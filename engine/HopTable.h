#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/AddressLog.h"
#include "engine/HopStats.h"
#include "engine/ProbeHistory.h"
#include "engine/ResultModel.h"
#include "engine/TraceSettings.h"
#include "net/IpAddress.h"

class Resolver;
class TraceObserver;
class WindowOps;

// The hop rows of a trace: the result rows with their statistics, the address
// log with its notes, and the names that came late. The trace feeds it one
// probe outcome at a time.
class HopTable {
public:
    // True once the window has started closing; a look-up yields, so the
    // window may close during it.
    using WindowGone = std::function<bool()>;

    static inline const std::string noAnswer = "***";

    HopTable(const TraceSettings &settings, Resolver &resolver, WindowOps &ops,
             WindowGone windowGone);
    // The notes writer of results refers to this table.
    HopTable(const HopTable &) = delete;
    HopTable &operator=(const HopTable &) = delete;

    // Rows, maxhop, notes, dbIndex, hopNoted and the probe history; the
    // statistics stay.
    void resetResults();
    // The address-log entry a reply was counted in; 0 for a time-out, or when
    // the log was full.
    int32_t handleRow(int16_t hop, bool answered, const IpAddress &address, int32_t rtt);
    void writeMtu(int16_t hop, const std::string &mtu, const std::string &asym);
    // The MTU of a hop that answers from several addresses is no one path's.
    void writeAmbiguousMtu(int16_t hop);
    // Keeps an empty look-up result waiting for a late name; k is the
    // address-log entry it names, 0 for the target's Host name box.
    void awaitName(const std::string &name, const std::string &dotted, int32_t k, bool inRow);
    void deliverLateNames();
    // The target's name, looked up as a row's is.
    std::string lookUpTargetName(const std::string &dotted);

    // The look-ups and the window a trace uses (the engine's own, or a replay's).
    void useWorld(Resolver &resolver, WindowOps &ops)
    {
        resolver_ = &resolver;
        ops_ = &ops;
    }
    // Told of each name looked up and each late one taken (null: nobody).
    void setObserver(TraceObserver *observer) { observer_ = observer; }

    ResultModel results;
    int16_t maxhop = 0;
    int32_t dbIndex = 0;
    HopStats stats;
    AddressLog log;
    std::array<bool, 256> hopNoted{};
    ProbeHistory history;

private:
    // A look-up that found no name in time, and where a late name goes.
    struct NameWait {
        std::string dotted;
        int32_t k;  // the address-log entry to name; 0: the target's Host name box
        bool inRow; // the Hostname cell of hop dbHop[k] shows it too, while it shows dotted
    };

    void handleTimeout(int16_t hop);
    void handleReply(int16_t hop, const IpAddress &address, int32_t rtt);
    const std::string &addressText(int16_t hop, const IpAddress &address);
    void addReplyRow(int16_t hop, const std::string &s, int32_t rtt);
    void updateReplyRow(int16_t hop, const std::string &s, int32_t rtt);
    void noteReply(int16_t hop, const std::string &s, int32_t k);
    void writeCounts(int16_t hop);
    void writeTimeoutTimes(int16_t hop);
    void writeReplyTimes(int16_t hop, int32_t rtt);
    int32_t findInLog(int16_t hop, const std::string &s) const;
    bool hopInLog(int16_t hop) const;
    int32_t appendToLog(int16_t hop, const std::string &s);
    void countReply(int32_t k);
    bool lookUpName(const std::string &dotted, std::string &name);
    void placeLateName(const NameWait &wait, const std::string &name);
    void forgetLateNames();

    const TraceSettings &settings_;
    Resolver *resolver_;
    WindowOps *ops_;
    TraceObserver *observer_ = nullptr;
    WindowGone windowGone_;
    std::vector<NameWait> nameWaits_;
    std::array<std::optional<std::pair<IpAddress, std::string>>, 256> lastText_;
    int32_t replyEntry_ = 0; // the entry the reply in hand was counted in
};
