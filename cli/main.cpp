#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/Progress.h"
#include "cli/ReportOutput.h"
#include "cli/ShellOps.h"
#include "cli/Signals.h"
#include "engine/TraceEngine.h"
#include "net/IcmpEchoService.h"
#include "net/PrivilegedSockets.h"
#include "net/Sockets.h"
#include "net/SystemResolver.h"
#include "report/Report.h"

namespace {

// Exit statuses besides 128 + the signal that stopped the trace.
enum Status : int { reached = 0, notReached = 1, failed = 2, notWritten = 3 };

void say(const std::string &text)
{
    std::fprintf(stderr, "korvalen-cli: %s\n", text.c_str());
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
    if (const auto target = textToAddress(ops.text3()); target && !ops.text3().empty())
        if (const auto source = sourceAddressTowards(*target))
            facts.source = source->text();
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
    engine.command1Click();
    progress.erase();
    for (const std::string &message : ops.messages())
        say(message);

    const TraceFacts facts = factsOf(engine, ops, options, started);
    const ReportSnapshot snapshot = takeSnapshot(engine, options.host, ops.text3(), ops.text2());
    const HopDetails details = engine.details();
    const std::string error = writeReport(
        options.output, formatReport(options.format, snapshot, details, facts, options.style));
    if (!error.empty()) {
        say(error);
        return notWritten;
    }
    if (const int signal = Signals::received())
        return 128 + signal;
    if (facts.ended == TraceFacts::Ended::failed)
        return failed;
    return ReportText::reached(details, static_cast<int16_t>(snapshot.rows.size())) ? reached
                                                                                    : notReached;
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
    return runTrace(parse.options, std::move(privileged));
}
