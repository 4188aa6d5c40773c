#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "report/Report.h"
#include "report/ReportFormat.h"
#include "tests/engine/EngineFixture.h"

namespace {

using Json = nlohmann::json;

// A finished trace of the scripted network, written in each form.
class TraceReport : public EngineTest {
protected:
    // Hop 1 loses its second probe of four, hop 2 answers from two addresses in
    // turn, the target answers at hop 3; 4 runs with the MTU search on.
    void traceThreePaths()
    {
        settings.optMaxRuns = 4;
        settings.optFindMtu = true;
        path(3);
        net.hop(1).answers = "+-++";
        net.hop(1).rttUs = {1999, 2500, 3001};
        net.hop(2).addresses = {"10.0.0.2", "10.0.0.22"};
        net.hop(3).mtu = 1280;
        trace();
        facts.start = TraceFacts::Clock::time_point(std::chrono::seconds(1'800'000'000));
        facts.end = facts.start + std::chrono::seconds(9);
    }
    std::string report(ReportFormat format, ReportStyle style = {}) const
    {
        const ReportSnapshot snapshot = takeSnapshot(engine, ops.combo1Text(), ops.text3(), ops.text2());
        return formatReport(format, snapshot, engine.details(), facts, style);
    }
    Json json(ReportStyle style = {}) const { return Json::parse(report(ReportFormat::json, style)); }

    TraceFacts facts;
};

TEST_F(TraceReport, jsonHoldsTheRowsTheFiguresAndEveryProbe)
{
    traceThreePaths();
    const Json j = json({.crlf = false, .probes = true});
    EXPECT_EQ("korvalen-report", j["format"]);
    EXPECT_EQ(1, j["version"]);
    EXPECT_EQ("2027-01-15T08:00:00.000000Z", j["start"]);
    EXPECT_EQ("completed", j["ended"]);
    EXPECT_TRUE(j["error"].is_null());
    EXPECT_EQ(4, j["settings"]["max_runs"]);
    EXPECT_EQ((Json{{"host", target}, {"address", target}, {"family", "ipv4"}, {"name", ""},
                    {"reached", true}}),
              j["target"]);
    ASSERT_EQ(3u, j["hops"].size());
    for (int hop = 1; hop <= 3; ++hop) {
        const Json &h = j["hops"][hop - 1];
        EXPECT_EQ(hop, h["hop"]);
        for (int col = Addr; col <= Asym; ++col) // the cells as the table shows them
            EXPECT_EQ(Json(cell(hop, Col(col))),
                      h["cells"][col == Asym ? "Asym" : ResultModel::columnHeaders[col]])
                << "hop " << hop << " column " << col;
    }
    const Json &hop1 = j["hops"][0];
    EXPECT_EQ(4, hop1["sent"]);
    EXPECT_EQ(3, hop1["recv"]);
    EXPECT_EQ(25.0, hop1["loss_pct"]);
    EXPECT_EQ(1.999, hop1["best_ms"]); // the kernel stamps' microseconds
    EXPECT_EQ(3.001, hop1["worst_ms"]);
    EXPECT_EQ(3.001, hop1["last_ms"]);
    EXPECT_EQ(1, hop1["loss"]["no_reply"]);
    EXPECT_EQ(Json(engine.details().lossText(1)), hop1["loss"]["text"]);
    ASSERT_EQ(4u, hop1["probes"].size());
    EXPECT_TRUE(hop1["probes"][1]["address"].is_null());
    EXPECT_TRUE(hop1["probes"][1]["rtt_ms"].is_null());
    EXPECT_EQ(2, j["hops"][1]["addresses"].size());
    EXPECT_EQ(1280, j["hops"][2]["mtu"]["result"]);
    EXPECT_EQ("found", j["hops"][2]["mtu"]["outcome"]);
    EXPECT_EQ(120, j["hops"][2]["mtu"]["tries"][0]["size"]);
    EXPECT_FALSE(json().at("hops")[0].contains("probes"));
}

TEST_F(TraceReport, jsonIsValidWhenNothingWasTraced)
{
    ops.setCombo1Text("no.such.host\xff"); // not UTF-8
    trace();
    facts.ended = TraceFacts::Ended::failed;
    facts.error = "Unable to resolve the host name.";
    const Json j = json();
    EXPECT_EQ("Unable to resolve the host name.", j["ended"]);
    EXPECT_EQ("Unable to resolve the host name.", j["error"]);
    EXPECT_EQ("no.such.host\xEF\xBF\xBD", j["target"]["host"]);
    EXPECT_TRUE(j["target"]["address"].is_null());
    EXPECT_FALSE(j["target"]["reached"]);
    EXPECT_TRUE(j["hops"].empty());
    EXPECT_EQ("", report(ReportFormat::atlas)); // no run, no line
}

TEST_F(TraceReport, csvHasALineAHopAndQuotesWhatNeedsIt)
{
    net.addName("10.0.0.1", "r1, \"edge\"");
    settings.optResolveNames = true;
    traceThreePaths();
    const std::string csv = report(ReportFormat::csv);
    std::istringstream lines(csv);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ('\r', line.back()) << "RFC 4180 lines end in CR LF";
        all.push_back(line.substr(0, line.size() - 1));
    }
    ASSERT_EQ(4u, all.size());
    EXPECT_EQ(0u, all[0].find("hop,address,hostname,addresses,sent,recv,loss_pct,best_ms,"));
        EXPECT_EQ(0u, all[1].find("1,10.0.0.1,\"r1, \"\"edge\"\"\",10.0.0.1,4,3,25.000,1.999,2.500,2.500,2.951,3.001,3.001,"));
    EXPECT_EQ(0u, all[2].find("2,see Notes !!!,,10.0.0.2 10.0.0.22,4,4,0.000,"));
}

TEST_F(TraceReport, atlasWritesALineARunWithEachHopsProbe)
{
    traceThreePaths();
    std::istringstream lines(report(ReportFormat::atlas));
    std::vector<Json> runs;
    for (std::string line; std::getline(lines, line);)
        runs.push_back(Json::parse(line));
    ASSERT_EQ(4u, runs.size());
    const Json &second = runs[1];
    EXPECT_EQ(4, second["af"]);
    EXPECT_EQ(Json(target), second["dst_addr"]);
    EXPECT_EQ("ICMP", second["proto"]);
    EXPECT_EQ(72, second["size"]); // the payload of a 100-byte packet
    EXPECT_EQ(1'800'000'000, runs[0]["timestamp"]);
    ASSERT_EQ(3u, second["result"].size());
    EXPECT_EQ((Json{{"x", "*"}}), second["result"][0]["result"][0]); // hop 1's loss
    EXPECT_EQ("10.0.0.22", second["result"][1]["result"][0]["from"]);
    EXPECT_EQ(Json(target), second["result"][2]["result"][0]["from"]);
    EXPECT_EQ(3, second["result"][2]["hop"]);
}

TEST_F(TraceReport, textIsTheClipboardsWithTheLineEndsAsked)
{
    traceThreePaths();
    const std::string clipboard = clipboardReport(engine, ops.combo1Text(), ops.text3(), ops.text2());
    EXPECT_EQ(clipboard, report(ReportFormat::text, {.crlf = true, .probes = false}));
    std::string lf = clipboard;
    for (size_t at; (at = lf.find("\r\n")) != std::string::npos;)
        lf.erase(at, 1);
    EXPECT_EQ(lf, report(ReportFormat::text));
}

} // namespace
