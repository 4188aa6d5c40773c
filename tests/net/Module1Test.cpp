#include "net/Module1.h"
#include "net/Sockets.h"
#include "net/ValidText.h"

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

// Names as resolvers give them: valid UTF-8 passes unchanged; each byte that
// starts no valid sequence, and each control character, becomes U+FFFD.
TEST(Module1, NamesBecomeValidText)
{
    const std::string f = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"router.example", "router.example"},
        {"r\xC3\xB6uter.\xE4\xBE\x8B.\xF0\x9F\x98\x80",
         "r\xC3\xB6uter.\xE4\xBE\x8B.\xF0\x9F\x98\x80"},
        {"caf\xE9.example", "caf" + f + ".example"},        // Latin-1
        {"a\x80\xBF" "b", "a" + f + f + "b"},                 // stray continuations
        {"a\xE4\xBE", "a" + f + f},                           // cut short at the end
        {"\xC0\xAF\xED\xA0\x80", f + f + f + f + f},         // overlong, surrogate
        {"\xF4\x90\x80\x80", f + f + f + f},                  // above U+10FFFF
        {"a\tb\x1B[1m\x7F\xC2\x85", "a" + f + "b" + f + "[1m" + f + f}, // controls, C1 too
        {"", ""},
    };
    for (const auto &[bytes, expected] : cases)
        EXPECT_EQ(validText(bytes), expected) << bytes;
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
