#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/EchoService.h"
#include "net/SendStamps.h"
#include "net/Resolver.h"

// What the probes with one TTL meet. Sequences are consumed in turn and their
// last element repeats once they run out.
struct FakeHop {
    // Who answers, one address per answered main probe in turn; empty: nobody.
    std::vector<std::string> addresses;
    // Main probes answered ('+') or lost ('-'), by probe.
    std::string answers = "+";
    // Round-trip time of each answered main probe, in ms; its precise time
    // is the same whole milliseconds unless rttUs says otherwise.
    std::vector<uint32_t> rtts = {1};
    // Status of the main replies (the engine never reads it).
    uint32_t status = IpStatus::ttlExpiredTransit;
    // Largest IP packet (payload + 28) that reaches the hop with don't-fragment.
    int mtu = 1500;
    // A larger don't-fragment probe is dropped silently instead of answered
    // with packet-too-big.
    bool silentDrop = false;
    // Don't-fragment probes that fit: answered ('+') or lost ('-'), by probe.
    std::string mtuAnswers = "+";
    // Arriving TTL of each answered don't-fragment probe, in turn.
    std::vector<uint8_t> replyTtls = {64};
    // Precise time of each answered main probe in turn, in us (the whole ms
    // are then its truncation); unstamped: none, and the ms come from rtts.
    std::vector<uint32_t> rttUs{};
    static constexpr uint32_t unstamped = UINT32_MAX;
};

// One echo request as the service received it.
struct EchoRequest {
    IpAddress destination;
    uint8_t ttl = 0;
    uint8_t tos = 0;
    uint8_t flags = 0;
    size_t payloadSize = 0;
    std::string payload; // the bytes, unless recording of payloads is off
    uint32_t timeoutMs = 0;
    std::string destinationText() const;
    bool dontFragment() const { return flags & IpOptionInformation::dontFragment; }
};

// What a send the kernel refused (errno sendErrno) gives.
inline IcmpEchoReply unsent(int sendErrno)
{
    IcmpEchoReply reply;
    reply.status = IpStatus::notSent;
    reply.sendErrno = sendErrno;
    return reply;
}

// A scripted path for the engine: an echo service and a resolver in one.
// Main probes (no don't-fragment flag) are answered by the hop of their TTL;
// don't-fragment probes by the hop whose addresses include the destination.
// Unscripted TTLs and addresses stay silent.
class FakeNetwork : public EchoService, public Resolver {
public:
    FakeHop &hop(int ttl) { return hops_[ttl]; }
    // Every hop's sequences start from their first element again (for a
    // further trace on the same script); the recorded requests stay.
    void rewind() { state_.clear(); }

    // ---- echo service
    std::unique_ptr<EchoHandle> openHandle(const IpAddress &destination) override;
    EchoOpenFailure lastOpenFailure() const override { return openFailure_; }
    // The echo service's hook; the look-ups answer at once and never call it.
    void setIdleHook(EchoService::IdleHook hook) override { idleHook_ = std::move(hook); }
    void closeSpares() override { ++sparesClosed_; }
    // Records the wait and calls the idle hook as often as a request does,
    // while goOn() holds.
    void waitIdle(uint32_t ms, const std::function<bool()> &goOn) override;

    // From the n-th openHandle on (1-based), no handle can be opened.
    void failOpensFrom(int n, std::string reason = "no ICMP socket (test)");
    // Runs after a request is recorded and before it is answered, with the
    // request's 1-based number: the moment a probe is in flight.
    void onRequest(std::function<void(const EchoRequest &, size_t)> action);
    // Takes over answering when it returns a reply (count, address, status...).
    void setResponder(std::function<std::optional<IcmpEchoReply>(const EchoRequest &)> responder);
    // How often a request calls the idle hook while it "waits" (default 0).
    void setIdleCallsPerRequest(int calls) { idleCalls_ = calls; }
    // Payload bytes are kept unless turned off (benchmarks).
    void setRecordPayloads(bool on) { recordPayloads_ = on; }
    void setRecording(bool on) { recording_ = on; }
    // Answered main probes leave their times waiting for the send stamp, as
    // the socket does (7 us early until it is read, a batch at a time); a
    // time-out is a long wait, which calls the long-wait hook.
    void setLateStamps(bool on) { lateStamps_ = on; }
    void setLongWaitHook(std::function<void()> hook) override { longWaitHook_ = std::move(hook); }
    // Reads of the stamps, and stamps sent but never read.
    int stampReads() const { return stampReads_; }
    uint32_t stampsUnread() const { return stampKey_ - stampsRead_; }

    const std::vector<EchoRequest> &requests() const { return requests_; }
    std::vector<EchoRequest> mainRequests() const;
    std::vector<EchoRequest> mtuRequests() const;
    size_t requestCount() const { return requestCount_; }
    int handlesOpened() const { return opened_; }
    int handlesOpen() const { return open_; }
    int sparesClosed() const { return sparesClosed_; }
    const std::vector<uint32_t> &waits() const { return waits_; }

    // ---- resolver
    void addHost(const std::string &host, const std::string &dotted);
    void addName(const std::string &dotted, const std::string &name);
    // The reverse look-ups of dotted find nothing in time; arriveLate() then
    // hands out the name of every one asked so far, as late names, and calls
    // the late-name hook.
    void addLateName(const std::string &dotted, const std::string &name);
    void arriveLate();
    // Forward look-ups call the idle hook this often before they answer,
    // and find nothing once abandoned.
    void setForwardIdleCalls(int calls) { forwardIdleCalls_ = calls; }
    // Runs inside every reverse look-up, with the address as dotted text.
    void onReverseLookup(std::function<void(const std::string &)> action);
    std::optional<IpAddress> firstAddress(const std::string &host) override;
    std::string officialName(const IpAddress &address) override;
    void abandonForward() override { forwardAbandoned_ = true; }
    std::vector<LateName> takeLateNames() override { return std::exchange(late_, {}); }
    void setLateNameHook(LateNameHook hook) override { lateHook_ = std::move(hook); }
    const std::vector<std::string> &reverseLookups() const { return reverseLookups_; }
    const std::vector<std::string> &forwardLookups() const { return forwardLookups_; }

private:
    class Handle;
    struct HopState {
        size_t mainProbes = 0;
        size_t mainAnswers = 0;
        size_t mtuFits = 0;
        size_t mtuAnswers = 0;
    };

    uint32_t send(const EchoRequest &request, IcmpEchoReply &reply);
    void leaveStampWaiting(IcmpEchoReply &reply);
    bool waitIdle();
    IcmpEchoReply answerMain(const EchoRequest &request);
    IcmpEchoReply answerMtu(const EchoRequest &request);
    int hopOf(const std::string &dotted) const;

    std::map<int, FakeHop> hops_;
    std::map<int, HopState> state_;
    std::vector<EchoRequest> requests_;
    size_t requestCount_ = 0;
    int opened_ = 0;
    int open_ = 0;
    int sparesClosed_ = 0;
    std::vector<uint32_t> waits_;
    int failFrom_ = 0;
    EchoOpenFailure openFailure_;
    EchoService::IdleHook idleHook_;
    int idleCalls_ = 0;
    bool recordPayloads_ = true;
    bool recording_ = true;
    bool lateStamps_ = false;
    std::function<void()> longWaitHook_;
    std::shared_ptr<SendStamps> stamps_;
    uint32_t stampKey_ = 0;
    uint32_t stampsRead_ = 0;
    int stampReads_ = 0;
    std::function<void(const EchoRequest &, size_t)> onRequest_;
    std::function<std::optional<IcmpEchoReply>(const EchoRequest &)> responder_;

    std::map<std::string, std::string> hosts_;
    std::map<std::string, std::string> names_;
    std::map<std::string, std::string> lateNames_;
    std::vector<IpAddress> askedLate_;
    std::vector<LateName> late_;
    LateNameHook lateHook_;
    int forwardIdleCalls_ = 0;
    bool forwardAbandoned_ = false;
    std::function<void(const std::string &)> onReverse_;
    std::vector<std::string> reverseLookups_;
    std::vector<std::string> forwardLookups_;
};
