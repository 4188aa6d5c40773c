#pragma once

#include "net/SocketEchoHandle.h"

// Echo over a raw ICMP socket (CAP_NET_RAW). The socket would see every ICMP
// packet of the namespace: a kernel filter keeps only replies and errors
// that carry our id, and each of those is still parsed and matched in full.
class RawEchoHandle : public SocketEchoHandle {
public:
    // Opens and sets up the socket with a random id; null with errno set when that fails.
    static std::unique_ptr<RawEchoHandle> open(const EchoFamily &family,
                                               std::shared_ptr<const Hooks> hooks);
    // The socket alone, set up as open() does; -1 with errno set when that fails.
    static int openSocket(const EchoFamily &family, uint16_t &id);

    using SocketEchoHandle::SocketEchoHandle;

protected:
    void discardStale() override;
    std::optional<Match> readQueued(const IpAddress &destination, uint16_t sequence) override;
    std::optional<Match> receive(const IpAddress &destination, uint16_t sequence, bool first,
                                 bool &interrupted) override;

private:
    // One packet read with these recv flags; what is ours of it.
    std::optional<Match> readPacket(int flags, const IpAddress &destination, uint16_t sequence,
                                    bool &failed);
};
