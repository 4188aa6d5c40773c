// The path MTU search of an answering hop and the Asym/TTL text it yields.
#include "tests/engine/EngineFixture.h"

namespace {

// Payload sizes of the don't-fragment probes, consecutive repeats collapsed,
// and how often each was sent.
struct Sizes {
    std::vector<size_t> sizes;
    std::vector<int> tries;
};

Sizes sizesOf(const std::vector<EchoRequest> &requests)
{
    Sizes s;
    for (const EchoRequest &r : requests) {
        if (!s.sizes.empty() && s.sizes.back() == r.payloadSize) {
            ++s.tries.back();
        } else {
            s.sizes.push_back(r.payloadSize);
            s.tries.push_back(1);
        }
    }
    return s;
}

} // namespace

class MtuSearch : public EngineTest {
protected:
    MtuSearch()
    {
        settings.optFindMtu = true;
        settings.optMaxHops = 1;
    }
    FakeHop &hop1() { return router(1); }
};

struct SequenceCase {
    int mtu;
    bool silentDrop;
    std::vector<size_t> sizes;
    std::string shown;
};

class MtuSequence : public MtuSearch, public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(MtuSequence, HalvesTheIntervalToTheLimit)
{
    const SequenceCase c = GetParam();
    hop1().mtu = c.mtu;
    net.hop(1).silentDrop = c.silentDrop;
    trace();
    const Sizes s = sizesOf(net.mtuRequests());
    EXPECT_EQ(s.sizes, c.sizes);
    for (size_t i = 0; i < s.sizes.size(); ++i) {
        const bool tooBig = static_cast<int>(s.sizes[i]) + 28 > c.mtu;
        EXPECT_EQ(s.tries[i], tooBig && c.silentDrop ? settings.optMtuRetries : 1) << s.sizes[i];
    }
    EXPECT_EQ(cell(1, Mtu), c.shown);
    EXPECT_EQ(cell(1, Asym), "0");
    // The details list every probe of the search with what it got.
    const MtuRecord &record = engine.details().mtu(1);
    const auto requests = net.mtuRequests();
    ASSERT_EQ(record.tries.size(), requests.size());
    for (size_t i = 0; i < requests.size(); ++i) {
        const int wire = static_cast<int>(requests[i].payloadSize) + 28;
        const MtuAnswer over = c.silentDrop ? MtuAnswer::noAnswer : MtuAnswer::tooBig;
        EXPECT_EQ(record.tries[i].size, wire);
        EXPECT_EQ(record.tries[i].answer, wire > c.mtu ? over : MtuAnswer::reply) << wire;
    }
    EXPECT_EQ(record.result, MtuResult::found);
    EXPECT_EQ(std::to_string(record.mtu), c.shown);
    EXPECT_EQ(record.run, 1);
}

const std::vector<size_t> to1500 = {92, 1032, 1502, 1267, 1384, 1443, 1472, 1487, 1480, 1476, 1474, 1473};
const std::vector<size_t> to576 = {92, 1032, 562, 327, 444, 503, 532, 547, 554, 550, 548, 549};

INSTANTIATE_TEST_SUITE_P(Limits, MtuSequence,
                         ::testing::Values(SequenceCase{1500, false, to1500, "1500"},
                                           SequenceCase{1500, true, to1500, "1500"},
                                           SequenceCase{576, false, to576, "576"},
                                           SequenceCase{576, true, to576, "576"},
                                           SequenceCase{2000, false, {92, 1032, 1502, 1737, 1854, 1913, 1942, 1957, 1964, 1968, 1970, 1971}, "1999"}));

// An IPv6 trace sends the same packet sizes on the wire: its headers take 48
// bytes where IPv4's take 28, so every payload is 20 bytes smaller. The row
// shows the address in RFC 5952 form and the largest packet that passes.
TEST_F(MtuSearch, Ipv6ProbesTheSamePacketSizesOnTheWire)
{
    const std::string target6 = "2001:db8:0:0::7";
    ops.setCombo1Text(target6);
    net.hop(1) = FakeHop{{"2001:db8::7"}};
    net.hop(1).status = IpStatus::success;
    net.hop(1).mtu = 1280;
    trace();
    ASSERT_EQ(net.mainRequests().size(), 1u);
    EXPECT_EQ(net.mainRequests()[0].payloadSize, 100u - 48);
    std::vector<size_t> wire;
    for (size_t size : sizesOf(net.mtuRequests()).sizes)
        wire.push_back(size + 48);
    EXPECT_EQ(wire, (std::vector<size_t>{120, 1060, 1530, 1295, 1178, 1236, 1266, 1280, 1288, 1284,
                                         1282, 1281}));
    EXPECT_EQ(cell(1, Addr), "2001:db8::7");
    EXPECT_EQ(cell(1, Mtu), "1280");
    EXPECT_EQ(ops.text3(), "2001:db8::7");
}

TEST_F(MtuSearch, ProbesAreDontFragmentWithTtl255ToTheHopsOwnAddress)
{
    settings.optMaxHops = 3;
    settings.optTos = 16;
    settings.optTimeoutSec = 3;
    path(3);
    trace();
    const auto mtu = net.mtuRequests();
    ASSERT_EQ(mtu.size(), 3u * 12u);
    for (size_t i = 0; i < mtu.size(); ++i) {
        const EchoRequest &r = mtu[i];
        EXPECT_EQ(r.ttl, 255);
        EXPECT_EQ(r.flags, IpOptionInformation::dontFragment);
        EXPECT_EQ(r.tos, 16);
        EXPECT_EQ(r.timeoutMs, 3000u);
        EXPECT_EQ(r.payload, std::string(r.payloadSize, 'a'));
    }
    EXPECT_EQ(mtu[0].destinationText(), "10.0.0.1");
    EXPECT_EQ(mtu[12].destinationText(), "10.0.0.2");
    EXPECT_EQ(mtu[24].destinationText(), target);
    EXPECT_EQ(net.requests()[1].payloadSize, 92u) << "the search follows its hop's main probe";
    EXPECT_EQ(ops.yields(), static_cast<int>(net.requestCount())) << "one yield per probe";
}

struct FailCase {
    const char *what;
    int16_t retries;
    int mtu;
    bool silentDrop;
    std::string mtuAnswers;
    std::string shownMtu, shownAsym;
    size_t probes;
};

class MtuOutcome : public MtuSearch, public ::testing::WithParamInterface<FailCase> {};

TEST_P(MtuOutcome, DependsOnTheTriesPerSize)
{
    const FailCase c = GetParam();
    settings.optMtuRetries = c.retries;
    FakeHop &h = hop1();
    h.mtu = c.mtu;
    h.silentDrop = c.silentDrop;
    h.mtuAnswers = c.mtuAnswers;
    trace();
    EXPECT_EQ(cells(1, Mtu, Asym), (std::vector<std::string>{c.shownMtu, c.shownAsym})) << c.what;
    EXPECT_EQ(net.mtuRequests().size(), c.probes) << c.what;
    const HopDetails details = engine.details();
    EXPECT_EQ(details.mtu(1).tries.size(), c.probes) << c.what;
    EXPECT_EQ(details.mtu(1).result, c.shownMtu == "***" ? MtuResult::failed : MtuResult::found);
    EXPECT_EQ(details.asymBasis(1).has_value(), c.shownAsym != "***") << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MtuOutcome,
    ::testing::Values(
        FailCase{"one try, first probe lost", 1, 1500, false, "-+", "***", "***", 1},
        FailCase{"three tries, two lost", 3, 1500, false, "--+", "1500", "0", 14},
        FailCase{"three tries, all lost", 3, 1500, false, "---+", "***", "***", 3},
        FailCase{"first size too big", 3, 100, false, "+", "***", "***", 1},
        FailCase{"first size dropped silently", 3, 100, true, "+", "***", "***", 3},
        FailCase{"only the first size passes", 3, 120, false, "+", "120", "0", 12},
        FailCase{"later sizes timing out count as too big", 2, 1500, false, "+-", "120", "0", 23}));

struct UndecidedCase {
    uint32_t status;
    uint32_t count;
    std::vector<int> tries; // of the sizes 92 and 1032
};

class UndecidedSize : public MtuSearch, public ::testing::WithParamInterface<UndecidedCase> {};

// Any other status tries the size again; a send refused on this machine ends
// the search at once, since no later probe would leave either.
TEST_P(UndecidedSize, IsTriedAgainOrEndsTheSearch)
{
    const UndecidedCase c = GetParam();
    hop1();
    net.setResponder([&c](const EchoRequest &r) -> std::optional<IcmpEchoReply> {
        if (!r.dontFragment() || r.payloadSize != 1032)
            return std::nullopt;
        IcmpEchoReply reply;
        reply.replyCount = c.count;
        reply.status = c.status;
        return reply;
    });
    trace();
    EXPECT_EQ(sizesOf(net.mtuRequests()).tries, c.tries);
    EXPECT_EQ(cells(1, Mtu, Asym), (std::vector<std::string>{"***", "***"}));
    EXPECT_TRUE(net.waits().empty());
}

INSTANTIATE_TEST_SUITE_P(Statuses, UndecidedSize,
                         ::testing::Values(UndecidedCase{IpStatus::destHostUnreachable, 1, {1, 3}},
                                           UndecidedCase{IpStatus::notSent, 0, {1, 1}}));

TEST_F(MtuSearch, StopDuringASearchFailsItAndEndsTheTrace)
{
    settings.optMaxRuns = 3;
    hop1();
    ops.atYield(3, [this] { pressStop(); }); // before the probe of 1032
    trace();
    EXPECT_EQ(sizesOf(net.mtuRequests()).sizes, (std::vector<size_t>{92, 1032}));
    EXPECT_EQ(cells(1, Mtu, Asym), (std::vector<std::string>{"***", "***"}));
    EXPECT_EQ(net.requestCount(), 3u);
    EXPECT_EQ(ops.command1Caption(), "Start");
    EXPECT_EQ(engine.details().mtu(1).result, MtuResult::stopped);
}

TEST_F(MtuSearch, ANotedHopShowsQuestionMarksAndIsNotProbed)
{
    settings.optMaxRuns = 2;
    hop1().addresses = {"10.0.0.1", "10.0.0.9"};
    net.hop(1).replyTtls = {60};
    trace();
    EXPECT_EQ(cells(1, Mtu, Asym), (std::vector<std::string>{"???", "4"}))
        << "Asym keeps the first run's text";
    EXPECT_EQ(net.mtuRequests().size(), 12u) << "no search in run 2";
    EXPECT_EQ(net.requests().back().ttl, 1);
    const HopDetails details = engine.details();
    EXPECT_EQ(details.mtu(1).result, MtuResult::ambiguous);
    EXPECT_TRUE(details.mtu(1).tries.empty());
    EXPECT_EQ(details.mtu(1).run, 2);
    ASSERT_TRUE(details.asymBasis(1)) << "what the Asym column still shows rests on run 1";
    EXPECT_EQ(details.asymBasis(1)->hopsBack, 5);
}

TEST_F(MtuSearch, IsOffByDefaultAndLeavesBothColumnsEmpty)
{
    settings.optFindMtu = false;
    settings.optAsymmetryView = false;
    hop1();
    trace();
    EXPECT_TRUE(net.mtuRequests().empty());
    EXPECT_EQ(cells(1, Mtu, Asym), (std::vector<std::string>{"", ""}));
}

struct AsymCase {
    std::vector<uint8_t> ttls;
    bool asymmetryView;
    int mtu;
    std::string shown;
};

class AsymColumn : public MtuSearch, public ::testing::WithParamInterface<AsymCase> {};

TEST_P(AsymColumn, ComparesTheWayBackWithTheWayThere)
{
    const AsymCase c = GetParam();
    settings.optMaxHops = 5;
    settings.optAsymmetryView = c.asymmetryView;
    path(5);
    net.hop(5).replyTtls = c.ttls;
    net.hop(5).mtu = c.mtu;
    trace();
    EXPECT_EQ(cell(5, Asym), c.shown);
    const auto basis = engine.details().asymBasis(5);
    ASSERT_TRUE(basis);
    EXPECT_EQ(basis->consistent, c.shown != "???");
    EXPECT_EQ(basis->hopsThere, 5);
    const int16_t figure = c.asymmetryView ? basis->asym() : basis->observed;
    EXPECT_EQ(basis->consistent ? std::to_string(figure) : "???", c.shown);
}

INSTANTIATE_TEST_SUITE_P(Hop5, AsymColumn,
                         ::testing::Values(AsymCase{{251}, true, 1500, "0"},
                                           AsymCase{{249}, true, 1500, "2"},
                                           AsymCase{{123}, true, 1500, "1"},
                                           AsymCase{{60}, true, 1500, "0"},
                                           AsymCase{{129}, true, 1500, "-5"},
                                           AsymCase{{251}, false, 1500, "251"},
                                           AsymCase{{251, 251, 250}, true, 1500, "???"},
                                           AsymCase{{251, 251, 250}, false, 1500, "???"},
                                           AsymCase{{251, 250}, true, 120, "0"}));
