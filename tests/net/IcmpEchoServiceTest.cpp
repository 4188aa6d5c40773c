#include "net/IcmpEchoService.h"
#include "net/IcmpPacket.h"
#include "net/RoundTrip.h"
#include "net/SendStamps.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/icmp6.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <utility>

// These tests move the test process into a network namespace of its own, so
// every packet stays on that namespace's loopback and its sysctls can be set
// freely. They need root.
namespace {

using Backend = IcmpEchoService::Backend;
using Clock = std::chrono::steady_clock;

constexpr int loMtu = 1500;
const uint32_t loopback = inet_addr("127.0.0.1");
const IpAddress loopbackAddress = IpAddress::fromIpv4(loopback);

bool writeSysctl(const char *name, const char *value)
{
    std::ofstream file(std::string("/proc/sys/net/ipv4/") + name);
    file << value;
    file.close();
    return static_cast<bool>(file);
}

bool raiseLoopback()
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    bool done = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    done = done && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    request.ifr_mtu = loMtu;
    done = done && ioctl(fd, SIOCSIFMTU, &request) == 0;
    close(fd);
    return done;
}

// Empty when the namespace is ready, else why the tests skip.
std::string enterThrowawayNamespace()
{
    if (geteuid() != 0)
        return "not root: the loopback echo tests need a network namespace of their own";
    if (unshare(CLONE_NEWNET) != 0)
        return std::string("unshare(CLONE_NEWNET) failed: ") + strerror(errno);
    if (!writeSysctl("ping_group_range", "0 2147483647") || !raiseLoopback())
        return "cannot set up the throwaway namespace's loopback";
    return {};
}

const std::string &namespaceProblem()
{
    static const std::string problem = enterThrowawayNamespace();
    return problem;
}

} // namespace

// Names the backend in the test list.
void PrintTo(IcmpEchoService::Backend backend, std::ostream *out)
{
    *out << (backend == IcmpEchoService::Backend::datagram ? "datagram" : "raw");
}

namespace {

class EchoLoopback : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override
    {
        if (!namespaceProblem().empty())
            GTEST_SKIP() << namespaceProblem();
        handle = service.openHandle(loopbackAddress);
        ASSERT_TRUE(handle) << service.lastOpenFailure().reason;
    }
    void TearDown() override
    {
        writeSysctl("icmp_echo_ignore_all", "0");
        writeSysctl("../ipv6/icmp/echo_ignore_all", "0");
    }

    IcmpEchoReply send(uint32_t destination, size_t payloadSize, uint8_t flags, uint32_t timeoutMs)
    {
        const std::vector<uint8_t> payload(payloadSize, 'a');
        IcmpEchoReply reply;
        const uint32_t count =
            handle->sendEcho(IpAddress::fromIpv4(destination), payload, {64, 0, flags}, reply,
                             timeoutMs);
        EXPECT_EQ(count, reply.replyCount);
        return reply;
    }

    IcmpEchoService service{GetParam()};
    std::unique_ptr<EchoHandle> handle;
};

TEST_P(EchoLoopback, EchoReplyHasStatusZeroSourceAndTtl)
{
    for (int i = 0; i < 3; ++i) { // sequence numbers move on per send
        const IcmpEchoReply reply = send(loopback, 32, 0, 2000);
        EXPECT_EQ(reply.replyCount, 1u);
        EXPECT_EQ(reply.status, IpStatus::success);
        EXPECT_EQ(reply.address, loopbackAddress);
        EXPECT_EQ(reply.ttl, 64);
        EXPECT_LT(reply.roundTripTime, 2000u);
        // The kernel stamps' microseconds; the whole milliseconds are their truncation.
        ASSERT_TRUE(reply.roundTripUs);
        EXPECT_EQ(*reply.roundTripUs / 1000, reply.roundTripTime);
    }
}

// The same service over ICMPv6, on the same handle kinds: replies from ::1
// with their hop limit; with don't fragment a packet of the loopback's MTU
// (headers included) passes and one byte more is too big, which without don't
// fragment goes out in fragments and is answered.
TEST_P(EchoLoopback, Ipv6EchoAnswersAndKeepsDontFragment)
{
    const IpAddress local6 = *IpAddress::parse("::1");
    handle.reset();
    auto handle6 = service.openHandle(local6);
    ASSERT_TRUE(handle6) << service.lastOpenFailure().reason;
    const auto send6 = [&](size_t packetSize, uint8_t flags) {
        const std::vector<uint8_t> payload(packetSize - 48, 'a');
        IcmpEchoReply reply;
        EXPECT_EQ(handle6->sendEcho(local6, payload, {64, 0, flags}, reply, 2000), reply.replyCount);
        return reply;
    };
    for (int i = 0; i < 3; ++i) {
        const IcmpEchoReply reply = send6(100, 0);
        EXPECT_EQ(reply.replyCount, 1u);
        EXPECT_EQ(reply.status, IpStatus::success);
        EXPECT_EQ(reply.address, local6);
        EXPECT_EQ(reply.ttl, 64);
    }
    const uint8_t df = IpOptionInformation::dontFragment;
    EXPECT_EQ(send6(loMtu, df).status, IpStatus::success);
    const IcmpEchoReply tooBig = send6(loMtu + 1, df);
    EXPECT_EQ(tooBig.replyCount, 0u);
    EXPECT_EQ(tooBig.status, IpStatus::packetTooBig);
    EXPECT_EQ(send6(loMtu + 1, 0).status, IpStatus::success);
    EXPECT_EQ(send6(120, df).status, IpStatus::success);
}

// The request as the wire sees it, read by a raw socket of the test's own.
struct WireRequest {
    uint8_t tos = 0, ttl = 0;
    bool dontFragment = false;
    size_t length = 0;
    std::vector<uint8_t> quote; // IP header and the first 8 bytes of ICMP, as errors quote it
};

std::optional<WireRequest> nextRequest(int sniffer)
{
    std::vector<uint8_t> packet(65536);
    for (;;) {
        pollfd entry{sniffer, POLLIN, 0};
        if (poll(&entry, 1, 1000) <= 0)
            return std::nullopt;
        const ssize_t length = recv(sniffer, packet.data(), packet.size(), 0);
        const size_t ihl = static_cast<size_t>(packet[0] & 0x0f) * 4;
        if (length < 28 || packet[ihl] != IcmpPacket::typeEchoRequest)
            continue;
        return WireRequest{packet[1], packet[8], (packet[6] & 0x40) != 0,
                           static_cast<size_t>(packet[2] << 8 | packet[3]),
                           {packet.begin(), packet.begin() + static_cast<long>(ihl + 8)}};
    }
}

// Options as one handle's requests change them: the socket keeps TOS and
// don't fragment between requests, so a change (back to 0 too) must reach
// the wire as well as the first setting.
const IpOptionInformation wireOptions[] = {
    {37, 0xb8, 0}, {38, 0xb8, IpOptionInformation::dontFragment}, {39, 0, 0},
    {40, 0x10, IpOptionInformation::dontFragment}, {41, 0x10, 0}};

TEST_P(EchoLoopback, TtlTosSizeAndDontFragmentReachTheWire)
{
    const int sniffer = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(sniffer, 0);
    const std::vector<uint8_t> payload(100, 'a');
    for (const IpOptionInformation &options : wireOptions) {
        IcmpEchoReply reply;
        handle->sendEcho(loopbackAddress, payload, options, reply, 2000);
        EXPECT_EQ(reply.status, IpStatus::success);
        const auto request = nextRequest(sniffer);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->ttl, options.ttl);
        EXPECT_EQ(request->tos, options.tos);
        EXPECT_EQ(request->length, 128u);
        EXPECT_EQ(request->dontFragment, options.flags != 0);
    }
    close(sniffer);
}

// The same over ICMPv6: a raw socket of the test's own reads each echo
// request with its hop limit and traffic class as control messages.
TEST_P(EchoLoopback, Ipv6HopLimitAndTrafficClassReachTheWire)
{
    const IpAddress local6 = *IpAddress::parse("::1");
    auto handle6 = service.openHandle(local6);
    ASSERT_TRUE(handle6) << service.lastOpenFailure().reason;
    const int sniffer = socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);
    ASSERT_GE(sniffer, 0);
    const int on = 1;
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
    ASSERT_EQ(setsockopt(sniffer, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter), 0);
    ASSERT_EQ(setsockopt(sniffer, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on), 0);
    ASSERT_EQ(setsockopt(sniffer, IPPROTO_IPV6, IPV6_RECVTCLASS, &on, sizeof on), 0);
    const std::vector<uint8_t> payload(100, 'a');
    for (const IpOptionInformation &options : wireOptions) {
        IcmpEchoReply reply;
        handle6->sendEcho(local6, payload, options, reply, 2000);
        EXPECT_EQ(reply.status, IpStatus::success);
        uint8_t data[2048];
        alignas(cmsghdr) char control[256];
        iovec part{data, sizeof data};
        msghdr message{nullptr, 0, &part, 1, control, sizeof control, 0};
        pollfd entry{sniffer, POLLIN, 0};
        ASSERT_EQ(poll(&entry, 1, 1000), 1);
        EXPECT_EQ(recvmsg(sniffer, &message, 0), 108);
        int seen[2] = {-1, -1}; // hop limit, traffic class
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            const bool tclass = c->cmsg_type == IPV6_TCLASS;
            if (c->cmsg_level == IPPROTO_IPV6 && (tclass || c->cmsg_type == IPV6_HOPLIMIT))
                std::memcpy(&seen[tclass ? 1 : 0], CMSG_DATA(c), sizeof(int));
        }
        EXPECT_EQ(seen[0], options.ttl);
        EXPECT_EQ(seen[1], options.tos);
    }
    close(sniffer);
}

TEST_P(EchoLoopback, OversizeProbePassesFragmentedButNotWithDontFragment)
{
    const size_t payload = loMtu; // 1528-byte datagram
    EXPECT_EQ(send(loopback, payload, 0, 2000).status, IpStatus::success);
    const IcmpEchoReply tooBig = send(loopback, payload, IpOptionInformation::dontFragment, 2000);
    EXPECT_EQ(tooBig.replyCount, 0u);
    EXPECT_EQ(tooBig.status, IpStatus::packetTooBig);
    // The local error left nothing behind that spoils the next request.
    EXPECT_EQ(send(loopback, loMtu - 28, IpOptionInformation::dontFragment, 2000).status,
              IpStatus::success);
}

// An ICMP message, its checksum filled in, from the raw socket to the loopback.
void sendToLoopback(int raw, std::vector<uint8_t> icmp)
{
    icmp[2] = icmp[3] = 0;
    const uint16_t sum = IcmpPacket::internetChecksum(icmp);
    icmp[2] = static_cast<uint8_t>(sum >> 8);
    icmp[3] = static_cast<uint8_t>(sum);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = loopback;
    sendto(raw, icmp.data(), icmp.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
}

// A host-unreachable error about a request, as a router would send it.
void sendHostUnreachable(int raw, const std::vector<uint8_t> &quote)
{
    std::vector<uint8_t> error = {IcmpPacket::typeDestUnreachable, 1, 0, 0, 0, 0, 0, 0};
    error.insert(error.end(), quote.begin(), quote.end());
    sendToLoopback(raw, std::move(error));
}

void sendEchoReply(int raw, uint16_t id, uint16_t sequence)
{
    auto reply = IcmpPacket::buildEchoRequest(id, sequence, std::vector<uint8_t>(32, 'a'));
    reply[0] = IcmpPacket::typeEchoReply;
    sendToLoopback(raw, std::move(reply));
}

// An error that comes after its request gave up stays queued on the socket
// (and, on the datagram socket, sets the socket error that would fail the
// next send); the next request on that socket still gets its own answer.
TEST_P(EchoLoopback, ALateErrorOfAnEarlierRequestSpoilsNoLaterOne)
{
    const int sniffer = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(sniffer, 0);
    ASSERT_TRUE(writeSysctl("icmp_echo_ignore_all", "1"));
    for (int round = 0; round < 2; ++round) { // on the same handle, then on a reopened one
        uint8_t seen[2048];
        while (recv(sniffer, seen, sizeof seen, MSG_DONTWAIT) > 0) {
        }
        EXPECT_EQ(send(loopback, 32, 0, 30).status, IpStatus::reqTimedOut);
        const auto request = nextRequest(sniffer);
        ASSERT_TRUE(request);
        sendHostUnreachable(sniffer, request->quote);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (round == 1) {
            handle.reset();
            handle = service.openHandle(loopbackAddress);
        }
        writeSysctl("icmp_echo_ignore_all", "0");
        EXPECT_EQ(send(loopback, 32, 0, 2000).status, IpStatus::success) << "round " << round;
        writeSysctl("icmp_echo_ignore_all", "1");
    }
    close(sniffer);
}

size_t openFds()
{
    const std::filesystem::directory_iterator fds("/proc/self/fd");
    return static_cast<size_t>(std::distance(begin(fds), end(fds)));
}

// A trace opens and closes a handle per probe; a datagram socket behind it is
// reused, with the last request's options and leftovers gone, and closed at
// the end. A raw socket, which queues all ICMP of the namespace, is not kept.
TEST_P(EchoLoopback, ClosedHandlesDatagramSocketServesTheNextOpenUntilSparesClose)
{
    const size_t kept = GetParam() == Backend::datagram ? 1 : 0;
    const size_t withHandle = openFds();
    EXPECT_EQ(send(loopback, loMtu, IpOptionInformation::dontFragment, 2000).status,
              IpStatus::packetTooBig);
    for (int i = 0; i < 5; ++i) {
        handle = service.openHandle(loopbackAddress); // the old one closes after the new one opened
        ASSERT_TRUE(handle);
        handle.reset();
        handle = service.openHandle(loopbackAddress);
        ASSERT_TRUE(handle);
        EXPECT_LE(openFds(), withHandle + 1);
        // without DF the same size passes fragmented: no DF left from before
        EXPECT_EQ(send(loopback, loMtu, 0, 2000).status, IpStatus::success);
        EXPECT_EQ(send(loopback, 32, 0, 2000).status, IpStatus::success);
    }
    handle.reset();
    EXPECT_EQ(openFds(), withHandle - 1 + kept);
    service.closeSpares();
    EXPECT_EQ(openFds(), withHandle - 1);
}

// A send the kernel refuses never left the machine, for either family.
TEST_P(EchoLoopback, NoRouteIsNotSentWithItsErrno)
{
    handle.reset();
    for (const char *text : {"192.0.2.7", "2001:db8::7"}) {
        const IpAddress destination = *IpAddress::parse(text);
        auto refused = service.openHandle(destination);
        ASSERT_TRUE(refused) << service.lastOpenFailure().reason;
        IcmpEchoReply reply;
        EXPECT_EQ(refused->sendEcho(destination, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply,
                                    2000),
                  0u);
        EXPECT_EQ(reply.status, IpStatus::notSent) << text;
        EXPECT_EQ(reply.sendErrno, ENETUNREACH) << text;
    }
}

TEST_P(EchoLoopback, SilenceTimesOutOnTime)
{
    ASSERT_TRUE(writeSysctl("icmp_echo_ignore_all", "1"));
    const auto start = Clock::now();
    const IcmpEchoReply reply = send(loopback, 32, 0, 300);
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(reply.replyCount, 0u);
    EXPECT_EQ(reply.status, IpStatus::reqTimedOut);
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
}

// Foreign echo replies arrive every few ms during the wait; the deadline holds.
TEST_P(EchoLoopback, ForeignRepliesNeitherMatchNorRestartTheWait)
{
    ASSERT_TRUE(writeSysctl("icmp_echo_ignore_all", "1"));
    const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(raw, 0);
    std::atomic<bool> stop{false};
    std::thread noise([&] {
        for (uint16_t seq = 0; !stop; ++seq) {
            sendEchoReply(raw, 0x0bad, seq);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
    });
    const auto start = Clock::now();
    const IcmpEchoReply reply = send(loopback, 32, 0, 300);
    const auto elapsed = Clock::now() - start;
    stop = true;
    noise.join();
    close(raw);
    EXPECT_EQ(reply.replyCount, 0u);
    EXPECT_EQ(reply.status, IpStatus::reqTimedOut);
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
}

TEST_P(EchoLoopback, IdleHookRunsWhileWaitingAndCanAbandon)
{
    ASSERT_TRUE(writeSysctl("icmp_echo_ignore_all", "1"));
    int calls = 0;
    service.setIdleHook([&] { return ++calls < 3; }); // reaches the open handle too
    const auto start = Clock::now();
    const IcmpEchoReply reply = send(loopback, 32, 0, 20000);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(reply.replyCount, 0u);
    EXPECT_EQ(reply.status, IpStatus::reqTimedOut);

    calls = 0;
    service.setIdleHook([&] { return ++calls > 0; });
    EXPECT_EQ(send(loopback, 32, 0, 200).status, IpStatus::reqTimedOut);
    EXPECT_GE(calls, 5); // about one per 12 ms of the 200

    // the time-out of a request that was never sent passes the same way
    calls = 0;
    const auto waitStart = Clock::now();
    service.waitIdle(200, [] { return true; });
    EXPECT_GE(Clock::now() - waitStart, std::chrono::milliseconds(200));
    EXPECT_GE(calls, 5);
    calls = 0;
    service.waitIdle(20000, [&] { return calls < 3; });
    EXPECT_EQ(calls, 3) << "Stop ends it";
}

// Neither family answers echo requests while silenced.
bool silence(bool on)
{
    const char *value = on ? "1" : "0";
    return writeSysctl("icmp_echo_ignore_all", value)
           && writeSysctl("../ipv6/icmp/echo_ignore_all", value);
}

uint32_t medianOf(std::vector<uint32_t> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Probes in turn: one settled as soon as its reply is in, one left with its
// send stamp queued and settled after all of them, over both families. Each
// settles to the kernel's send stamp, which is later than the clock read
// before the send (a stamp matched to the wrong send would be refused and
// leave the clock's time), and the two halves' times agree.
TEST_P(EchoLoopback, SendStampsReadLateGiveTheTimesOfStampsReadAtOnce)
{
    for (const IpAddress &to : {loopbackAddress, *IpAddress::parse("::1")}) {
        auto toHandle = service.openHandle(to);
        ASSERT_TRUE(toHandle);
        std::vector<IcmpEchoReply> late;
        std::vector<uint32_t> atOnceUs, lateUs;
        for (int i = 0; i < 100; ++i) {
            IcmpEchoReply reply;
            toHandle->sendEcho(to, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply, 2000);
            ASSERT_EQ(reply.status, IpStatus::success) << to.text();
            ASSERT_TRUE(reply.pendingStamp && reply.roundTripUs) << "the stamp is left queued";
            if (i % 2 == 0) {
                late.push_back(reply);
                continue;
            }
            settleSendStamp(reply);
            atOnceUs.push_back(*reply.roundTripUs);
        }
        size_t earlier = 0;
        for (IcmpEchoReply &reply : late) {
            const uint32_t clockUs = *reply.roundTripUs;
            settleSendStamp(reply);
            EXPECT_FALSE(reply.pendingStamp);
            ASSERT_TRUE(reply.roundTripUs);
            EXPECT_LE(*reply.roundTripUs, clockUs);
            EXPECT_EQ(*reply.roundTripUs / 1000, reply.roundTripTime);
            earlier += *reply.roundTripUs < clockUs;
            lateUs.push_back(*reply.roundTripUs);
        }
        EXPECT_GT(earlier, late.size() / 2) << to.text() << ": the kernel's stamps were found";
        EXPECT_NEAR(medianOf(lateUs), medianOf(atOnceUs), 20.0) << to.text();
    }
}

// Stamps left queued keep the error queue from being empty, which ends every
// poll at once; the wait still sleeps an idle slice at a time (about 17 hook
// calls in a 200 ms time-out), calls the long-wait hook once, and a Stop (the
// idle hook's false) ends a 20 s wait within its slice. Both families.
TEST_P(EchoLoopback, QueuedStampsNeitherSpinTheWaitNorHoldUpStop)
{
    for (const IpAddress &to : {loopbackAddress, *IpAddress::parse("::1")}) {
        auto toHandle = service.openHandle(to);
        ASSERT_TRUE(toHandle);
        IcmpEchoReply reply;
        for (int i = 0; i < 3; ++i) {
            toHandle->sendEcho(to, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply, 2000);
            ASSERT_TRUE(reply.pendingStamp) << to.text();
        }
        ASSERT_TRUE(silence(true));
        int calls = 0, longWaits = 0;
        service.setIdleHook([&] { return ++calls > 0; });
        service.setLongWaitHook([&] { ++longWaits; });
        toHandle->sendEcho(to, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply, 200);
        EXPECT_EQ(reply.status, IpStatus::reqTimedOut);
        EXPECT_GE(calls, 5) << to.text();
        EXPECT_LE(calls, 30) << to.text();
        EXPECT_EQ(longWaits, 1);
        calls = 0;
        service.setIdleHook([&] { return ++calls < 3; });
        const auto start = Clock::now();
        toHandle->sendEcho(to, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply, 20000);
        EXPECT_EQ(reply.status, IpStatus::reqTimedOut);
        EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100)) << to.text();
        ASSERT_TRUE(silence(false));
        service.setIdleHook({});
        service.setLongWaitHook({});
    }
}

// Id and sequence of the next echo request on the wire.
std::optional<std::pair<uint16_t, uint16_t>> nextRequestIds(int sniffer)
{
    const auto request = nextRequest(sniffer);
    if (!request)
        return std::nullopt;
    const auto &q = request->quote;
    const size_t ihl = q.size() - 8;
    return std::pair{static_cast<uint16_t>(q[ihl + 4] << 8 | q[ihl + 5]),
                     static_cast<uint16_t>(q[ihl + 6] << 8 | q[ihl + 7])};
}

// Answers the echo request of this id and sequence, as the kernel would.
// The window may hold the wait for a while (an idle hook that blocks 50 ms)
// while the reply comes in: the time runs to its arrival, not to the read,
// and a reply that came in time is no time-out even when it is read after
// the deadline.
TEST_P(EchoLoopback, ReplyDuringABlockingIdleHookCountsFromItsArrival)
{
    const int sniffer = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(sniffer, 0);
    ASSERT_TRUE(writeSysctl("icmp_echo_ignore_all", "1"));
    service.setIdleHook([&] {
        if (const auto ids = nextRequestIds(sniffer)) // the first slice, about 12 ms in
            sendEchoReply(sniffer, ids->first, ids->second);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return true;
    });
    for (const uint32_t timeoutMs : {1000u, 30u}) {
        uint8_t seen[2048];
        while (recv(sniffer, seen, sizeof seen, MSG_DONTWAIT) > 0) {
        }
        const IcmpEchoReply reply = send(loopback, 32, 0, timeoutMs);
        EXPECT_EQ(reply.status, IpStatus::success) << "time-out " << timeoutMs;
        EXPECT_LT(reply.roundTripTime, 30u) << "time-out " << timeoutMs;
    }
    close(sniffer);
}

// "Administratively prohibited" quoting a request 127.0.0.1 -> 127.0.0.1 of
// this id and sequence: the kernel hands it to every raw ICMP socket and to
// the datagram socket of that id, and leaves a socket error on each.
std::vector<uint8_t> prohibitedError(uint16_t id, uint16_t sequence)
{
    const auto echo = IcmpPacket::buildEchoRequest(id, sequence, std::vector<uint8_t>(32, 'a'));
    std::vector<uint8_t> error(8 + 20 + echo.size(), 0);
    error[0] = IcmpPacket::typeDestUnreachable;
    error[1] = 13;
    uint8_t *quote = &error[8];
    quote[0] = 0x45;
    quote[3] = static_cast<uint8_t>(20 + echo.size());
    quote[8] = 64;
    quote[9] = 1;
    std::memcpy(quote + 12, &loopback, 4);
    std::memcpy(quote + 16, &loopback, 4);
    std::copy(echo.begin(), echo.end(), quote + 20);
    const uint16_t sum = IcmpPacket::internetChecksum(error);
    error[2] = static_cast<uint8_t>(sum >> 8);
    error[3] = static_cast<uint8_t>(sum);
    return error;
}

// Errors for other requests keep arriving, as under someone else's ping
// flood towards a filtered host: none of them may fail one of our sends.
TEST_P(EchoLoopback, ErrorsForOtherRequestsNeverFailASend)
{
    const int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(raw, 0);
    EXPECT_EQ(send(loopback, 32, 0, 2000).status, IpStatus::success);
    const auto ids = nextRequestIds(raw);
    ASSERT_TRUE(ids);
    const auto error = prohibitedError(ids->first, static_cast<uint16_t>(ids->second + 0x8000));
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = loopback;
        while (!stop) {
            sendto(raw, error.data(), error.size(), 0, reinterpret_cast<sockaddr *>(&to),
                   sizeof to);
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        }
    });
    int failed = 0;
    for (int i = 0; i < 1000; ++i)
        failed += send(loopback, 32, 0, 2000).status != IpStatus::success;
    stop = true;
    flood.join();
    close(raw);
    EXPECT_EQ(failed, 0) << "of 1000 sends";
}

INSTANTIATE_TEST_SUITE_P(Backends, EchoLoopback, testing::Values(Backend::datagram, Backend::raw),
                         [](const auto &info) {
                             return info.param == Backend::datagram ? "datagram" : "raw";
                         });

// Where ping sockets are closed, the raw socket opened while the process was
// privileged serves every handle (one id on the wire, sequences running on),
// and closing handles and spares leaves it open; the raw ICMPv6 socket opened
// beside it serves IPv6 handles; where they are open, nothing is opened early.
TEST(PrivilegedSockets, HeldRawSocketServesEveryHandle)
{
    if (!namespaceProblem().empty())
        GTEST_SKIP() << namespaceProblem();
    ASSERT_TRUE(writeSysctl("ping_group_range", "1 0"));
    IcmpEchoService service(Backend::automatic, PrivilegedSockets::open());
    ASSERT_TRUE(writeSysctl("ping_group_range", "0 2147483647"));
    EXPECT_EQ(PrivilegedSockets::open().takeRawIcmp().fd, -1);
    EXPECT_EQ(PrivilegedSockets::open().takeRawIcmp6().fd, -1);
    const int sniffer = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    ASSERT_GE(sniffer, 0);
    std::vector<std::pair<uint16_t, uint16_t>> wire;
    for (int i = 0; i < 2; ++i) {
        auto handle = service.openHandle(loopbackAddress);
        ASSERT_TRUE(handle);
        IcmpEchoReply reply;
        handle->sendEcho(loopbackAddress, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply, 2000);
        EXPECT_EQ(reply.status, IpStatus::success);
        wire.push_back(nextRequestIds(sniffer).value_or(std::pair{0, 0}));
        handle.reset();
        service.closeSpares();
    }
    close(sniffer);
    EXPECT_EQ(wire[1].first, wire[0].first) << "one socket, one id";
    EXPECT_EQ(wire[1].second, static_cast<uint16_t>(wire[0].second + 1));
    ASSERT_TRUE(writeSysctl("ping_group_range", "1 0")); // no ICMPv6 datagram socket either
    const IpAddress local6 = *IpAddress::parse("::1");
    auto handle6 = service.openHandle(local6);
    ASSERT_TRUE(handle6);
    IcmpEchoReply reply6;
    handle6->sendEcho(local6, std::vector<uint8_t>(32, 'a'), {64, 0, 0}, reply6, 2000);
    ASSERT_TRUE(writeSysctl("ping_group_range", "0 2147483647"));
    EXPECT_EQ(reply6.status, IpStatus::success);
    EXPECT_EQ(reply6.address, local6);
    ASSERT_TRUE(reply6.roundTripUs);
    EXPECT_EQ(*reply6.roundTripUs / 1000, reply6.roundTripTime);
}

// The kernel's stamps and the send time are on the real-time clock, which
// can be stepped while a request waits: a difference that cannot be (below
// zero or past the time-out) gives way to the monotonic time of the read.
TEST(RoundTrip, ASteppedClockFallsBackToTheMonotonicTime)
{
    using std::chrono::nanoseconds;
    using namespace std::chrono_literals;
    const nanoseconds sent = 1765000000s, read = 7ms, timeout = 2s;
    struct Case {
        const char *what;
        std::optional<nanoseconds> arrival;
        nanoseconds expected;
    };
    const Case cases[] = {
        {"stamp in time", sent + 3ms + 700us, 3ms + 700us},
        {"stamp at the time-out", sent + 2s, 2s},
        {"no stamp", std::nullopt, read},
        {"clock stepped back", sent - 1h, read},
        {"clock stepped forward", sent + 1h, read},
        {"past the time-out by 1 ns", sent + 2s + 1ns, read},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(RoundTrip::measure(c.arrival, sent, read, timeout), c.expected) << c.what;
        // only the stamps' own difference is a precise time
        EXPECT_EQ(RoundTrip::stamped(c.arrival, sent, timeout).has_value(), c.expected != read)
            << c.what;
    }
}

// The error queue drops stamps silently when the receive buffer is full. A
// batch read after a dropped one settles the others from their stamps; the
// dropped one, like one of an earlier numbering (stamped before its send),
// keeps the time from the clock read before its send; one read serves all.
TEST(SendStamps, ABatchAfterADroppedStampSettlesTheRest)
{
    using std::chrono::nanoseconds;
    using namespace std::chrono_literals;
    const nanoseconds start = 1765000000s;
    int reads = 0;
    std::shared_ptr<SendStamps> stamps;
    stamps = std::make_shared<SendStamps>([&] {
        ++reads;
        for (const uint32_t key : {0u, 1u, 3u}) // 2 was dropped
            stamps->record(key, start + key * 1ms + 5us);
        stamps->record(4, start + 4ms - 1s);
    });
    const uint32_t expectedUs[] = {100, 100, 105, 100, 105};
    std::vector<IcmpEchoReply> replies(std::size(expectedUs));
    for (uint32_t key = 0; key < replies.size(); ++key) {
        const nanoseconds sentReal = start + key * 1ms;
        replies[key].roundTripUs = 105; // from the clock read before the send
        replies[key].pendingStamp = PendingSendStamp{stamps, key, sentReal, sentReal + 105us, 2s};
    }
    for (uint32_t key = 0; key < replies.size(); ++key) {
        settleSendStamp(replies[key]);
        EXPECT_EQ(replies[key].roundTripUs, expectedUs[key]) << "key " << key;
        EXPECT_FALSE(replies[key].pendingStamp);
    }
    EXPECT_EQ(reads, 1);
}

TEST(EchoOpenFailure, NamesPingGroupRangeWhenTheDatagramSocketIsRefused)
{
    if (!namespaceProblem().empty())
        GTEST_SKIP() << namespaceProblem();
    ASSERT_TRUE(writeSysctl("ping_group_range", "1 0"));
    IcmpEchoService service(Backend::datagram);
    const bool opened = service.openHandle(loopbackAddress) != nullptr;
    writeSysctl("ping_group_range", "0 2147483647");
    EXPECT_FALSE(opened);
    const EchoOpenFailure failure = service.lastOpenFailure();
    EXPECT_EQ(failure.datagramErrno, EACCES);
    EXPECT_EQ(failure.rawErrno, 0);
    EXPECT_NE(failure.reason.find("ping_group_range does not admit group"), std::string::npos)
        << failure.reason;
    EXPECT_EQ(failure.reason.find('\n'), std::string::npos);
    // The automatic choice falls back to the raw socket.
    ASSERT_TRUE(writeSysctl("ping_group_range", "1 0"));
    IcmpEchoService automatic;
    EXPECT_TRUE(automatic.openHandle(loopbackAddress));
    writeSysctl("ping_group_range", "0 2147483647");
}

} // namespace
