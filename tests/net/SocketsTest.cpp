#include "net/Module1.h"
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
        const auto bytes = resolver.firstIpv4(c.text);
        if (!c.forward) {
            EXPECT_FALSE(bytes) << c.text;
            continue;
        }
        ASSERT_TRUE(bytes) << c.text;
        const std::string dotted = Module1::bytesToDotted(*bytes);
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

// Only the hosts file: a name that is not there would go on to a name server.
TEST(SystemResolver, LooksUpTheHostsFile)
{
    SystemResolver resolver;
    const auto bytes = resolver.firstIpv4("localhost");
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], 127);
    EXPECT_FALSE(resolver.officialName(inet_addr("127.0.0.1")).empty());
}

} // namespace
