// Headless trace for the namespace tests: the trace engine over the real echo
// service and resolver, with a recording window that prints what a user would
// see, so shell tests can follow a whole trace through faults of the network.
//
//   trace_probe [--runs N] [--hops N] [--timeout S] [--names] [--mtu]
//               [--at PROBE COMMAND]... HOST
//       run n=R rows=H                          before run R's first probe
//       row hop=H addr=A name=N sent=S recv=R loss=L best=B avg=V worst=W last=T mtu=M asym=Y
//                                               the rows, after every run and at the end
//       lookup kind=name|addr query=Q text=T elapsed=MS idle=N
//       message icon=I text="..."               every message box (line ends as \n)
//       end runs=R rows=H log=D elapsed=MS notes="..."
//
// --at PROBE COMMAND runs the shell command just before the PROBE-th probe is
// sent (main and MTU probes count alike).
// Blanks in cells print as "_". The exit code is 0, or 2 for bad arguments.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "engine/TraceEngine.h"
#include "net/IcmpEchoService.h"
#include "net/Sockets.h"
#include "net/SystemResolver.h"
#include "tests/fakes/FakeWindowOps.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string printable(std::string text)
{
    for (char &c : text) {
        if (c == ' ')
            c = '_';
    }
    return text.empty() ? "_" : text;
}

std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r')
            continue;
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    }
    return out;
}

// The system resolver, timed, with the idle calls each look-up made.
class TimedResolver : public Resolver {
public:
    TimedResolver()
    {
        system_.setIdleHook([this] {
            ++idle_;
            return true;
        });
    }
    std::optional<std::array<uint8_t, 4>> firstIpv4(const std::string &host) override
    {
        const auto start = begin();
        auto bytes = system_.firstIpv4(host);
        const std::string text = bytes ? std::to_string((*bytes)[0]) + "." +
                                             std::to_string((*bytes)[1]) + "." +
                                             std::to_string((*bytes)[2]) + "." +
                                             std::to_string((*bytes)[3])
                                       : std::string();
        report("addr", host, text, start);
        return bytes;
    }
    std::string officialName(uint32_t address) override
    {
        const auto start = begin();
        std::string name = system_.officialName(address);
        report("name", addressToText(address), name, start);
        return name;
    }

private:
    Clock::time_point begin()
    {
        idle_ = 0;
        return Clock::now();
    }
    void report(const char *kind, const std::string &query, const std::string &text,
                Clock::time_point start) const
    {
        std::printf("lookup kind=%s query=%s text=%s elapsed=%.1f idle=%d\n", kind,
                    printable(query).c_str(), printable(text).c_str(), msSince(start), idle_);
    }

    SystemResolver system_;
    int idle_ = 0;
};

void printRows(const TraceEngine &engine);

// The real echo service, counting probes: it marks the start of each run and
// runs the --at commands just before their probe.
class ProbeCounter : public EchoService {
public:
    ProbeCounter(EchoService &echo, std::multimap<int, std::string> commands)
        : echo_(echo), commands_(std::move(commands))
    {
    }
    void watch(const TraceEngine &engine) { engine_ = &engine; }
    int runs() const { return runs_; }

    std::unique_ptr<EchoHandle> openHandle() override
    {
        auto handle = echo_.openHandle();
        return handle ? std::make_unique<Handle>(*this, std::move(handle)) : nullptr;
    }
    EchoOpenFailure lastOpenFailure() const override { return echo_.lastOpenFailure(); }
    void setIdleHook(IdleHook hook) override { echo_.setIdleHook(std::move(hook)); }

private:
    class Handle : public EchoHandle {
    public:
        Handle(ProbeCounter &counter, std::unique_ptr<EchoHandle> handle)
            : counter_(counter), handle_(std::move(handle))
        {
        }
        uint32_t sendEcho(uint32_t destination, std::span<const uint8_t> payload,
                          const IpOptionInformation &options, IcmpEchoReply &reply,
                          uint32_t timeoutMs) override
        {
            counter_.beforeProbe(options);
            return handle_->sendEcho(destination, payload, options, reply, timeoutMs);
        }

    private:
        ProbeCounter &counter_;
        std::unique_ptr<EchoHandle> handle_;
    };

    void beforeProbe(const IpOptionInformation &options)
    {
        if (options.ttl == 1 && !(options.flags & IpOptionInformation::dontFragment)) {
            if (runs_ > 0)
                printRows(*engine_);
            std::printf("run n=%d rows=%d\n", ++runs_, engine_->maxhop);
        }
        const auto [from, to] = commands_.equal_range(++probes_);
        for (auto it = from; it != to; ++it) {
            if (std::system(it->second.c_str()) != 0)
                std::printf("command-failed %s\n", printable(it->second).c_str());
        }
    }

    EchoService &echo_;
    std::multimap<int, std::string> commands_;
    const TraceEngine *engine_ = nullptr;
    int runs_ = 0;
    int probes_ = 0;
};

struct Options {
    TraceSettings settings;
    std::multimap<int, std::string> commands; // probe number -> shell command
    std::string host;
};

bool number(const char *text, long lo, long hi, int16_t &out)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < lo || value > hi)
        return false;
    out = static_cast<int16_t>(value);
    return true;
}

bool parse(int argc, char **argv, Options &o)
{
    o.settings.setStartupValues();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--names") {
            o.settings.optResolveNames = true;
        } else if (arg == "--mtu") {
            o.settings.optFindMtu = true;
        } else if (arg == "--runs" && hasValue) {
            if (!number(argv[++i], 1, 10000, o.settings.optMaxRuns))
                return false;
        } else if (arg == "--hops" && hasValue) {
            if (!number(argv[++i], 1, 255, o.settings.optMaxHops))
                return false;
        } else if (arg == "--timeout" && hasValue) {
            if (!number(argv[++i], 1, 30, o.settings.optTimeoutSec))
                return false;
        } else if (arg == "--at" && i + 2 < argc) {
            int16_t probe = 0;
            if (!number(argv[i + 1], 1, 32767, probe))
                return false;
            o.commands.emplace(probe, argv[i + 2]);
            i += 2;
        } else if (arg[0] != '-' && o.host.empty()) {
            o.host = arg;
        } else {
            return false;
        }
    }
    return !o.host.empty();
}

void printRows(const TraceEngine &engine)
{
    static const char *const keys[] = {"addr", "name", "sent", "recv", "loss", "best",
                                       "avg",  "worst", "last", "mtu",  "asym"};
    for (int row = 1; row <= engine.results.rowCount(); ++row) {
        std::string line = "row hop=" + std::to_string(row);
        for (int column = 1; column < ResultModel::columnCount; ++column)
            line += std::string(" ") + keys[column - 1] + "=" +
                    printable(engine.results.cell(row, column));
        std::puts(line.c_str());
    }
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: trace_probe [--runs N] [--hops N] [--timeout S] [--names] "
                             "[--mtu] [--at PROBE COMMAND]... HOST\n");
        return 2;
    }
    IcmpEchoService system(IcmpEchoService::Backend::automatic);
    ProbeCounter echo(system, options.commands);
    TimedResolver resolver;
    FakeWindowOps ops;
    ops.setCombo1Text(options.host);
    TraceEngine engine(options.settings, echo, resolver, ops);
    echo.watch(engine);

    const auto start = Clock::now();
    engine.command1Click();
    const double elapsed = msSince(start);
    printRows(engine);
    for (const auto &m : ops.messages())
        std::printf("message icon=%d text=\"%s\"\n", static_cast<int>(m.icon),
                    escaped(m.text).c_str());
    std::printf("end runs=%d rows=%d log=%d elapsed=%.1f notes=\"%s\"\n", echo.runs(), engine.maxhop,
                engine.dbIndex, elapsed, escaped(engine.results.notes()).c_str());
    return 0;
}
