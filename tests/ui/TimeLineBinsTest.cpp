// The time line's binning: which column a probe falls into at the edges, each
// address's own lowest, highest and mean time in a column, the loss counts, and
// where the y axis ends when a few replies are far slower than the rest.
#include <QTest>
#include <vector>

#include "engine/HopHistory.h"
#include "ui/TimeLineBins.h"

namespace {

// A reply from entry (0: not in the log) or, with rttUs 0, a lost probe.
HopProbe probe(uint64_t sentUs, uint32_t rttUs, uint16_t entry = 1)
{
    HopProbe p{};
    p.sentUs = sentUs;
    p.lost = rttUs == 0;
    p.rttUs = rttUs;
    p.entry = p.lost ? 0 : entry;
    return p;
}

HopHistory history(const std::vector<HopProbe> &probes)
{
    HopHistory h;
    for (const HopProbe &p : probes)
        h.append(p);
    return h;
}

} // namespace

class TimeLineBinsTest : public QObject {
    Q_OBJECT
private slots:
    void probesFallIntoTheirColumnsUpToTheEdges();
    void eachAddressKeepsItsOwnTimesAndLossesAreCounted();
    void theAxisEndsAboveTheBulk_data();
    void theAxisEndsAboveTheBulk();
};

// 1000 us over 10 columns: 100 us each; a probe at the end, or past it while
// the axis has not grown yet, stays in the last column.
void TimeLineBinsTest::probesFallIntoTheirColumnsUpToTheEdges()
{
    const HopHistory h = history({probe(0, 10), probe(99, 20), probe(100, 30), probe(999, 40),
                                  probe(1000, 50), probe(5000, 60)});
    TimeLineBins bins;
    bins.build(h, 1000, 10);
    QCOMPARE(bins.columns(), 10);
    QCOMPARE(bins.probes(0), 2u);
    QCOMPARE(bins.probes(1), 1u);
    QCOMPARE(bins.probes(9), 3u);
    QCOMPARE(bins.probeCount(), size_t{6});
    for (int c = 1; c < bins.columns(); ++c) {
        QCOMPARE(bins.columnOf(bins.columnStartUs(c)), c);
        QCOMPARE(bins.columnOf(bins.columnStartUs(c) - 1), c - 1);
    }
    const auto last = bins.spans(9);
    QCOMPARE(last.size(), size_t{1});
    QCOMPARE(last[0].minUs, 40u);
    QCOMPARE(last[0].maxUs, 60u);
    QCOMPARE(last[0].meanUs(), 50u);
    QVERIFY(bins.spans(5).empty());
}

// Two addresses and the unlogged ones in one column, in the order first
// answered from; a column that only lost has probes and no span.
void TimeLineBinsTest::eachAddressKeepsItsOwnTimesAndLossesAreCounted()
{
    const HopHistory h = history({probe(0, 900, 7), probe(10, 5000, 3), probe(20, 0),
                                  probe(30, 700, 7), probe(40, 6000, 3), probe(50, 800, 0),
                                  probe(150, 0), probe(160, 0), probe(250, 1000, 3)});
    TimeLineBins bins;
    bins.build(h, 300, 3);
    QCOMPARE(bins.seriesEntries(), (std::vector<int32_t>{7, 3, 0}));
    const auto first = bins.spans(0);
    QCOMPARE(first.size(), size_t{3});
    QCOMPARE(first[0].series, uint16_t{0});
    QCOMPARE((std::vector<uint32_t>{first[0].replies, first[0].minUs, first[0].maxUs}),
             (std::vector<uint32_t>{2, 700, 900}));
    QCOMPARE((std::vector<uint32_t>{first[1].replies, first[1].minUs, first[1].maxUs}),
             (std::vector<uint32_t>{2, 5000, 6000}));
    QCOMPARE(first[2].series, uint16_t{2});
    QCOMPARE((std::vector<uint32_t>{bins.probes(0), bins.lost(0)}), (std::vector<uint32_t>{6, 1}));
    QCOMPARE((std::vector<uint32_t>{bins.probes(1), bins.lost(1)}), (std::vector<uint32_t>{2, 2}));
    QVERIFY(bins.spans(1).empty());
    QCOMPARE(bins.spans(2)[0].series, uint16_t{1});
    QCOMPARE(bins.worstUs(), 6000u);
    bins.build(HopHistory(), 300, 3); // nothing: the axis still has a height
    QCOMPARE(bins.scaleUs(), 1000u);
    QVERIFY(bins.seriesEntries().empty());
}

void TimeLineBinsTest::theAxisEndsAboveTheBulk_data()
{
    QTest::addColumn<std::vector<uint32_t>>("times"); // us, one probe each
    QTest::addColumn<uint32_t>("scale");
    QTest::addColumn<uint32_t>("clipped");
    const std::vector<uint32_t> fives(7, 5000);
    auto withSlow = [](std::vector<uint32_t> t, uint32_t slow, size_t count) {
        t.insert(t.begin() + 2, count, slow);
        return t;
    };
    QTest::newRow("all alike") << fives << 10000u << 0u;
    QTest::newRow("one 2 s reply among 5 ms ones") << withSlow(fives, 2000000, 1) << 10000u << 1u;
    QTest::newRow("slow, but under three times the rest")
        << withSlow(fives, 14000, 1) << 20000u << 0u;
    QTest::newRow("too few to call one an outlier")
        << std::vector<uint32_t>{5000, 5000, 2000000} << 5000000u << 0u;
    QTest::newRow("two of 100 far out: more than the slowest hundredth")
        << withSlow(std::vector<uint32_t>(98, 5000), 900000, 2) << 1000000u << 0u;
    QTest::newRow("one of 100 far out, one just out")
        << withSlow(withSlow(std::vector<uint32_t>(98, 5000), 900000, 1), 12000, 1) << 20000u << 1u;
}

// The axis reaches a round figure above the slowest reply, unless the slowest
// hundredth lie more than three times above the rest: they are clipped.
void TimeLineBinsTest::theAxisEndsAboveTheBulk()
{
    QFETCH(std::vector<uint32_t>, times);
    QFETCH(uint32_t, scale);
    QFETCH(uint32_t, clipped);
    std::vector<HopProbe> probes;
    for (size_t i = 0; i < times.size(); ++i)
        probes.push_back(probe(i * 1000, times[i]));
    TimeLineBins bins;
    bins.build(history(probes), times.size() * 1000, 50);
    QCOMPARE(bins.scaleUs(), scale);
    QCOMPARE(bins.clipped(), clipped);
}

QTEST_MAIN(TimeLineBinsTest)
#include "TimeLineBinsTest.moc"
