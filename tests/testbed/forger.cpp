// Hostile ICMP for the test network: run inside a router namespace, it
// watches one interface and, for every echo request that arrives through it,
// sends towards the requester what must never be taken for the answer:
//   - echo replies from the destination with another id, or with the
//     sequence before the request's or one far ahead (not the next: a
//     handle's next request uses it, and a forger on the path that predicts
//     it forges an answer no parser can tell from the real one);
//   - time-exceeded, host-unreachable and fragmentation-needed errors whose
//     quote lies: another id, another sequence, another destination, another
//     protocol, or a quote too short to hold the echo header;
//   - the genuine answers of the previous request and of the one three back
//     (late replies), while the new request waits for its own.
// Every genuine answer leaving through the interface is also sent twice more
// at once (duplicates). Its own packets carry IP id 0x4b56 and are not
// looked at again.
//
//   forger IFACE SECONDS       stops after SECONDS or at SIGTERM/SIGINT
//       prints "ready" once listening, and at the end
//       forger requests=R forged=F duplicates=D late=L
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t forgedIpId = 0x4b56;
constexpr size_t maxQuote = 548;
constexpr uint16_t farAhead = 0x4000; // a sequence no handle reaches in a trace
volatile std::sig_atomic_t stopping = 0;

uint16_t read16(const Bytes &b, size_t at) { return static_cast<uint16_t>(b[at] << 8 | b[at + 1]); }

void put16(Bytes &b, size_t at, uint16_t value)
{
    b[at] = static_cast<uint8_t>(value >> 8);
    b[at + 1] = static_cast<uint8_t>(value);
}

uint16_t checksum(const uint8_t *bytes, size_t size)
{
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (size % 2)
        sum += static_cast<uint32_t>(bytes[size - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

// An IPv4 packet as seen on the wire: header length and ICMP part.
struct Ip {
    Bytes bytes;
    size_t headerLength = 0;

    bool isIcmp() const { return headerLength && bytes[9] == 1 && bytes.size() >= headerLength + 8; }
    uint8_t icmpType() const { return bytes[headerLength]; }
    uint32_t address(size_t at) const
    {
        uint32_t a;
        std::memcpy(&a, bytes.data() + at, 4);
        return a;
    }
    uint32_t source() const { return address(12); }
    uint32_t destination() const { return address(16); }
};

std::optional<Ip> parseIp(const uint8_t *data, size_t size)
{
    if (size < 20 || data[0] >> 4 != 4)
        return std::nullopt;
    Ip ip{Bytes(data, data + size), static_cast<size_t>(data[0] & 0x0f) * 4};
    const size_t total = read16(ip.bytes, 2);
    if (ip.headerLength < 20 || total < ip.headerLength || total > size)
        return std::nullopt;
    ip.bytes.resize(total);
    return ip;
}

// IP header (no options) around an ICMP message whose checksum is then set.
Bytes ipAround(uint32_t from, uint32_t to, Bytes icmp)
{
    put16(icmp, 2, 0);
    put16(icmp, 2, checksum(icmp.data(), icmp.size()));
    Bytes packet(20, 0);
    packet[0] = 0x45;
    put16(packet, 2, static_cast<uint16_t>(20 + icmp.size()));
    put16(packet, 4, forgedIpId);
    packet[8] = 64;
    packet[9] = 1;
    std::memcpy(&packet[12], &from, 4);
    std::memcpy(&packet[16], &to, 4);
    packet.insert(packet.end(), icmp.begin(), icmp.end());
    return packet;
}

class Forger {
public:
    Forger(int sender, uint32_t router) : sender_(sender), router_(router) {}

    void request(const Ip &ip)
    {
        ++requests_;
        const uint32_t requester = ip.source(), destination = ip.destination();
        const size_t icmpAt = ip.headerLength;
        const uint16_t id = read16(ip.bytes, icmpAt + 4), sequence = read16(ip.bytes, icmpAt + 6);
        const Bytes echo(ip.bytes.begin() + static_cast<long>(icmpAt), ip.bytes.end());

        // Echo replies that are not the answer.
        for (const auto &[replyId, replySequence] :
             {std::pair{id ^ 0x5a5a, sequence}, {id, sequence - 1}, {id, sequence + farAhead}}) {
            Bytes reply = echo;
            reply[0] = 0;
            put16(reply, 4, static_cast<uint16_t>(replyId));
            put16(reply, 6, static_cast<uint16_t>(replySequence));
            forge(ipAround(destination, requester, reply));
        }
        // Errors whose quote lies.
        const Bytes quote(ip.bytes.begin(),
                          ip.bytes.begin() + static_cast<long>(std::min(ip.bytes.size(), maxQuote)));
        const size_t quotedIcmp = icmpAt;
        for (const auto &[type, code] : {std::pair{11, 0}, {3, 1}, {3, 4}}) {
            for (int lie = 0; lie < 5; ++lie) {
                Bytes q = quote;
                switch (lie) {
                case 0: put16(q, quotedIcmp + 4, static_cast<uint16_t>(id + 1)); break;
                case 1: put16(q, quotedIcmp + 6, static_cast<uint16_t>(sequence + farAhead)); break;
                case 2: q[19] ^= 0x40; break; // another destination
                case 3: q[9] = 17; break;     // UDP
                case 4: q.resize(quotedIcmp + 4); break;
                }
                Bytes error(8, 0);
                error[0] = static_cast<uint8_t>(type);
                error[1] = static_cast<uint8_t>(code);
                if (type == 3 && code == 4)
                    put16(error, 6, 576);
                error.insert(error.end(), q.begin(), q.end());
                forge(ipAround(router_, requester, error));
            }
        }
        // Late: the genuine answers of one and of three requests ago.
        for (size_t back : {size_t(1), size_t(3)}) {
            if (answers_.size() >= back && !answers_[answers_.size() - back].empty()) {
                send(answers_[answers_.size() - back]);
                ++late_;
            }
        }
        answers_.emplace_back(); // this request's answer, once it passes
        if (answers_.size() > 4)
            answers_.pop_front();
    }

    // A genuine answer on its way to the requester.
    void answer(const Ip &ip)
    {
        Bytes copy = ip.bytes;
        put16(copy, 4, forgedIpId);
        put16(copy, 10, 0);
        put16(copy, 10, checksum(copy.data(), ip.headerLength));
        for (int i = 0; i < 2; ++i) {
            send(copy);
            ++duplicates_;
        }
        if (!answers_.empty() && answers_.back().empty())
            answers_.back() = copy;
    }

    void report() const
    {
        std::printf("forger requests=%d forged=%d duplicates=%d late=%d\n", requests_, forged_,
                    duplicates_, late_);
    }

private:
    void forge(const Bytes &packet)
    {
        send(packet);
        ++forged_;
    }
    void send(const Bytes &packet) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr, &packet[16], 4);
        if (sendto(sender_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to) < 0)
            std::perror("forger: sendto");
    }

    int sender_;
    uint32_t router_;
    std::deque<Bytes> answers_;
    int requests_ = 0, forged_ = 0, duplicates_ = 0, late_ = 0;
};

void stop(int) { stopping = 1; }

// The IPv4 address of the interface, the source of the forged errors.
uint32_t interfaceAddress(int fd, const char *name)
{
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if (ioctl(fd, SIOCGIFADDR, &request) != 0)
        return 0;
    return reinterpret_cast<sockaddr_in *>(&request.ifr_addr)->sin_addr.s_addr;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: forger IFACE SECONDS\n");
        return 2;
    }
    const unsigned index = if_nametoindex(argv[1]);
    const int seconds = std::atoi(argv[2]);
    // ETH_P_ALL: a socket bound to one protocol sees only incoming frames.
    const int sniffer = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_ALL));
    const int sender = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (index == 0 || seconds <= 0 || sniffer < 0 || sender < 0) {
        std::perror("forger: set-up");
        return 1;
    }
    // Room for bursts: a probe's burst is seen again as it leaves.
    const int room = 16 << 20;
    setsockopt(sniffer, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    sockaddr_ll bound{};
    bound.sll_family = AF_PACKET;
    bound.sll_protocol = htons(ETH_P_ALL);
    bound.sll_ifindex = static_cast<int>(index);
    if (bind(sniffer, reinterpret_cast<sockaddr *>(&bound), sizeof bound) != 0) {
        std::perror("forger: bind");
        return 1;
    }
    std::signal(SIGTERM, stop);
    std::signal(SIGINT, stop);
    Forger forger(sender, interfaceAddress(sender, argv[1]));
    std::printf("ready\n");
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::vector<uint8_t> buffer(65536);
    while (!stopping && std::chrono::steady_clock::now() < end) {
        pollfd entry{sniffer, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = recvfrom(sniffer, buffer.data(), buffer.size(), 0,
                                        reinterpret_cast<sockaddr *>(&from), &fromLength);
        if (length <= 0 || from.sll_protocol != htons(ETH_P_IP))
            continue;
        const auto ip = parseIp(buffer.data(), static_cast<size_t>(length));
        if (!ip || !ip->isIcmp() || read16(ip->bytes, 4) == forgedIpId)
            continue;
        const uint8_t type = ip->icmpType();
        if (from.sll_pkttype != PACKET_OUTGOING && type == 8)
            forger.request(*ip);
        else if (from.sll_pkttype == PACKET_OUTGOING && (type == 0 || type == 3 || type == 11))
            forger.answer(*ip);
    }
    forger.report();
    return 0;
}
