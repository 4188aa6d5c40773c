#include "net/ControlMessages.h"
#include "net/DatagramPacket.h"
#include "net/EchoService.h"
#include "net/Icmp6Packet.h"
#include "net/IpAddress.h"
#include "net/Sockets.h"
#include "tests/net/PacketBytes.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime> // linux/errqueue.h needs timespec
#include <linux/errqueue.h>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace PacketBytes;
using DatagramPacket::parseErrorQueueEntry;

constexpr uint16_t ourSeq = 0x0102;

enum class Role { target, router };

using IcmpPacket::Answer;

struct Error {
    uint8_t type = 0, code = 0;
    uint32_t info = 0;
};


// One address family as its datagram socket shows it: the same rules hold
// for both, only the numbers differ.
struct Family {
    const char *label;
    bool v6;

    uint8_t request() const { return v6 ? 128 : 8; }
    uint8_t reply() const { return v6 ? 129 : 0; }
    Error timeExceeded() const { return {uint8_t(v6 ? 3 : 11), 0, 1400}; }
    Error tooBig() const { return v6 ? Error{2, 0, 1400} : Error{3, 4, 1400}; }
    Error redirect() const { return {uint8_t(v6 ? 137 : 5), 1, 0}; }
    uint8_t origin() const { return v6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP; }
    int level() const { return v6 ? IPPROTO_IPV6 : IPPROTO_IP; }

    const char *text(Role role) const
    {
        if (v6)
            return role == Role::target ? "2001:db8::7" : "2001:db8:100:200:300:400:500:600";
        return role == Role::target ? "192.0.2.7" : "198.51.100.200";
    }
    IpAddress address(Role role) const { return *IpAddress::parse(text(role)); }

    // msg_name: a sockaddr of this family, or of the other one.
    Bytes name(Role role, bool otherFamily = false) const
    {
        const IpAddress address = this->address(role);
        if (v6 != otherFamily) {
            sockaddr_in6 in6{};
            in6.sin6_family = AF_INET6;
            std::copy(address.ipv6().begin(), address.ipv6().end(), in6.sin6_addr.s6_addr);
            return bytesOf(in6);
        }
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = v6 ? inet_addr("192.0.2.7") : address.ipv4();
        return bytesOf(in);
    }
    Bytes ttl(int value, size_t declared = 0) const
    {
        return cmsg(v6 ? IPV6_HOPLIMIT : IP_TTL, bytesOf(value), declared, level());
    }
    Bytes recvErrData(const Error &e, bool withOffender, uint8_t origin) const
    {
        sock_extended_err error{};
        error.ee_errno = EHOSTUNREACH;
        error.ee_origin = origin;
        error.ee_type = e.type;
        error.ee_code = e.code;
        error.ee_info = e.info;
        return withOffender ? bytesOf(error) + name(Role::router) : bytesOf(error);
    }
    // The extended error with the offender after it, as IP(V6)_RECVERR brings it.
    Bytes recvErr(const Error &e, bool withOffender = true, std::optional<uint8_t> origin = {}) const
    {
        return cmsg(v6 ? IPV6_RECVERR : IP_RECVERR,
                    recvErrData(e, withOffender, origin.value_or(this->origin())), 0, level());
    }
    // A send stamp's error-queue entry as the kernel lays it out: both stamps
    // of the moment the request left, then the extended error that keys it.
    Bytes sendStamp(uint32_t key, uint8_t origin = SO_EE_ORIGIN_TIMESTAMPING, int error = ENOMSG,
                    uint32_t info = SCM_TSTAMP_SND, size_t stamps = 3) const
    {
        sock_extended_err entry{};
        entry.ee_errno = static_cast<uint32_t>(error);
        entry.ee_origin = origin;
        entry.ee_info = info;
        entry.ee_data = key;
        return receiveStamp(1765000000, 42) + softwareStamp(1765000000, 42, stamps)
               + cmsg(v6 ? IPV6_RECVERR : IP_RECVERR, bytesOf(entry), 0, level());
    }
    Bytes rawRecvErr(size_t dataSize, size_t declared) const
    {
        return cmsg(v6 ? IPV6_RECVERR : IP_RECVERR, Bytes(dataSize), declared, level());
    }
    Bytes echo(uint8_t type, uint16_t seq = ourSeq) const { return echoMessage(type, 0x4242, seq); }

    std::optional<Answer> parseReply(const DatagramPacket::Received &received) const;
    std::optional<Answer> parseError(const DatagramPacket::Received &received) const;
};

const Family families[] = {{"IPv4", false}, {"IPv6", true}};

Bytes first(const Bytes &bytes, size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n));
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

std::optional<Answer> Family::parseReply(const DatagramPacket::Received &received) const
{
    if (v6)
        return Icmp6Packet::parseDatagramReply(received, ourSeq);
    return DatagramPacket::parseReply(received, ourSeq);
}

std::optional<Answer> Family::parseError(const DatagramPacket::Received &received) const
{
    if (v6)
        return Icmp6Packet::parseErrorQueueEntry(received, address(Role::target), ourSeq);
    return parseErrorQueueEntry(received, address(Role::target).ipv4(), ourSeq);
}

std::optional<Answer> error(const Family &f, const Bytes &name, const Bytes &control,
                          std::optional<Bytes> data = {})
{
    return f.parseError(*Recvmsg(name, control, data.value_or(f.echo(f.request()))));
}

TEST(DatagramPacket, ReplyGivesSourceFromNameAndTtlAndArrivalFromControl)
{
    for (const Family &f : families) {
        const Bytes target = f.name(Role::target);
        const auto answer = f.parseReply(
            *Recvmsg(target, f.ttl(61) + receiveStamp(1765000000, 123456789), f.echo(f.reply())));
        ASSERT_TRUE(answer) << f.label;
        EXPECT_EQ(answer->status, IpStatus::success);
        EXPECT_EQ(answer->source, f.address(Role::target));
        EXPECT_EQ(answer->ttl, 61);
        EXPECT_EQ(answer->arrival, std::chrono::nanoseconds(1765000000'123456789));
        EXPECT_FALSE(f.parseReply(*Recvmsg(target, f.ttl(61), f.echo(f.reply())))->arrival);
        EXPECT_FALSE(f.parseReply(*Recvmsg(target, f.ttl(61), f.echo(f.reply(), ourSeq + 1))));
        EXPECT_FALSE(f.parseReply(*Recvmsg(target, f.ttl(61), f.echo(f.request())))) << f.label;
    }
}

TEST(DatagramPacket, ErrorGivesOffenderStatusTtlAndNextHopMtu)
{
    for (const Family &f : families) {
        // The kernel puts the stamp first, then the TTL; any order is read.
        const Bytes stamp = receiveStamp(1765000000, 5);
        for (const Bytes &control : {stamp + f.ttl(250) + f.recvErr(f.tooBig()),
                                     f.recvErr(f.tooBig()) + f.ttl(250) + stamp}) {
            const auto answer = error(f, f.name(Role::target), control);
            ASSERT_TRUE(answer) << f.label;
            EXPECT_EQ(answer->status, IpStatus::packetTooBig);
            EXPECT_EQ(answer->source, f.address(Role::router));
            EXPECT_EQ(answer->ttl, 250);
            EXPECT_EQ(answer->nextHopMtu, 1400);
            EXPECT_EQ(answer->arrival, std::chrono::nanoseconds(1765000000'000000005));
        }
        const auto timeExceeded = error(f, f.name(Role::target), f.recvErr(f.timeExceeded()));
        ASSERT_TRUE(timeExceeded) << f.label;
        EXPECT_EQ(timeExceeded->status, IpStatus::ttlExpiredTransit);
        EXPECT_EQ(timeExceeded->nextHopMtu, 0);
    }
}

// The kernel hands a datagram socket every error that quotes its id; the
// quoted destination (msg_name), the sequence and the type are ours to check.
TEST(DatagramPacket, ErrorsThatAreNotForOurRequestAreIgnored)
{
    struct Case {
        const char *what;
        Bytes name, control, data;
    };
    for (const Family &f : families) {
        const Bytes control = f.ttl(250) + f.recvErr(f.timeExceeded());
        const Bytes target = f.name(Role::target);
        const Bytes request = f.echo(f.request());
        const Case cases[] = {
            {"another quoted destination", f.name(Role::router), control, request},
            {"no msg_name", {}, control, request},
            {"msg_name of the other family", f.name(Role::target, true), control, request},
            {"another sequence", target, control, f.echo(f.request(), ourSeq + 1)},
            {"quote of a reply", target, control, f.echo(f.reply())},
            {"quote shorter than an echo header", target, control, first(request, 7)},
            {"local error", target, f.recvErr(f.tooBig(), true, SO_EE_ORIGIN_LOCAL), request},
            {"error of the other family", target,
             f.recvErr(f.timeExceeded(), true, f.v6 ? SO_EE_ORIGIN_ICMP : SO_EE_ORIGIN_ICMP6),
             request},
            {"echo reply type as an error", target, f.recvErr({f.reply(), 0}), request},
            {"redirect", target, f.recvErr(f.redirect()), request},
            {"no extended error", target, f.ttl(250), request},
        };
        for (const Case &c : cases)
            EXPECT_FALSE(error(f, c.name, c.control, c.data)) << f.label << ": " << c.what;
    }
}

// The error queue brings the kernel's stamp of a request leaving as an entry
// of its own: it is never an answer, and only the send stamp keys a time.
TEST(DatagramPacket, SendStampIsItsOwnEntryNeverAnAnswer)
{
    for (const Family &f : families) {
        const auto stamp = ControlMessages::sendStamp(ControlMessages::read(f.sendStamp(7)));
        ASSERT_TRUE(stamp) << f.label;
        EXPECT_EQ(stamp->key, 7u);
        EXPECT_EQ(stamp->at, std::chrono::nanoseconds(1765000000'000000042));
        for (const Bytes &data : {Bytes{}, f.echo(f.request())})
            EXPECT_FALSE(error(f, f.name(Role::target), f.sendStamp(7), data)) << f.label;
        const Bytes notStamps[] = {
            f.sendStamp(7, f.origin()),
            f.sendStamp(7, SO_EE_ORIGIN_TIMESTAMPING, EHOSTUNREACH),
            f.sendStamp(7, SO_EE_ORIGIN_TIMESTAMPING, ENOMSG, SCM_TSTAMP_SCHED),
            f.sendStamp(7, SO_EE_ORIGIN_TIMESTAMPING, ENOMSG, SCM_TSTAMP_SND, 1),
            receiveStamp(1765000000, 42) + f.recvErr(f.timeExceeded()),
        };
        for (const Bytes &control : notStamps)
            EXPECT_FALSE(ControlMessages::sendStamp(ControlMessages::read(control))) << f.label;
        // A reply brings both receive stamps now; the arrival stays SCM_TIMESTAMPNS's.
        const auto reply = f.parseReply(*Recvmsg(
            f.name(Role::target), receiveStamp(5, 1) + softwareStamp(6, 2) + f.ttl(61), f.echo(f.reply())));
        ASSERT_TRUE(reply) << f.label;
        EXPECT_EQ(reply->arrival, std::chrono::nanoseconds(5'000000001));
    }
}

// Found by fuzzing: a control message whose length ran past the control
// bytes was read past their end.
TEST(DatagramPacket, ControlMessagesAreReadOnlyWithinTheirBytes)
{
    for (const Family &f : families) {
        const Bytes target = f.name(Role::target);
        const Bytes cutTtl = first(f.ttl(61), 16); // header only, cmsg_len 20
        const auto reply = f.parseReply(*Recvmsg(target, cutTtl, f.echo(f.reply())));
        ASSERT_TRUE(reply) << f.label;
        EXPECT_EQ(reply->ttl, 0);
        const Bytes cutStamp = first(receiveStamp(1, 0), CMSG_LEN(8)); // half a timespec
        EXPECT_FALSE(f.parseReply(*Recvmsg(target, cutStamp, f.echo(f.reply())))->arrival);
        // Found by fuzzing: a stamp beyond any real time overflowed the nanoseconds.
        for (const Bytes &bogus :
             {receiveStamp(std::numeric_limits<time_t>::max(), 0), receiveStamp(-6485183463413514240, 0),
              receiveStamp(-1, 0), receiveStamp(1, -1), receiveStamp(1, 1'000'000'000)})
            EXPECT_FALSE(f.parseReply(*Recvmsg(target, bogus, f.echo(f.reply())))->arrival);

        const Bytes full = f.recvErr(f.timeExceeded());
        cmsghdr header;
        std::memcpy(&header, full.data(), sizeof header);
        EXPECT_FALSE(error(f, target, first(full, header.cmsg_len - 1))) << f.label;
        EXPECT_FALSE(error(f, target, f.rawRecvErr(16, 4096)));
        EXPECT_FALSE(error(f, target, f.rawRecvErr(16, 8))) << "below the header";
        // A length past all bytes ends the walk rather than wrapping around.
        EXPECT_FALSE(error(f, target, f.ttl(61, 0x0fff'ffff'ffff'ffff) + full));

        const auto noOffender = error(f, target, f.recvErr(f.timeExceeded(), false));
        ASSERT_TRUE(noOffender) << f.label;
        EXPECT_EQ(noOffender->source, IpAddress());
    }
}

} // namespace
