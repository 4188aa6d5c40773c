#include "net/SocketEchoHandle.h"

#include "net/ControlMessages.h"
#include "net/RoundTrip.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/net_tstamp.h>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>

namespace {

// Send stamps from the kernel's software clock, keyed by the send's number
// (OPT_ID) and queued without the packet (OPT_TSONLY), so that the stamps a
// batch leaves waiting take little of the receive buffer.
constexpr int sendStampFlags = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE
                               | SOF_TIMESTAMPING_OPT_TSONLY | SOF_TIMESTAMPING_OPT_ID;

bool setReadLimit(int fd, SocketEchoHandle::Clock::duration limit)
{
    const auto us = std::chrono::ceil<std::chrono::microseconds>(limit).count();
    const timeval value{static_cast<time_t>(us / 1'000'000), static_cast<suseconds_t>(us % 1'000'000)};
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) == 0;
}

} // namespace

SocketEchoHandle::SocketEchoHandle(const EchoFamily &family, int fd, uint16_t id,
                                   std::shared_ptr<const Hooks> hooks)
    : family_(family), fd_(fd), id_(id), sequence_(randomWord()), hooks_(std::move(hooks)),
      buffer_(std::make_unique_for_overwrite<uint8_t[]>(bufferSize)),
      stamps_(std::make_shared<SendStamps>([this] {
          if (!waiting_)
              readSendStamps();
      }))
{
}

// Seeded once: a handle is opened for every probe of a trace.
uint16_t SocketEchoHandle::randomWord()
{
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<uint16_t>(generator());
}

// Replies still waiting for their stamps get what is queued now.
SocketEchoHandle::~SocketEchoHandle()
{
    readSendStamps();
    stamps_->detach();
    close(fd_);
}

uint32_t SocketEchoHandle::sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                                    const IpOptionInformation &options, IcmpEchoReply &reply,
                                    uint32_t timeoutMs)
{
    reply = IcmpEchoReply{};
    const uint16_t sequence = ++sequence_;
    if (stampsDue())
        readSendStamps();
    // What earlier requests left queued (late replies and errors) costs no
    // check here: the wait reads it and passes over it, since it matches by
    // sequence, and a socket error such an error left fails the send once,
    // which is then repeated.
    if (!applyOptions(options))
        return finish(reply, IpStatus::generalFailure);
    const auto request = requestFor(sequence, payload);
    if (!transmitDespitePendingErrors(destination, request, options))
        return sendFailed(errno, reply);
    const auto timeout = std::chrono::milliseconds(timeoutMs);
    const auto match = awaitAnswer(destination, sequence, sentAt_ + timeout);
    if (!match)
        return finish(reply, IpStatus::reqTimedOut);
    return answered(*match, reply, timeout);
}

// Judged by when the answer arrived, not by when it was read: one that came
// in time is an answer even when the wait read it after the deadline, and
// the time is whole milliseconds, truncated, as the Windows ICMP API gives it.
uint32_t SocketEchoHandle::answered(const Match &match, IcmpEchoReply &reply,
                                    Clock::duration timeout)
{
    const uint32_t key = sends_ - 1;
    auto sendStamp = sendsKnown_ ? stamps_->known(key) : std::nullopt;
    if (sendStamp && *sendStamp < sentReal_)
        sendStamp.reset(); // an earlier numbering's, or a stepped clock's
    const auto stamped =
        RoundTrip::stamped(match.answer.arrival, sendStamp.value_or(sentReal_), timeout);
    const auto roundTrip = stamped.value_or(match.receivedAt - sentAt_);
    if (roundTrip > timeout)
        return finish(reply, IpStatus::reqTimedOut);
    reply.replyCount = 1;
    reply.address = match.answer.source;
    reply.status = match.answer.status;
    reply.roundTripTime = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(roundTrip).count());
    if (stamped)
        reply.roundTripUs = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(*stamped).count());
    reply.ttl = match.answer.ttl;
    if (stamped && !sendStamp && sendsKnown_)
        reply.pendingStamp = PendingSendStamp{stamps_, key, sentReal_, *match.answer.arrival,
                                              std::chrono::duration_cast<std::chrono::nanoseconds>(timeout)};
    return reply.replyCount;
}

// The send stamps are a refinement: a socket that refuses them still works.
bool SocketEchoHandle::enableReceiveStamps(int fd)
{
    const int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0
        || !setReadLimit(fd, idleSlice))
        return false;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &sendStampFlags, sizeof sendStampFlags);
    return true;
}

// Whether a failed send took a key is not told; turning the keys off and on
// numbers the next send's stamp 0. Stamps of earlier sends that are still
// queued are older than the next send, so takeSendStamp passes over them.
void SocketEchoHandle::restartSendKeys()
{
    const int unkeyed = sendStampFlags & ~SOF_TIMESTAMPING_OPT_ID;
    sendsKnown_ = setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPING, &unkeyed, sizeof unkeyed) == 0
                  && setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPING, &sendStampFlags,
                                sizeof sendStampFlags) == 0;
    sends_ = 0;
    stamps_->restart();
    keysRestartable_ = sendsKnown_;
}

// Read at the latest when a batch of sends or its time has passed, so the
// queue never fills up to dropping stamps, nor keeps figures waiting long.
bool SocketEchoHandle::stampsDue() const
{
    return unread_ >= SendStamps::batch
        || (unread_ > 0 && sentAt_ - firstUnread_ >= SendStamps::batchAge);
}

// Fewer entries than asked for means the queue was empty: the common case,
// a batch of send stamps alone or with a router's answer, takes one call.
SocketEchoHandle::ErrorEntries SocketEchoHandle::readErrors()
{
    constexpr size_t part = bufferSize / errorBatch;
    std::array<iovec, errorBatch> data;
    std::array<mmsghdr, errorBatch> messages{};
    for (size_t i = 0; i < errorBatch; ++i) {
        data[i] = {buffer_.get() + i * part, part};
        messages[i].msg_hdr = msghdr{&errorNames_[i], sizeof(sockaddr_storage), &data[i], 1,
                                     errorControl_[i].bytes, sizeof errorControl_[i].bytes, 0};
    }
    ErrorEntries read;
    const int count = recvmmsg(fd_, messages.data(), errorBatch, MSG_ERRQUEUE | MSG_DONTWAIT, nullptr);
    if (count <= 0)
        return read;
    // A send stamp comes without the packet (OPT_TSONLY): only an entry with
    // data can be an answer, and only then is the time of the read needed.
    const auto end = messages.begin() + count;
    if (std::any_of(messages.begin(), end, [](const mmsghdr &m) { return m.msg_len > 0; }))
        read.receivedAt = Clock::now();
    read.more = count == errorBatch;
    if (!read.more)
        unread_ = 0;
    for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
        const msghdr &message = messages[i].msg_hdr;
        const std::span<const uint8_t> control{
            reinterpret_cast<const uint8_t *>(errorControl_[i].bytes), message.msg_controllen};
        const auto stamp = messages[i].msg_len == 0
                               ? ControlMessages::sendStamp(ControlMessages::read(control))
                               : std::nullopt;
        if (stamp) {
            stamps_->record(stamp->key, stamp->at);
            continue;
        }
        read.entries[static_cast<size_t>(read.count++)] = {
            {buffer_.get() + i * part, std::min<size_t>(messages[i].msg_len, part)},
            {reinterpret_cast<const uint8_t *>(&errorNames_[i]),
             std::min<size_t>(message.msg_namelen, sizeof(sockaddr_storage))},
            control};
    }
    return read;
}

void SocketEchoHandle::readSendStamps()
{
    for (int i = 0; i < mostErrorBatches; ++i) {
        if (!readErrors().more)
            return;
    }
}

bool SocketEchoHandle::applyOptions(const IpOptionInformation &options)
{
    return applyDontFragment(options.flags) && applyTos(options.tos);
}

bool SocketEchoHandle::applyDontFragment(uint8_t flags)
{
    const int dontFragment = (flags & IpOptionInformation::dontFragment) != 0 ? 1 : 0;
    if (dontFragment == applied_.dontFragment)
        return true;
    applied_.dontFragment = -1;
    if (!family_.setDontFragment(fd_, dontFragment != 0))
        return false;
    applied_.dontFragment = dontFragment;
    return true;
}

// A trace keeps its TOS (traffic class), so it is a socket option rather than
// a control message of every send: the kernel copies one control message
// without allocating, two need an allocation per send.
bool SocketEchoHandle::applyTos(uint8_t tos)
{
    if (tos == applied_.tos)
        return true;
    applied_.tos = -1;
    const int value = tos;
    if (setsockopt(fd_, family_.level, family_.trafficClass, &value, sizeof value) != 0)
        return false;
    applied_.tos = tos;
    return true;
}

// A trace sends the same payload again and again: the last request is kept
// and renumbered, so its bytes are neither copied nor summed again.
std::span<const uint8_t> SocketEchoHandle::requestFor(uint16_t sequence,
                                                      std::span<const uint8_t> payload)
{
    const auto header = static_cast<std::ptrdiff_t>(IcmpPacket::icmpHeaderSize);
    if (request_.size() == IcmpPacket::icmpHeaderSize + payload.size()
        && std::equal(payload.begin(), payload.end(), request_.begin() + header))
        family_.renumberRequest(request_, sequence);
    else
        request_ = family_.buildRequest(id_, sequence, payload);
    return request_;
}

// The TTL (hop limit) changes from probe to probe, so it travels as a control
// message of the send itself: a system call less per probe than setting it.
bool SocketEchoHandle::transmit(const IpAddress &destination, std::span<const uint8_t> request,
                                const IpOptionInformation &options)
{
    sockaddr_storage to;
    const socklen_t toLength = destination.toSockaddr(to);
    iovec data{const_cast<uint8_t *>(request.data()), request.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{&to, toLength, &data, 1, control, sizeof control, 0};
    cmsghdr *entry = CMSG_FIRSTHDR(&message);
    entry->cmsg_level = family_.level;
    entry->cmsg_type = family_.hopLimit;
    entry->cmsg_len = CMSG_LEN(sizeof(int));
    const int ttl = options.ttl;
    std::memcpy(CMSG_DATA(entry), &ttl, sizeof ttl);
    if (!sendsKnown_ && keysRestartable_)
        restartSendKeys();
    ttl_ = options.ttl;
    // Both clocks as close to the send as a user-space stamp gets; the
    // kernel's send stamp is closer still.
    sentAt_ = Clock::now();
    sentReal_ = std::chrono::system_clock::now().time_since_epoch();
    if (sendmsg(fd_, &message, 0) < 0) {
        sendsKnown_ = false; // whether the kernel counted it is not told
        return false;
    }
    ++sends_;
    if (unread_++ == 0)
        firstUnread_ = sentAt_;
    return true;
}

// An ICMP error that reaches the socket (a late one of ours, or, on a datagram
// socket, any error quoting our id) leaves a socket error, and the next send
// fails with it once without sending. Reading SO_ERROR clears it.
void SocketEchoHandle::clearPendingError()
{
    int pending = 0;
    socklen_t length = sizeof pending;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &length);
}

// Errors keep arriving while others' probes fail (a flood towards a filtered
// host), so one may land between the clearing and the send. A failure of the
// send itself repeats; one caused by a pending error does not, so the send is
// tried again after clearing, a few times at most.
bool SocketEchoHandle::transmitDespitePendingErrors(const IpAddress &destination,
                                                    std::span<const uint8_t> request,
                                                    const IpOptionInformation &options)
{
    for (int attempt = 1;; ++attempt) {
        if (transmit(destination, request, options))
            return true;
        if (attempt == sendAttempts)
            return false;
        clearPendingError();
    }
}

uint32_t SocketEchoHandle::finish(IcmpEchoReply &reply, uint32_t status)
{
    reply.replyCount = 0;
    reply.status = status;
    return 0;
}

// A send that fails locally gets no answer: count 0 and the status that says why.
uint32_t SocketEchoHandle::sendFailed(int error, IcmpEchoReply &reply)
{
    switch (error) {
    case EMSGSIZE:
        // Larger than the outgoing interface's MTU with DF set; the datagram
        // socket has also queued a local error entry.
        discardStale();
        return finish(reply, IpStatus::packetTooBig);
    // Nothing left the machine: no route, a rejecting route (unreachable,
    // prohibit), a firewall's drop in OUTPUT, or a source address that is gone.
    // A pending error of an earlier request fails a send only once, and the
    // send was repeated after clearing it, so these are this send's own.
    case ENETUNREACH:
    case EHOSTUNREACH:
    case EPERM:
    case EACCES:
    case EADDRNOTAVAIL:
        reply.sendErrno = error;
        return finish(reply, IpStatus::notSent);
    case ENOBUFS: return finish(reply, IpStatus::noResources);
    default: return finish(reply, IpStatus::generalFailure);
    }
}

// The deadline is fixed before the first wait: packets that are not ours
// only shorten the remaining time, they never restart it. Every idle slice
// the hooks run (the long-wait one once), after what arrived is read.
std::optional<SocketEchoHandle::Match>
SocketEchoHandle::awaitAnswer(const IpAddress &destination, uint16_t sequence, Clock::time_point deadline)
{
    waiting_ = true;
    auto match = awaitWithHooks(destination, sequence, deadline);
    waiting_ = false;
    return match;
}

std::optional<SocketEchoHandle::Match>
SocketEchoHandle::awaitWithHooks(const IpAddress &destination, uint16_t sequence,
                                 Clock::time_point deadline)
{
    auto sliceEnd = sentAt_ + idleSlice;
    bool first = true, longWait = false;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) // what came in time may still wait to be read
            return readQueued(destination, sequence);
        if (now >= sliceEnd) {
            if (auto match = readQueued(destination, sequence))
                return match;
            if (!std::exchange(longWait, true) && hooks_ && hooks_->longWait)
                hooks_->longWait();
            if (hooks_ && hooks_->idle && !hooks_->idle())
                return std::nullopt;
            sliceEnd = Clock::now() + idleSlice;
            continue;
        }
        if (!limitWait(deadline - now))
            return std::nullopt;
        bool interrupted = false;
        if (auto match = receive(destination, sequence, std::exchange(first, false), interrupted))
            return match;
        if (interrupted) // a signal: the idle hook hears of it at once
            sliceEnd = now;
    }
}

// SO_RCVTIMEO stays at the idle slice: a read may end a little after the
// slice's end, never the deadline's. Only a deadline nearer than a slice costs
// a call, to set it shorter (and the next wait one to restore it).
bool SocketEchoHandle::limitWait(Clock::duration toDeadline)
{
    const Clock::duration limit = toDeadline < idleSlice
                                      ? std::chrono::ceil<std::chrono::milliseconds>(toDeadline)
                                      : Clock::duration(idleSlice);
    if (limit == readLimit_)
        return true;
    if (!setReadLimit(fd_, limit))
        return false;
    readLimit_ = limit;
    return true;
}
