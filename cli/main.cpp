#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Progress.h"
#include "cli/ReportOutput.h"
#include "cli/ShellOps.h"
#include "cli/Signals.h"
#include "cli/TraceSaver.h"
#include "engine/TraceEngine.h"
#include "net/IcmpEchoService.h"
#include "net/PrivilegedSockets.h"
#include "net/Sockets.h"
#include "net/SystemResolver.h"
#include "record/TraceFile.h"
#include "record/TraceReplay.h"
#include "report/Report.h"

namespace {

// Exit statuses besides 128 + the signal that stopped the trace.
enum Status : int { reached = 0, notReached = 1, failed = 2, notWritten = 3 };

void say(const std::string &text)
{
    std::fprintf(stderr, "korvalen-cli: %s\n", text.c_str());
}

// The report of the trace the engine holds, written where it was asked for.
int writeOut(const CliOptions &options, const TraceEngine &engine, const ShellOps &ops,
             const TraceFacts &facts)
{
    const ReportSnapshot snapshot =
        takeSnapshot(engine, ops.combo1Text(), ops.text3(), ops.text2());
    const HopDetails details = engine.details();
    const std::string error = writeReport(
        options.output, formatReport(options.format, snapshot, details, facts, options.style));
    if (!error.empty()) {
        say(error);
        return notWritten;
    }
    if (facts.ended == TraceFacts::Ended::failed)
        return failed;
    return ReportText::reached(details, static_cast<int16_t>(snapshot.rows.size())) ? reached
                                                                                    : notReached;
}

TraceFacts factsOf(const TraceEngine &engine, const ShellOps &ops, const CliOptions &options,
                   TraceFacts::Clock::time_point started)
{
    TraceFacts facts;
    facts.program = "korvalen-cli " KORVALEN_VERSION;
    facts.family = options.family;
    facts.start = engine.runsStartedAt().value_or(started);
    facts.end = TraceFacts::Clock::now();
    if (Signals::received()) {
        facts.ended = TraceFacts::Ended::stopped;
    } else if (!ops.messages().empty()) {
        facts.ended = TraceFacts::Ended::failed;
        facts.error = ops.messages().front();
    }
    facts.source = sourceTextTowards(ops.text3());
    return facts;
}

int runTrace(const CliOptions &options, PrivilegedSockets privileged)
{
    TraceSettings settings = options.settings;
    IcmpEchoService echo(IcmpEchoService::Backend::automatic, std::move(privileged));
    SystemResolver resolver;
    resolver.setFamily(options.family);
    ShellOps ops(options.host);
    TraceEngine engine(settings, echo, resolver, ops);
    // A wait for a reply or a look-up ends at once when a signal came.
    const auto goOn = [] { return Signals::received() == 0; };
    echo.setIdleHook(goOn);
    resolver.setIdleHook(goOn);
    Progress progress(!options.quiet && isatty(STDERR_FILENO), settings.optMaxRuns);
    ops.setOnYield([&] { progress.update(engine.details().currentRun(), engine.curHop); });

    const auto started = TraceFacts::Clock::now();
    TraceRecorder recorder;
    std::unique_ptr<TraceSaver> saver;
    if (!options.save.empty()) {
        saver = std::make_unique<TraceSaver>(options.save, recorder);
        const std::string error = saver->begin(
            {1, "korvalen-cli " KORVALEN_VERSION, started, options.host, options.family, settings});
        if (!error.empty()) {
            say(error);
            return notWritten;
        }
        engine.setObserver(&recorder);
    }
    engine.command1Click();
    progress.erase();
    for (const std::string &message : ops.messages())
        say(message);

    const TraceFacts facts = factsOf(engine, ops, options, started);
    int status = writeOut(options, engine, ops, facts);
    if (saver) {
        const std::string error =
            saver->finish({facts.end, ReportText::endedText(facts), facts.source});
        if (!error.empty()) {
            say(error);
            status = notWritten;
        }
    }
    if (const int signal = Signals::received(); signal && status != notWritten)
        return 128 + signal;
    return status;
}

// How a saved trace ended, as its report says it.
void endOf(const TraceDocument &document, TraceFacts &facts)
{
    if (!document.end) {
        facts.ended = TraceFacts::Ended::stopped;
        return;
    }
    facts.end = document.end->end;
    facts.source = document.end->source;
    const std::string &ended = document.end->ended;
    if (ended == "stopped")
        facts.ended = TraceFacts::Ended::stopped;
    else if (ended != "completed") {
        facts.ended = TraceFacts::Ended::failed;
        facts.error = ended;
    }
}

// The report of a saved trace: the engine makes the trace again from its
// records, and nothing is sent.
int openTrace(const CliOptions &options)
{
    TraceFile::ReadResult read = TraceFile::readPath(options.open);
    if (!read.document) {
        say(options.open + ": " + read.error);
        return failed;
    }
    const TraceDocument &document = *read.document;
    TraceSettings settings = document.header.settings;
    IcmpEchoService echo; // the engine's own, never used: the file answers
    SystemResolver resolver;
    ShellOps ops(document.header.host);
    TraceEngine engine(settings, echo, resolver, ops);
    TraceReplay replay(document, engine, &ops);
    if (const std::string error = replay.run(); !error.empty()) {
        say(options.open + ": " + error);
        return failed;
    }
    if (!document.note.empty())
        say(options.open + ": " + document.note + "; the report holds the runs it has in full");
    TraceFacts facts;
    facts.program = document.header.program;
    facts.family = document.header.family;
    facts.start = engine.runsStartedAt().value_or(document.header.start);
    facts.end = facts.start;
    endOf(document, facts);
    return writeOut(options, engine, ops, facts);
}

} // namespace

int main(int argc, char *argv[])
{
    // What needs CAP_NET_RAW is opened before anything else runs, then the
    // capability is dropped, as in the window.
    PrivilegedSockets privileged = PrivilegedSockets::open();
    PrivilegedSockets::dropCapability();
    const CliParse parse = parseCliOptions(std::vector<std::string>(argv, argv + argc));
    if (!parse.error.empty()) {
        say(parse.error + " (korvalen-cli --help lists the options)");
        return failed;
    }
    if (parse.options.help || parse.options.version) {
        const std::string text = parse.options.help ? cliUsage() : "korvalen-cli " KORVALEN_VERSION "\n";
        const std::string error = writeReport({}, text);
        if (!error.empty())
            say(error);
        return error.empty() ? 0 : notWritten;
    }
    Signals::install();
    if (!parse.options.open.empty())
        return openTrace(parse.options);
    return runTrace(parse.options, std::move(privileged));
}
