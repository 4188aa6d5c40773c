#include "net/PrivilegedSockets.h"

#include "net/RawEchoHandle.h"

#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <utility>

namespace {

// EACCES (even for root) when the group is outside net.ipv4.ping_group_range.
bool pingSocketsOpen()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

} // namespace

PrivilegedSockets::~PrivilegedSockets()
{
    for (const RawSocket &raw : {rawIcmp_, rawIcmp6_}) {
        if (raw.fd >= 0)
            close(raw.fd);
    }
}

PrivilegedSockets::PrivilegedSockets(PrivilegedSockets &&other) noexcept
    : rawIcmp_(other.takeRawIcmp()), rawIcmp6_(other.takeRawIcmp6())
{
}

PrivilegedSockets &PrivilegedSockets::operator=(PrivilegedSockets &&other) noexcept
{
    if (this != &other) {
        std::swap(rawIcmp_, other.rawIcmp_);
        std::swap(rawIcmp6_, other.rawIcmp6_);
    }
    return *this;
}

PrivilegedSockets PrivilegedSockets::open()
{
    if (pingSocketsOpen())
        return {};
    return openRaw();
}

PrivilegedSockets PrivilegedSockets::openRaw()
{
    PrivilegedSockets sockets;
    sockets.rawIcmp_.fd = RawEchoHandle::openSocket(EchoFamily::of(IpAddress()), sockets.rawIcmp_.id);
    sockets.rawIcmp6_.fd =
        RawEchoHandle::openSocket(EchoFamily::of(IpAddress::fromIpv6({})), sockets.rawIcmp6_.id);
    return sockets;
}

PrivilegedSockets::RawSocket PrivilegedSockets::takeRawIcmp()
{
    return std::exchange(rawIcmp_, RawSocket{});
}

PrivilegedSockets::RawSocket PrivilegedSockets::takeRawIcmp6()
{
    return std::exchange(rawIcmp6_, RawSocket{});
}

// The raw system calls: capget/capset for the three sets, prctl for the
// ambient and bounding sets. Dropping from the bounding set needs
// CAP_SETPCAP, which a binary with file capabilities does not have; there the
// capability stays bounded, and with nothing permitted it cannot come back.
bool PrivilegedSockets::dropCapability()
{
    prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_NET_RAW, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct sets[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, sets) != 0)
        return false;
    auto &set = sets[CAP_TO_INDEX(CAP_NET_RAW)];
    const uint32_t keep = ~CAP_TO_MASK(CAP_NET_RAW);
    set.effective &= keep;
    set.permitted &= keep;
    set.inheritable &= keep;
    return syscall(SYS_capset, &header, sets) == 0;
}
