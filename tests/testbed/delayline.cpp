// Ethernet delay line: copies every frame that arrives on one interface out of
// the other after a fixed delay, both ways. The kernel of the test machine has
// no netem, so this is how the test network gets a hop with a known round-trip
// time (twice the delay). Run it inside a namespace of its own that holds just
// the two veth ends, so nothing else uses them.
//
// usage: delayline IF_A IF_B DELAY_MS
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Nanos = int64_t;
constexpr size_t maxQueued = 20000; // frames per direction; beyond that the line drops
constexpr size_t maxFrame = 65536;

Nanos now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Frame {
    Nanos due;
    std::vector<uint8_t> bytes;
};

struct Port {
    std::string name;
    int fd = -1;
    std::deque<Frame> outbound; // frames waiting to leave through this port
};

bool fail(const char *what, const std::string &name)
{
    std::fprintf(stderr, "delayline: %s %s: %s\n", what, name.c_str(), std::strerror(errno));
    return false;
}

// A packet socket bound to one interface, in promiscuous mode so frames for
// the far side's MAC arrive too. The protocol is given only at bind time, so
// no frame of another interface slips in before it.
bool openPort(Port &port)
{
    const unsigned index = if_nametoindex(port.name.c_str());
    if (index == 0)
        return fail("no interface", port.name);
    port.fd = socket(AF_PACKET, SOCK_RAW, 0);
    if (port.fd < 0)
        return fail("socket(AF_PACKET) for", port.name);
    // Frames we send ourselves come back as PACKET_OUTGOING; never copy them.
    const int one = 1;
    setsockopt(port.fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(ETH_P_ALL);
    address.sll_ifindex = int(index);
    if (bind(port.fd, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0)
        return fail("bind", port.name);
    packet_mreq promisc{};
    promisc.mr_ifindex = int(index);
    promisc.mr_type = PACKET_MR_PROMISC;
    if (setsockopt(port.fd, SOL_PACKET, PACKET_ADD_MEMBERSHIP, &promisc, sizeof promisc) < 0)
        return fail("promiscuous mode on", port.name);
    return true;
}

// Reads every waiting frame of `from` into the queue of `to`.
void receive(Port &from, Port &to, Nanos delay)
{
    std::vector<uint8_t> buffer(maxFrame);
    for (;;) {
        sockaddr_ll source{};
        socklen_t length = sizeof source;
        const ssize_t n = recvfrom(from.fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr *>(&source), &length);
        if (n < 0)
            return; // EAGAIN: drained
        if (source.sll_pkttype == PACKET_OUTGOING || to.outbound.size() >= maxQueued)
            continue;
        to.outbound.push_back({now() + delay, {buffer.begin(), buffer.begin() + n}});
    }
}

// Sends the frames whose time has come (blocking while the socket's buffer is
// full). A frame the interface refuses, too big for it, is lost as on a real line.
void transmit(Port &port, Nanos time)
{
    while (!port.outbound.empty() && port.outbound.front().due <= time) {
        const auto &bytes = port.outbound.front().bytes;
        (void)send(port.fd, bytes.data(), bytes.size(), 0);
        port.outbound.pop_front();
    }
}

// Time until the next frame of either port is due; -1 when none waits.
int64_t nextWait(const Port &a, const Port &b, Nanos time)
{
    Nanos due = INT64_MAX;
    for (const Port *p : {&a, &b})
        if (!p->outbound.empty())
            due = std::min(due, p->outbound.front().due);
    return due == INT64_MAX ? -1 : std::max<Nanos>(0, due - time);
}

int run(Port &a, Port &b, Nanos delay)
{
    for (;;) {
        const Nanos wait = nextWait(a, b, now());
        timespec timeout{wait / 1'000'000'000, wait % 1'000'000'000};
        pollfd fds[2] = {{a.fd, POLLIN, 0}, {b.fd, POLLIN, 0}};
        if (ppoll(fds, 2, wait < 0 ? nullptr : &timeout, nullptr) < 0 && errno != EINTR)
            return fail("poll", a.name + "/" + b.name), 1;
        if (fds[0].revents & POLLIN)
            receive(a, b, delay);
        if (fds[1].revents & POLLIN)
            receive(b, a, delay);
        const Nanos time = now();
        transmit(a, time);
        transmit(b, time);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: delayline IF_A IF_B DELAY_MS\n");
        return 2;
    }
    char *end = nullptr;
    const long ms = std::strtol(argv[3], &end, 10);
    if (*end != '\0' || ms < 0 || ms > 60'000) {
        std::fprintf(stderr, "delayline: DELAY_MS must be 0..60000, not %s\n", argv[3]);
        return 2;
    }
    Port a, b;
    a.name = argv[1];
    b.name = argv[2];
    if (!openPort(a) || !openPort(b))
        return 1;
    return run(a, b, Nanos(ms) * 1'000'000);
}
