#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Progress.h"

namespace {

CliParse parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "korvalen-cli");
    return parseCliOptions(args);
}

// Options and the message that refuses them ("" for options that pass).
struct Case {
    std::vector<std::string> args;
    std::string error;
};

class CliOptionsTable : public ::testing::TestWithParam<Case> {};

TEST_P(CliOptionsTable, refusesWhatTheOptionsDialogRefuses)
{
    const Case &c = GetParam();
    EXPECT_EQ(c.error, parse(c.args).error);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CliOptionsTable,
    ::testing::Values(
        Case{{"-c", "10000", "h"}, ""}, Case{{"--runs= 20 ", "h"}, ""},
        Case{{"-c", "20.0", "h"}, ""},
        Case{{"-c", "0", "h"}, "-c/--runs takes a whole number from 1 to 10000, not \"0\""},
        Case{{"--runs=10001", "h"},
             "-c/--runs takes a whole number from 1 to 10000, not \"10001\""},
        Case{{"-m", "2.5", "h"}, "-m/--max-hops takes a whole number from 1 to 255, not \"2.5\""},
        Case{{"-s", "59", "h"}, "-s/--size takes a whole number from 60 to 2000, not \"59\""},
        Case{{"-s", "1e3", "h"}, "-s/--size takes a whole number from 60 to 2000, not \"1e3\""},
        Case{{"-W", "31", "h"}, "-W/--timeout takes a whole number from 1 to 30, not \"31\""},
        Case{{"-Q", "-1", "h"}, "-Q/--tos takes a whole number from 0 to 255, not \"-1\""},
        Case{{"--mtu-retries", "", "h"},
             "--mtu-retries takes a whole number from 1 to 10, not \"\""},
        Case{{"--format", "xml", "h"}, "--format takes text, json, csv or atlas, not \"xml\""},
        Case{{"-c"}, "-c needs a value"}, Case{{"h", "--runs"}, "--runs needs a value"},
        Case{{"-x", "h"}, "unknown option -x"}, Case{{"--fast", "h"}, "unknown option --fast"},
        Case{{}, "no host given"}, Case{{"a", "b"}, "one host only, not \"b\" as well"},
        Case{{"-6", "192.0.2.1"}, "192.0.2.1 is an IPv4 address, and -6 traces over IPv6 only"},
        Case{{"-6", "0x7f.1"}, "0x7f.1 is an IPv4 address, and -6 traces over IPv6 only"},
        Case{{"-4", "[2001:db8::1]"},
             "[2001:db8::1] is an IPv6 address, and -4 traces over IPv4 only"},
        Case{{"-4", "192.0.2.1"}, ""}, Case{{"-6", "name.example"}, ""},
        Case{{"--help"}, ""}, Case{{"-V"}, ""}));

TEST(CliOptions, fillsTheSettingsAndTheShellsDefaults)
{
    const CliOptions defaults = parse({"host"}).options;
    EXPECT_TRUE(defaults.settings.optResolveNames); // names are looked up in a shell
    EXPECT_EQ(20, defaults.settings.optMaxRuns);
    EXPECT_EQ(ReportFormat::text, defaults.format);
    EXPECT_EQ("host", defaults.host);

    const CliParse p = parse({"-n", "-c", "5", "-m", "7", "-s", "1500", "-W", "3", "-Q", "16",
                              "--mtu", "--mtu-retries", "4", "--ttl", "-6", "-j", "--probes",
                              "--output", "out.json", "-q", "2001:db8::1"});
    ASSERT_EQ("", p.error);
    const TraceSettings &s = p.options.settings;
    EXPECT_FALSE(s.optResolveNames);
    EXPECT_TRUE(s.optFindMtu);
    EXPECT_FALSE(s.optAsymmetryView);
    EXPECT_EQ((std::vector<int>{1500, 3, 5, 7, 16, 4}),
              (std::vector<int>{s.optPacketSize, s.optTimeoutSec, s.optMaxRuns, s.optMaxHops,
                                s.optTos, s.optMtuRetries}));
    EXPECT_EQ(AddressFamily::ipv6, p.options.family);
    EXPECT_EQ(ReportFormat::json, p.options.format);
    EXPECT_TRUE(p.options.style.probes);
    EXPECT_EQ("out.json", p.options.output);
    EXPECT_TRUE(p.options.quiet);
    // the last format named wins; a host may follow "--" even when it starts with "-"
    EXPECT_EQ(ReportFormat::atlas, parse({"-C", "--format=atlas", "h"}).options.format);
    EXPECT_EQ("-odd", parse({"--", "-odd"}).options.host);
    // options after the host, as a cron line writes them
    const CliParse after = parse({"host", "-n", "--output", "f.json"});
    EXPECT_EQ("host", after.options.host);
    EXPECT_EQ("f.json", after.options.output);
}

TEST(CliProgress, saysTheRunTheHopAndTheTimeLeft)
{
    EXPECT_EQ("run 1 of 20, hop 3", Progress::line(1, 20, 3, -1));
    EXPECT_EQ("run 2 of 20, hop 1, 42 s left", Progress::line(2, 20, 1, 41.2));
    EXPECT_EQ("run 9 of 10000, hop 30, 2:05 left", Progress::line(9, 10000, 30, 125));
}

} // namespace
