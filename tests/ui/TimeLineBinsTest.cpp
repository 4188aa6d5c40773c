// The time line's binning: which column a probe falls into at the edges, each
// address's own lowest, highest and mean time in a column, the loss counts, and
// where the y axis ends when a few replies are far slower than the rest.
#include <QTest>
#include <array>
#include <vector>

#include "engine/HopHistory.h"
#include "ui/TimeLineBins.h"

namespace {

// A reply from entry (0: not in the log) or, with rttUs 0, a lost probe.
HopHistory history(const std::vector<std::array<uint32_t, 3>> &probes) // sentUs, rttUs, entry
{
    HopHistory h;
    for (const auto &[sentUs, rttUs, entry] : probes) {
        HopProbe p{};
        p.sentUs = sentUs;
        p.lost = rttUs == 0;
        p.rttUs = rttUs;
        p.entry = static_cast<uint16_t>(entry);
        h.append(p);
    }
    return h;
}

} // namespace

class TimeLineBinsTest : public QObject {
    Q_OBJECT
private slots:
    void columnsKeepEachAddressAndTheLosses();
    void theAxisEndsAboveTheBulk_data();
    void theAxisEndsAboveTheBulk();
};

// 300 us over 3 columns. Column 0: two addresses and the unlogged replies in
// the order first answered from, and a loss; column 1 only lost; the last
// column also takes a probe at the end, or past it while the axis has not
// grown yet.
void TimeLineBinsTest::columnsKeepEachAddressAndTheLosses()
{
    TimeLineBins bins;
    bins.build(history({{0, 900, 7},
                        {10, 5000, 3},
                        {20, 0, 0},
                        {30, 700, 7},
                        {40, 6000, 3},
                        {99, 800, 0},
                        {100, 0, 0},
                        {199, 0, 0},
                        {200, 1000, 3},
                        {300, 3000, 3},
                        {900, 2000, 3}}),
               300, 3);
    QCOMPARE(bins.seriesEntries(), (std::vector<int32_t>{7, 3, 0}));
    const auto first = bins.spans(0);
    QCOMPARE(first.size(), size_t{3});
    QCOMPARE((std::vector<uint32_t>{first[0].replies, first[0].minUs, first[0].maxUs}),
             (std::vector<uint32_t>{2, 700, 900}));
    QCOMPARE((std::vector<uint32_t>{first[1].replies, first[1].minUs, first[1].maxUs}),
             (std::vector<uint32_t>{2, 5000, 6000}));
    QCOMPARE(first[2].series, uint16_t{2});
    QCOMPARE((std::vector<uint32_t>{bins.probes(0), bins.lost(0), bins.probes(1), bins.lost(1)}),
             (std::vector<uint32_t>{6, 1, 2, 2}));
    QVERIFY(bins.spans(1).empty());
    const auto last = bins.spans(2);
    QCOMPARE(last.size(), size_t{1});
    QCOMPARE(
        (std::vector<uint32_t>{last[0].series, last[0].minUs, last[0].maxUs, last[0].meanUs()}),
        (std::vector<uint32_t>{1, 1000, 3000, 2000}));
    for (int c = 1; c < bins.columns(); ++c) {
        QCOMPARE(bins.columnOf(bins.columnStartUs(c)), c);
        QCOMPARE(bins.columnOf(bins.columnStartUs(c) - 1), c - 1);
    }
}

void TimeLineBinsTest::theAxisEndsAboveTheBulk_data()
{
    QTest::addColumn<std::vector<uint32_t>>("times"); // us, one probe each
    QTest::addColumn<uint32_t>("scale");
    QTest::addColumn<uint32_t>("clipped");
    const auto withSlow = [](std::vector<uint32_t> t, uint32_t slow, size_t count) {
        t.insert(t.begin() + 2, count, slow);
        return t;
    };
    const std::vector<uint32_t> fives(7, 5000), many(98, 5000);
    QTest::newRow("one 2 s reply among 5 ms ones") << withSlow(fives, 2000000, 1) << 10000u << 1u;
    QTest::newRow("slow, but under three times the rest")
        << withSlow(fives, 14000, 1) << 20000u << 0u;
    QTest::newRow("too few to call one an outlier")
        << std::vector<uint32_t>{5000, 5000, 2000000} << 5000000u << 0u;
    QTest::newRow("two of 100 far out: more than the slowest hundredth")
        << withSlow(many, 900000, 2) << 1000000u << 0u;
    QTest::newRow("one of 100 far out, one just out")
        << withSlow(withSlow(many, 900000, 1), 12000, 1) << 20000u << 1u;
}

// The axis reaches a round figure above the slowest reply, unless the slowest
// hundredth lie more than three times above the rest: they are clipped.
void TimeLineBinsTest::theAxisEndsAboveTheBulk()
{
    QFETCH(std::vector<uint32_t>, times);
    QFETCH(uint32_t, scale);
    QFETCH(uint32_t, clipped);
    std::vector<std::array<uint32_t, 3>> probes;
    for (size_t i = 0; i < times.size(); ++i)
        probes.push_back({static_cast<uint32_t>(i * 1000), times[i], 1});
    TimeLineBins bins;
    bins.build(history(probes), times.size() * 1000, 50);
    QCOMPARE(bins.scaleUs(), scale);
    QCOMPARE(bins.clipped(), clipped);
}

QTEST_MAIN(TimeLineBinsTest)
#include "TimeLineBinsTest.moc"
