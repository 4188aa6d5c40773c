#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/Report.h"

namespace {

const std::string crlf = "\r\n";
const std::string headerStart = "Hop IP address      Hostname ";
const std::string headerMiddle = "Sent  Recv  Loss% Best  Avg   Worst Last  MTU   ";

// A result row from its sub-items 1..11; the Hop text is set to something the
// report must not use.
ResultModel::Row row(const std::vector<std::string> &subItems) {
    ResultModel::Row r;
    r[0] = " 99";
    for (size_t k = 0; k < subItems.size(); ++k)
        r[k + 1] = subItems[k];
    return r;
}

ResultModel::Row timeoutRow() {
    return row({"***", "", "1", "0", "100", "---", "---", "---", "---", "", ""});
}

ReportSnapshot startupSnapshot() {
    ReportSnapshot s;
    s.combo1Text = "example.net";
    s.settings.setStartupValues();
    return s;
}

std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(crlf, start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text must end in CR LF";
    for (const std::string &l : lines)
        EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos) << "stray CR or LF in: " << l;
    return lines;
}

// Table line of hop c (1-based) of a report.
std::string tableLine(const std::string &report, size_t c) {
    return splitLines(report).at(15 + c);
}

TEST(Report, FailedStartupHasHeadOptionsHeaderAndEmptyNotes) {
    ReportSnapshot s = startupSnapshot();
    s.text3 = "";
    s.text2 = "";
    const std::string expected =
        "Tracing to : example.net\r\n"
        "IP address : \r\n"
        "Host name  : \r\n"
        "\r\n"
        "Options\r\n"
        "Resolve names  : False\r\n"
        "Find MTU       : False\r\n"
        "Asymmetry/TTL  : Asymmmetry\r\n"
        "IP packet size : 100\r\n"
        "Timeout (sec)  : 2\r\n"
        "Max runs       : 20\r\n"
        "Max hops       : 30\r\n"
        "ToS            : 0\r\n"
        "MTU retries    : 3\r\n"
        "\r\n"
        "Hop IP address      Hostname Sent  Recv  Loss% Best  Avg   Worst Last  MTU   Asym\r\n"
        "\r\n"
        "Notes\r\n";
    EXPECT_EQ(buildReport(s), expected);
}

TEST(Report, HeadLinesCarryTheTextsAsTheyAre) {
    ReportSnapshot s = startupSnapshot();
    s.combo1Text = " Router.Example ";
    s.text3 = "192.0.2.7";
    s.text2 = "router.example";
    const std::vector<std::string> lines = splitLines(buildReport(s));
    EXPECT_EQ(lines[0], "Tracing to :  Router.Example ");
    EXPECT_EQ(lines[1], "IP address : 192.0.2.7");
    EXPECT_EQ(lines[2], "Host name  : router.example");
}

TEST(Report, OptionsBlockAndLastTitleFollowTheSettings) {
    ReportSnapshot s = startupSnapshot();
    s.settings = {true, true, false, 2000, 30, 10000, 255, 255, 10};
    const std::vector<std::string> lines = splitLines(buildReport(s));
    const std::vector<std::string> expected = {"Options",
                                               "Resolve names  : True",
                                               "Find MTU       : True",
                                               "Asymmetry/TTL  : TTL",
                                               "IP packet size : 2000",
                                               "Timeout (sec)  : 30",
                                               "Max runs       : 10000",
                                               "Max hops       : 255",
                                               "ToS            : 255",
                                               "MTU retries    : 10",
                                               ""};
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.begin() + 15), expected);
    EXPECT_EQ(lines[15], headerStart + headerMiddle + "TTL");
}

TEST(Report, WorkedExampleRowAndHeaderWithLongestNameOfFifteen) {
    ReportSnapshot s = startupSnapshot();
    const std::string name14 = "gw2.example.nt";
    s.log = {{1, "192.0.2.9", "fifteen-chars.x", "20"}, {2, "192.0.2.1", name14, "19"}};
    s.rows = {timeoutRow(),
              row({"192.0.2.1", name14, "20", "19", "5", "3", "4", "9", "3", "1500", "0"})};
    const std::vector<std::string> lines = splitLines(buildReport(s));
    const std::string header = lines.at(15);
    const std::string line = lines.at(17);
    EXPECT_EQ(header, headerStart + "       " + headerMiddle + "Asym");
    EXPECT_EQ(header.size(), 88u);
    EXPECT_EQ(line, "2   192.0.2.1       gw2.example.nt  20    19    5     3     4     9     3     "
                    "1500  0     ");
    EXPECT_EQ(line.size(), 90u);
    for (const char *title : {"IP address", "Hostname", "Sent", "Recv", "Loss%", "Best", "Avg",
                              "Worst", "Last", "MTU", "Asym"}) {
        const size_t column = header.find(title);
        EXPECT_NE(line[column], ' ') << title;
        EXPECT_EQ(line[column - 1], ' ') << title;
    }
}

TEST(Report, HostColumnWidthFollowsTheLongestLoggedName) {
    struct Case {
        std::vector<std::string> names;
        size_t width;
        size_t multiByteExtra = 0; // bytes beyond one per character in the longest name
    };
    const std::vector<Case> cases = {
        {{}, 9},
        {{"", ""}, 9},
        {{"seven.x"}, 9},
        {{"eight.xx"}, 9},
        {{"nine.xxxx", "a"}, 10},
        {{std::string(40, 'n')}, 41},
        {{"mü.example"}, 11, 1}, // ten characters in eleven bytes
        {{"caf\xEF\xBF\xBD.example"}, 13, 2}, // a Latin-1 byte made U+FFFD where looked up
    };
    for (const Case &c : cases) {
        ReportSnapshot s = startupSnapshot();
        for (const std::string &n : c.names)
            s.log.push_back({1, "192.0.2.1", n, "1"});
        const std::string longest = c.names.empty() ? "" : c.names.front();
        s.rows = {row({"192.0.2.1", longest, "1", "1", "0", "1", "1", "1", "1", "", ""}),
                  timeoutRow()};
        const std::string report = buildReport(s);
        const std::string header = splitLines(report).at(15);
        const size_t sentColumn = 4 + 16 + c.width;
        EXPECT_EQ(header.find("Sent"), sentColumn) << longest;
        EXPECT_EQ(tableLine(report, 1).find(" 1     1     0"), sentColumn - 1 + c.multiByteExtra)
            << longest;
        EXPECT_EQ(tableLine(report, 2).substr(20, c.width + 1), std::string(c.width, ' ') + "1")
            << longest;
    }
}

// An IPv6 address may be longer than the column: it then widens to the
// longest logged address + 1, as the host column does, and every column
// still starts under its title. IPv4 addresses never widen it.
TEST(Report, AddressColumnWidensForTheLongestLoggedAddress) {
    struct Case {
        std::string longest;
        size_t width;
    };
    const std::vector<Case> cases = {
        {"198.51.100.200", 16},
        {"255.255.255.255", 16},
        {"2001:db8:77:4::2", 17},
        {"2001:db8:aaaa:bbbb:cccc:dddd:eeee:ffff", 39},
        {"2001:aaaa:bbbb:cccc:dddd:eeee:ffff:1111", 40},
        {"::ffff:255.255.255.255", 23},
        {"1111:2222:3333:4444:5555:6666:255.255.255.255", 46},
    };
    for (const Case &c : cases) {
        ReportSnapshot s = startupSnapshot();
        s.log = {{1, "::1", "", "1"}, {2, c.longest, "a-name-of-12", "1"}};
        s.rows = {row({"::1", "x", "1", "1", "0", "1", "1", "1", "1", "1500", "0"}),
                  row({c.longest, "a-name-of-12", "1", "1", "0", "1", "1", "1", "1", "1500", "0"})};
        const std::vector<std::string> lines = splitLines(buildReport(s));
        const std::string header = lines.at(15);
        EXPECT_EQ(header.find("Hostname"), 4 + c.width) << c.longest;
        EXPECT_EQ(header.size(), 29 + (c.width - 16) + 4 + 48 + 4) << c.longest;
        for (size_t hop = 1; hop <= 2; ++hop) {
            const std::string line = lines.at(15 + hop);
            for (const char *title : {"Hostname", "Sent", "Recv", "Loss%", "Best", "Avg", "Worst",
                                      "Last", "MTU", "Asym"}) {
                const size_t column = header.find(title);
                EXPECT_NE(line[column], ' ') << c.longest << " hop " << hop << " " << title;
                EXPECT_EQ(line[column - 1], ' ') << c.longest << " hop " << hop << " " << title;
            }
        }
    }
}

TEST(Report, HopNumberTakesFourCharactersWithItsSeparator) {
    ReportSnapshot s = startupSnapshot();
    s.rows.assign(1000, timeoutRow());
    const std::string report = buildReport(s);
    const std::vector<std::pair<size_t, std::string>> cases = {
        {1, "1   ***"},   {9, "9   ***"},   {10, "10  ***"},    {99, "99  ***"},
        {100, "100 ***"}, {255, "255 ***"}, {1000, "1000 ***"}, // wider than its column: kept
                                                                // whole, still separated
    };
    for (const auto &[hop, start] : cases)
        EXPECT_EQ(tableLine(report, hop).substr(0, start.size()), start) << hop;
}

TEST(Report, CellsArePaddedToTheirColumnAndNeverCut) {
    struct Case {
        const char *what;
        std::vector<std::string> subItems;
        std::string line;
    };
    const std::vector<Case> cases = {
        {"six characters run into the next cell",
         {"10.0.0.1", "", "123456", "7", "0", "1", "1", "1", "1", "", ""},
         "1   10.0.0.1                 1234567     0     1     1     1     1                 "},
        {"see Notes gets three spaces",
         {"see Notes !!!", "", "3", "3", "0", "1", "2", "3", "3", "???", "0"},
         "1   see Notes !!!            3     3     0     1     2     3     3     ???   0     "},
        {"last cell padded before the line end",
         {"10.0.0.1", "", "1", "1", "0", "1", "1", "1", "1", "1500", "-5"},
         "1   10.0.0.1                 1     1     0     1     1     1     1     1500  -5    "},
        {"empty row",
         {"", "", "", "", "", "", "", "", "", "", ""},
         "1   " + std::string(16 + 9 + 9 * 6, ' ')},
        {"over-long cells are kept whole and push the rest right",
         {"2001:db8::1234:5678", "a-host-name-too-long", "1234567", "1", "0", "1", "1", "1", "1",
          "", "1234567"},
         "1   2001:db8::1234:5678a-host-name-too-long12345671     0     1     1     1     1        "
         "   1234567"},
    };
    for (const Case &c : cases) {
        ReportSnapshot s = startupSnapshot();
        s.rows = {row(c.subItems)};
        EXPECT_EQ(tableLine(buildReport(s), 1), c.line) << c.what;
    }
}

TEST(Report, TableEndsInEmptyLineThenNotesSection) {
    ReportSnapshot s = startupSnapshot();
    s.rows = {timeoutRow(), timeoutRow(), timeoutRow(), timeoutRow()};
    s.log = {{4, "198.51.100.1", "", "12"}, {4, "198.51.100.2", "", "8"}};
    s.hopNoted[4] = true;
    const std::vector<std::string> lines = splitLines(buildReport(s));
    ASSERT_EQ(lines.size(), 16u + 4u + 3u);
    EXPECT_EQ(lines[20], "");
    EXPECT_EQ(lines[21], "Notes");
    EXPECT_EQ(lines[22], "Hop : 4 / 198.51.100.1  = 12 / 198.51.100.2  = 8");
}

TEST(Report, NotesListNotedHopsAscendingWithTheirEntriesInLogOrder) {
    ReportSnapshot s = startupSnapshot();
    s.log = {
        {9, "10.0.9.2", "b.example", "1"}, {4, "10.0.4.1", "", "5"}, {2, "10.0.2.1", "two", "3"},
        {9, "10.0.9.1", "a.example", "2"}, {4, "10.0.4.2", "", "1"}, {255, "10.0.0.255", "", "1"},
        {255, "10.0.1.255", "x", "2"},     {0, "10.0.0.0", "", "1"},
    };
    s.hopNoted[0] = true; // hop 0 is not a hop
    s.hopNoted[9] = true;
    s.hopNoted[4] = true;
    s.hopNoted[255] = true;
    s.hopNoted[7] = true; // noted but no entries left
    const std::string report = buildReport(s);
    const std::string notes = report.substr(report.find("\r\nNotes\r\n") + 9);
    EXPECT_EQ(notes, "Hop : 4 / 10.0.4.1  = 5 / 10.0.4.2  = 1\r\n"
                     "Hop : 7\r\n"
                     "Hop : 9 / 10.0.9.2 b.example = 1 / 10.0.9.1 a.example = 2\r\n"
                     "Hop : 255 / 10.0.0.255  = 1 / 10.0.1.255 x = 2\r\n");
}

} // namespace
