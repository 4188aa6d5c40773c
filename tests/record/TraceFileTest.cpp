// Saved traces: recorded from the engine on the scripted network, written,
// read back and given to a fresh engine, which must make the same trace; files
// cut at every byte; files that must be refused, with the line at fault.
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "record/TraceFile.h"
#include "record/TraceRecorder.h"
#include "record/TraceReplay.h"
#include "report/Report.h"
#include "report/ReportFormat.h"
#include "tests/engine/EngineFixture.h"

namespace {

// A file's bytes read as a saved trace.
TraceFile::ReadResult readText(std::string text)
{
    std::FILE *file = text.empty() ? std::tmpfile() : fmemopen(text.data(), text.size(), "r");
    if (!file)
        return {std::nullopt, "no memory stream"};
    TraceFile::ReadResult result = TraceFile::read(file);
    std::fclose(file);
    return result;
}

std::string mtuText(const MtuRecord &m)
{
    std::ostringstream out;
    out << "run " << m.run << " result " << int(m.result) << " mtu " << m.mtu << " tries";
    for (const MtuTry &t : m.tries)
        out << ' ' << t.size << '/' << int(t.answer) << '/' << int(t.ttl);
    out << " asym";
    for (const int16_t ttl : m.asymTtls)
        out << ' ' << ttl;
    return out.str();
}

// The table as it stands: every row's cells, and the Notes.
std::string rowsText(const TraceEngine &engine)
{
    std::string out;
    for (int row = 1; row <= engine.results.rowCount(); ++row) {
        for (int col = Hop; col <= Asym; ++col)
            out += engine.results.cell(row, col) + '|';
        out += '\n';
    }
    return out + engine.results.notes();
}

// Everything a user sees of a finished trace, by name: the clipboard report,
// the JSON report with every probe, and each hop's probes, loss and MTU search.
using Views = std::vector<std::pair<std::string, std::string>>;

Views viewsOf(const TraceEngine &engine, const FakeWindowOps &ops, const std::string &host,
              const TraceHeader &header)
{
    TraceFacts facts;
    facts.program = header.program;
    facts.start = engine.runsStartedAt().value_or(header.start);
    facts.end = facts.start;
    const HopDetails details = engine.details();
    const ReportSnapshot snapshot = takeSnapshot(engine, host, ops.text3(), ops.text2());
    Views views{{"clipboard", clipboardReport(engine, host, ops.text3(), ops.text2())},
                {"json", formatReport(ReportFormat::json, snapshot, details, facts, {.probes = true})},
                {"rows", rowsText(engine)}};
    for (int16_t hop = 1; hop <= std::max<int>(details.hopCount(), engine.results.rowCount()); ++hop) {
        const std::string at = " of hop " + std::to_string(hop);
        views.emplace_back("probes" + at, details.probeLines(hop));
        views.emplace_back("loss" + at, details.lossText(hop));
        views.emplace_back("MTU" + at, mtuText(details.mtu(hop)));
    }
    return views;
}

// A fresh engine given a saved trace.
struct Replayed {
    explicit Replayed(const TraceDocument &document) : settings(document.header.settings)
    {
        ops.setCombo1Text(document.header.host);
        TraceReplay replay(document, engine, &ops);
        error = replay.run();
        messages = replay.messages();
    }
    TraceSettings settings;
    FakeNetwork unused; // the file answers
    FakeWindowOps ops;
    TraceEngine engine{settings, unused, unused, ops};
    std::string error;
    std::vector<std::string> messages;
};

// A file refused by the reader or by the replay: the reason; else empty.
std::string refusalOf(const std::string &text)
{
    const TraceFile::ReadResult read = readText(text);
    if (!read.document)
        return read.error;
    return std::make_unique<Replayed>(*read.document)->error;
}

} // namespace

// Routers 10.0.0.<ttl> or 2001:db8::<ttl>, the target 192.0.2.1 or 2001:db8:ff::1.
class SavedTrace : public EngineTest, public ::testing::WithParamInterface<bool> {
protected:
    struct Case {
        const char *what;
        std::function<void(SavedTrace &)> script;
    };
    static const std::vector<Case> cases;

    SavedTrace() { ops.setCombo1Text(targetText()); }
    std::string targetText() const { return GetParam() ? "2001:db8:ff::1" : target; }
    std::string routerText(int ttl) const
    {
        return (GetParam() ? "2001:db8::" : "10.0.0.") + std::to_string(ttl);
    }
    void route(int targetHop)
    {
        for (int ttl = 1; ttl < targetHop; ++ttl)
            net.hop(ttl) = FakeHop{{routerText(ttl)}};
        net.hop(targetHop) = FakeHop{{targetText()}};
        net.hop(targetHop).status = IpStatus::success;
    }
    // The trace run live with a recorder, as its file (without its end when cut).
    std::string record(bool withEnd = true)
    {
        header = {TraceFile::version, "korvalen-test", std::chrono::system_clock::time_point(
                      std::chrono::seconds(1'800'000'000)), ops.combo1Text(), AddressFamily::any,
                  settings};
        recorder.begin(header);
        engine.setObserver(&recorder);
        trace();
        std::string text = TraceFile::headerLine(header);
        for (const TraceRecord &r : recorder.log().records())
            text += TraceFile::recordLine(recorder.log(), r);
        if (withEnd)
            text += TraceFile::endLine({header.start, "completed", ""});
        return text;
    }

    TraceRecorder recorder;
    TraceHeader header;
};

const std::vector<SavedTrace::Case> SavedTrace::cases = {
    {"a hop losing probes, one answering from two addresses (Notes)",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 4;
         t.route(3);
         t.net.hop(1).answers = "+-++";
         t.net.hop(1).rttUs = {1999, 2500, 3001};
         t.net.hop(2).addresses = {t.routerText(2), t.routerText(22)};
     }},
    {"names, one of them late",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 3;
         t.settings.optResolveNames = true;
         t.route(3);
         t.net.hop(2).addresses = {t.routerText(2), t.routerText(22)};
         t.net.addName(t.routerText(1), "r1.example");
         t.net.addLateName(t.routerText(2), "r2.late");
         t.net.addLateName(t.targetText(), "target.late");
         t.ops.atYield(5, [&t] { t.net.arriveLate(); });
     }},
    {"the MTU search",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 2;
         t.settings.optFindMtu = true;
         t.route(3);
         t.net.hop(2).mtu = 1400;
         t.net.hop(3).mtu = 1280;
         t.net.hop(3).mtuAnswers = "+-";
     }},
    {"Stop pressed in the middle of a run",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 3;
         t.route(3);
         t.ops.atYield(5, [&t] { t.pressStop(); });
     }},
    {"Stop pressed during an MTU search",
     [](SavedTrace &t) {
         t.settings.optFindMtu = true;
         t.route(2);
         t.ops.atYield(4, [&t] { t.pressStop(); });
     }},
    {"a host that does not resolve", [](SavedTrace &t) { t.ops.setCombo1Text("no.such.host"); }},
    // Round trips the echo service could not stamp (whole milliseconds).
    {"unstamped round trips",
     [](SavedTrace &t) {
         t.route(2);
         t.net.hop(1).rttUs = {FakeHop::unstamped};
     }},
    {"a probe the kernel refused in the middle of the trace",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 2;
         t.route(2);
         t.net.setResponder([n = 0](const EchoRequest &) mutable -> std::optional<IcmpEchoReply> {
             return ++n == 3 ? std::optional(unsent(ENETUNREACH)) : std::nullopt;
         });
     }},
    // The window turns its event loop while a probe is out and while a
    // look-up waits: Stop comes before the answer.
    {"Stop pressed while a probe is out",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 3;
         t.route(3);
         t.net.onRequest([&t](const EchoRequest &, size_t n) {
             if (n == 4)
                 t.pressStop();
         });
     }},
    {"Stop pressed while a reverse look-up waits",
     [](SavedTrace &t) {
         t.settings.optMaxRuns = 2;
         t.settings.optResolveNames = true;
         t.route(3);
         t.net.onReverseLookup([&t](const std::string &dotted) {
             if (dotted == t.routerText(2))
                 t.pressStop();
         });
     }},
};

// Also when the probes' times wait for their send stamps: the probes are
// written, and their names looked up, a batch at a time, while Stop, late
// names and the ends of runs come between.
TEST_P(SavedTrace, ReopensAsTheSameTrace)
{
    for (size_t i = 0; i < 2 * cases.size(); ++i) {
        const bool lateStamps = i >= cases.size();
        settings.setStartupValues();
        settings.optMaxRuns = 1;
        settings.optMaxHops = 6;
        net = FakeNetwork{};
        net.setLateStamps(lateStamps);
        ops = FakeWindowOps{};
        ops.setCombo1Text(targetText());
        cases[i % cases.size()].script(*this);
        const std::string text = record();
        SCOPED_TRACE(std::string(cases[i % cases.size()].what) +
                     (lateStamps ? ", stamps read late" : ""));
        EXPECT_EQ(net.stampsUnread(), 0u);

        const TraceFile::ReadResult read = readText(text);
        if (!read.document) {
            ADD_FAILURE() << "refused: " << read.error;
            continue;
        }
        EXPECT_EQ(read.document->note, "");
        const auto replayed = std::make_unique<Replayed>(*read.document);
        EXPECT_EQ(replayed->error, "");
        std::vector<std::string> messages;
        for (const FakeWindowOps::Message &m : ops.messages())
            messages.push_back(m.text);
        EXPECT_EQ(replayed->messages, messages);
        const Views live = viewsOf(engine, ops, ops.combo1Text(), header);
        const Views again = viewsOf(replayed->engine, replayed->ops, header.host, header);
        ASSERT_EQ(live.size(), again.size());
        for (size_t v = 0; v < live.size(); ++v)
            EXPECT_EQ(live[v].second, again[v].second) << live[v].first;
    }
}

// A writer killed half-way leaves any prefix of its file: it opens with the
// runs it holds in full, or (the header itself cut) is refused at line 1.
TEST_P(SavedTrace, ACutFileOpensWithItsCompleteRuns)
{
    for (const bool lateStamps : {false, true}) {
        SCOPED_TRACE(lateStamps ? "stamps read late" : "stamps at once");
        settings.setStartupValues();
        net = FakeNetwork{};
        net.setLateStamps(lateStamps);
        recorder = TraceRecorder{};
        engine.resetResults();
        settings.optMaxRuns = 3;
        settings.optResolveNames = true;
        settings.optFindMtu = true;
        route(3);
        net.hop(1).answers = "+-+";
        net.hop(2).addresses = {routerText(2), routerText(22)};
        net.hop(3).mtu = 1280;
        net.addName(routerText(1), "r1.example");
        std::vector<std::string> tables{rowsText(engine)}; // after 0, 1, 2... runs
        recorder.setRunSink([&](const TraceLog &, size_t) { tables.push_back(rowsText(engine)); });
        const std::string text = record(false);
        ASSERT_EQ(tables.size(), 4u);
        const size_t headerSize = text.find('\n') + 1;

        for (size_t cut = 1; cut < text.size(); ++cut) {
            const std::string part = text.substr(0, cut);
            const TraceFile::ReadResult read = readText(part);
            if (!read.document) {
                EXPECT_LT(cut, headerSize) << read.error;
                EXPECT_EQ(read.error.rfind("line 1: ", 0), 0u) << cut << ": " << read.error;
                continue;
            }
            EXPECT_NE(read.document->note, "") << cut;
            size_t runs = 0; // run ends whose line the part holds in full
            for (size_t at = part.find("\n{\"r\":"); at != std::string::npos;
                 at = part.find("\n{\"r\":", at + 1))
                runs += part.find('\n', at + 1) != std::string::npos;
            const auto replayed = std::make_unique<Replayed>(*read.document);
            EXPECT_EQ(replayed->error, "") << cut;
            EXPECT_EQ(rowsText(replayed->engine), tables[runs]) << cut << " bytes, " << runs << " runs";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Families, SavedTrace, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "ipv6" : "ipv4"; });

namespace {

// A header and the records before the first probe, of a trace to host.
std::string traceStart(int16_t runs, int16_t hops, const std::string &host)
{
    TraceSettings settings;
    settings.setStartupValues();
    settings.optMaxRuns = runs;
    settings.optMaxHops = hops;
    const TraceHeader header{TraceFile::version, "korvalen-test",
                             std::chrono::system_clock::time_point(std::chrono::seconds(1'800'000'000)),
                             host, AddressFamily::any, settings};
    return TraceFile::headerLine(header) + "{\"target\":\"" + host +
           "\"}\n{\"runs\":\"2027-01-15T08:00:00.000000Z\"}\n";
}

const std::string endRecord = "{\"end\":\"2027-01-15T08:00:09.000000Z\",\"ended\":\"completed\"}\n";

} // namespace

// Files that must be refused, each with the line at fault; the last two are
// read but refused by the replay.
TEST(BadTraceFile, IsRefusedWithTheLineAtFault)
{
    const std::string start = traceStart(2, 30, "192.0.2.1");
    const std::string tiny = traceStart(1, 1, "192.0.2.1");
    const auto probe = [](int run, int hop) {
        return "{\"p\":[" + std::to_string(run) + ',' + std::to_string(hop) +
               ",1000,\"10.0.0.1\",1500,11013,64]}\n";
    };
    const std::string head = start.substr(0, start.find('\n') + 1);
    std::string newer = head;
    newer.replace(newer.find("\"korvalen-trace\":1"), 18, "\"korvalen-trace\":2");
    std::string late = head; // after the clock's last nanosecond (2262)
    late.replace(late.find("2027-"), 5, "2300-");

    const std::pair<std::string, std::string> files[] = {
        {"plain text\n", "line 1: not a Korvalen trace"},
        {"", "empty: not a Korvalen trace"},
        {"[1,2,3]\n", "line 1: not a Korvalen trace"},
        {newer + endRecord, "line 1: a trace of format version 2, newer than this program reads (1)"},
        {late + endRecord, "line 1: a header without its start, host or settings"},
        {start + probe(1, 0), "line 4: the hop 0 is not within 1 to 30"},
        {start + probe(1, 300), "line 4: the hop 300 is not within 1 to 30"},
        {start + probe(2, 1) + probe(1, 1), "line 5: the run 1 is not within 2 to 2"},
        {start + "{\"n\":[\"10.0.0.1\",\"" + std::string(1 << 20, 'x') + "\"]}\n",
         "line 4: longer than any record (8192 bytes)"},
        {start + "{\"n\":[\"10.0.0.1\",\"r1\xff.example\"]}\n", "line 4: not a JSON record"},
        {start + "{\"p\":[[[[[[[[1]]]]]]]]}\n", "line 4: nested deeper than any record"},
        {tiny + probe(1, 1) + probe(1, 1), "line 5: more probes than a trace of 1 runs of 1 hops holds"},
        {start + probe(1, 1) + "{\"r\":1}\n" + endRecord + probe(2, 1), "line 7: a record after the trace's end"},
        {start + "{\"hop\":1}\n", "line 4: a record of an unknown kind \"hop\""},
        {start + probe(1, 2) + "{\"r\":1}\n" + endRecord,
         "line 4: the trace asks for a probe of run 1, hop 1 here, not this record"},
        {tiny + probe(1, 1) + "{\"n\":[\"10.0.0.1\",\"r1\"]}\n{\"r\":1}\n" + endRecord,
         "line 5: a record the trace never asks for"},
    };
    for (const auto &[text, message] : files) {
        const std::string refusal = refusalOf(text);
        EXPECT_NE(refusal.find(message), std::string::npos) << message << "\n refused with: " << refusal;
    }
}

// A trace handed on opens on a machine without the interface that a
// link-local hop answered on.
TEST(HandedOnTraceFile, OpensWithoutTheInterfaceOfALinkLocalHop)
{
    const TraceFile::ReadResult read =
        readText(traceStart(1, 30, "2001:db8:ff::1") +
                 "{\"p\":[1,1,1000,\"fe80::1%kv-elsewhere0\",1500,11013,64]}\n{\"r\":1}\n" + endRecord);
    EXPECT_TRUE(read.document) << read.error;
}
