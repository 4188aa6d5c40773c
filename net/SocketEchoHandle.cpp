#include "net/SocketEchoHandle.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The window wants a chance to process its events this often while we wait.
constexpr auto idleSlice = std::chrono::milliseconds(12);
// Larger than any IP datagram.
constexpr size_t receiveBufferSize = 65536;

int setIntOption(int fd, int level, int name, int value)
{
    return setsockopt(fd, level, name, &value, sizeof value);
}

timespec toTimespec(SocketEchoHandle::Clock::duration duration)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

uint16_t randomSequenceStart()
{
    std::random_device device;
    return static_cast<uint16_t>(device());
}

} // namespace

SocketEchoHandle::SocketEchoHandle(int fd, uint16_t id,
                                   std::shared_ptr<const EchoService::IdleHook> idleHook)
    : fd_(fd), id_(id), sequence_(randomSequenceStart()), idleHook_(std::move(idleHook)),
      buffer_(receiveBufferSize)
{
}

SocketEchoHandle::~SocketEchoHandle()
{
    close(fd_);
}

uint32_t SocketEchoHandle::sendEcho(uint32_t destination, std::span<const uint8_t> payload,
                                    const IpOptionInformation &options, IcmpEchoReply &reply,
                                    uint32_t timeoutMs)
{
    reply = IcmpEchoReply{};
    const uint16_t sequence = ++sequence_;
    if (!applyOptions(options))
        return finish(reply, IpStatus::generalFailure);
    discardStale();
    const auto request = IcmpPacket::buildEchoRequest(id_, sequence, payload);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;

    const auto sentAt = Clock::now();
    if (sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to),
               sizeof to) < 0)
        return sendFailed(errno, reply);
    const auto match =
        awaitAnswer(destination, sequence, sentAt + std::chrono::milliseconds(timeoutMs));
    if (!match)
        return finish(reply, IpStatus::reqTimedOut);
    reply.replyCount = 1;
    reply.address = match->answer.source;
    reply.status = match->answer.status;
    reply.roundTripTime = static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(match->receivedAt - sentAt).count());
    reply.ttl = match->answer.ttl;
    return reply.replyCount;
}

bool SocketEchoHandle::applyOptions(const IpOptionInformation &options)
{
    // PROBE sets DF but ignores the cached path MTU, so every size of a search
    // really goes on the wire; DONT lets the kernel fragment. The default (WANT)
    // would set DF on small main probes.
    const int discovery = (options.flags & IpOptionInformation::dontFragment) != 0
                              ? IP_PMTUDISC_PROBE
                              : IP_PMTUDISC_DONT;
    // A pending error from an earlier request's late ICMP error would
    // otherwise fail this send; reading SO_ERROR clears it.
    int pending = 0;
    socklen_t length = sizeof pending;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &length);
    return setIntOption(fd_, IPPROTO_IP, IP_TTL, options.ttl) == 0
        && setIntOption(fd_, IPPROTO_IP, IP_TOS, options.tos) == 0
        && setIntOption(fd_, IPPROTO_IP, IP_MTU_DISCOVER, discovery) == 0;
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
    case ENETUNREACH: return finish(reply, IpStatus::destNetUnreachable);
    case EHOSTUNREACH: return finish(reply, IpStatus::destHostUnreachable);
    case ENOBUFS: return finish(reply, IpStatus::noResources);
    default: return finish(reply, IpStatus::generalFailure);
    }
}

// The deadline is fixed before the first wait: packets that are not ours
// only shorten the remaining time, they never restart it.
std::optional<SocketEchoHandle::Match>
SocketEchoHandle::awaitAnswer(uint32_t destination, uint16_t sequence, Clock::time_point deadline)
{
    const bool idle = idleHook_ && *idleHook_;
    auto idleDue = Clock::now() + idleSlice;
    for (;;) {
        auto now = Clock::now();
        if (now >= deadline)
            return std::nullopt;
        if (idle && now >= idleDue) {
            if (!callIdleHook())
                return std::nullopt;
            now = Clock::now();
            idleDue = now + idleSlice;
            continue;
        }
        const auto wakeAt = idle ? std::min(deadline, idleDue) : deadline;
        pollfd entry{fd_, POLLIN, 0};
        const timespec wait = toTimespec(wakeAt - now);
        const int ready = ppoll(&entry, 1, &wait, nullptr);
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready > 0) {
            if (auto match = readReady(entry.revents, destination, sequence))
                return match;
        }
    }
}

bool SocketEchoHandle::callIdleHook() const
{
    return (*idleHook_)();
}
