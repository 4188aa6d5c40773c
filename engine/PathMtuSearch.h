#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/MtuRecord.h"
#include "net/IpAddress.h"

class EchoHandle;
class HopTable;
struct IcmpEchoReply;
struct IpOptionInformation;
struct TraceSettings;

// The path MTU search of one hop: don't-fragment probes of halving sizes to
// the hop's own address, the outcome written into the hop's row.
class PathMtuSearch {
public:
    // Sends one probe of size bytes, headers included, after yielding to the
    // window; false when the window started closing, and then nothing more
    // may be sent or written.
    using SendProbe = std::function<bool(EchoHandle &handle, const IpAddress &address, int16_t size,
                                         const IpOptionInformation &options, IcmpEchoReply &reply)>;

    PathMtuSearch(const TraceSettings &settings, const bool &tracing, HopTable &rows,
                  SendProbe sendProbe);

    // The address is a copy: the search writes its replies into reply.
    void findPathMtu(int16_t hop, IpAddress address, EchoHandle &handle, IcmpEchoReply &reply);

private:
    // cutOff: the window is closing.
    enum class MtuOutcome { passes, tooBig, failed, cutOff };

    MtuOutcome tryMtuSize(int16_t size, bool successSeen, const IpAddress &address,
                          EchoHandle &handle, IcmpEchoReply &reply, MtuRecord &record);
    void complete(int16_t hop, int16_t mtu, std::vector<int16_t> ttls, MtuRecord &record);
    void fail(int16_t hop, MtuRecord &record);

    const TraceSettings &settings_;
    const bool &tracing_;
    HopTable &rows_;
    SendProbe sendProbe_;
};
