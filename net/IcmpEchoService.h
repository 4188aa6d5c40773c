#pragma once

#include "net/EchoService.h"
#include "net/SocketEchoHandle.h"

#include <memory>

// The echo service over Linux ICMP and ICMPv6 sockets: an unprivileged
// datagram socket where net.ipv4.ping_group_range admits the caller's group
// (for both families), else a raw socket where the process has CAP_NET_RAW.
class IcmpEchoService : public EchoService {
public:
    enum class Backend { automatic, datagram, raw };

    explicit IcmpEchoService(Backend backend = Backend::automatic);

    std::unique_ptr<EchoHandle> openHandle(const IpAddress &destination) override;
    EchoOpenFailure lastOpenFailure() const override;
    void setIdleHook(IdleHook hook) override;
    void closeSpares() override;

private:
    Backend backend_;
    EchoOpenFailure lastFailure_;
    // Shared with the open handles, so a hook set later reaches them too.
    std::shared_ptr<IdleHook> idleHook_;
    // A trace opens and closes a handle for every probe; a closed handle's
    // datagram socket waits here for the next open instead of being closed,
    // which spares a socket, its set-up and a close per probe. Shared with the
    // open handles, which put their socket back when they are destroyed.
    std::shared_ptr<std::unique_ptr<SocketEchoHandle>> spare_;
};
