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
// looked at again. ICMPv6 echo requests get the same treatment in ICMPv6
// (replies 129; time exceeded, address unreachable and packet too big, whose
// quotes also lie about the next header); there the mark is flow label 0x4b56.
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
#include <ifaddrs.h>
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
    Bytes packet(20 + icmp.size(), 0);
    packet[0] = 0x45;
    put16(packet, 2, static_cast<uint16_t>(20 + icmp.size()));
    put16(packet, 4, forgedIpId);
    packet[8] = 64;
    packet[9] = 1;
    std::memcpy(&packet[12], &from, 4);
    std::memcpy(&packet[16], &to, 4);
    std::copy(icmp.begin(), icmp.end(), packet.begin() + 20);
    return packet;
}

// An IPv6 packet carrying ICMPv6 directly, as seen on the wire.
struct Ip6 {
    static constexpr size_t headerLength = 40;
    Bytes bytes;

    uint8_t icmpType() const { return bytes[headerLength]; }
    uint32_t flowLabel() const
    {
        return static_cast<uint32_t>((bytes[1] & 0x0f) << 16 | bytes[2] << 8 | bytes[3]);
    }
    Bytes source() const { return Bytes(bytes.begin() + 8, bytes.begin() + 24); }
    Bytes destination() const { return Bytes(bytes.begin() + 24, bytes.begin() + 40); }
};

std::optional<Ip6> parseIp6(const uint8_t *data, size_t size)
{
    if (size < Ip6::headerLength + 8 || data[0] >> 4 != 6 || data[6] != 58)
        return std::nullopt;
    const size_t total = Ip6::headerLength + read16(Bytes(data, data + 6), 4);
    if (total > size || total < Ip6::headerLength + 8)
        return std::nullopt;
    return Ip6{Bytes(data, data + total)};
}

void setFlowLabel(Bytes &packet, uint32_t label)
{
    packet[1] = static_cast<uint8_t>((packet[1] & 0xf0) | ((label >> 16) & 0x0f));
    packet[2] = static_cast<uint8_t>(label >> 8);
    packet[3] = static_cast<uint8_t>(label);
}

// IPv6 header around an ICMPv6 message whose checksum (over the
// pseudo-header of both addresses) is then set.
Bytes ip6Around(const Bytes &from, const Bytes &to, Bytes icmp)
{
    Bytes packet(Ip6::headerLength, 0);
    packet[0] = 0x60;
    setFlowLabel(packet, forgedIpId);
    put16(packet, 4, static_cast<uint16_t>(icmp.size()));
    packet[6] = 58;
    packet[7] = 64;
    std::copy(from.begin(), from.end(), packet.begin() + 8);
    std::copy(to.begin(), to.end(), packet.begin() + 24);
    Bytes pseudo = from;
    pseudo.insert(pseudo.end(), to.begin(), to.end());
    const Bytes lengthAndNext{0, 0, static_cast<uint8_t>(icmp.size() >> 8),
                              static_cast<uint8_t>(icmp.size()), 0, 0, 0, 58};
    pseudo.insert(pseudo.end(), lengthAndNext.begin(), lengthAndNext.end());
    put16(icmp, 2, 0);
    pseudo.insert(pseudo.end(), icmp.begin(), icmp.end());
    put16(icmp, 2, checksum(pseudo.data(), pseudo.size()));
    packet.insert(packet.end(), icmp.begin(), icmp.end());
    return packet;
}

class Forger {
public:
    Forger(int sender, uint32_t router, int sender6, Bytes router6)
        : sender_(sender), router_(router), sender6_(sender6), router6_(std::move(router6))
    {
    }

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
        replayLate(false);
    }

    void request6(const Ip6 &ip)
    {
        ++requests_;
        const Bytes requester = ip.source(), destination = ip.destination();
        const size_t icmpAt = Ip6::headerLength;
        const uint16_t id = read16(ip.bytes, icmpAt + 4), sequence = read16(ip.bytes, icmpAt + 6);
        const Bytes echo(ip.bytes.begin() + static_cast<long>(icmpAt), ip.bytes.end());
        for (const auto &[replyId, replySequence] :
             {std::pair{id ^ 0x5a5a, sequence}, {id, sequence - 1}, {id, sequence + farAhead}}) {
            Bytes reply = echo;
            reply[0] = 129;
            put16(reply, 4, static_cast<uint16_t>(replyId));
            put16(reply, 6, static_cast<uint16_t>(replySequence));
            forge6(ip6Around(destination, requester, reply));
        }
        // Routers quote as much as fits in 1280 bytes.
        const Bytes quote(ip.bytes.begin(),
                          ip.bytes.begin() + static_cast<long>(std::min<size_t>(ip.bytes.size(), 1232)));
        for (const auto &[type, code] : {std::pair{3, 0}, {1, 3}, {2, 0}}) {
            for (int lie = 0; lie < 5; ++lie) {
                Bytes q = quote;
                switch (lie) {
                case 0: put16(q, icmpAt + 4, static_cast<uint16_t>(id + 1)); break;
                case 1: put16(q, icmpAt + 6, static_cast<uint16_t>(sequence + farAhead)); break;
                case 2: q[39] ^= 0x40; break; // another destination
                case 3: q[6] = 17; break;     // UDP
                case 4: q.resize(icmpAt + 4); break;
                }
                Bytes error(8, 0);
                error[0] = static_cast<uint8_t>(type);
                error[1] = static_cast<uint8_t>(code);
                if (type == 2)
                    put16(error, 6, 1280);
                error.insert(error.end(), q.begin(), q.end());
                forge6(ip6Around(router6_, requester, error));
            }
        }
        replayLate(true);
    }

    void answer6(const Ip6 &ip)
    {
        Bytes copy = ip.bytes;
        setFlowLabel(copy, forgedIpId);
        for (int i = 0; i < 2; ++i) {
            send6(copy);
            ++duplicates_;
        }
        if (!answers_.empty() && answers_.back().empty())
            answers_.back() = copy;
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
    // Late: the genuine answers of one and of three requests ago.
    void replayLate(bool ipv6)
    {
        for (size_t back : {size_t(1), size_t(3)}) {
            if (answers_.size() >= back && !answers_[answers_.size() - back].empty()) {
                const Bytes &late = answers_[answers_.size() - back];
                if (ipv6)
                    send6(late);
                else
                    send(late);
                ++late_;
            }
        }
        answers_.emplace_back(); // this request's answer, once it passes
        if (answers_.size() > 4)
            answers_.pop_front();
    }
    void forge6(const Bytes &packet)
    {
        send6(packet);
        ++forged_;
    }
    void send6(const Bytes &packet) const
    {
        if (packet.size() < Ip6::headerLength || packet[0] >> 4 != 6)
            return; // an IPv4 answer kept from before a switch of family
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(&to.sin6_addr, &packet[24], 16);
        if (sendto(sender6_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to) < 0)
            std::perror("forger: sendto (IPv6)");
    }
    void forge(const Bytes &packet)
    {
        send(packet);
        ++forged_;
    }
    void send(const Bytes &packet) const
    {
        if (packet.size() < 20 || packet[0] >> 4 != 4)
            return; // an IPv6 answer kept from before a switch of family
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr, &packet[16], 4);
        if (sendto(sender_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to) < 0)
            std::perror("forger: sendto");
    }

    int sender_;
    uint32_t router_;
    int sender6_;
    Bytes router6_;
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

// A global IPv6 address of the interface, the source of the forged ICMPv6 errors.
Bytes interfaceAddress6(const char *name)
{
    ifaddrs *list = nullptr;
    Bytes address(16, 0);
    if (getifaddrs(&list) != 0)
        return address;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET6
            || std::strcmp(entry->ifa_name, name) != 0)
            continue;
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(entry->ifa_addr);
        if (IN6_IS_ADDR_LINKLOCAL(&in6->sin6_addr))
            continue;
        std::memcpy(address.data(), &in6->sin6_addr, 16);
        break;
    }
    freeifaddrs(list);
    return address;
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
    // IPPROTO_RAW: the IPv6 header is ours too
    const int sender6 = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (index == 0 || seconds <= 0 || sniffer < 0 || sender < 0 || sender6 < 0) {
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
    Forger forger(sender, interfaceAddress(sender, argv[1]), sender6, interfaceAddress6(argv[1]));
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
        if (length <= 0)
            continue;
        const bool outgoing = from.sll_pkttype == PACKET_OUTGOING;
        if (from.sll_protocol == htons(ETH_P_IPV6)) {
            const auto ip6 = parseIp6(buffer.data(), static_cast<size_t>(length));
            if (!ip6 || ip6->flowLabel() == forgedIpId)
                continue;
            const uint8_t type = ip6->icmpType();
            if (!outgoing && type == 128)
                forger.request6(*ip6);
            else if (outgoing && (type == 129 || (type >= 1 && type <= 3)))
                forger.answer6(*ip6);
            continue;
        }
        if (from.sll_protocol != htons(ETH_P_IP))
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
