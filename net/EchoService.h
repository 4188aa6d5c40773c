#pragma once

#include "net/IpAddress.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

// IP status codes of an echo reply, the values the Windows ICMP API uses.
namespace IpStatus {
inline constexpr uint32_t success = 0;
inline constexpr uint32_t bufTooSmall = 11001;
inline constexpr uint32_t destNetUnreachable = 11002;
inline constexpr uint32_t destHostUnreachable = 11003;
inline constexpr uint32_t destProtUnreachable = 11004;
inline constexpr uint32_t destPortUnreachable = 11005;
inline constexpr uint32_t noResources = 11006;
inline constexpr uint32_t packetTooBig = 11009;
inline constexpr uint32_t reqTimedOut = 11010;
inline constexpr uint32_t badSourceRoute = 11012;
inline constexpr uint32_t ttlExpiredTransit = 11013;
inline constexpr uint32_t ttlExpiredReassem = 11014;
inline constexpr uint32_t paramProblem = 11015;
inline constexpr uint32_t sourceQuench = 11016;
inline constexpr uint32_t generalFailure = 11050;
// Not one of the Windows API's codes: the request never left this machine,
// because the kernel refused the send (no route, a route or firewall that
// rejects it, no source address). IcmpEchoReply::sendErrno says why.
inline constexpr uint32_t notSent = 11900;
} // namespace IpStatus

// Request options of one echo request.
struct IpOptionInformation {
    static constexpr uint8_t dontFragment = 2; // value of flags for DF
    uint8_t ttl = 0;
    uint8_t tos = 0;
    uint8_t flags = 0;
};

class SendStamps;

// A reply whose time waits for the kernel's stamp of its send, which the
// socket left queued (see SendStamps): the stamp's number and what the time
// is worked out from once it is read.
struct PendingSendStamp {
    std::shared_ptr<SendStamps> stamps;
    uint32_t key = 0;
    std::chrono::nanoseconds sentReal{}; // the real-time clock read before the send
    std::chrono::nanoseconds arrival{};  // the kernel's receive stamp of the answer
    std::chrono::nanoseconds timeout{};
};

// What one echo request produced. On a time-out replyCount is 0 and status
// still reads reqTimedOut.
struct IcmpEchoReply {
    uint32_t replyCount = 0;
    IpAddress address;          // source of the reply
    uint32_t status = IpStatus::reqTimedOut;
    uint32_t roundTripTime = 0; // whole milliseconds
    // The same time in microseconds, where it is the kernel stamps'
    // difference (roundTripTime is then its truncation); none when a stamp is
    // missing or the clock was stepped and the monotonic clock stood in.
    std::optional<uint32_t> roundTripUs;
    uint8_t ttl = 0;            // TTL (hop limit) of the reply as it arrived
    int sendErrno = 0;          // with status notSent: the errno of the refused send
    // Set while the kernel's send stamp has not been read: roundTripTime and
    // roundTripUs then count from the clock read before the send, a few
    // microseconds early, until settleSendStamps() puts the stamp in.
    std::optional<PendingSendStamp> pendingStamp;
};

// Why no handle could be opened, for the user's message.
struct EchoOpenFailure {
    int datagramErrno = 0; // errno of socket(AF_INET(6), SOCK_DGRAM, IPPROTO_ICMP(V6))
    int rawErrno = 0;      // errno of socket(AF_INET(6), SOCK_RAW, IPPROTO_ICMP(V6))
    // One line naming the failing calls and the fix that applies
    // (net.ipv4.ping_group_range or CAP_NET_RAW).
    std::string reason;
};

// One open handle: one socket, one request outstanding at a time, to
// destinations of the family it was opened for.
class EchoHandle {
public:
    virtual ~EchoHandle() = default;
    // Sends one echo request and blocks until its reply or the time-out.
    // Returns the reply count (0 or 1), also stored in reply.replyCount.
    virtual uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                              const IpOptionInformation &options, IcmpEchoReply &reply,
                              uint32_t timeoutMs) = 0;
};

// The ICMP echo service: opens handles. Closing a handle is destroying it.
class EchoService {
public:
    // Called about every 10-16 ms while a request waits for its reply, so the
    // window can process its events. Returning false abandons the wait: the
    // request then reports a time-out (count 0, status reqTimedOut).
    using IdleHook = std::function<bool()>;

    virtual ~EchoService() = default;
    // A handle for requests to destinations of this one's family (IPv4 or
    // IPv6). Null when none can be opened; the reason is then in lastOpenFailure().
    virtual std::unique_ptr<EchoHandle> openHandle(const IpAddress &destination) = 0;
    virtual EchoOpenFailure lastOpenFailure() const = 0;
    virtual void setIdleHook(IdleHook hook) = 0;
    // Called once in every wait that outlasts its first idle slice, before
    // the idle hook: the trace settles the replies that waited for their
    // send stamps then, so none of their figures waits out a long time-out.
    virtual void setLongWaitHook(std::function<void()> hook) { (void)hook; }
    // Lets ms milliseconds pass as a request's wait does, calling the idle
    // hook; ends early when the hook abandons the wait or goOn() turns false.
    // A request that was never sent still takes its time-out this way.
    virtual void waitIdle(uint32_t ms, const std::function<bool()> &goOn) = 0;
    // Closes the sockets that closed handles left for reuse; the trace calls
    // it when it ends, so an idle program holds none.
    virtual void closeSpares() {}
};
