#include "net/DatagramEchoHandle.h"

#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int enable(int fd, int name)
{
    const int on = 1;
    return setsockopt(fd, IPPROTO_IP, name, &on, sizeof on);
}

// Binding to port 0 picks the echo id; without IP_RECVERR a time-exceeded
// probe would simply time out; IP_RECVTTL brings the arriving TTL.
bool setUp(int fd, uint16_t &id)
{
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t length = sizeof local;
    if (bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0
        || getsockname(fd, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        return false;
    id = ntohs(local.sin_port);
    return enable(fd, IP_RECVERR) == 0 && enable(fd, IP_RECVTTL) == 0;
}

// What the control messages of one recvmsg carried.
struct Control {
    const sock_extended_err *error = nullptr;
    uint8_t ttl = 0;
};

Control readControl(msghdr &message)
{
    Control control;
    for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP)
            continue;
        if (c->cmsg_type == IP_TTL && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(c), sizeof ttl);
            control.ttl = static_cast<uint8_t>(ttl);
        } else if (c->cmsg_type == IP_RECVERR
                   && c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
            control.error = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
        }
    }
    return control;
}

uint32_t offender(const sock_extended_err &error)
{
    // The offender follows the record; it is a sockaddr_in for ICMP errors.
    const auto *address = reinterpret_cast<const sockaddr_in *>(SO_EE_OFFENDER(&error));
    if (address->sin_family != AF_INET)
        return 0;
    return address->sin_addr.s_addr;
}

} // namespace

std::unique_ptr<DatagramEchoHandle>
DatagramEchoHandle::open(std::shared_ptr<const EchoService::IdleHook> idleHook)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return nullptr;
    uint16_t id = 0;
    if (!setUp(fd, id)) {
        const int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    return std::make_unique<DatagramEchoHandle>(fd, id, std::move(idleHook));
}

void DatagramEchoHandle::discardStale()
{
    // Draining the error queue also clears the socket error it set; a plain
    // read fails once while an error is pending, hence the bounded loops.
    for (int i = 0; i < maxReadsPerWake; ++i) {
        if (recv(fd(), buffer().data(), buffer().size(), MSG_ERRQUEUE | MSG_DONTWAIT) < 0
            && errno == EAGAIN)
            break;
    }
    for (int i = 0; i < maxReadsPerWake; ++i) {
        if (recv(fd(), buffer().data(), buffer().size(), MSG_DONTWAIT) < 0 && errno == EAGAIN)
            break;
    }
}

std::optional<SocketEchoHandle::Match>
DatagramEchoHandle::readReady(short revents, uint32_t, uint16_t sequence)
{
    if (revents & POLLERR) {
        if (auto match = readErrorQueue(sequence))
            return match;
    }
    if (revents & POLLIN)
        return readReplies(sequence);
    return std::nullopt;
}

// An ICMP error quoting our echo header; the responding router is the offender.
std::optional<SocketEchoHandle::Match> DatagramEchoHandle::readErrorQueue(uint16_t sequence)
{
    alignas(cmsghdr) char controlBuffer[512];
    for (int i = 0; i < maxReadsPerWake; ++i) {
        iovec data{buffer().data(), buffer().size()};
        sockaddr_in from{};
        msghdr message{&from, sizeof from, &data, 1, controlBuffer, sizeof controlBuffer, 0};
        const ssize_t length = recvmsg(fd(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (length < 0)
            return std::nullopt;
        const auto receivedAt = Clock::now();
        const Control control = readControl(message);
        const auto quote = std::span<const uint8_t>(buffer().data(), static_cast<size_t>(length));
        if (!control.error || control.error->ee_origin != SO_EE_ORIGIN_ICMP
            || !IcmpPacket::isOurRequest(quote, std::nullopt, sequence))
            continue;
        const sock_extended_err &error = *control.error;
        IcmpPacket::Answer answer{IcmpPacket::statusFor(error.ee_type, error.ee_code),
                                  offender(error), control.ttl, 0};
        if (error.ee_type == IcmpPacket::typeDestUnreachable
            && error.ee_code == IcmpPacket::codeFragNeeded)
            answer.nextHopMtu = static_cast<uint16_t>(error.ee_info);
        return Match{answer, receivedAt};
    }
    return std::nullopt;
}

// Echo replies of our id; the replying address is the message's source.
std::optional<SocketEchoHandle::Match> DatagramEchoHandle::readReplies(uint16_t sequence)
{
    alignas(cmsghdr) char controlBuffer[128];
    for (int i = 0; i < maxReadsPerWake; ++i) {
        iovec data{buffer().data(), buffer().size()};
        sockaddr_in from{};
        msghdr message{&from, sizeof from, &data, 1, controlBuffer, sizeof controlBuffer, 0};
        const ssize_t length = recvmsg(fd(), &message, MSG_DONTWAIT);
        if (length < 0) {
            // A queued error makes a plain read fail once; the queue holds it.
            if (errno == EAGAIN || errno == EINTR)
                return std::nullopt;
            continue;
        }
        const auto receivedAt = Clock::now();
        const auto icmp = std::span<const uint8_t>(buffer().data(), static_cast<size_t>(length));
        auto answer = IcmpPacket::parseDatagramReply(icmp, sequence);
        if (!answer)
            continue;
        answer->source = from.sin_addr.s_addr;
        answer->ttl = readControl(message).ttl;
        return Match{*answer, receivedAt};
    }
    return std::nullopt;
}
