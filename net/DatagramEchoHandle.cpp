#include "net/DatagramEchoHandle.h"

#include "net/CloseKeepingErrno.h"
#include "net/DatagramPacket.h"

#include <algorithm>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int enable(int fd, int level, int name)
{
    const int on = 1;
    return setsockopt(fd, level, name, &on, sizeof on);
}

// The kernel binds the socket to a free port at the first send and uses the
// port as the echo id, whatever id the request carries; so no bind here.
// Without IP(V6)_RECVERR a time-exceeded probe would simply time out;
// IP_RECVTTL (IPV6_RECVHOPLIMIT) brings the arriving TTL.
int openSocket(const EchoFamily &family)
{
    const int fd = socket(family.domain, SOCK_DGRAM | SOCK_CLOEXEC, family.protocol);
    if (fd < 0)
        return -1;
    if (enable(fd, family.level, family.receiveErrors) != 0
        || enable(fd, family.level, family.receiveHopLimit) != 0) {
        return closeKeepingErrno(fd);
    }
    return fd;
}

// The bytes one recvmsg filled. msg_controllen is what the kernel wrote;
// msg_namelen is the address's own length and may exceed the buffer.
DatagramPacket::Received received(std::span<const uint8_t> data, const msghdr &message,
                                  ssize_t length)
{
    const auto *name = static_cast<const uint8_t *>(message.msg_name);
    const auto *control = static_cast<const uint8_t *>(message.msg_control);
    return {data.first(static_cast<size_t>(length)),
            {name, std::min<size_t>(message.msg_namelen, sizeof(sockaddr_storage))},
            {control, message.msg_controllen}};
}

} // namespace

std::unique_ptr<DatagramEchoHandle> DatagramEchoHandle::open(const EchoFamily &family,
                                                              std::shared_ptr<const Hooks> hooks)
{
    const int fd = openSocket(family);
    if (fd < 0)
        return nullptr;
    if (!enableReceiveStamps(fd)) {
        closeKeepingErrno(fd);
        return nullptr;
    }
    return std::make_unique<DatagramEchoHandle>(family, fd, 0, std::move(hooks));
}

void DatagramEchoHandle::discardStale()
{
    // Draining the error queue also clears the socket error it set (its send
    // stamps are kept); a plain read fails once while an error is pending,
    // hence the bounded loop.
    readSendStamps();
    for (int i = 0; i < maxReadsPerWake; ++i) {
        if (recv(fd(), buffer().data(), buffer().size(), MSG_DONTWAIT) < 0 && errno == EAGAIN)
            break;
    }
}

std::optional<SocketEchoHandle::Match> DatagramEchoHandle::readQueued(const IpAddress &destination,
                                                                      uint16_t sequence)
{
    if (auto match = readErrorQueue(destination, sequence))
        return match;
    return readReplies(sequence);
}

// A router's ICMP error sets the socket error, which ends the blocking read
// of echo replies; the error itself waits on the error queue.
std::optional<SocketEchoHandle::Match> DatagramEchoHandle::receive(const IpAddress &destination,
                                                                   uint16_t sequence, bool first,
                                                                   bool &interrupted)
{
    bool &byError = answeredByError_[ttl()];
    if (first && byError) {
        if (auto match = readErrorQueue(destination, sequence))
            return match;
    }
    bool failed = false;
    if (auto match = readReply(0, sequence, failed)) {
        byError = false;
        return match;
    }
    if (!failed || errno == EAGAIN)
        return std::nullopt;
    if (errno == EINTR) {
        interrupted = true;
        return std::nullopt;
    }
    auto match = readErrorQueue(destination, sequence);
    if (match)
        byError = true;
    return match;
}

// An ICMP error quoting our echo header; the responding router is the offender.
std::optional<SocketEchoHandle::Match>
DatagramEchoHandle::readErrorQueue(const IpAddress &destination, uint16_t sequence)
{
    for (int i = 0; i < mostErrorBatches; ++i) {
        const ErrorEntries read = readErrors();
        for (int j = 0; j < read.count; ++j) {
            if (auto answer = family().parseErrorQueueEntry(read.entries[static_cast<size_t>(j)],
                                                            destination, sequence))
                return Match{*answer, read.receivedAt};
        }
        if (!read.more)
            return std::nullopt;
    }
    return std::nullopt;
}

// Echo replies of our id; the replying address is the message's source.
std::optional<SocketEchoHandle::Match> DatagramEchoHandle::readReplies(uint16_t sequence)
{
    for (int i = 0; i < maxReadsPerWake; ++i) {
        bool failed = false;
        if (auto match = readReply(MSG_DONTWAIT, sequence, failed))
            return match;
        // A queued error makes a plain read fail once; the queue holds it.
        if (failed && (errno == EAGAIN || errno == EINTR))
            return std::nullopt;
    }
    return std::nullopt;
}

// One read; failed, with errno, when it read nothing.
std::optional<SocketEchoHandle::Match> DatagramEchoHandle::readReply(int flags, uint16_t sequence,
                                                                     bool &failed)
{
    alignas(cmsghdr) char controlBuffer[256]; // hop count and both receive stamps
    iovec data{buffer().data(), buffer().size()};
    sockaddr_storage from{};
    msghdr message{&from, sizeof from, &data, 1, controlBuffer, sizeof controlBuffer, 0};
    const ssize_t length = recvmsg(fd(), &message, flags);
    if (length < 0) {
        failed = true;
        return std::nullopt;
    }
    const auto receivedAt = Clock::now();
    if (auto answer = family().parseDatagramReply(received(buffer(), message, length), sequence))
        return Match{*answer, receivedAt};
    return std::nullopt;
}
