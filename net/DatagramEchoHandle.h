#pragma once

#include "net/SocketEchoHandle.h"

// Echo over an unprivileged ICMP datagram socket (net.ipv4.ping_group_range).
// The kernel owns the id (the socket's bound port), keeps our sequence and
// hands us only replies and errors of that id; errors come from the error queue.
class DatagramEchoHandle : public SocketEchoHandle {
public:
    // Opens and sets up the socket; null with errno set when that fails.
    static std::unique_ptr<DatagramEchoHandle>
    open(const EchoFamily &family, std::shared_ptr<const EchoService::IdleHook> idleHook);

    using SocketEchoHandle::SocketEchoHandle;

protected:
    void discardStale() override;
    std::optional<Match> readReady(short revents, const IpAddress &destination,
                                   uint16_t sequence) override;

private:
    std::optional<Match> readErrorQueue(const IpAddress &destination, uint16_t sequence);
    std::optional<Match> readReplies(uint16_t sequence);
};
