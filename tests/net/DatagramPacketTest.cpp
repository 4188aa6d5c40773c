#include "net/DatagramPacket.h"
#include "net/EchoService.h"
#include "tests/net/PacketBytes.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <memory>
#include <vector>

namespace {

using namespace PacketBytes;
using DatagramPacket::parseErrorQueueEntry;
using DatagramPacket::parseReply;

const uint32_t target = inet_addr("192.0.2.7");
const uint32_t router = inet_addr("198.51.100.200");
constexpr uint16_t ourSeq = 0x0102;

Bytes name(uint32_t address, sa_family_t family = AF_INET)
{
    sockaddr_in in{};
    in.sin_family = family;
    in.sin_addr.s_addr = address;
    return bytesOf(in);
}

Bytes ttl(int value)
{
    return cmsg(IP_TTL, bytesOf(value));
}

struct Error {
    uint8_t type = 11, code = 0;
    uint32_t info = 0;
    uint8_t origin = SO_EE_ORIGIN_ICMP;
};

// The extended error with the offender after it, as IP_RECVERR brings it.
Bytes recvErr(const Error &e, bool withOffender = true)
{
    sock_extended_err error{};
    error.ee_errno = EHOSTUNREACH;
    error.ee_origin = e.origin;
    error.ee_type = e.type;
    error.ee_code = e.code;
    error.ee_info = e.info;
    return cmsg(IP_RECVERR, withOffender ? bytesOf(error) + name(router) : bytesOf(error));
}

Bytes first(const Bytes &bytes, size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n));
}

Bytes echo(uint8_t type, uint16_t seq = ourSeq)
{
    return echoMessage(type, 0x4242, seq);
}

// The three parts of one recvmsg, each in a heap block of exactly its size,
// so that a sanitized build catches any read past one of them.
class Recvmsg {
public:
    Recvmsg(const Bytes &name, const Bytes &control, const Bytes &data)
        : name_(copy(name)), control_(copy(control)),
          data_(copy(data)), received_{{data_.get(), data.size()},
                                       {name_.get(), name.size()},
                                       {control_.get(), control.size()}}
    {
    }
    const DatagramPacket::Received &operator*() const { return received_; }

private:
    static std::unique_ptr<uint8_t[]> copy(const Bytes &bytes)
    {
        auto block = std::make_unique<uint8_t[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), block.get());
        return block;
    }
    std::unique_ptr<uint8_t[]> name_, control_, data_;
    DatagramPacket::Received received_;
};

std::optional<IcmpPacket::Answer> error(const Bytes &name, const Bytes &control,
                                        const Bytes &data = echo(8))
{
    return parseErrorQueueEntry(*Recvmsg(name, control, data), target, ourSeq);
}

TEST(DatagramPacket, ReplyGivesSourceFromNameAndTtlAndArrivalFromControl)
{
    const auto answer =
        parseReply(*Recvmsg(name(target), ttl(61) + receiveStamp(1765000000, 123456789), echo(0)),
                   ourSeq);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, IpStatus::success);
    EXPECT_EQ(answer->source, target);
    EXPECT_EQ(answer->ttl, 61);
    EXPECT_EQ(answer->arrival, std::chrono::nanoseconds(1765000000'123456789));
    EXPECT_FALSE(parseReply(*Recvmsg(name(target), ttl(61), echo(0)), ourSeq)->arrival);
    EXPECT_FALSE(parseReply(*Recvmsg(name(target), ttl(61), echo(0, ourSeq + 1)), ourSeq));
    EXPECT_FALSE(parseReply(*Recvmsg(name(target), ttl(61), echo(8)), ourSeq));
}

TEST(DatagramPacket, ErrorGivesOffenderStatusTtlAndNextHopMtu)
{
    // The kernel puts the stamp first, then the TTL; any order is read.
    const Bytes stamp = receiveStamp(1765000000, 5);
    for (const Bytes &control : {stamp + ttl(250) + recvErr({3, 4, 1400}),
                                 recvErr({3, 4, 1400}) + ttl(250) + stamp}) {
        const auto answer = error(name(target), control);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->status, IpStatus::packetTooBig);
        EXPECT_EQ(answer->source, router);
        EXPECT_EQ(answer->ttl, 250);
        EXPECT_EQ(answer->nextHopMtu, 1400);
        EXPECT_EQ(answer->arrival, std::chrono::nanoseconds(1765000000'000000005));
    }
    const auto timeExceeded = error(name(target), recvErr({11, 0, 1400}));
    ASSERT_TRUE(timeExceeded);
    EXPECT_EQ(timeExceeded->status, IpStatus::ttlExpiredTransit);
    EXPECT_EQ(timeExceeded->nextHopMtu, 0);
}

// The kernel hands a datagram socket every error that quotes its id; the
// quoted destination (msg_name), the sequence and the type are ours to check.
TEST(DatagramPacket, ErrorsThatAreNotForOurRequestAreIgnored)
{
    struct Case {
        const char *what;
        Bytes name, control, data;
    };
    const Bytes control = ttl(250) + recvErr({});
    const Case cases[] = {
        {"another quoted destination", name(router), control, echo(8)},
        {"no msg_name", {}, control, echo(8)},
        {"msg_name not AF_INET", name(target, AF_INET6), control, echo(8)},
        {"another sequence", name(target), control, echo(8, ourSeq + 1)},
        {"quote of a reply", name(target), control, echo(0)},
        {"quote shorter than an echo header", name(target), control, first(echo(8), 7)},
        {"local error", name(target), recvErr({0, 0, 1400, SO_EE_ORIGIN_LOCAL}), echo(8)},
        {"echo reply type as an error", name(target), recvErr({0, 0}), echo(8)},
        {"redirect", name(target), recvErr({5, 1}), echo(8)},
        {"no extended error", name(target), ttl(250), echo(8)},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(error(c.name, c.control, c.data)) << c.what;
}

// Found by fuzzing: a control message whose length ran past the control
// bytes was read past their end.
TEST(DatagramPacket, ControlMessagesAreReadOnlyWithinTheirBytes)
{
    const Bytes cutTtl = first(ttl(61), 16); // header only, cmsg_len 20
    const auto reply = parseReply(*Recvmsg(name(target), cutTtl, echo(0)), ourSeq);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->ttl, 0);

    const Bytes cutStamp = first(receiveStamp(1, 0), CMSG_LEN(8)); // half a timespec
    EXPECT_FALSE(parseReply(*Recvmsg(name(target), cutStamp, echo(0)), ourSeq)->arrival);
    // Found by fuzzing: a stamp beyond any real time overflowed the nanoseconds.
    for (const Bytes &beyond : {receiveStamp(-6485183463413514240, 0), receiveStamp(1, -1),
                                receiveStamp(1, 1'000'000'000)})
        EXPECT_FALSE(parseReply(*Recvmsg(name(target), beyond, echo(0)), ourSeq)->arrival);

    const Bytes full = recvErr({});
    EXPECT_FALSE(error(name(target), first(full, full.size() - 1)));
    EXPECT_FALSE(error(name(target), cmsg(IP_RECVERR, Bytes(16), 4096)));
    EXPECT_FALSE(error(name(target), cmsg(IP_RECVERR, Bytes(16), 8))) << "below the header";
    // A length past all bytes ends the walk rather than wrapping around.
    EXPECT_FALSE(
        error(name(target), cmsg(IP_TTL, bytesOf(61), 0x0fff'ffff'ffff'ffff) + recvErr({})));

    const auto noOffender = error(name(target), recvErr({}, false));
    ASSERT_TRUE(noOffender);
    EXPECT_EQ(noOffender->source, 0u);
}

} // namespace
