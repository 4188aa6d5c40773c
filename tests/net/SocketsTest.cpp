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

// inet_addr's rules, the failure value included; the forward look-up must
// agree on every literal it accepts.
TEST(Sockets, InetAddrAndForwardLookUpAgreeOnLiterals)
{
    struct Case {
        const char *text;
        const char *address; // dotted form, or nullptr for the failure value
    };
    const Case cases[] = {
        {"192.0.2.7", "192.0.2.7"},     {"198.51.100.200", "198.51.100.200"},
        {"1.2.3", "1.2.0.3"},           {"0x7f.0.0.1", "127.0.0.1"},
        {"010.1.1.1", "8.1.1.1"},       {"0.0.0.0", "0.0.0.0"},
        {"255.255.255.255", nullptr},   {"256.1.1.1", nullptr},
        {"1.2.3.4.5", nullptr},         {"", nullptr},
        {"router.example", nullptr},    {"1.2.3.4x", nullptr},
    };
    SystemResolver resolver;
    for (const Case &c : cases) {
        const uint32_t address = inetAddr(c.text);
        if (!c.address) {
            EXPECT_EQ(address, 0xFFFFFFFFu) << c.text;
            continue;
        }
        EXPECT_EQ(addressToText(address), c.address) << c.text;
        const auto bytes = resolver.firstIpv4(c.text);
        ASSERT_TRUE(bytes) << c.text;
        uint32_t forward = 0;
        std::memcpy(&forward, bytes->data(), 4);
        EXPECT_EQ(forward, address) << c.text;
    }
}

TEST(SystemResolver, LooksUpTheHostsFile)
{
    SystemResolver resolver;
    const auto bytes = resolver.firstIpv4("localhost");
    ASSERT_TRUE(bytes);
    EXPECT_EQ((*bytes)[0], 127);
    EXPECT_FALSE(resolver.firstIpv4(""));
    EXPECT_FALSE(resolver.firstIpv4("no-such-host.invalid"));
    EXPECT_FALSE(resolver.officialName(inet_addr("127.0.0.1")).empty());
}

} // namespace
