#include "net/Icmp6Socket.h"
#include "net/CloseKeepingErrno.h"

#include "net/Icmp6Packet.h"

#include <cerrno>
#include <iterator>
#include <linux/filter.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Icmp6Socket {
namespace {

bool enable(int fd, int name)
{
    const int on = 1;
    return setsockopt(fd, IPPROTO_IPV6, name, &on, sizeof on) == 0;
}

// A set bit blocks its type. Without the filter the socket reads all ICMPv6
// of the host: neighbour discovery, and our own requests on loopback.
bool setTypeFilter(int fd)
{
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (int type : {Icmp6Packet::typeDestUnreachable, Icmp6Packet::typePacketTooBig,
                     Icmp6Packet::typeTimeExceeded, Icmp6Packet::typeParamProblem,
                     Icmp6Packet::typeEchoReply})
        ICMP6_FILTER_SETPASS(type, &filter);
    return setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) == 0;
}

// As for IPv4, the kernel drops what is plainly someone else's before it is
// queued, so a ping flood beside us cannot crowd out our answer: echo replies
// with another id, and errors whose quoted request (after a 40-byte IPv6
// header) has another id. A raw ICMPv6 socket's filter sees the message from
// its ICMPv6 header on. Loads past the end of a packet reject it.
bool setIdFilter(int fd, uint16_t id)
{
    constexpr uint32_t quotedId = 8 + 40 + 4;
    sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_B | BPF_ABS, 0),  // ICMPv6 type
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, Icmp6Packet::typeEchoReply, 0, 2),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, 4),  // the reply's id
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 2, 3),
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, quotedId),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, id, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, 0xffff),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(code)), code};
    return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
}

} // namespace

// The kernel fills the checksum of a raw ICMPv6 socket's messages itself.
int openRaw(uint16_t id)
{
    const int fd = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    if (fd < 0)
        return -1;
    if (!setTypeFilter(fd) || !setIdFilter(fd, id) || !enable(fd, IPV6_RECVHOPLIMIT))
        return closeKeepingErrno(fd);
    return fd;
}

} // namespace Icmp6Socket
