// What each main probe's outcome does to the hop's counters, the address log
// and its row.
#include "tests/engine/EngineFixture.h"

#include <algorithm>

using HopRows = EngineTest;
using V = std::vector<std::string>;

// A scripted hop 1 over several runs, then the row from Addr to Asym.
struct RowCase {
    const char *what;
    bool resolveNames;
    int runs;
    std::string answers;
    std::vector<uint32_t> rtts;
    V row; // Addr, Host, Sent, Recv, Loss, Best, Avg, Worst, Last, Mtu, Asym
};

class HopRow : public EngineTest, public ::testing::WithParamInterface<RowCase> {};

TEST_P(HopRow, ShowsTheHopsCounters)
{
    const RowCase c = GetParam();
    settings.optMaxHops = 1;
    settings.optMaxRuns = static_cast<int16_t>(c.runs);
    settings.optResolveNames = c.resolveNames;
    router(1).answers = c.answers;
    net.hop(1).rtts = c.rtts;
    net.addName("10.0.0.1", "r1.example");
    trace();
    ASSERT_EQ(engine.results.rowCount(), 1);
    EXPECT_EQ(cells(1, Addr, Asym), c.row) << c.what;
    expectFiguresMatchRow(1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HopRow,
    ::testing::Values(
        RowCase{"never answers", false, 1, "-", {}, V{"***", "", "1", "0", "100", "---", "---", "---", "---", "", ""}},
        RowCase{"never answers, names", true, 2, "-", {}, V{"***", "***", "2", "0", "100", "---", "---", "---", "---", "", ""}},
        RowCase{"answer then time-out", false, 2, "+-", {7}, V{"***", "", "2", "1", "50", "7", "7", "7", "---", "", ""}},
        RowCase{"0 ms replies", false, 2, "+", {0}, V{"10.0.0.1", "", "2", "2", "0", "0", "0", "0", "0", "", ""}},
        RowCase{"0 ms, then time-out", false, 3, "++-", {0}, V{"***", "", "3", "2", "33", "0", "0", "---", "---", "", ""}},
        RowCase{"10, 20, 31 ms", false, 3, "+", {10, 20, 31}, V{"10.0.0.1", "", "3", "3", "0", "10", "20", "31", "31", "", ""}},
        RowCase{"loss truncates", false, 3, "+--", {5}, V{"***", "", "3", "1", "66", "5", "5", "5", "---", "", ""}},
        RowCase{"avg truncates", false, 3, "+-+", {1, 2}, V{"10.0.0.1", "", "3", "2", "33", "1", "1", "2", "2", "", ""}},
        RowCase{"name from the 2nd reply on", true, 2, "+", {1}, V{"10.0.0.1", "r1.example", "2", "2", "0", "1", "1", "1", "1", "", ""}},
        RowCase{"name at the first reply", true, 1, "+", {1}, V{"10.0.0.1", "r1.example", "1", "1", "0", "1", "1", "1", "1", "", ""}}));

TEST_F(HopRows, TheFirstRowReadsWithALeadingSpace)
{
    path(12);
    trace();
    EXPECT_EQ(cell(1, Hop), " 1");
    EXPECT_EQ(cell(1, Sent), "1");
    EXPECT_EQ(cell(12, Hop), " 12");
}

TEST_F(HopRows, AHopAnsweringFromRunTwoShowsItsNameFromRunThree)
{
    settings.optMaxHops = 1;
    settings.optResolveNames = true;
    router(1).answers = "-+";
    net.addName("10.0.0.1", "r1.example");
    const V expected[] = {{"***", "***"}, {"10.0.0.1", ""}, {"10.0.0.1", "r1.example"}};
    for (int runs = 1; runs <= 3; ++runs) {
        settings.optMaxRuns = static_cast<int16_t>(runs);
        net.rewind();
        trace();
        EXPECT_EQ(cells(1, Addr, Host), expected[runs - 1]) << runs << " runs";
    }
    const auto &lookups = net.reverseLookups();
    EXPECT_EQ(std::count(lookups.begin(), lookups.end(), "10.0.0.1"), 2)
        << "one look-up per trace, when the address is first logged";
}

TEST_F(HopRows, TwoAddressesAtOneHopAreListedInTheNotes)
{
    settings.optMaxHops = 1;
    settings.optResolveNames = true;
    net.addName("10.0.0.1", "r1.example");
    net.hop(1) = FakeHop{{"10.0.0.1", "10.0.0.2", "10.0.0.1", "10.0.0.3"}, "+++-+"};
    const V expected[] = {
        {"10.0.0.1", "r1.example", ""},
        {"see Notes !!!", "", "Hop : 1 / 10.0.0.1 r1.example = 1 / 10.0.0.2  = 1\r\n"},
        {"see Notes !!!", "", "Hop : 1 / 10.0.0.1 r1.example = 2 / 10.0.0.2  = 1\r\n"},
        {"see Notes !!!", "***", "Hop : 1 / 10.0.0.1 r1.example = 2 / 10.0.0.2  = 1\r\n"},
        {"see Notes !!!", "", "Hop : 1 / 10.0.0.1 r1.example = 2 / 10.0.0.2  = 1 / 10.0.0.3  = 1\r\n"},
    };
    for (int runs = 1; runs <= 5; ++runs) {
        settings.optMaxRuns = static_cast<int16_t>(runs);
        net.rewind();
        trace();
        const V seen{cell(1, Addr), cell(1, Host), engine.results.notes()};
        EXPECT_EQ(seen, expected[runs - 1]) << runs << " runs";
    }
    EXPECT_TRUE(engine.hopNoted[1]);
    EXPECT_EQ(cell(1, Recv), "4") << "every reply counts, whatever its address";
}

TEST_F(HopRows, NotesListNotedHopsInOrderWithTheirOwnAddressesOnly)
{
    path(10);
    settings.optMaxRuns = 2;
    net.hop(9).addresses = {"10.0.9.1", "10.0.9.2"};
    net.hop(4).addresses = {"10.0.4.1", "10.0.4.2"};
    trace();
    EXPECT_EQ(engine.results.notes(), "Hop : 4 / 10.0.4.1  = 1 / 10.0.4.2  = 1\r\n"
                                      "Hop : 9 / 10.0.9.1  = 1 / 10.0.9.2  = 1\r\n");
    EXPECT_EQ(cell(5, Addr), "10.0.0.5");
}

// 255 hops answering from a new address in every run fill the log; later
// replies are still counted in the rows.
TEST_F(HopRows, AFullAddressLogRefusesEntriesButRowsKeepCounting)
{
    settings.optMaxHops = 255;
    settings.optMaxRuns = 5;
    for (int ttl = 1; ttl <= 255; ++ttl) {
        FakeHop &h = net.hop(ttl);
        for (int run = 1; run <= 5; ++run)
            h.addresses.push_back("10." + std::to_string(run) + "." + std::to_string(ttl) + ".1");
    }
    trace();
    EXPECT_EQ(engine.dbIndex, AddressLog::capacity);
    ASSERT_EQ(engine.results.rowCount(), 255);
    for (int row = 1; row <= 255; ++row) {
        EXPECT_EQ(cell(row, Recv), "5") << row;
        EXPECT_EQ(cell(row, Addr), "see Notes !!!") << row;
    }
    EXPECT_EQ(engine.log.dbAddr[1000], "10.4.235.1") << "the last entry that fitted";
    // Hop 235 got its 4th address logged, its 5th not; hop 236 only 3 of 5.
    const HopDetails details = engine.details();
    EXPECT_EQ(details.addressStatistics(235).back().entry, 0);
    EXPECT_EQ(details.addressStatistics(235).back().stats.replies, 1);
    EXPECT_EQ(details.addressStatistics(236).back().stats.replies, 2);
    EXPECT_EQ(details.addressText(details.probes(235)[3].entry), "10.4.235.1");
    EXPECT_EQ(details.statistics(236).replies, 5);
}

// Names that come after their look-up's wait: the target's, a row's that
// still shows the address, and one of a hop that has since been noted.
TEST_F(HopRows, LateNamesGoWhereTheRowRulesPutThem)
{
    path(3);
    settings.optMaxRuns = 2;
    settings.optResolveNames = true;
    net.hop(2).addresses = {"10.0.0.2", "10.0.0.22"};
    net.addLateName("10.0.0.1", "r1.late");
    net.addLateName("10.0.0.2", "r2.late");
    net.addLateName(target, "dst.late");
    ops.onEveryYield([this] {
        if (engine.hopNoted[2]) // the names come once hop 2 is noted
            net.arriveLate();
    });
    trace();
    EXPECT_EQ(ops.text2(), "dst.late");
    EXPECT_EQ(cells(1, Addr, Host), (V{"10.0.0.1", "r1.late"}));
    EXPECT_EQ(cells(2, Addr, Host), (V{"see Notes !!!", ""}));
    EXPECT_EQ(engine.results.notes(), "Hop : 2 / 10.0.0.2 r2.late = 1 / 10.0.0.22  = 1\r\n");
    EXPECT_EQ(cells(3, Addr, Host), (V{target, "dst.late"}));
    EXPECT_EQ(engine.log.dbName[3], "dst.late");
}

// A late name that comes when the row does not show its address: logged at a
// later reply (the name shows from the hop's next reply on), or the hop has
// timed out since. The log keeps the name either way.
TEST_F(HopRows, ALateNameWaitsForTheRowsNextReply)
{
    const std::pair<std::string, V> cases[] = {{"-+", {"10.0.0.1", ""}}, {"+-", {"***", "***"}}};
    for (const auto &[answers, row] : cases) {
        settings.optMaxHops = 1;
        settings.optMaxRuns = 2;
        settings.optResolveNames = true;
        router(1).answers = answers;
        net.rewind();
        net.addLateName("10.0.0.1", "r1.late");
        trace();
        net.arriveLate();
        engine.deliverLateNames();
        EXPECT_EQ(cells(1, Addr, Host), row) << answers;
        EXPECT_EQ(engine.log.dbName[1], "r1.late") << answers;
    }
}

// A reset (host entry, Options OK) or a new Start comes between the look-up
// and its late name; the second trace meets other addresses.
TEST_F(HopRows, ALateNameAfterAResetOrANewStartGoesNowhere)
{
    for (const bool newStart : {false, true}) {
        settings.optResolveNames = true;
        router(1);
        net.addLateName("10.0.0.1", "r1.late");
        net.addLateName(target, "dst.late");
        settings.optMaxHops = 1;
        ops.setText2("");
        trace();
        engine.resetResults();
        net.hop(1) = FakeHop{{"10.0.0.7"}};
        ops.setCombo1Text("10.0.0.7");
        if (newStart) {
            ops.atYield(ops.yields() + 1, [this] { net.arriveLate(); });
            trace();
        } else {
            net.arriveLate();
        }
        engine.deliverLateNames();
        EXPECT_EQ(ops.text2(), "") << newStart;
        for (int32_t k = 1; k <= engine.dbIndex; ++k)
            EXPECT_EQ(engine.log.dbName[static_cast<size_t>(k)], "") << newStart;
        for (int row = 1; row <= engine.results.rowCount(); ++row)
            EXPECT_EQ(cell(row, Host), "") << newStart;
        ops.setCombo1Text(target);
    }
}
