// The Asym/TTL text and the Notes lines as the report reuses them.
#include <gtest/gtest.h>

#include <vector>

#include "engine/AsymText.h"
#include "engine/Notes.h"

struct AsymTextCase {
    std::vector<int16_t> ttls;
    int16_t hop;
    std::string asymmetry, ttl;
};

class AsymTextOf : public ::testing::TestWithParam<AsymTextCase> {};

TEST_P(AsymTextOf, GuessesTheInitialTtlAtThe129And65Thresholds)
{
    const AsymTextCase c = GetParam();
    EXPECT_EQ(asymText(c.ttls, c.hop, true), c.asymmetry);
    EXPECT_EQ(asymText(c.ttls, c.hop, false), c.ttl);
}

INSTANTIATE_TEST_SUITE_P(Ttls, AsymTextOf,
                         ::testing::Values(AsymTextCase{{130}, 1, "125", "130"},
                                           AsymTextCase{{129}, 1, "-1", "129"},
                                           AsymTextCase{{66}, 1, "62", "66"},
                                           AsymTextCase{{65}, 1, "-1", "65"},
                                           AsymTextCase{{0}, 3, "62", "0"},
                                           AsymTextCase{{255}, 1, "0", "255"},
                                           AsymTextCase{{50, 50, 50}, 20, "-5", "50"},
                                           AsymTextCase{{50, 51, 50}, 20, "???", "???"}));

namespace {

struct LogEntry {
    int16_t hop;
    std::string addr, name, count;
};

std::string notesOf(std::initializer_list<int> noted, const std::vector<LogEntry> &entries)
{
    std::array<bool, 256> hopNoted{};
    for (int h : noted)
        hopNoted[static_cast<size_t>(h)] = true;
    AddressLog log;
    int32_t n = 0;
    for (const LogEntry &e : entries) {
        ++n;
        const auto k = static_cast<size_t>(n);
        log.dbHop[k] = e.hop;
        log.dbAddr[k] = e.addr;
        log.dbName[k] = e.name;
        log.dbCount[k] = e.count;
    }
    // a stale entry beyond dbIndex is never read
    log.dbHop[static_cast<size_t>(n + 1)] = 3;
    log.dbAddr[static_cast<size_t>(n + 1)] = "10.9.9.9";
    return notesText(hopNoted, log, n);
}

} // namespace

TEST(NotesText, ListsEachNotedHopsEntriesInLogOrder)
{
    EXPECT_EQ(notesOf({3}, {{3, "10.0.0.1", "", "2"}, {3, "10.0.0.2", "", "1"}}),
              "Hop : 3 / 10.0.0.1  = 2 / 10.0.0.2  = 1\r\n");
    EXPECT_EQ(notesOf({3}, {{3, "10.0.0.1", "a.example", "2"}, {3, "10.0.0.2", "b.example", "1"}}),
              "Hop : 3 / 10.0.0.1 a.example = 2 / 10.0.0.2 b.example = 1\r\n");
    EXPECT_EQ(notesOf({9, 4}, {{9, "10.0.9.1", "", "1"},
                               {4, "10.0.4.1", "", "1"},
                               {5, "10.0.5.1", "", "3"},
                               {9, "10.0.9.2", "", "1"},
                               {4, "10.0.4.2", "r.example", "7"}}),
              "Hop : 4 / 10.0.4.1  = 1 / 10.0.4.2 r.example = 7\r\n"
              "Hop : 9 / 10.0.9.1  = 1 / 10.0.9.2  = 1\r\n");
    EXPECT_EQ(notesOf({255}, {{255, "10.0.0.255", "", "1"}}), "Hop : 255 / 10.0.0.255  = 1\r\n");
    EXPECT_EQ(notesOf({}, {{3, "10.0.0.1", "", "2"}}), "");
}
