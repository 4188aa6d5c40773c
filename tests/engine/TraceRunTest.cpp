// The Start/Stop sequence, the run and hop loops, and what a probe carries.
#include "tests/engine/EngineFixture.h"

#include "net/SendStamps.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

namespace {

const std::vector<std::string> startCalls = {
    "Command1.caption Stop", "Command3.enabled 0", "Command4.enabled 0",
    "Combo1.enabled 0",      "hideOptions",
};
const std::vector<std::string> endCalls = {
    "Command1.caption Start", "Command1.enabled 1", "Command3.enabled 1",
    "Command4.enabled 1",     "Combo1.enabled 1",
};

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts)
{
    std::vector<std::string> out;
    for (const auto &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace

using TraceRun = EngineTest;

TEST_F(TraceRun, RunsEndAtTheTargetAndEveryRowCountsEveryRun)
{
    path(5);
    settings.optMaxRuns = 3;
    trace();
    EXPECT_EQ(mainTtls(), (std::vector<int>{1, 2, 3, 4, 5, 1, 2, 3, 4, 5, 1, 2, 3, 4, 5}));
    ASSERT_EQ(engine.results.rowCount(), 5);
    EXPECT_EQ(engine.maxhop, 5);
    for (int row = 1; row <= 5; ++row) {
        EXPECT_EQ(cell(row, Hop), " " + std::to_string(row));
        EXPECT_EQ(cell(row, Sent), "3");
    }
    EXPECT_EQ(cell(5, Addr), target);
    EXPECT_FALSE(engine.tracing);
    EXPECT_EQ(net.handlesOpen(), 0) << "every hop's handle is closed";
    EXPECT_EQ(net.handlesOpened(), 15);
    EXPECT_EQ(net.sparesClosed(), 1) << "the sockets kept for reuse close with the trace";
}

TEST_F(TraceRun, AFilteredTargetMakesEveryRunGoToTheHopLimit)
{
    router(1);
    router(2);
    settings.optMaxHops = 4;
    settings.optMaxRuns = 2;
    trace();
    EXPECT_EQ(mainTtls(), (std::vector<int>{1, 2, 3, 4, 1, 2, 3, 4}));
    EXPECT_EQ(engine.results.rowCount(), 4);
    EXPECT_EQ(cell(4, Addr), "***");
}

TEST_F(TraceRun, AHopLimitOfOneProbesHopOneOnly)
{
    router(1);
    settings.optMaxHops = 1;
    settings.optMaxRuns = 3;
    trace();
    EXPECT_EQ(mainTtls(), (std::vector<int>{1, 1, 1}));
}

TEST_F(TraceRun, AnyReplyFromTheTargetAddressEndsTheRun)
{
    path(6);
    net.hop(3) = FakeHop{{target}};
    net.hop(3).status = IpStatus::destHostUnreachable;
    settings.optMaxRuns = 2;
    trace();
    EXPECT_EQ(mainTtls(), (std::vector<int>{1, 2, 3, 1, 2, 3}));
}

struct ProbeCase {
    int16_t packetSize, timeoutSec, tos;
    size_t payload;
    uint32_t timeoutMs;
};

class ProbeFields : public EngineTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeFields, CarryTheSettings)
{
    const ProbeCase c = GetParam();
    settings.optPacketSize = c.packetSize;
    settings.optTimeoutSec = c.timeoutSec;
    settings.optTos = c.tos;
    settings.optMaxHops = 3;
    path(3);
    trace();
    const auto requests = net.mainRequests();
    ASSERT_EQ(requests.size(), 3u);
    for (size_t i = 0; i < requests.size(); ++i) {
        const EchoRequest &r = requests[i];
        EXPECT_EQ(r.ttl, i + 1);
        EXPECT_EQ(r.tos, c.tos);
        EXPECT_EQ(r.flags, 0);
        EXPECT_EQ(r.destinationText(), target);
        EXPECT_EQ(r.timeoutMs, c.timeoutMs);
        EXPECT_EQ(r.payload, std::string(c.payload, 'a'));
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, ProbeFields,
                         ::testing::Values(ProbeCase{100, 2, 0, 72, 2000},
                                           ProbeCase{60, 1, 255, 32, 1000},
                                           ProbeCase{2000, 30, 16, 1972, 30000}));

TEST_F(TraceRun, ControlsChangeInOrderAtStartAndEnd)
{
    path(1);
    trace();
    EXPECT_EQ(ops.calls(), joined({startCalls, {"Text3 " + target, "recordHistory"}, endCalls}));
}

TEST_F(TraceRun, ResolvingNamesFillsText2AfterTheHistory)
{
    path(1);
    settings.optResolveNames = true;
    ops.setCombo1Text("target.example");
    net.addHost("target.example", target);
    net.addName(target, "target.example.net");
    trace();
    EXPECT_EQ(ops.calls(), joined({startCalls,
                                   {"Text3 " + target, "recordHistory", "Text2 target.example.net"},
                                   endCalls}));
    EXPECT_EQ(ops.history(), std::vector<std::string>{"target.example"});
}

TEST_F(TraceRun, WithoutNamesText2KeepsItsText)
{
    path(1);
    ops.setText2("earlier.example");
    trace();
    EXPECT_EQ(ops.text2(), "earlier.example");
    EXPECT_TRUE(net.reverseLookups().empty());
}

TEST_F(TraceRun, EachMainProbeIsPrecededByExactlyOneYield)
{
    path(4);
    settings.optMaxRuns = 3;
    trace();
    EXPECT_EQ(ops.yields(), 12);
    EXPECT_EQ(net.requestCount(), 12u);
}

TEST_F(TraceRun, StopDuringTheFirstProbeStillSendsAndWritesIt)
{
    path(5);
    settings.optMaxRuns = 3;
    ops.atYield(1, [this] {
        pressStop();
        EXPECT_FALSE(ops.command1Enabled()) << "Stopping disables the button";
        EXPECT_EQ(ops.command1Caption(), "Stop");
    });
    trace();
    EXPECT_EQ(mainTtls(), std::vector<int>{1});
    ASSERT_EQ(engine.results.rowCount(), 1);
    EXPECT_EQ(cell(1, Addr), "10.0.0.1");
    EXPECT_EQ(ops.command1Caption(), "Start");
    EXPECT_TRUE(ops.command1Enabled() && ops.command3Enabled() && ops.command4Enabled() &&
                ops.combo1Enabled());
    EXPECT_FALSE(engine.tracing);
}

TEST_F(TraceRun, StartEmptiesTheLastTracesResults)
{
    settings.optMaxRuns = 2;
    path(3);
    net.hop(1).addresses = {"10.0.0.1", "10.0.0.2"};
    trace();
    ASSERT_TRUE(engine.hopNoted[1]);
    ASSERT_FALSE(engine.results.notes().empty());
    net.hop(1) = FakeHop{{"10.0.0.7"}};
    settings.optMaxRuns = 1;
    trace();
    EXPECT_FALSE(engine.hopNoted[1]);
    EXPECT_EQ(engine.results.notes(), "");
    EXPECT_EQ(engine.dbIndex, 3);
    EXPECT_EQ(engine.results.rowCount(), 3);
    EXPECT_EQ(cell(1, Addr), "10.0.0.7");
    EXPECT_EQ(cell(1, Sent), "1");
}

TEST_F(TraceRun, ResetResultsEmptiesRowsNotesAndLog)
{
    settings.optMaxRuns = 2;
    path(2);
    net.hop(1).addresses = {"10.0.0.1", "10.0.0.2"};
    trace();
    engine.resetResults();
    EXPECT_EQ(engine.results.rowCount(), 0);
    EXPECT_EQ(engine.maxhop, 0);
    EXPECT_EQ(engine.dbIndex, 0);
    EXPECT_EQ(engine.results.notes(), "");
    EXPECT_FALSE(engine.hopNoted[1]);
}

// ---- targets that cannot be traced

struct RefusedCase {
    std::string host;
    std::string message;
};

class RefusedTarget : public EngineTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedTarget, EndsTheTraceWithOneMessageAndNoProbe)
{
    settings.optResolveNames = true;
    ops.setCombo1Text(GetParam().host);
    trace();
    EXPECT_EQ(net.requestCount(), 0u);
    EXPECT_EQ(net.handlesOpened(), 0);
    ASSERT_EQ(ops.messages().size(), 1u);
    EXPECT_EQ(ops.messages()[0].text, GetParam().message);
    EXPECT_EQ(ops.messages()[0].icon, MessageIcon::none);
    EXPECT_TRUE(net.reverseLookups().empty());
    EXPECT_EQ(ops.history(), std::vector<std::string>{GetParam().host});
    const auto &calls = ops.calls();
    ASSERT_GE(calls.size(), endCalls.size());
    EXPECT_TRUE(std::equal(endCalls.begin(), endCalls.end(), calls.end() - endCalls.size()));
    EXPECT_FALSE(engine.tracing);
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, RefusedTarget,
    ::testing::Values(RefusedCase{"no-such-host.invalid", "Unable to resolve the host name."},
                      RefusedCase{"0.0.0.0", "Invalid IP address"},
                      RefusedCase{"0.1.2.3", "Invalid IP address"},
                      RefusedCase{"224.0.0.1", "Invalid IP address"},
                      RefusedCase{"239.255.255.250", "Invalid IP address"},
                      RefusedCase{"240.0.0.1", "Invalid IP address"},
                      RefusedCase{"255.255.255.255", "Invalid IP address"},
                      RefusedCase{"::", "Invalid IP address"},
                      RefusedCase{"[::]", "Invalid IP address"},
                      RefusedCase{"ff02::1", "Invalid IP address"},
                      RefusedCase{"::ffff:224.0.0.1", "Invalid IP address"},
                      RefusedCase{"1:2:3:4:5:6:7:8:9", "Unable to resolve the host name."},
                      RefusedCase{":::", "Unable to resolve the host name."},
                      RefusedCase{"fe80::1%nosuchif", "Unable to resolve the host name."},
                      RefusedCase{"[", "Unable to resolve the host name."},
                      RefusedCase{"[]", "Unable to resolve the host name."},
                      RefusedCase{std::string(300, ':'), "Unable to resolve the host name."}));

// Only a fault can bring a number outside its range here: the trace refuses
// to start rather than size a packet or index a hop from it.
TEST_F(TraceRun, ASettingOutOfRangeStartsNothing)
{
    path(1);
    for (const SettingRange &r : settingRanges) {
        for (const int v : {r.lo - 1, r.hi + 1, -32768}) {
            ops = FakeWindowOps{};
            ops.setCombo1Text(target);
            settings.setStartupValues();
            settings.*r.value = static_cast<int16_t>(v);
            trace();
            const std::string expected = "message 16 The trace cannot start: " +
                                         std::string(r.label) + " is " + std::to_string(v) +
                                         ", outside " + std::to_string(r.lo) + " to " +
                                         std::to_string(r.hi) + ". Correct it in Options.";
            EXPECT_EQ(ops.calls(), std::vector<std::string>{expected});
            EXPECT_FALSE(engine.tracing);
        }
    }
    EXPECT_EQ(net.handlesOpened(), 0);
    // The bounds themselves are traced.
    ops = FakeWindowOps{};
    ops.setCombo1Text(target);
    for (const SettingRange &r : settingRanges) {
        for (const int16_t v : {r.lo, r.hi}) {
            settings.setStartupValues();
            settings.*r.value = v;
            trace();
        }
    }
    EXPECT_TRUE(ops.messages().empty());
    EXPECT_GE(net.requestCount(), 12u);
}

TEST_F(TraceRun, TheEdgesOfUnicastAreTraced)
{
    for (const std::string host : {"1.0.0.0", "223.255.255.255", "127.0.0.1"}) {
        ops.setCombo1Text(host);
        trace();
        EXPECT_TRUE(ops.messages().empty()) << host;
    }
    EXPECT_EQ(net.requestCount(), 3u * 30u);
}

// ---- no ICMP handle

TEST_F(TraceRun, AHandleThatCannotBeOpenedIsReportedOnceAndEndsTheTrace)
{
    path(5);
    settings.optMaxRuns = 20;
    net.failOpensFrom(3, "socket(ICMP): permission denied; allow the group in "
                         "net.ipv4.ping_group_range or grant CAP_NET_RAW");
    trace();
    EXPECT_EQ(mainTtls(), (std::vector<int>{1, 2}));
    ASSERT_EQ(ops.messages().size(), 1u);
    EXPECT_EQ(ops.messages()[0].text, "Unable to Open an Icmp File Handle\nsocket(ICMP): permission "
                                      "denied; allow the group in net.ipv4.ping_group_range or "
                                      "grant CAP_NET_RAW");
    EXPECT_EQ(ops.messages()[0].icon, MessageIcon::none);
    EXPECT_EQ(engine.results.rowCount(), 2);
    EXPECT_EQ(engine.stats.hopSent[3], 0);
    EXPECT_EQ(ops.command1Caption(), "Start");
    EXPECT_TRUE(ops.command4Enabled());
}

// ---- probes that cannot leave the machine

struct UnsentCase {
    std::string target;
    int sendErrno;
    std::string reason;
};

class FirstProbeUnsent : public EngineTest, public ::testing::WithParamInterface<UnsentCase> {};

TEST_P(FirstProbeUnsent, SaysWhyAndEndsTheTraceWithoutARow)
{
    const UnsentCase c = GetParam();
    ops.setCombo1Text(c.target);
    settings.optMaxRuns = 5;
    net.setResponder([&c](const EchoRequest &) { return unsent(c.sendErrno); });
    trace();
    EXPECT_EQ(net.requestCount(), 1u);
    ASSERT_EQ(ops.messages().size(), 1u);
    EXPECT_EQ(ops.messages()[0].text, "No probe can leave this machine for " + c.target + ": " +
                                          c.reason +
                                          ". Check the connection and press Start again.");
    EXPECT_EQ(ops.messages()[0].icon, MessageIcon::exclamation);
    EXPECT_EQ(engine.results.rowCount(), 0);
    EXPECT_EQ(engine.stats.hopSent[1], 0);
    EXPECT_TRUE(net.waits().empty()) << "the message comes at once";
    EXPECT_EQ(ops.calls().back(), "Combo1.enabled 1") << "ends as a stopped trace";
    EXPECT_TRUE(ops.command4Enabled());
    EXPECT_FALSE(engine.tracing);
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, FirstProbeUnsent,
    ::testing::Values(
        UnsentCase{"10.1.1.1", ENETUNREACH, "the network is unreachable (no route)"},
        UnsentCase{"2001:db8::1", ENETUNREACH, "the network is unreachable (no route)"},
        UnsentCase{"10.1.1.1", EHOSTUNREACH,
                   "the host is unreachable (a route on this machine rejects it)"},
        UnsentCase{"10.1.1.1", EPERM, "a firewall or routing rule of this machine refuses it"},
        UnsentCase{"2001:db8::1", EACCES, "a firewall or routing rule of this machine refuses it"},
        UnsentCase{"2001:db8::1", EADDRNOTAVAIL, "this machine has no address to send it from"}));

// Run 2 meets an outage: each of its probes counts as lost and takes its
// time-out, and the trace goes on when the network is back.
TEST_F(TraceRun, AnOutageMidTraceCostsItsProbesAndTheTraceGoesOn)
{
    path(3);
    settings.optMaxRuns = 4;
    settings.optMaxHops = 3;
    settings.optTimeoutSec = 1;
    net.setResponder([this](const EchoRequest &) -> std::optional<IcmpEchoReply> {
        const size_t n = net.requestCount();
        if (n >= 4 && n <= 6)
            return unsent(ENETUNREACH);
        return std::nullopt;
    });
    trace();
    EXPECT_TRUE(ops.messages().empty());
    EXPECT_EQ(mainTtls(), (std::vector<int>{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
    EXPECT_EQ(net.waits(), (std::vector<uint32_t>{1000, 1000, 1000}));
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(cells(row, Sent, Loss), (std::vector<std::string>{"4", "3", "25"})) << row;
    EXPECT_EQ(cell(3, Addr), target);
}

class UnsentWait : public EngineTest, public ::testing::WithParamInterface<bool> {};

// Stop or Quit during the wait of a probe that was never sent ends it at once.
TEST_P(UnsentWait, EndsAtOnceOnStopOrQuit)
{
    const bool quit = GetParam();
    path(3);
    settings.optMaxRuns = 3;
    net.setResponder([this](const EchoRequest &) -> std::optional<IcmpEchoReply> {
        if (net.requestCount() == 2)
            return unsent(EHOSTUNREACH);
        return std::nullopt;
    });
    net.setIdleCallsPerRequest(10);
    net.setIdleHook([this] {
        ops.yield();
        return !ops.closing();
    });
    // yield 1 precedes probe 1 and 2-11 are its wait, 12 precedes probe 2,
    // 13-22 are the fake's wait for it and 23-32 the time-out it takes
    ops.atYield(25, [this, quit] { quit ? ops.close() : pressStop(); });
    trace();
    EXPECT_EQ(net.requestCount(), 2u);
    EXPECT_EQ(ops.yields(), 25) << "the wait ended at the press";
    EXPECT_EQ(cells(2, Sent, Recv), (std::vector<std::string>{"1", "0"}));
    EXPECT_EQ(ops.callsAfterClose(), 0);
    EXPECT_FALSE(engine.tracing);
}

INSTANTIATE_TEST_SUITE_P(StopOrQuit, UnsentWait, ::testing::Bool());

// ---- the window closing while the trace yields

struct CloseCase {
    const char *moment;
    bool resolveNames;
    bool findMtu;
    int closeAtYield;     // 0: not at a yield
    size_t closeAtRequest; // 0: not during a request
    const char *closeAtLookup; // nullptr: not during a reverse look-up
    size_t requestsSent;
};

class ClosingWindow : public EngineTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(ClosingWindow, EndsTheTraceWithoutAnotherProbeOrWindowCall)
{
    const CloseCase c = GetParam();
    path(4);
    settings.optMaxRuns = 3;
    settings.optResolveNames = c.resolveNames;
    settings.optFindMtu = c.findMtu;
    net.addName("10.0.0.2", "r2.example");
    uint64_t revisionAtClose = 0;
    const auto close = [&] {
        ops.close();
        revisionAtClose = engine.results.revision();
    };
    if (c.closeAtYield > 0)
        ops.atYield(c.closeAtYield, close);
    if (c.closeAtRequest > 0)
        net.onRequest([&](const EchoRequest &, size_t n) {
            if (n == c.closeAtRequest)
                close();
        });
    if (c.closeAtLookup)
        net.onReverseLookup([&](const std::string &dotted) {
            if (dotted == c.closeAtLookup)
                close();
        });
    trace();
    EXPECT_EQ(engine.results.revision(), revisionAtClose) << c.moment << ": results written";
    EXPECT_TRUE(ops.closing()) << c.moment;
    EXPECT_EQ(net.requestCount(), c.requestsSent) << c.moment;
    EXPECT_EQ(ops.callsAfterClose(), 0) << c.moment;
    EXPECT_FALSE(engine.tracing);
    EXPECT_EQ(net.handlesOpen(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Moments, ClosingWindow,
    ::testing::Values(CloseCase{"first yield", false, false, 1, 0, nullptr, 0},
                      CloseCase{"yield of run 2", false, false, 6, 0, nullptr, 5},
                      CloseCase{"during a probe", false, false, 0, 3, nullptr, 3},
                      CloseCase{"target's reverse look-up", true, false, 0, 0, "192.0.2.1", 0},
                      CloseCase{"a hop's reverse look-up", true, false, 0, 0, "10.0.0.2", 2},
                      CloseCase{"MTU search yield", false, true, 4, 0, nullptr, 3},
                      CloseCase{"MTU probe in flight", false, true, 0, 5, nullptr, 5}));

TEST_F(TraceRun, AProbeInFlightWhenTheWindowClosesWritesNoRow)
{
    path(4);
    net.onRequest([&](const EchoRequest &, size_t n) {
        if (n == 2)
            ops.close();
    });
    trace();
    EXPECT_EQ(engine.results.rowCount(), 1);
}

// The window stays live while the forward look-up waits; Stop then ends the
// trace at once, as a stopped trace: no message, no probe, no history entry.
TEST_F(TraceRun, StopDuringASlowForwardLookUpEndsTheTraceWithoutAProbe)
{
    path(1);
    ops.setCombo1Text("slow.example");
    net.addHost("slow.example", target);
    net.setForwardIdleCalls(1000);
    net.setIdleHook([this] {
        ops.yield();
        return !ops.closing();
    });
    ops.atYield(3, [this] { pressStop(); });
    trace();
    EXPECT_EQ(ops.yields(), 3);
    EXPECT_EQ(net.requestCount(), 0u);
    EXPECT_TRUE(ops.messages().empty());
    EXPECT_TRUE(ops.history().empty());
    EXPECT_EQ(ops.calls(), joined({startCalls, {"Command1.enabled 0"}, endCalls}));

    ops.atYield(4, [] {}); // the next trace waits the look-up out and probes
    trace();
    EXPECT_EQ(mainTtls(), std::vector<int>{1});
}

// Replies whose times wait for their send stamps (stamped 7 us after the clock
// read before each send, the queue read a batch at a time) end in the rows,
// Notes and probes of every hop, each in the run it was sent in, of replies
// whose times came at once: losses between them keep their place, and a time
// that the stamp takes below a whole millisecond shows as the stamp's.
TEST_F(TraceRun, TimesSettledLateEndAsTimesGivenAtOnce)
{
    using std::chrono::nanoseconds;
    using namespace std::chrono_literals;
    path(3);
    settings.optMaxRuns = 40; // 120 probes: a batch of 64, and the rest at the end
    const nanoseconds clockStart = 1765000000s;
    uint32_t sent = 0, read = 0;
    int reads = 0;
    std::shared_ptr<SendStamps> stamps;
    stamps = std::make_shared<SendStamps>([&] {
        ++reads;
        for (; read < sent; ++read)
            stamps->record(read, clockStart + read * 1ms + 7us);
    });
    bool late = false;
    net.setResponder([&](const EchoRequest &r) -> std::optional<IcmpEchoReply> {
        const uint32_t key = sent++;
        IcmpEchoReply reply;
        if (r.ttl == 2 && key % 7 == 0)
            return reply; // lost
        const uint32_t us = 990 + key; // across a whole millisecond
        reply.replyCount = 1;
        reply.status = r.ttl == 3 ? IpStatus::success : IpStatus::ttlExpiredTransit;
        reply.address = *IpAddress::parse(r.ttl == 3 ? target : "10.0.0." + std::to_string(r.ttl));
        reply.ttl = static_cast<uint8_t>(64 - r.ttl);
        reply.roundTripUs = late ? us + 7 : us; // late: from the clock read before the send
        reply.roundTripTime = *reply.roundTripUs / 1000;
        if (late) {
            const nanoseconds sentReal = clockStart + key * 1ms;
            reply.pendingStamp = PendingSendStamp{stamps, key, sentReal, sentReal + 7us + us * 1us, 2s};
        }
        return reply;
    });
    const auto shown = [this] {
        std::string text = engine.results.notes();
        for (int row = 1; row <= engine.results.rowCount(); ++row)
            for (int column = 0; column < 12; ++column)
                text += engine.results.cell(row, column) + '|';
        const HopDetails details = engine.details();
        for (int16_t hop = 1; hop <= details.hopCount(); ++hop) {
            const HopHistory &probes = details.probes(hop);
            for (size_t i = 0; i < probes.size(); ++i)
                text += std::to_string(probes[i].run) + ' ' + std::to_string(probes[i].rttUs) + ' '
                      + std::to_string(probes[i].lost) + ' ' + std::to_string(probes[i].entry) + ';';
        }
        return text;
    };
    trace();
    const std::string atOnce = shown();
    sent = 0;
    late = true;
    trace();
    EXPECT_EQ(shown(), atOnce);
    EXPECT_EQ(read, sent) << "every stamp was read";
    EXPECT_LE(reads, 3) << "a batch at a time";
}

// Answers that waited for their send stamps when the window started closing
// are still written, each where it would have gone, without a call to the
// window or a look-up that would yield to it; the probe in flight is not.
TEST_F(TraceRun, AnswersWaitingForTheirStampsWhenTheWindowClosesAreKept)
{
    path(3);
    settings.optMaxRuns = 40;
    settings.optResolveNames = true;
    net.setLateStamps(true);
    size_t lookupsAtClose = 0;
    net.onRequest([&](const EchoRequest &, size_t n) {
        if (n == 50) {
            ops.close();
            lookupsAtClose = net.reverseLookups().size();
        }
    });
    trace();
    const HopDetails details = engine.details();
    size_t written = 0;
    for (int16_t hop = 1; hop <= details.hopCount(); ++hop)
        written += details.probes(hop).size();
    EXPECT_EQ(written, 49u);
    EXPECT_EQ(engine.results.cell(1, 3), "17"); // Sent of hop 1: runs 1 to 17
    EXPECT_EQ(ops.callsAfterClose(), 0);
    EXPECT_EQ(net.reverseLookups().size(), lookupsAtClose);
    EXPECT_EQ(net.stampsUnread(), 0u);
}
