// Headless trace on a real network: runs the trace engine over the ICMP echo
// service and the system resolver inside a namespace of the test network,
// with a window that only records, and prints the result rows without their
// round-trip times, the echo results tallied, and the Notes text, so shell
// tests can compare whole traces.
//
//   trace_probe [--backend automatic|datagram|raw] [--runs N] [--hops N]
//               [--timeout S] [--mtu] [--names] [--every-run]
//               [--at PROBE COMMAND]... [--stop-at MS] [--report] HOST
//       row HOP|IP address|Hostname|Sent|Recv|Loss %|MTU|Asym/TTL
//       echo ttl=T df=D size=S count=C status=S address=A n=N   (sorted)
//       notes LINE
//       message TEXT
//       lookup ADDRESS name=NAME elapsed=MS idle=N   each reverse look-up, as it ends
//       late ADDRESS name=NAME elapsed=MS            each name that came after its wait
//       report LINE                                  with --report: the clipboard report
//
// --names resolves names; --every-run prints "run N" and the rows at the end
// of every run (the last run's rows are the final ones; each reply's send
// stamp is read at once then, so no row waits for a batch), and a last line
// "end runs=R elapsed=MS"; --at runs the shell command just before the
// PROBE-th probe is sent (main and MTU probes count alike); --stop-at presses
// Stop in the first look-up wait MS after the start.
// The exit code is 0, 2 for bad arguments.
#include "engine/TraceEngine.h"
#include "net/IcmpEchoService.h"
#include "net/SendStamps.h"
#include "net/SystemResolver.h"
#include "report/Report.h"
#include "tests/fakes/FakeWindowOps.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// What one echo request asked and got, the key of the tally.
using EchoKey = std::tuple<int, int, size_t, uint32_t, uint32_t, std::string>;
using Tally = std::map<EchoKey, int>;

// Runs before every probe is sent, with its options.
using BeforeSend = std::function<void(const IpOptionInformation &)>;

class TallyingHandle : public EchoHandle {
public:
    TallyingHandle(std::unique_ptr<EchoHandle> inner, Tally &tally, const BeforeSend &before,
                   bool settleAtOnce)
        : inner_(std::move(inner)), tally_(tally), before_(before), settleAtOnce_(settleAtOnce)
    {
    }
    uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                      const IpOptionInformation &options, IcmpEchoReply &reply,
                      uint32_t timeoutMs) override
    {
        if (before_)
            before_(options);
        const uint32_t count = inner_->sendEcho(destination, payload, options, reply, timeoutMs);
        if (settleAtOnce_)
            settleSendStamp(reply);
        const bool df = (options.flags & IpOptionInformation::dontFragment) != 0;
        ++tally_[{options.ttl, df, payload.size(), count, reply.status, reply.address.text()}];
        return count;
    }

private:
    std::unique_ptr<EchoHandle> inner_;
    Tally &tally_;
    const BeforeSend &before_;
    bool settleAtOnce_;
};

// The echo service with every result tallied.
class TallyingService : public EchoService {
public:
    explicit TallyingService(IcmpEchoService::Backend backend) : inner_(backend) {}
    std::unique_ptr<EchoHandle> openHandle(const IpAddress &destination) override
    {
        auto handle = inner_.openHandle(destination);
        if (!handle)
            return nullptr;
        return std::make_unique<TallyingHandle>(std::move(handle), tally, beforeSend,
                                                settleAtOnce);
    }
    EchoOpenFailure lastOpenFailure() const override { return inner_.lastOpenFailure(); }
    void setIdleHook(IdleHook hook) override { inner_.setIdleHook(std::move(hook)); }
    void setLongWaitHook(std::function<void()> hook) override
    {
        inner_.setLongWaitHook(std::move(hook));
    }
    void waitIdle(uint32_t ms, const std::function<bool()> &goOn) override
    {
        inner_.waitIdle(ms, goOn);
    }

    Tally tally;
    BeforeSend beforeSend;
    bool settleAtOnce = false;

private:
    IcmpEchoService inner_;
};

// The system resolver, printing every reverse look-up with its time and the
// idle calls it made while it waited.
class TimedResolver : public Resolver {
public:
    TimedResolver()
    {
        inner_.setIdleHook([this] {
            ++idle_;
            if (onIdle)
                onIdle();
            return true;
        });
        // Takes a late name at once, on the look-up's thread, as a hook may:
        // the resolver must call it without holding its own lock.
        inner_.setLateNameHook([this] {
            std::vector<LateName> late = inner_.takeLateNames();
            const std::lock_guard lock(lateMutex_);
            late_.insert(late_.end(), late.begin(), late.end());
        });
    }
    ~TimedResolver() override { inner_.setLateNameHook({}); }
    std::optional<IpAddress> firstAddress(const std::string &host) override
    {
        return inner_.firstAddress(host);
    }
    void abandonForward() override { inner_.abandonForward(); }
    std::vector<LateName> takeLateNames() override
    {
        std::vector<LateName> late = inner_.takeLateNames();
        {
            const std::lock_guard lock(lateMutex_);
            late.insert(late.begin(), late_.begin(), late_.end());
            late_.clear();
        }
        for (const LateName &name : late)
            std::printf("late %s name=%s elapsed=%.1f\n", name.address.text().c_str(),
                        name.name.c_str(), msSince(start));
        return late;
    }
    std::string officialName(const IpAddress &address) override
    {
        idle_ = 0;
        const auto asked = Clock::now();
        std::string name = inner_.officialName(address);
        std::printf("lookup %s name=%s elapsed=%.1f idle=%d\n", address.text().c_str(),
                    name.c_str(), msSince(asked), idle_);
        return name;
    }

    Clock::time_point start = Clock::now();
    std::function<void()> onIdle;

private:
    SystemResolver inner_;
    int idle_ = 0;
    std::mutex lateMutex_;
    std::vector<LateName> late_; // taken by the late-name hook
};

struct Options {
    IcmpEchoService::Backend backend = IcmpEchoService::Backend::automatic;
    int16_t runs = 4;
    int16_t hops = 30;
    int16_t timeoutSec = 1;
    bool mtu = false;
    bool names = false;
    bool everyRun = false;
    bool report = false;
    int16_t stopAtMs = 0;
    std::multimap<int, std::string> commands; // probe number -> shell command
    std::string target;
};

std::optional<int16_t> number(const char *text, long min, long max)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < min || value > max)
        return std::nullopt;
    return static_cast<int16_t>(value);
}

bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        std::optional<int16_t> n;
        if (arg == "--mtu") {
            options.mtu = true;
        } else if (arg == "--names") {
            options.names = true;
        } else if (arg == "--every-run") {
            options.everyRun = true;
        } else if (arg == "--report") {
            options.report = true;
        } else if (arg == "--stop-at" && (n = number(value, 1, 32767))) {
            options.stopAtMs = *n, ++i;
        } else if (arg == "--at" && i + 2 < argc && (n = number(value, 1, 32767))) {
            options.commands.emplace(*n, argv[i + 2]);
            i += 2;
        } else if (arg[0] != '-') {
            options.target = arg;
        } else if (arg == "--backend") {
            const std::string name = value;
            if (name == "datagram")
                options.backend = IcmpEchoService::Backend::datagram;
            else if (name == "raw")
                options.backend = IcmpEchoService::Backend::raw;
            else if (name != "automatic")
                return false;
            ++i;
        } else if (arg == "--runs" && (n = number(value, 1, 10000))) {
            options.runs = *n, ++i;
        } else if (arg == "--hops" && (n = number(value, 1, 255))) {
            options.hops = *n, ++i;
        } else if (arg == "--timeout" && (n = number(value, 1, 30))) {
            options.timeoutSec = *n, ++i;
        } else {
            return false;
        }
    }
    return !options.target.empty();
}

void printRows(const TraceEngine &engine)
{
    constexpr int shown[] = {0, 1, 2, 3, 4, 5, 10, 11}; // all but Best, Avg, Worst, Last
    for (int row = 1; row <= engine.results.rowCount(); ++row) {
        std::string line = "row ";
        for (int column : shown)
            line += (column ? "|" : "") + engine.results.cell(row, column);
        std::printf("%s\n", line.c_str());
    }
}

void print(const TraceEngine &engine, const FakeWindowOps &window, const Tally &tally)
{
    printRows(engine);
    for (const auto &[key, n] : tally) {
        const auto &[ttl, df, size, count, status, address] = key;
        std::printf("echo ttl=%d df=%d size=%zu count=%u status=%u address=%s n=%d\n", ttl, df,
                    size, count, status, address.c_str(), n);
    }
    std::istringstream notes(engine.results.notes());
    for (std::string line; std::getline(notes, line);)
        std::printf("notes %s\n", line.c_str());
    for (const auto &message : window.messages())
        std::printf("message %s\n", message.text.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: trace_probe [--backend automatic|datagram|raw] [--runs N] "
                             "[--hops N] [--timeout S] [--mtu] [--names] [--every-run] "
                             "[--at PROBE COMMAND]... [--stop-at MS] [--report] HOST\n");
        return 2;
    }
    TraceSettings settings;
    settings.setStartupValues();
    settings.optMaxRuns = options.runs;
    settings.optMaxHops = options.hops;
    settings.optTimeoutSec = options.timeoutSec;
    settings.optFindMtu = options.mtu;
    settings.optResolveNames = options.names;

    TallyingService echo(options.backend);
    echo.settleAtOnce = options.everyRun;
    TimedResolver resolver;
    FakeWindowOps window;
    window.setCombo1Text(options.target);
    TraceEngine engine{settings, echo, resolver, window};

    int runs = 0;
    int probes = 0;
    echo.beforeSend = [&](const IpOptionInformation &ip) {
        // A main probe with TTL 1 begins a run.
        if (ip.ttl == 1 && !(ip.flags & IpOptionInformation::dontFragment)) {
            if (options.everyRun && runs > 0) {
                std::printf("run %d\n", runs);
                printRows(engine);
            }
            ++runs;
        }
        const auto [from, to] = options.commands.equal_range(++probes);
        for (auto it = from; it != to; ++it) {
            if (std::system(it->second.c_str()) != 0)
                std::printf("command failed: %s\n", it->second.c_str());
        }
    };
    if (options.stopAtMs > 0) {
        resolver.onIdle = [&] {
            if (engine.tracing && msSince(resolver.start) >= options.stopAtMs)
                engine.command1Click();
        };
    }
    const auto start = Clock::now();
    resolver.start = start;
    engine.command1Click();
    const double elapsed = msSince(start);
    if (options.everyRun)
        std::printf("run %d\n", runs);
    print(engine, window, echo.tally);
    if (options.report) {
        std::istringstream report(
            clipboardReport(engine, options.target, window.text3(), window.text2()));
        for (std::string line; std::getline(report, line);)
            std::printf("report %s\n", line.substr(0, line.find('\r')).c_str());
    }
    if (options.everyRun)
        std::printf("end runs=%d elapsed=%.1f\n", runs, elapsed);
    return 0;
}
