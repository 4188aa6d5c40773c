#pragma once

#include "net/EchoService.h"
#include "net/SocketEchoHandle.h"
#include "net/PrivilegedSockets.h"

#include <memory>

// The echo service over Linux ICMP and ICMPv6 sockets: an unprivileged
// datagram socket where net.ipv4.ping_group_range admits the caller's group
// (for both families), else a raw socket where the process has CAP_NET_RAW.
class IcmpEchoService : public EchoService {
public:
    enum class Backend { automatic, datagram, raw };

    // A raw socket among the privileged ones serves every handle of its
    // family for the service's life, before any socket opened later.
    explicit IcmpEchoService(Backend backend = Backend::automatic,
                             PrivilegedSockets privileged = {});

    std::unique_ptr<EchoHandle> openHandle(const IpAddress &destination) override;
    EchoOpenFailure lastOpenFailure() const override;
    void setIdleHook(IdleHook hook) override;
    void setLongWaitHook(std::function<void()> hook) override;
    void waitIdle(uint32_t ms, const std::function<bool()> &goOn) override;
    void closeSpares() override;

private:
    Backend backend_;
    EchoOpenFailure lastFailure_;
    // Shared with the open handles, so a hook set later reaches them too.
    std::shared_ptr<SocketEchoHandle::Hooks> hooks_;
    // A trace opens and closes a handle for every probe; a closed handle's
    // datagram socket waits here for the next open instead of being closed,
    // which spares a socket, its set-up and a close per probe. Shared with the
    // open handles, which put their socket back when they are destroyed.
    std::shared_ptr<std::unique_ptr<SocketEchoHandle>> spare_;
    // The raw sockets (IPv4, IPv6) opened while the process held CAP_NET_RAW:
    // they cannot be opened again, so closeSpares leaves them open.
    std::unique_ptr<SocketEchoHandle> heldIpv4_, heldIpv6_;
};
