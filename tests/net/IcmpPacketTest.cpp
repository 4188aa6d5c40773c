#include "net/EchoService.h"
#include "net/Icmp6Packet.h"
#include "net/IcmpPacket.h"
#include "tests/net/PacketBytes.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace PacketBytes;
using IcmpPacket::parseRawPacket;

const uint32_t target = inet_addr("192.0.2.7");
const uint32_t router = inet_addr("198.51.100.200");
const uint32_t us = inet_addr("10.0.0.1");
constexpr uint16_t ourId = 0xbeef;
constexpr uint16_t ourSeq = 0x0102;

void putAddress(Bytes &bytes, size_t at, uint32_t address)
{
    const auto *raw = reinterpret_cast<const uint8_t *>(&address);
    std::copy(raw, raw + 4, bytes.begin() + static_cast<long>(at));
}

struct IpFields {
    uint32_t source = 0;
    uint32_t destination = 0;
    uint8_t ttl = 64;
    uint8_t protocol = 1;
    size_t optionWords = 0;
};

// An IPv4 header followed by the body; total length is set to the whole.
Bytes ipPacket(const IpFields &ip, const Bytes &body)
{
    const size_t headerLength = 20 + ip.optionWords * 4;
    Bytes packet(headerLength + body.size());
    packet[0] = static_cast<uint8_t>(0x40 | (headerLength / 4));
    put16(packet, 2, static_cast<uint16_t>(headerLength + body.size()));
    packet[8] = ip.ttl;
    packet[9] = ip.protocol;
    putAddress(packet, 12, ip.source);
    putAddress(packet, 16, ip.destination);
    for (size_t i = 20; i < headerLength; ++i)
        packet[i] = 1; // NOP options
    std::copy(body.begin(), body.end(), packet.begin() + static_cast<std::ptrdiff_t>(headerLength));
    return packet;
}

const IpFields probe{us, target, 1, 1, 0};

Bytes ourRequest(IpFields ip = probe, uint8_t type = 8, uint16_t id = ourId,
                 uint16_t seq = ourSeq)
{
    return ipPacket(ip, echoMessage(type, id, seq));
}

Bytes fromRouter(const Bytes &icmp, uint8_t ttl = 62)
{
    return ipPacket({router, us, ttl, 1, 0}, icmp);
}

std::optional<IcmpPacket::Answer> parse(const Bytes &packet)
{
    return parseRawPacket(packet, target, ourId, ourSeq);
}

TEST(IcmpPacket, ChecksumMatchesRfc1071Example)
{
    const Bytes bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(IcmpPacket::internetChecksum(bytes), 0x220d);
    const Bytes odd{0x00, 0x01, 0xf2};
    EXPECT_EQ(IcmpPacket::internetChecksum(odd), static_cast<uint16_t>(~(0x0001 + 0xf200)));
}

TEST(IcmpPacket, EchoRequestCarriesIdSequencePayloadAndValidChecksum)
{
    const Bytes payload(33, 'a');
    const Bytes packet = IcmpPacket::buildEchoRequest(0x1234, 0xfedc, payload);
    ASSERT_EQ(packet.size(), 41u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(packet[1], 0);
    EXPECT_EQ(packet[4], 0x12);
    EXPECT_EQ(packet[5], 0x34);
    EXPECT_EQ(packet[6], 0xfe);
    EXPECT_EQ(packet[7], 0xdc);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), packet.begin() + 8));
    EXPECT_EQ(IcmpPacket::internetChecksum(packet), 0);
    EXPECT_TRUE(IcmpPacket::isOurRequest(packet, 0x1234, 0xfedc));
    EXPECT_TRUE(IcmpPacket::isOurRequest(packet, std::nullopt, 0xfedc));
    EXPECT_FALSE(IcmpPacket::isOurRequest(packet, 0x1235, 0xfedc));
    EXPECT_FALSE(IcmpPacket::isOurRequest(packet, std::nullopt, 0xfedd));
}

// A kept request renumbered is the request built anew, for every sequence
// number, from any earlier one, payloads of odd and even length.
TEST(IcmpPacket, RenumberedRequestIsTheRequestBuiltAnew)
{
    for (const size_t size : {size_t{0}, size_t{33}, size_t{200}}) {
        const Bytes payload(size, 'a');
        Bytes packet = IcmpPacket::buildEchoRequest(0x1234, 0, payload);
        Bytes packet6 = Icmp6Packet::buildEchoRequest(0x1234, 0, payload);
        for (uint32_t step = 0; step < 0x20000; ++step) {
            const auto sequence = static_cast<uint16_t>(step * 40503u); // all 65536, in jumps
            IcmpPacket::renumberEchoRequest(packet, sequence);
            IcmpPacket::setEchoSequence(packet6, sequence);
            ASSERT_EQ(packet, IcmpPacket::buildEchoRequest(0x1234, sequence, payload)) << sequence;
            ASSERT_EQ(packet6, Icmp6Packet::buildEchoRequest(0x1234, sequence, payload));
        }
    }
}

TEST(IcmpPacket, StatusOfEveryTypeAndCode)
{
    struct Case {
        uint8_t type, code;
        uint32_t status;
    };
    const Case cases[] = {
        {0, 0, IpStatus::success},
        {3, 0, IpStatus::destNetUnreachable},   {3, 1, IpStatus::destHostUnreachable},
        {3, 2, IpStatus::destProtUnreachable},  {3, 3, IpStatus::destPortUnreachable},
        {3, 4, IpStatus::packetTooBig},         {3, 5, IpStatus::badSourceRoute},
        {3, 6, IpStatus::destNetUnreachable},   {3, 7, IpStatus::destHostUnreachable},
        {3, 8, IpStatus::generalFailure},       {3, 9, IpStatus::generalFailure},
        {3, 10, IpStatus::generalFailure},      {3, 11, IpStatus::destNetUnreachable},
        {3, 12, IpStatus::destHostUnreachable}, {3, 13, IpStatus::generalFailure},
        {3, 14, IpStatus::generalFailure},      {3, 15, IpStatus::generalFailure},
        {3, 255, IpStatus::generalFailure},
        {4, 0, IpStatus::sourceQuench},
        {11, 0, IpStatus::ttlExpiredTransit},   {11, 1, IpStatus::ttlExpiredReassem},
        {11, 2, IpStatus::generalFailure},
        {12, 0, IpStatus::paramProblem},        {12, 1, IpStatus::paramProblem},
        {5, 0, IpStatus::generalFailure},       {8, 0, IpStatus::generalFailure},
    };
    for (const Case &c : cases)
        EXPECT_EQ(IcmpPacket::statusFor(c.type, c.code), c.status)
            << "type " << int(c.type) << " code " << int(c.code);
    const Case cases6[] = {
        {129, 0, IpStatus::success},
        {1, 0, IpStatus::destNetUnreachable},  {1, 1, IpStatus::generalFailure},
        {1, 2, IpStatus::generalFailure},      {1, 3, IpStatus::destHostUnreachable},
        {1, 4, IpStatus::destPortUnreachable}, {1, 5, IpStatus::generalFailure},
        {1, 6, IpStatus::generalFailure},      {1, 255, IpStatus::generalFailure},
        {2, 0, IpStatus::packetTooBig},
        {3, 0, IpStatus::ttlExpiredTransit},   {3, 1, IpStatus::ttlExpiredReassem},
        {3, 2, IpStatus::generalFailure},
        {4, 0, IpStatus::paramProblem},        {4, 1, IpStatus::paramProblem},
        {128, 0, IpStatus::generalFailure},    {137, 0, IpStatus::generalFailure},
        {0, 0, IpStatus::generalFailure},      {11, 0, IpStatus::generalFailure},
    };
    for (const Case &c : cases6)
        EXPECT_EQ(Icmp6Packet::statusFor(c.type, c.code), c.status)
            << "ICMPv6 type " << int(c.type) << " code " << int(c.code);
}

TEST(IcmpPacket, DatagramReplyMatchesOnlyOurSequence)
{
    const Bytes reply = echoMessage(0, 0x4321, ourSeq);
    const auto answer = IcmpPacket::parseDatagramReply(reply, ourSeq);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, IpStatus::success);
    EXPECT_FALSE(IcmpPacket::parseDatagramReply(reply, ourSeq + 1));
    EXPECT_FALSE(IcmpPacket::parseDatagramReply(echoMessage(8, 0x4321, ourSeq), ourSeq));
    Bytes coded = reply;
    coded[1] = 1;
    EXPECT_FALSE(IcmpPacket::parseDatagramReply(coded, ourSeq));
    for (size_t n = 0; n < 8; ++n)
        EXPECT_FALSE(IcmpPacket::parseDatagramReply(std::span(reply).first(n), ourSeq)) << n;
    EXPECT_TRUE(IcmpPacket::parseDatagramReply(std::span(reply).first(8), ourSeq));
}

TEST(IcmpPacket, RawEchoReplyGivesSourceAndArrivingTtl)
{
    const auto answer = parse(ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq)));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, IpStatus::success);
    EXPECT_EQ(answer->source, IpAddress::fromIpv4(target));
    EXPECT_EQ(answer->ttl, 57);
    EXPECT_EQ(answer->nextHopMtu, 0);
    // IP options move the ICMP message; the outer ihl says where.
    const auto withOptions = parse(ipPacket({target, us, 57, 1, 3}, echoMessage(0, ourId, ourSeq)));
    ASSERT_TRUE(withOptions);
    EXPECT_EQ(withOptions->ttl, 57);
}

TEST(IcmpPacket, RawPacketsThatAreNotOurAnswerAreIgnored)
{
    struct Case {
        const char *what;
        Bytes packet;
    };
    Bytes badChecksum = ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq));
    badChecksum.back() ^= 1;
    Bytes ipv6 = ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq));
    ipv6[0] = 0x65;
    Bytes shortIhl = ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq));
    shortIhl[0] = 0x44;
    Bytes hugeIhl = ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq, 0));
    hugeIhl[0] = 0x4f; // 60-byte header in a 28-byte packet
    Bytes longTotal = ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq));
    put16(longTotal, 2, static_cast<uint16_t>(longTotal.size() + 1));
    Bytes shortTotal = ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq));
    put16(shortTotal, 2, 19);
    Bytes coded = echoMessage(0, ourId, ourSeq);
    coded[1] = 3;
    const Case cases[] = {
        {"empty", {}},
        {"other id", ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId + 1, ourSeq))},
        {"other sequence", ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq - 1))},
        {"echo request", ipPacket({us, target, 57, 1, 0}, echoMessage(8, ourId, ourSeq))},
        {"reply with a code", ipPacket({target, us, 57, 1, 0}, withChecksum(coded))},
        {"bad checksum", badChecksum},
        {"not IPv4", ipv6},
        {"outer protocol UDP", ipPacket({target, us, 57, 17, 0}, echoMessage(0, ourId, ourSeq))},
        {"ihl below 5", shortIhl},
        {"ihl past the end", hugeIhl},
        {"total length past the end", longTotal},
        {"total length inside the header", shortTotal},
        {"redirect quoting our request", fromRouter(icmpError(5, 1, ourRequest()))},
        {"error quoting a UDP packet", fromRouter(icmpError(11, 0, ourRequest({us, target, 1, 17, 0})))},
        {"error quoting another destination",
         fromRouter(icmpError(11, 0, ourRequest({us, router, 1, 1, 0})))},
        {"error quoting an echo reply", fromRouter(icmpError(11, 0, ourRequest(probe, 0)))},
        {"error quoting another id", fromRouter(icmpError(11, 0, ourRequest(probe, 8, ourId + 1)))},
        {"error quoting another sequence",
         fromRouter(icmpError(11, 0, ourRequest(probe, 8, ourId, ourSeq + 1)))},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(parse(c.packet)) << c.what;
}

TEST(IcmpPacket, ErrorsQuotingOurRequestGiveRouterStatusAndTtl)
{
    struct Case {
        uint8_t type, code;
        uint32_t status;
    };
    const Case cases[] = {{11, 0, IpStatus::ttlExpiredTransit}, {11, 1, IpStatus::ttlExpiredReassem},
                          {3, 1, IpStatus::destHostUnreachable}, {3, 13, IpStatus::generalFailure},
                          {4, 0, IpStatus::sourceQuench},        {12, 0, IpStatus::paramProblem}};
    for (const Case &c : cases) {
        const auto answer = parse(fromRouter(icmpError(c.type, c.code, ourRequest()), 250));
        ASSERT_TRUE(answer) << int(c.type) << "/" << int(c.code);
        EXPECT_EQ(answer->status, c.status);
        EXPECT_EQ(answer->source, IpAddress::fromIpv4(router));
        EXPECT_EQ(answer->ttl, 250);
    }
}

TEST(IcmpPacket, FragmentationNeededCarriesNextHopMtu)
{
    const auto answer = parse(fromRouter(icmpError(3, 4, ourRequest(), 1400)));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, IpStatus::packetTooBig);
    EXPECT_EQ(answer->nextHopMtu, 1400);
}

TEST(IcmpPacket, QuotedHeaderUsesItsOwnIhl)
{
    EXPECT_TRUE(parse(fromRouter(icmpError(11, 0, ourRequest({us, target, 1, 1, 2})))));
    Bytes bogus = ourRequest();
    bogus[0] = 0x43;
    EXPECT_FALSE(parse(fromRouter(icmpError(11, 0, bogus))));
    bogus[0] = 0x4f; // 60-byte header: the quote then ends inside it
    EXPECT_FALSE(parse(fromRouter(icmpError(11, 0, bogus))));
}

// Cutting the span anywhere leaves a total length that lies; cutting the
// message and fixing lengths and checksum leaves a short quote. Both are refused
// until the quote holds the IP header and the 8 bytes of our echo header.
TEST(IcmpPacket, TruncationIsRefusedAtEveryLength)
{
    const Bytes request = ourRequest();
    const Bytes packets[] = {fromRouter(icmpError(11, 0, request)),
                             ipPacket({target, us, 57, 1, 0}, echoMessage(0, ourId, ourSeq))};
    for (const Bytes &packet : packets) {
        ASSERT_TRUE(parse(packet));
        for (size_t n = 0; n < packet.size(); ++n)
            EXPECT_FALSE(parseRawPacket(std::span(packet).first(n), target, ourId, ourSeq)) << n;
    }
    const size_t needed = 20 + 8;
    for (size_t n = 0; n <= request.size(); ++n) {
        const Bytes quote(request.begin(), request.begin() + static_cast<long>(n));
        EXPECT_EQ(parse(fromRouter(icmpError(11, 0, quote))).has_value(), n >= needed) << n;
    }
}

// A raw ICMPv6 socket gets the message without the IPv6 header: the sender
// is msg_name, the hop limit a control message.
namespace v6 {

const IpAddress target6 = *IpAddress::parse("2001:db8::7");
const IpAddress router6 = *IpAddress::parse("2001:db8:100:200:300:400:500:600");
const IpAddress us6 = *IpAddress::parse("2001:db8:ffff::1");

Bytes addressBytes(const IpAddress &address)
{
    return Bytes(address.ipv6().begin(), address.ipv6().end());
}

Bytes name6(const IpAddress &address)
{
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    std::copy(address.ipv6().begin(), address.ipv6().end(), in6.sin6_addr.s6_addr);
    return bytesOf(in6);
}

// An IPv6 header from us to `to` with this next header, then the body.
Bytes ipv6Packet(const IpAddress &to, uint8_t nextHeader, const Bytes &body)
{
    Bytes header(40, 0);
    header[0] = 0x60;
    put16(header, 4, static_cast<uint16_t>(body.size()));
    header[6] = nextHeader;
    header[7] = 1;
    const Bytes from = addressBytes(us6), dest = addressBytes(to);
    std::copy(from.begin(), from.end(), header.begin() + 8);
    std::copy(dest.begin(), dest.end(), header.begin() + 24);
    return header + body;
}

Bytes request6(uint16_t id = ourId, uint16_t seq = ourSeq, uint8_t type = 128)
{
    return ipv6Packet(target6, 58, echoMessage(type, id, seq));
}

// The first fragment of a probe larger than the link (offset 0, more follow).
Bytes firstFragment(uint16_t offsetField = 1)
{
    Bytes fragment(8, 0);
    fragment[0] = 58;
    put16(fragment, 2, offsetField);
    return ipv6Packet(target6, 44, fragment + echoMessage(128, ourId, ourSeq));
}

Bytes error6(uint8_t type, uint8_t code, const Bytes &quote, uint32_t word = 0)
{
    Bytes icmp(8, 0);
    icmp[0] = type;
    icmp[1] = code;
    put16(icmp, 4, static_cast<uint16_t>(word >> 16));
    put16(icmp, 6, static_cast<uint16_t>(word));
    return icmp + quote;
}

Bytes first(const Bytes &bytes, size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n));
}

std::optional<Icmp6Packet::Answer> parse6(const Bytes &icmp, const IpAddress &from = router6)
{
    const Bytes name = name6(from);
    const Bytes control = cmsg(IPV6_HOPLIMIT, bytesOf(62), 0, IPPROTO_IPV6);
    return Icmp6Packet::parseRawMessage({icmp, name, control}, target6, ourId, ourSeq);
}

TEST(Icmp6Packet, EchoRequestCarriesIdSequenceAndPayload)
{
    const Bytes payload(12, 'a');
    const Bytes packet = Icmp6Packet::buildEchoRequest(0x1234, 0xfedc, payload);
    ASSERT_EQ(packet.size(), 20u);
    EXPECT_EQ(packet, (Bytes{128, 0, 0, 0, 0x12, 0x34, 0xfe, 0xdc} + payload));
    EXPECT_TRUE(Icmp6Packet::isOurRequest(packet, 0x1234, 0xfedc));
    EXPECT_TRUE(Icmp6Packet::isOurRequest(packet, std::nullopt, 0xfedc));
    EXPECT_FALSE(Icmp6Packet::isOurRequest(packet, 0x1235, 0xfedc));
    EXPECT_FALSE(IcmpPacket::isOurRequest(packet, 0x1234, 0xfedc));
}

TEST(Icmp6Packet, RawAnswersGiveStatusSourceHopLimitAndMtu)
{
    struct Case {
        const char *what;
        Bytes icmp;
        uint32_t status;
        uint16_t mtu;
    };
    const Case cases[] = {
        {"echo reply", echoMessage(129, ourId, ourSeq), IpStatus::success, 0},
        {"time exceeded", error6(3, 0, request6()), IpStatus::ttlExpiredTransit, 0},
        {"reassembly time exceeded", error6(3, 1, request6()), IpStatus::ttlExpiredReassem, 0},
        {"packet too big", error6(2, 0, request6(), 1280), IpStatus::packetTooBig, 1280},
        {"an MTU past 16 bits", error6(2, 0, request6(), 0x10000), IpStatus::packetTooBig, 0xffff},
        {"address unreachable", error6(1, 3, request6()), IpStatus::destHostUnreachable, 0},
        {"prohibited", error6(1, 1, request6()), IpStatus::generalFailure, 0},
        {"parameter problem", error6(4, 0, request6(), 40), IpStatus::paramProblem, 0},
        {"quote of a first fragment", error6(3, 0, firstFragment()), IpStatus::ttlExpiredTransit, 0},
    };
    for (const Case &c : cases) {
        const auto answer = parse6(c.icmp);
        ASSERT_TRUE(answer) << c.what;
        EXPECT_EQ(answer->status, c.status) << c.what;
        EXPECT_EQ(answer->source, router6) << c.what;
        EXPECT_EQ(answer->ttl, 62) << c.what;
        EXPECT_EQ(answer->nextHopMtu, c.mtu) << c.what;
    }
}

// The socket sees every echo reply of the host and every error of the
// types it admits: only ours may match.
TEST(Icmp6Packet, RawMessagesThatAreNotOurAnswerAreIgnored)
{
    struct Case {
        const char *what;
        Bytes packet;
    };
    Bytes coded = echoMessage(129, ourId, ourSeq);
    coded[1] = 1;
    Bytes version4 = request6();
    version4[0] = 0x45;
    const Case cases[] = {
        {"empty", {}},
        {"other id", echoMessage(129, ourId + 1, ourSeq)},
        {"other sequence", echoMessage(129, ourId, ourSeq - 1)},
        {"echo request", echoMessage(128, ourId, ourSeq)},
        {"reply with a code", coded},
        {"IPv4 echo reply", echoMessage(0, ourId, ourSeq)},
        {"redirect quoting our request", error6(137, 0, request6())},
        {"IPv4 time exceeded quoting our request", error6(11, 0, request6())},
        {"quote of another destination", error6(3, 0, ipv6Packet(router6, 58, echoMessage(128, ourId, ourSeq)))},
        {"quote of a UDP packet", error6(3, 0, ipv6Packet(target6, 17, echoMessage(128, ourId, ourSeq)))},
        {"quote that is not IPv6", error6(3, 0, version4)},
        {"quote of another id", error6(3, 0, request6(ourId + 1))},
        {"quote of another sequence", error6(3, 0, request6(ourId, ourSeq + 1))},
        {"quote of an echo reply", error6(3, 0, request6(ourId, ourSeq, 129))},
        {"quote of a later fragment", error6(3, 0, firstFragment(0x0008))},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(parse6(c.packet)) << c.what;
}

// A quote cut anywhere before the end of our echo header is refused.
TEST(Icmp6Packet, TruncationIsRefusedAtEveryLength)
{
    for (const Bytes &message : {error6(3, 0, request6()), error6(3, 0, firstFragment())}) {
        const size_t needed = message.size() - 32; // all but the payload of 'a's
        for (size_t n = 0; n <= message.size(); ++n)
            EXPECT_EQ(parse6(first(message, n)).has_value(), n >= needed) << n;
    }
    const Bytes reply = echoMessage(129, ourId, ourSeq);
    for (size_t n = 0; n < 8; ++n)
        EXPECT_FALSE(parse6(first(reply, n))) << n;
}

} // namespace v6

} // namespace
