#pragma once

#include "net/DatagramPacket.h"
#include "net/EchoFamily.h"
#include "net/EchoService.h"
#include "net/IcmpPacket.h"
#include "net/SendStamps.h"

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <span>
#include <sys/socket.h>
#include <vector>

// What both socket backends share: the socket, the per-send options, the
// sequence numbers, the wait for the answer on the monotonic clock and the
// round-trip time from the kernel's receive stamp (SO_TIMESTAMPNS) and send
// stamp (SO_TIMESTAMPING, left queued and read in batches: SendStamps).
//
// The wait is a blocking read bounded by SO_RCVTIMEO, not poll: poll reports
// POLLERR while the error queue holds anything, and it holds the send stamps
// left there. A stamp does not end the read; an answer, or on a datagram
// socket the socket error a router's ICMP error sets, does.
class SocketEchoHandle : public EchoHandle {
public:
    using Clock = std::chrono::steady_clock;
    // The window wants a chance to process its events this often while we wait.
    static constexpr std::chrono::milliseconds idleSlice{12};
    // What the service calls while a request waits; shared with its handles,
    // so hooks set later reach them too.
    struct Hooks {
        EchoService::IdleHook idle;
        std::function<void()> longWait;
    };

    SocketEchoHandle(const EchoFamily &family, int fd, uint16_t id,
                     std::shared_ptr<const Hooks> hooks);
    ~SocketEchoHandle() override;
    SocketEchoHandle(const SocketEchoHandle &) = delete;
    SocketEchoHandle &operator=(const SocketEchoHandle &) = delete;

    uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                      const IpOptionInformation &options, IcmpEchoReply &reply,
                      uint32_t timeoutMs) final;

    uint16_t id() const { return id_; }
    const EchoFamily &family() const { return family_; }

protected:
    // One matching answer (with the kernel's receive stamp where it came
    // with one) and the time right after the call that read it.
    struct Match {
        IcmpPacket::Answer answer;
        Clock::time_point receivedAt;
    };
    // At most this many packets are read per wake-up, so that a flood of
    // foreign packets cannot hold the wait past its deadline.
    static constexpr int maxReadsPerWake = 64;
    // Error-queue entries read per call: a batch of send stamps, the next
    // send's and on a datagram socket a router's answer behind them come in
    // one, and one short of full tells that the queue is empty.
    static constexpr int errorBatch = SendStamps::batch + 2;
    // A full receive buffer holds a few hundred stamps: a few batches at most.
    static constexpr int mostErrorBatches = 8;
    // What one read of the error queue brought besides send stamps (those are
    // recorded), and whether the queue may hold more.
    struct ErrorEntries {
        std::array<DatagramPacket::Received, errorBatch> entries;
        int count = 0;
        bool more = false;
        Clock::time_point receivedAt;
    };

    int fd() const { return fd_; }
    // Asks for the kernel's receive stamp on every packet, error-queue entries
    // too, and, where the socket gives one, for a stamp of each request
    // leaving; bounds a blocking read to one idle slice.
    static bool enableReceiveStamps(int fd);
    // Reads up to errorBatch error-queue entries in one call.
    ErrorEntries readErrors();
    // Reads the whole error queue for its send stamps; on a raw socket it
    // holds nothing else, on a datagram socket between requests only stale errors.
    void readSendStamps();
    // The TTL (hop limit) of the request in flight.
    uint8_t ttl() const { return ttl_; }
    std::span<uint8_t> buffer() { return {buffer_.get(), bufferSize}; }
    // Random 16 bits: ids and first sequence numbers of new sockets.
    static uint16_t randomWord();

    // Throws away what earlier requests left queued on the socket.
    virtual void discardStale() = 0;
    // Reads what is queued, without waiting; the answer when one of the packets is ours.
    virtual std::optional<Match> readQueued(const IpAddress &destination, uint16_t sequence) = 0;
    // Waits for the next packet, at most the socket's receive time-out, and
    // reads it (and what it points to); first: the first read after the
    // send. interrupted: a signal ended the wait.
    virtual std::optional<Match> receive(const IpAddress &destination, uint16_t sequence,
                                         bool first, bool &interrupted) = 0;

private:
    static constexpr size_t bufferSize = 65536; // larger than any IP datagram
    static constexpr int sendAttempts = 5;
    // The socket's current don't-fragment and TOS settings, so only changes
    // cost a call; -1 is not known. A new socket sends with TOS 0.
    struct Applied {
        int dontFragment = -1;
        int tos = 0;
    };

    bool applyOptions(const IpOptionInformation &options);
    bool applyDontFragment(uint8_t flags);
    bool applyTos(uint8_t tos);
    std::span<const uint8_t> requestFor(uint16_t sequence, std::span<const uint8_t> payload);
    uint32_t finish(IcmpEchoReply &reply, uint32_t status);
    uint32_t answered(const Match &match, IcmpEchoReply &reply, Clock::duration timeout);
    uint32_t sendFailed(int error, IcmpEchoReply &reply);
    std::optional<Match> awaitAnswer(const IpAddress &destination, uint16_t sequence,
                                     Clock::time_point deadline);
    std::optional<Match> awaitWithHooks(const IpAddress &destination, uint16_t sequence,
                                        Clock::time_point deadline);
    bool limitWait(Clock::duration toDeadline);
    bool stampsDue() const;
    void clearPendingError();
    void restartSendKeys();
    bool transmit(const IpAddress &destination, std::span<const uint8_t> request,
                  const IpOptionInformation &options);
    bool transmitDespitePendingErrors(const IpAddress &destination, std::span<const uint8_t> request,
                                      const IpOptionInformation &options);

    const EchoFamily &family_;
    int fd_;
    uint16_t id_;
    uint16_t sequence_;
    std::shared_ptr<const Hooks> hooks_;
    std::unique_ptr<uint8_t[]> buffer_;
    Applied applied_;
    std::vector<uint8_t> request_; // the last request sent
    // When the request went out, on both clocks: the monotonic one for the
    // deadline, the real-time one (the receive stamps' clock) for the time.
    Clock::time_point sentAt_;
    std::chrono::nanoseconds sentReal_{};
    uint8_t ttl_ = 0;
    // The kernel's stamps of the sends; the sends so far count their keys,
    // unknown after a failed send. unread_ sends' stamps wait on the error
    // queue, the first of them sent at firstUnread_.
    std::shared_ptr<SendStamps> stamps_;
    uint32_t sends_ = 0;
    uint32_t unread_ = 0;
    Clock::time_point firstUnread_;
    bool waiting_ = false; // in a request's wait: only the wait reads the queues
    Clock::duration readLimit_ = idleSlice; // the socket's SO_RCVTIMEO
    bool sendsKnown_ = true;
    bool keysRestartable_ = true; // false once the socket refused to restart them
    // Room for the names and control bytes of one batch of error-queue
    // entries; their data shares buffer() in equal parts.
    std::array<sockaddr_storage, errorBatch> errorNames_;
    struct alignas(cmsghdr) Control {
        char bytes[512];
    };
    std::array<Control, errorBatch> errorControl_;
};
