#include "net/Module1.h"
#include "net/Sockets.h"

#include "RecordingToolkit.h"
#include "ScriptedResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

TEST(Module1, HostToAddressGivesTheFirstAddressAsDottedText)
{
    struct Case {
        std::string host;
        std::string expected;
    };
    ScriptedResolver resolver;
    resolver.forward = {{"router.example", {198, 51, 100, 200}},
                        {"192.0.2.7", {192, 0, 2, 7}},
                        {"zero.example", {0, 0, 0, 0}}};
    const Case cases[] = {{"router.example", "198.51.100.200"},
                          {"192.0.2.7", "192.0.2.7"},
                          {"zero.example", "0.0.0.0"},
                          {"unknown.example", ""},
                          {"", ""}};
    for (const Case &c : cases) {
        RecordingToolkit toolkit;
        EXPECT_EQ(Module1::hostToAddress(c.host, resolver, toolkit), c.expected) << c.host;
        EXPECT_EQ(toolkit.calls, Calls{}) << "no message and no yield for " << c.host;
    }
    EXPECT_EQ(resolver.forwardAsked.size(), std::size(cases));
}

TEST(Module1, BytesToDottedReadsEveryByteUnsigned)
{
    EXPECT_EQ(Module1::bytesToDotted({198, 51, 100, 200}), "198.51.100.200");
    EXPECT_EQ(Module1::bytesToDotted({255, 128, 127, 0}), "255.128.127.0");
    EXPECT_EQ(Module1::bytesToDotted({10, 0, 0, 1}), "10.0.0.1");
}

// The seven yields of a look-up that finds a name, fewer on the shorter paths,
// and the messages in their place among them.
TEST(Module1, AddressToHostMessagesAndYields)
{
    struct Case {
        std::string dotted;
        std::string expected;
        Calls calls;
        bool asksResolver;
    };
    const std::string longName(3000, 'n');
    ScriptedResolver resolver;
    resolver.reverse = {{inet_addr("198.51.100.200"), "router.example"},
                        {inet_addr("10.9.8.7"), longName + ".example"}};
    const Calls seven(7, "yield");
    const Calls invalid{"yield", "yield", "message 0: Invalid IP address"};
    const Calls noName(4, "yield");
    const Case cases[] = {
        {"198.51.100.200", "router.example", seven, true},
        {"10.9.8.7", longName + ".example", seven, true},
        {"192.0.2.1", "", noName, true},
        {"255.255.255.255", "", invalid, false},
        {"router.example", "", invalid, false},
        {"", "", invalid, false},
    };
    for (const Case &c : cases) {
        RecordingToolkit toolkit;
        resolver.reverseAsked.clear();
        EXPECT_EQ(Module1::addressToHost(c.dotted, resolver, toolkit), c.expected) << c.dotted;
        EXPECT_EQ(toolkit.calls, c.calls) << c.dotted;
        EXPECT_EQ(!resolver.reverseAsked.empty(), c.asksResolver) << c.dotted;
    }
}

TEST(Module1, StartUpsSucceedAndCleanUpsAreSilent)
{
    RecordingToolkit toolkit;
    EXPECT_TRUE(startSockets());
    EXPECT_TRUE(Module1::openSockets());
    Module1::closeSockets(toolkit);
    stopSockets(toolkit);
    EXPECT_EQ(toolkit.calls, Calls{});
}

} // namespace
