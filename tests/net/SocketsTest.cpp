#include "net/IpAddress.h"
#include "net/Sockets.h"
#include "net/SystemResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(Sockets, AddressToTextWritesDottedDecimal)
{
    struct Case {
        std::array<uint8_t, 4> bytes;
        const char *text;
    };
    const Case cases[] = {{{198, 51, 100, 200}, "198.51.100.200"},
                          {{0, 0, 0, 0}, "0.0.0.0"},
                          {{255, 255, 255, 255}, "255.255.255.255"},
                          {{127, 0, 0, 1}, "127.0.0.1"}};
    for (const Case &c : cases) {
        uint32_t address = 0;
        std::memcpy(&address, c.bytes.data(), 4);
        EXPECT_EQ(addressToText(address), c.text);
    }
}

TEST(Sockets, TextFromAnsiCopiesWholeStringOrNothing)
{
    EXPECT_EQ(textFromAnsi(nullptr), "");
    EXPECT_EQ(textFromAnsi(""), "");
    EXPECT_EQ(textFromAnsi("h\xe9llo"), "h\xe9llo");
}

// How a literal host text is read: inet_addr's forms, octal and hexadecimal
// parts included. The forward look-up and inet_addr must agree on every text
// the look-up takes as an address, and the dotted text the look-up gives back
// must parse to the same address again, since that is what the trace probes.
TEST(Sockets, InetAddrAndForwardLookUpAgreeOnLiterals)
{
    struct Case {
        const char *text;
        const char *inetAddr; // dotted form, or nullptr for the failure value
        const char *forward;  // what the look-up reads, or nullptr: not an address
    };
    const Case cases[] = {
        {"192.0.2.7", "192.0.2.7", "192.0.2.7"},
        {"198.51.100.200", "198.51.100.200", "198.51.100.200"},
        {"1.2.3", "1.2.0.3", "1.2.0.3"},
        {"127.1", "127.0.0.1", "127.0.0.1"},
        {"2130706433", "127.0.0.1", "127.0.0.1"},
        {"0x7f.0.0.1", "127.0.0.1", "127.0.0.1"},
        {"0x7F000001", "127.0.0.1", "127.0.0.1"},
        {"010.1.1.1", "8.1.1.1", "8.1.1.1"},
        {"0177.0.0.01", "127.0.0.1", "127.0.0.1"},
        {"0.0.0.0", "0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", nullptr, "255.255.255.255"},
        // Digits and dots that make no address: no name server is asked.
        {"256.1.1.1", nullptr, nullptr},
        {"999.1.1.1", nullptr, nullptr},
        {"08.1.1.1", nullptr, nullptr},
        {"1.2.3.4.5", nullptr, nullptr},
        {"4294967296", nullptr, nullptr},
        {"1..2.3", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    SystemResolver resolver;
    for (const Case &c : cases) {
        const uint32_t address = inetAddr(c.text);
        const std::string read = address == 0xFFFFFFFFu ? "failure" : addressToText(address);
        EXPECT_EQ(read, c.inetAddr ? c.inetAddr : "failure") << c.text;
        const auto found = resolver.firstAddress(c.text);
        if (!c.forward) {
            EXPECT_FALSE(found) << c.text;
            continue;
        }
        ASSERT_TRUE(found && !found->isIpv6()) << c.text;
        const std::string dotted = found->text();
        EXPECT_EQ(dotted, c.forward) << c.text;
        EXPECT_EQ(inetAddr(dotted), address) << c.text;
        EXPECT_EQ(literalAddress(c.text), inetAddr(dotted)) << c.text;
    }
}

// inet_addr reads up to a blank and ignores the rest; as a host text that is
// a name, so it never reaches inet_addr (only the look-up's dotted text does).
TEST(Sockets, LiteralAddressIsTheWholeText)
{
    for (const std::string text : {"127.0.0.1 ", "127.0.0.1 && echo x", "127.0.0.1\tx",
                                   " 127.0.0.1", "127.0.0.1x", "-1", "0x7f.0.0.1;"}) {
        EXPECT_FALSE(literalAddress(text)) << text;
    }
    EXPECT_FALSE(literalAddress(std::string("127.0.0.1\0x", 11)));
    EXPECT_EQ(inetAddr("127.0.0.1 && echo x"), inetAddr("127.0.0.1"));
}

// Every typed form of an address reads as one value whose text is the
// canonical one (RFC 5952 for IPv6), and that text reads back as the same value.
TEST(IpAddress, TypedTextsReadAsOneAddressWithCanonicalText)
{
    struct Case {
        const char *typed;
        const char *text; // nullptr: not an address
        bool ipv6;
        bool unicast;
    };
    const Case cases[] = {
        {"192.0.2.7", "192.0.2.7", false, true},
        {"2001:db8::1", "2001:db8::1", true, true},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1", true, true},
        {"2001:0db8:0000:0000:0001:0000:0000:0001", "2001:db8::1:0:0:1", true, true},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1", true, true},
        {"[2001:db8:aaaa:bbbb:cccc:dddd:eeee:1]", "2001:db8:aaaa:bbbb:cccc:dddd:eeee:1", true, true},
        {"::1", "::1", true, true},
        {"::192.0.2.1", "::192.0.2.1", true, true},
        {"64:ff9b::192.0.2.1", "64:ff9b::c000:201", true, true},
        {"fe80::1%lo", "fe80::1%lo", true, true},
        {"fe80::1%1", "fe80::1%lo", true, true},
        // An IPv4-mapped text is the IPv4 address it maps, traced over IPv4.
        {"::ffff:192.0.2.1", "192.0.2.1", false, true},
        {"[::ffff:c000:201]", "192.0.2.1", false, true},
        {"::ffff:0.0.0.0", "0.0.0.0", false, false},
        {"::", "::", true, false},
        {"[::]", "::", true, false},
        {"ff02::1", "ff02::1", true, false},
        {"ff0e::1%lo", "ff0e::1%lo", true, false},
        {"0.0.0.0", "0.0.0.0", false, false},
        {"224.0.0.1", "224.0.0.1", false, false},
        {"255.255.255.255", "255.255.255.255", false, false},
        {"1:2:3:4:5:6:7:8:9", nullptr, false, false},
        {":::", nullptr, false, false},
        {"fe80::1%nosuchif", nullptr, false, false},
        {"fe80::1%", nullptr, false, false},
        {"[", nullptr, false, false},
        {"[]", nullptr, false, false},
        {"[2001:db8::1", nullptr, false, false},
        {"[192.0.2.7]", nullptr, false, false},
        {"2001:db8::1 ", nullptr, false, false},
        {"1.2.3", nullptr, false, false},
        {"", nullptr, false, false},
    };
    for (const Case &c : cases) {
        const auto address = IpAddress::parse(c.typed);
        ASSERT_EQ(address.has_value(), c.text != nullptr) << c.typed;
        if (!address)
            continue;
        EXPECT_EQ(address->text(), c.text) << c.typed;
        EXPECT_EQ(address->isIpv6(), c.ipv6) << c.typed;
        EXPECT_EQ(address->isUnicastHost(), c.unicast) << c.typed;
        EXPECT_EQ(address->headerBytes(), c.ipv6 ? 48 : 28) << c.typed;
        EXPECT_EQ(IpAddress::parse(address->text()), address) << c.typed;
        sockaddr_storage storage;
        const socklen_t length = address->toSockaddr(storage);
        const auto *bytes = reinterpret_cast<const uint8_t *>(&storage);
        EXPECT_EQ(IpAddress::fromSockaddr({bytes, length}), address) << c.typed;
        EXPECT_FALSE(IpAddress::fromSockaddr({bytes, length - 1u})) << c.typed;
    }
    EXPECT_FALSE(IpAddress::parse(std::string(300, ':')));
    EXPECT_FALSE(IpAddress::parse(std::string("::1\0x", 5)));
    EXPECT_EQ(IpAddress::parse("192.0.2.7")->ipv4(), inet_addr("192.0.2.7"));
    // A zone is part of the address: the same bytes on two links are two hosts.
    EXPECT_NE(IpAddress::parse("fe80::1%lo"), IpAddress::parse("fe80::1"));
    EXPECT_NE(IpAddress::parse("::c000:201"), IpAddress::parse("192.0.2.1"));
    EXPECT_EQ(IpAddress(), IpAddress::fromIpv4(0));
}

// The text is inet_ntop's for every placement of zero groups: runs of every
// length and position, ties, one lone zero, and the embedded IPv4 forms.
TEST(IpAddress, Ipv6TextIsInetNtops)
{
    const uint16_t values[] = {0x1, 0xab, 0xffff, 0x1000, 0xc000, 0x201};
    for (unsigned zeros = 0; zeros < 256; ++zeros) {
        for (size_t v = 0; v < std::size(values); ++v) {
            IpAddress::Ipv6Bytes bytes{};
            for (unsigned i = 0; i < 8; ++i) {
                uint16_t group = (zeros >> i & 1) != 0 ? 0 : values[(v + i) % std::size(values)];
                if (i == 5 && zeros == 0x1f && v % 2 == 0)
                    group = 0xffff; // ::ffff:a.b.c.d
                bytes[2 * i] = static_cast<uint8_t>(group >> 8);
                bytes[2 * i + 1] = static_cast<uint8_t>(group);
            }
            char expected[INET6_ADDRSTRLEN];
            ASSERT_TRUE(inet_ntop(AF_INET6, bytes.data(), expected, sizeof expected));
            EXPECT_EQ(IpAddress::fromIpv6(bytes).text(), expected) << zeros << " " << v;
        }
    }
}

// Only the hosts file: a name that is not there would go on to a name server.
TEST(SystemResolver, LooksUpTheHostsFile)
{
    SystemResolver resolver;
    const auto found = resolver.firstAddress("localhost");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->text().rfind("127.", 0), 0u) << found->text();
    EXPECT_FALSE(resolver.officialName(IpAddress::fromIpv4(inet_addr("127.0.0.1"))).empty());
}

} // namespace
