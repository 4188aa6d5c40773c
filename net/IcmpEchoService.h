#pragma once

#include "net/EchoService.h"

#include <memory>

// The echo service over Linux ICMP sockets: an unprivileged datagram socket
// where net.ipv4.ping_group_range admits the caller's group, else a raw
// socket where the process has CAP_NET_RAW.
class IcmpEchoService : public EchoService {
public:
    enum class Backend { automatic, datagram, raw };

    explicit IcmpEchoService(Backend backend = Backend::automatic);

    std::unique_ptr<EchoHandle> openHandle() override;
    EchoOpenFailure lastOpenFailure() const override;
    void setIdleHook(IdleHook hook) override;

private:
    Backend backend_;
    EchoOpenFailure lastFailure_;
    // Shared with the open handles, so a hook set later reaches them too.
    std::shared_ptr<IdleHook> idleHook_;
};
