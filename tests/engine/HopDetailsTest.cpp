// Each hop's probe history and what the hop details read from it: the
// figures, where the losses were lost, and the reset, for both families.
#include "engine/PercentText.h"
#include "tests/engine/EngineFixture.h"

namespace {

struct LossCase {
    const char *what;
    int runs;
    // Hop 1, 2, ...: '+' answered (by the target from targetFrom on, else by
    // the hop's router), '-' lost, 'R' answered by the router, 'T' by the target.
    std::vector<std::string> answers;
    int targetFrom;              // the target answers from this hop on; 0: nowhere
    int16_t hop;                 // the hop looked at
    std::vector<int32_t> counts; // probes, lost, noReply, forward, undecided, longestLossRun
    std::vector<bool> flags;     // silent, target, nothingBeyond
    std::string text;
    int stopAt = 0; // Stop is pressed while this main probe (1-based) is out; 0: never
};

} // namespace

// Routers 10.0.0.<ttl> or 2001:db8::<ttl>, the target 192.0.2.1 or 2001:db8:ff::1.
class HopDetailsTest : public EngineTest, public ::testing::WithParamInterface<bool> {
protected:
    HopDetailsTest() { ops.setCombo1Text(targetText()); }
    bool ipv6() const { return GetParam(); }
    std::string targetText() const { return ipv6() ? "2001:db8:ff::1" : target; }
    std::string routerText(int ttl) const
    {
        return (ipv6() ? "2001:db8::" : "10.0.0.") + std::to_string(ttl);
    }
    // Hops answering in the given patterns (see LossCase), from targetFrom
    // on (if not 0) as the target; one silent hop beyond them.
    void script(const std::vector<std::string> &answers, int targetFrom)
    {
        net.rewind();
        settings.optMaxHops = static_cast<int16_t>(answers.size() + 1);
        net.hop(settings.optMaxHops) = FakeHop{};
        for (size_t i = 0; i < answers.size(); ++i) {
            const int ttl = static_cast<int>(i) + 1;
            const bool isTarget = targetFrom > 0 && ttl >= targetFrom;
            FakeHop &hop = net.hop(ttl) = FakeHop{{}, answers[i]};
            for (char &c : hop.answers) {
                if (c == '-')
                    continue;
                const bool fromTarget = c == 'T' || (c == '+' && isTarget);
                hop.addresses.push_back(fromTarget ? targetText() : routerText(ttl));
                c = '+';
            }
        }
    }
    // Stop is pressed while the n-th main probe from now is out (never for 0).
    void stopAtProbe(int n)
    {
        net.onRequest([this, n, count = 0](const EchoRequest &, size_t) mutable {
            if (++count == n)
                pressStop();
        });
    }
};

class LossTable : public HopDetailsTest {
protected:
    static const std::vector<LossCase> cases;
};

TEST_P(LossTable, SaysWhereTheLostProbesWereLost)
{
    for (const LossCase &c : cases) {
        settings.optMaxRuns = static_cast<int16_t>(c.runs);
        script(c.answers, c.targetFrom);
        stopAtProbe(c.stopAt);
        trace();
        const LossBreakdown b = engine.details().loss(c.hop);
        EXPECT_EQ((std::vector<int32_t>{b.probes, b.lost, b.noReply, b.forward, b.undecided,
                                        b.longestLossRun}),
                  c.counts)
            << c.what;
        EXPECT_EQ((std::vector<bool>{b.silent, b.target, b.nothingBeyond}), c.flags) << c.what;
        EXPECT_EQ(b.pending, 0) << c.what;
        EXPECT_EQ(engine.details().lossText(c.hop), c.text) << c.what;
        for (int row = 1; row <= engine.results.rowCount(); ++row)
            expectFiguresMatchRow(row);
    }
}

// "The target": its probe lost at hop 3 is answered at hop 4 in that run; the
// target answering one hop further is the path losing a probe, not a quiet router.
// A route that shortens or lengthens: where the target answered is decided run
// by run. Stop: what the run cut short did not probe decides nothing.
const std::vector<LossCase> LossTable::cases = {
    {"every 4th reply lost, later hops answer", 8, {"+", "+++-+++-", "+"}, 3, 2,
     {8, 2, 2, 0, 0, 1}, {false, false, false},
     "25 % of probes got no reply from this router, but later hops answered in those runs: the "
     "router limits its replies; the path itself lost 0 %."},
    {"a silent router", 3, {"+", "-", "+"}, 3, 2, {3, 3, 3, 0, 0, 3}, {true, false, false},
     "This router answered none of its 3 probes, but later hops answered in those runs: it "
     "forwards traffic without replying to probes; the path itself lost 0 %."},
    {"some loss beyond too", 8, {"+", "++---+--", "++-+++++"}, 3, 2, {8, 5, 4, 1, 0, 3},
     {false, false, false},
     "50 % of probes got no reply from this router, but later hops answered in those runs: the "
     "router limits its replies; the path itself lost 12.5 %."},
    {"nothing answers beyond", 4, {"+", "+-+-"}, 0, 2, {4, 2, 0, 2, 0, 1}, {false, false, true},
     "50 % of probes got no reply. No later hop has answered: loss here is loss of the path."},
    {"the target", 4, {"+", "+", "+-+-", "+"}, 3, 3, {4, 2, 0, 2, 0, 1}, {false, true, false},
     "50 % of probes got no reply. This is the target: its loss is loss of the path."},
    {"no loss", 2, {"+", "+"}, 2, 1, {2, 0, 0, 0, 0, 0}, {false, false, false},
     "Every probe got a reply."},
    {"Stop at a lossy hop", 5, {"+", "++++-", "+"}, 3, 2, {5, 1, 0, 0, 1, 1},
     {false, false, false},
     "20 % of probes got no reply in the run cut short before a later hop answered: whether "
     "this router or the path lost it is undecided.",
     14},
    {"Stop at a silent hop in the first run", 3, {"+", "-", "+"}, 3, 2, {1, 1, 0, 0, 1, 1},
     {false, false, true},
     "100 % of probes got no reply in the run cut short before a later hop answered: whether "
     "this router or the path lost it is undecided.",
     2},
    {"Stop at a silent hop in the third run", 3, {"+", "-", "+"}, 3, 2, {3, 3, 2, 0, 1, 3},
     {true, false, false},
     "This router answered none of its 3 probes, but later hops answered in those runs: it "
     "forwards traffic without replying to probes; the path itself lost 0 %. 1 probe lost in "
     "the run cut short before a later hop answered is undecided.",
     8},
    {"Stop beyond the last hop that answered", 3, {"+", "--+"}, 0, 2, {2, 2, 0, 1, 1, 2},
     {false, false, true},
     "100 % of probes got no reply. No later hop has answered: the path itself lost 50 %. 1 "
     "probe lost in the run cut short before a later hop answered is undecided.",
     5},
    {"a route that shortens", 5, {"+", "+", "--RTT", "T"}, 0, 3, {5, 2, 2, 0, 0, 2},
     {false, true, false},
     "40 % of probes got no reply here while later hops answered in those runs (the route was "
     "longer then); the path itself lost 0 %."},
    {"a route that lengthens", 5, {"+", "+", "TTTR-", "T"}, 0, 3, {5, 1, 1, 0, 0, 1},
     {false, true, false},
     "20 % of probes got no reply here while later hops answered in those runs (the route was "
     "longer then); the path itself lost 0 %."},
};

INSTANTIATE_TEST_SUITE_P(Families, LossTable, ::testing::Values(false, true));

// Until the run has probed the later hops, a loss in it is undecided.
TEST_P(HopDetailsTest, ALossInTheRunStillGoingWaitsForLaterHops)
{
    script({"+", "-", "+"}, 3);
    std::optional<LossBreakdown> seen;
    net.onRequest([&](const EchoRequest &r, size_t) {
        if (r.ttl == 3)
            seen = engine.details().loss(2);
    });
    trace();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->pending, 1);
    EXPECT_EQ(engine.details().lossText(2).substr(0, 4), "This"); // then silent
}

// Precise times where the kernel stamps gave them, whole ms where not; the
// row keeps the mean of whole milliseconds.
TEST_P(HopDetailsTest, FiguresUseThePreciseTimesAndTheRowTruncatesThem)
{
    settings.optMaxRuns = 5;
    script({"+++-+", "+"}, 2);
    net.hop(1).rtts = {0, 0, 0, 4};
    net.hop(1).rttUs = {1999, 3000, FakeHop::unstamped, 2500};
    trace();
    const RttStatistics s = engine.details().statistics(1);
    EXPECT_EQ(s.probes, 5);
    EXPECT_EQ(s.replies, 4);
    EXPECT_DOUBLE_EQ(s.share, 0.8);
    EXPECT_EQ(s.imprecise, 1); // the 0 ms of the third
    EXPECT_DOUBLE_EQ(s.best, 0.0);
    EXPECT_DOUBLE_EQ(s.worst, 3.0);
    EXPECT_DOUBLE_EQ(s.median, 2.2495);
    EXPECT_DOUBLE_EQ(s.avg, 1.87475);
    EXPECT_NEAR(s.p95, 2.925, 1e-9);
    EXPECT_NEAR(s.stdev, 1.31495, 1e-5);
    EXPECT_NEAR(s.jitter, (1.001 + 3.0 + 2.5) / 3, 1e-9);
    ASSERT_TRUE(s.last);
    EXPECT_DOUBLE_EQ(*s.last, 2.5);
    EXPECT_EQ(cells(1, Best, Last), (std::vector<std::string>{"0", "1", "3", "2"}));
    expectFiguresMatchRow(1);
    const HopProbe &unstamped = engine.details().probes(1)[2];
    EXPECT_FALSE(unstamped.precise);
    EXPECT_TRUE(engine.details().probes(1)[0].precise);
}

// One reply has no spread; jitter follows consecutive replies of the hop and,
// per address, that address's own (10, 11, 12 ms give 1).
TEST_P(HopDetailsTest, JitterIsTheMeanStepBetweenConsecutiveReplies)
{
    settings.optMaxRuns = 1;
    script({"+", "+"}, 2);
    trace();
    const RttStatistics one = engine.details().statistics(1);
    EXPECT_EQ(one.replies, 1);
    EXPECT_EQ(one.stdev, 0.0);
    EXPECT_EQ(one.jitter, 0.0);

    settings.optMaxRuns = 6;
    script({"+++-++", "+"}, 2);
    net.hop(1).addresses = {routerText(7), routerText(8), routerText(7), routerText(7),
                            routerText(8)};
    net.hop(1).rtts = {10, 20, 11, 12, 30};
    trace();
    EXPECT_DOUBLE_EQ(engine.details().statistics(1).jitter, (10 + 9 + 1 + 18) / 4.0);
    const auto byAddress = engine.details().addressStatistics(1);
    ASSERT_EQ(byAddress.size(), 2u);
    EXPECT_DOUBLE_EQ(byAddress[0].stats.jitter, 1.0) << "10, 11, 12";
    EXPECT_DOUBLE_EQ(byAddress[1].stats.jitter, 10.0) << "20, 30";
}

// Per address, in the order first answered from; each probe's run, send
// time and address as the Copy text lists them.
TEST_P(HopDetailsTest, KeepsEachProbeWithItsRunTimeAndAddress)
{
    settings.optMaxRuns = 4;
    script({"+-++", "+"}, 2);
    net.hop(1).addresses = {routerText(7), routerText(8), routerText(7)};
    net.hop(1).rtts = {2, 4, 6};
    net.addName(routerText(7), "r7.example");
    settings.optResolveNames = true;
    trace();
    const HopDetails details = engine.details();
    ASSERT_EQ(details.hopCount(), 2);
    const HopHistory &probes = details.probes(1);
    ASSERT_EQ(probes.size(), 4u);
    for (size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(probes[i].run, i + 1);
        EXPECT_GE(probes[i].sentUs, i > 0 ? probes[i - 1].sentUs : 0u);
    }
    const auto byAddress = details.addressStatistics(1);
    ASSERT_EQ(byAddress.size(), 2u);
    EXPECT_EQ(details.addressText(byAddress[0].entry), routerText(7));
    EXPECT_EQ(byAddress[0].stats.replies, 2);
    EXPECT_DOUBLE_EQ(byAddress[0].stats.avg, 4.0);
    EXPECT_NEAR(byAddress[0].stats.share, 2.0 / 3, 1e-12);
    EXPECT_EQ(details.addressName(byAddress[0].entry), "r7.example");
    EXPECT_EQ(details.addressText(byAddress[1].entry), routerText(8));
    EXPECT_DOUBLE_EQ(byAddress[1].stats.best, 4.0);
    const std::string lines = details.probeLines(1);
    EXPECT_NE(lines.find("\n2\t"), std::string::npos);
    EXPECT_NE(lines.find("\t\ttimeout\n3\t"), std::string::npos);
    EXPECT_EQ(lines.substr(lines.size() - 7), "\t6.000\n");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 4);
}

// The history empties with the rows: by the host entry's or Options' reset,
// and at every Start.
TEST_P(HopDetailsTest, EmptiesWithTheRows)
{
    settings.optFindMtu = true;
    script({"+", "+"}, 2);
    trace();
    ASSERT_EQ(engine.details().probes(2).size(), 1u);
    const uint64_t before = engine.details().revision();
    engine.resetResults();
    const HopDetails details = engine.details();
    EXPECT_NE(details.revision(), before);
    EXPECT_EQ(details.hopCount(), 0);
    EXPECT_TRUE(details.probes(1).empty());
    EXPECT_EQ(details.mtu(1).result, MtuResult::none);
    EXPECT_FALSE(details.replyTtl(1));
    EXPECT_EQ(details.lossText(1), "No probes yet.");
    for (const int16_t outside : {0, 256, -1})
        EXPECT_TRUE(details.probes(outside).empty()) << outside;
    settings.optMaxRuns = 2;
    trace();
    trace();
    EXPECT_EQ(engine.details().probes(1).size(), 2u) << "only the last trace's";
    EXPECT_EQ(engine.details().probes(1).back().run, 2);
}

INSTANTIATE_TEST_SUITE_P(Families, HopDetailsTest, ::testing::Values(false, true));

// A share that is neither all nor none never reads as either.
TEST(PercentText, NeverReadsAsAllOrNoneUnlessItIs)
{
    const struct {
        double share;
        int decimals;
        const char *text;
    } cases[] = {
        {9999 / 10000.0, 1, "99.99"}, {1 / 10000.0, 1, "0.01"}, {1 / 3.0, 1, "33.3"},
        {1, 1, "100.0"},              {0, 1, "0.0"},            {0.25, 0, "25"},
        {0.996, 0, "99.6"},           {0.004, 0, "0.4"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(percentText(c.share, c.decimals), c.text) << c.share;
}
