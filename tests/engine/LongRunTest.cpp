// The longest trace the settings allow, 10000 runs, with hops that keep
// answering from new addresses until the address log is full: the log stops
// at its capacity, the rows go on counting, and the Notes box lists exactly
// what the log holds.
#include <chrono>
#include <map>

#include "EngineFixture.h"

namespace {

std::string address(int i)
{
    return "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

// Each Notes line as hop -> {address: count}, checking the line's form:
// "Hop : N / address  = count / ..." (no names here) and CR LF.
std::map<int, std::map<std::string, int>> parseNotes(const std::string &notes)
{
    std::map<int, std::map<std::string, int>> out;
    size_t at = 0;
    while (at < notes.size()) {
        const size_t end = notes.find("\r\n", at);
        if (end == std::string::npos) {
            ADD_FAILURE() << "Notes line without CR LF";
            break;
        }
        const std::string line = notes.substr(at, end - at);
        at = end + 2;
        EXPECT_EQ(line.rfind("Hop : ", 0), 0u) << line.substr(0, 20);
        size_t pos = line.find(" / ");
        auto &hop = out[std::stoi(line.substr(6, pos - 6))];
        while (pos != std::string::npos) {
            const size_t next = line.find(" / ", pos + 3);
            const std::string entry = line.substr(pos + 3, next - pos - 3);
            const size_t eq = entry.find("  = ");
            EXPECT_NE(eq, std::string::npos) << entry;
            EXPECT_TRUE(hop.emplace(entry.substr(0, eq), std::stoi(entry.substr(eq + 4))).second)
                << "listed twice: " << entry;
            pos = next;
        }
    }
    return out;
}

} // namespace

class LongRunTest : public EngineTest {};

TEST_F(LongRunTest, TenThousandRunsFillTheAddressLogAndKeepCounting)
{
    constexpr int runs = 10000;
    constexpr int distinct = 1200; // more than the log holds
    settings.optMaxRuns = runs;
    net.setRecordPayloads(false);
    net.setRecording(false);

    // Hop 1: a new address in each of the first 1200 runs, then its first
    // address (logged) and its last (never logged) in turn.
    std::vector<std::string> hop1;
    for (int i = 0; i < distinct; ++i)
        hop1.push_back(address(i));
    for (int run = distinct; run < runs; ++run)
        hop1.push_back(run % 2 == 0 ? address(0) : address(distinct - 1));
    net.hop(1) = FakeHop{hop1};
    // Hop 2: one address until run 1500, then a second one, met when the log is full.
    std::vector<std::string> hop2(1500, "10.2.0.1");
    hop2.push_back("10.2.0.2");
    net.hop(2) = FakeHop{hop2};
    net.hop(3) = FakeHop{{target}};
    net.hop(3).status = IpStatus::success;

    const auto start = std::chrono::steady_clock::now();
    trace();
    const auto took = std::chrono::steady_clock::now() - start;

    EXPECT_EQ(net.requestCount(), size_t{3 * runs});
    EXPECT_EQ(engine.dbIndex, AddressLog::capacity);
    ASSERT_EQ(engine.maxhop, 3);
    const std::vector<std::string> counted = {"10000", "10000", "0"};
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(cells(row, Sent, Loss), counted) << "row " << row;
    EXPECT_EQ(cell(1, Addr), "see Notes !!!");
    EXPECT_EQ(cell(2, Addr), "see Notes !!!");
    EXPECT_EQ(cell(3, Addr), target);

    // Log: hop 1's first address, hop 2's, the target, then hop 1's next 997.
    const auto notes = parseNotes(engine.results.notes());
    ASSERT_EQ(notes.size(), size_t{2});
    const auto &first = notes.at(1);
    EXPECT_EQ(first.size(), size_t{998});
    EXPECT_EQ(first.at(address(0)), 1 + (runs - distinct) / 2);
    EXPECT_EQ(first.at(address(997)), 1);
    EXPECT_FALSE(first.contains(address(998)));
    EXPECT_FALSE(first.contains(address(distinct - 1)));
    // Hop 2 is noted although its second address found no room.
    EXPECT_EQ(notes.at(2), (std::map<std::string, int>{{"10.2.0.1", 1500}}));
    EXPECT_EQ(engine.log.dbAddr[3], target);
    EXPECT_EQ(engine.log.dbCount[3], "10000");
    // The history counts every reply, those from addresses the log could
    // not hold as one group: hop 1's 998th to 1200th address and its last
    // one's later replies, hop 2's second address.
    const HopDetails details = engine.details();
    EXPECT_EQ(details.probes(1).size(), size_t{runs});
    const auto hop1Groups = details.addressStatistics(1);
    EXPECT_EQ(hop1Groups.size(), size_t{998 + 1});
    EXPECT_EQ(hop1Groups.back().entry, 0);
    EXPECT_EQ(hop1Groups.back().stats.replies, 202 + (runs - distinct) / 2);
    EXPECT_EQ(details.addressStatistics(2).back().stats.replies, runs - 1500);

    EXPECT_TRUE(ops.command4Enabled());
    EXPECT_FALSE(engine.tracing);
    // A few seconds at most, also under the sanitizers.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(took).count(), 20);
}
