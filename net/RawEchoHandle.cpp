#include "net/RawEchoHandle.h"

#include "net/CloseKeepingErrno.h"
#include "net/Icmp6Socket.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <linux/filter.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Only echo replies and the errors that can quote a request get through;
// otherwise the socket also reads echo requests, our own ones on loopback.
bool setFilter(int fd)
{
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH)
                    | (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    return setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

// The kernel drops what is plainly someone else's before it is queued: echo
// replies with another id, and errors whose quoted request has another id.
// A busy host (a ping flood beside us) would otherwise fill the receive
// buffer with foreign replies, and our answer would be dropped with them.
// Everything that passes is still parsed and matched in full. Loads past the
// end of a packet reject it; such a packet could not be matched anyway.
bool setIdFilter(int fd, uint16_t id)
{
    sock_filter code[] = {
        BPF_STMT(BPF_LDX | BPF_B | BPF_MSH, 0),             // X = outer header length
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 0),              // ICMP type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ICMP_ECHOREPLY, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 4),              // the reply's id
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 7, 8),
        BPF_STMT(BPF_LD | BPF_B | BPF_IND, 8),              // the quoted header's first byte
        BPF_STMT(BPF_ALU | BPF_AND | BPF_K, 0x0f),
        BPF_STMT(BPF_ALU | BPF_LSH | BPF_K, 2),
        BPF_STMT(BPF_ALU | BPF_ADD | BPF_X, 0),
        BPF_STMT(BPF_MISC | BPF_TAX, 0),                    // X = both header lengths
        BPF_STMT(BPF_LD | BPF_H | BPF_IND, 8 + 4),          // the quoted request's id
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

int openIpv4(uint16_t id)
{
    const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    if (!setFilter(fd) || !setIdFilter(fd, id)) {
        return closeKeepingErrno(fd);
    }
    return fd;
}

// Until its filters are attached a raw socket queues every ICMP message the
// host receives. Beside a ping flood that filled its receive buffer within
// the few milliseconds before them, and the answer to the first request was
// then dropped (seen under a sanitizer's slower start). Nothing was sent with
// this id yet, so none of it is ours: it is read away unparsed, at most as
// much as a receive buffer can hold, in case another's traffic with our id
// keeps arriving.
void discardQueued(int fd)
{
    constexpr int mostQueued = 1024; // more than a default receive buffer holds
    char byte;
    for (int i = 0; i < mostQueued; ++i) {
        if (recv(fd, &byte, 1, MSG_DONTWAIT | MSG_TRUNC) < 0 && errno == EAGAIN)
            return;
    }
}

} // namespace

// No IP_RECVERR here: errors would arrive twice and set the socket error;
// they are read from the data stream instead.
int RawEchoHandle::openSocket(const EchoFamily &family, uint16_t &id)
{
    id = randomWord();
    const int fd = family.isIpv6() ? Icmp6Socket::openRaw(id) : openIpv4(id);
    if (fd < 0)
        return -1;
    if (!enableReceiveStamps(fd)) {
        return closeKeepingErrno(fd);
    }
    discardQueued(fd);
    return fd;
}

std::unique_ptr<RawEchoHandle> RawEchoHandle::open(const EchoFamily &family,
                                                   std::shared_ptr<const Hooks> hooks)
{
    uint16_t id = 0;
    const int fd = openSocket(family, id);
    if (fd < 0)
        return nullptr;
    return std::make_unique<RawEchoHandle>(family, fd, id, std::move(hooks));
}

void RawEchoHandle::discardStale()
{
    readSendStamps();
    // A read fails once while an ICMP error has left the socket error set.
    for (int i = 0; i < maxReadsPerWake; ++i) {
        if (recv(fd(), buffer().data(), buffer().size(), MSG_DONTWAIT) < 0 && errno == EAGAIN)
            break;
    }
}

// The error queue holds send stamps only: it is read here, at the end of an
// idle slice or the wait, for the figures waiting on them.
std::optional<SocketEchoHandle::Match> RawEchoHandle::readQueued(const IpAddress &destination,
                                                                 uint16_t sequence)
{
    readSendStamps();
    for (int i = 0; i < maxReadsPerWake; ++i) {
        bool failed = false;
        if (auto match = readPacket(MSG_DONTWAIT, destination, sequence, failed))
            return match;
        if (failed && (errno == EAGAIN || errno == EINTR))
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<SocketEchoHandle::Match> RawEchoHandle::receive(const IpAddress &destination,
                                                              uint16_t sequence, bool,
                                                              bool &interrupted)
{
    bool failed = false;
    auto match = readPacket(0, destination, sequence, failed);
    interrupted = failed && errno == EINTR;
    return match;
}

// A raw IPv4 socket reads the whole IP packet; a raw ICMPv6 one the message
// alone, with its sender in msg_name and its hop limit in a control message.
// failed, with errno, when it read nothing.
std::optional<SocketEchoHandle::Match> RawEchoHandle::readPacket(int flags,
                                                                 const IpAddress &destination,
                                                                 uint16_t sequence, bool &failed)
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
    const DatagramPacket::Received received{
        {buffer().data(), static_cast<size_t>(length)},
        {reinterpret_cast<const uint8_t *>(&from), std::min<size_t>(message.msg_namelen, sizeof from)},
        {reinterpret_cast<const uint8_t *>(controlBuffer), message.msg_controllen}};
    if (auto answer = family().parseRaw(received, destination, id(), sequence))
        return Match{*answer, receivedAt};
    return std::nullopt;
}
