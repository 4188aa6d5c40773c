#pragma once

#include "net/SocketEchoHandle.h"

// Echo over an unprivileged ICMP datagram socket (net.ipv4.ping_group_range).
// The kernel owns the id (the socket's bound port), keeps our sequence and
// hands us only replies and errors of that id; errors come from the error queue.
class DatagramEchoHandle : public SocketEchoHandle {
public:
    // Opens and sets up the socket; null with errno set when that fails.
    static std::unique_ptr<DatagramEchoHandle> open(const EchoFamily &family,
                                                    std::shared_ptr<const Hooks> hooks);

    using SocketEchoHandle::SocketEchoHandle;

protected:
    void discardStale() override;
    std::optional<Match> readQueued(const IpAddress &destination, uint16_t sequence) override;
    std::optional<Match> receive(const IpAddress &destination, uint16_t sequence, bool first,
                                 bool &interrupted) override;

private:
    std::optional<Match> readErrorQueue(const IpAddress &destination, uint16_t sequence);
    std::optional<Match> readReplies(uint16_t sequence);
    std::optional<Match> readReply(int flags, uint16_t sequence, bool &failed);

    // By TTL: whether the last answer came through the error queue (a
    // router's) rather than as an echo reply (the target's). The first read
    // after a send goes where the answer is likely, so it mostly is one read.
    std::array<bool, 256> answeredByError_{};
};
