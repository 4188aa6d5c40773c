// Headless trace: the real trace engine over the real echo service and
// resolver, with a window that only records. It prints the result rows as the
// program shows them and, on request, every echo request the engine sent, so
// the benchmark scripts can put them beside ping and tracepath.
//
//   trace_run [--runs N] [--hops N] [--size BYTES] [--timeout SEC] [--retries N]
//             [--mtu] [--probes] [--backend automatic|datagram|raw] ADDRESS
//       probe hop=H ttl=T df=0|1 size=PAYLOAD status=S rtt=MS start=US end=US
//       row hop=H address=A sent=N recv=N loss=N best=B avg=A worst=W last=L mtu=M asym=X
//       summary probes=N seconds=S.sss rate=P
//
// start and end are microseconds since the click, around each sendEcho call.
// Exit code 0, 2 for bad arguments, 1 when the engine showed a message.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/TraceEngine.h"
#include "engine/NullWindowOps.h"
#include "net/IcmpEchoService.h"
#include "net/SystemResolver.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Probe {
    int hop;
    IpOptionInformation options;
    size_t size;
    uint32_t status;
    uint32_t rtt;
    Clock::time_point start;
    Clock::time_point end;
};

// Every sendEcho of every handle goes into one list, tagged with the engine's hop.
class RecordingHandle : public EchoHandle {
public:
    RecordingHandle(std::unique_ptr<EchoHandle> inner, std::vector<Probe> &probes,
                    std::function<int()> hop)
        : inner_(std::move(inner)), probes_(probes), hop_(std::move(hop)) {}

    uint32_t sendEcho(const IpAddress &destination, std::span<const uint8_t> payload,
                      const IpOptionInformation &options, IcmpEchoReply &reply,
                      uint32_t timeoutMs) override {
        const auto start = Clock::now();
        const uint32_t count = inner_->sendEcho(destination, payload, options, reply, timeoutMs);
        probes_.push_back({hop_(), options, payload.size(), reply.status, reply.roundTripTime,
                           start, Clock::now()});
        return count;
    }

private:
    std::unique_ptr<EchoHandle> inner_;
    std::vector<Probe> &probes_;
    std::function<int()> hop_;
};

class RecordingService : public EchoService {
public:
    explicit RecordingService(EchoService &inner) : inner_(inner) {}

    std::unique_ptr<EchoHandle> openHandle(const IpAddress &destination) override {
        auto handle = inner_.openHandle(destination);
        if (!handle)
            return handle;
        return std::make_unique<RecordingHandle>(std::move(handle), probes, hop);
    }
    EchoOpenFailure lastOpenFailure() const override { return inner_.lastOpenFailure(); }
    void setIdleHook(IdleHook hook) override { inner_.setIdleHook(std::move(hook)); }
    void waitIdle(uint32_t ms, const std::function<bool()> &goOn) override
    {
        inner_.waitIdle(ms, goOn);
    }

    std::vector<Probe> probes;
    std::function<int()> hop = [] { return 0; };

private:
    EchoService &inner_;
};

// A window nobody looks at: it names the host, and its messages go to stderr.
class QuietWindow : public NullWindowOps {
public:
    explicit QuietWindow(std::string host) : host_(std::move(host)) {}

    void messageBox(const std::string &text, MessageIcon) override {
        std::fprintf(stderr, "trace_run: message: %s\n", text.c_str());
        ++messages;
    }
    std::string combo1Text() const override { return host_; }

    int messages = 0;

private:
    std::string host_;
};

struct Options {
    TraceSettings settings;
    IcmpEchoService::Backend backend = IcmpEchoService::Backend::automatic;
    bool probes = false;
    std::string target;
};

bool number(const char *text, long lo, long hi, int16_t &out) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < lo || value > hi)
        return false;
    out = static_cast<int16_t>(value);
    return true;
}

// The settings keep the ranges the Options dialog enforces.
bool parse(int argc, char **argv, Options &o) {
    o.settings.setStartupValues();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--mtu") {
            o.settings.optFindMtu = true;
            continue;
        }
        if (arg == "--probes") {
            o.probes = true;
            continue;
        }
        if (arg[0] != '-') {
            o.target = arg;
            continue;
        }
        ++i;
        TraceSettings &s = o.settings;
        bool ok = true;
        if (arg == "--runs")
            ok = number(value, 1, 10000, s.optMaxRuns);
        else if (arg == "--hops")
            ok = number(value, 1, 255, s.optMaxHops);
        else if (arg == "--size")
            ok = number(value, 60, 2000, s.optPacketSize);
        else if (arg == "--timeout")
            ok = number(value, 1, 30, s.optTimeoutSec);
        else if (arg == "--retries")
            ok = number(value, 1, 10, s.optMtuRetries);
        else if (arg == "--backend" && std::string(value) == "datagram")
            o.backend = IcmpEchoService::Backend::datagram;
        else if (arg == "--backend" && std::string(value) == "raw")
            o.backend = IcmpEchoService::Backend::raw;
        else if (arg != "--backend" || std::string(value) != "automatic")
            ok = false;
        if (!ok)
            return false;
    }
    return !o.target.empty();
}

long long usSince(Clock::time_point origin, Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - origin).count();
}

void printProbes(const std::vector<Probe> &probes, Clock::time_point origin) {
    for (const Probe &p : probes)
        std::printf("probe hop=%d ttl=%u df=%d size=%zu status=%u rtt=%u start=%lld end=%lld\n",
                    p.hop, unsigned(p.options.ttl),
                    (p.options.flags & IpOptionInformation::dontFragment) ? 1 : 0, p.size, p.status,
                    p.rtt, usSince(origin, p.start), usSince(origin, p.end));
}

// "-" for an empty cell, so every field stays one word.
std::string word(const std::string &text) {
    return text.empty() ? "-" : text;
}

void printRows(const ResultModel &results) {
    static const char *const names[] = {"hop",  "address", "hostname", "sent", "recv", "loss",
                                        "best", "avg",     "worst",    "last", "mtu",  "asym"};
    for (int row = 1; row <= results.rowCount(); ++row) {
        std::string line = "row";
        for (int col = 0; col < ResultModel::columnCount; ++col) {
            if (col == 2)
                continue; // names are off
            std::string text = results.cell(row, col);
            if (col == 0)
                text.erase(0, text.find_first_not_of(' '));
            line += std::string(" ") + names[col] + "=" + word(text);
        }
        std::printf("%s\n", line.c_str());
    }
}

} // namespace

int main(int argc, char **argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fprintf(stderr, "usage: trace_run [--runs N] [--hops N] [--size BYTES] "
                             "[--timeout SEC] [--retries N] [--mtu] [--probes] "
                             "[--backend automatic|datagram|raw] ADDRESS\n");
        return 2;
    }
    IcmpEchoService icmp(o.backend);
    RecordingService echo(icmp);
    SystemResolver resolver;
    QuietWindow window(o.target);
    TraceEngine engine(o.settings, echo, resolver, window);
    echo.hop = [&engine] { return int(engine.curHop); };
    echo.probes.reserve(static_cast<size_t>(o.settings.optMaxRuns) * 64);

    const auto start = Clock::now();
    engine.command1Click();
    const auto end = Clock::now();

    if (o.probes)
        printProbes(echo.probes, start);
    printRows(engine.results);
    const double seconds = std::chrono::duration<double>(end - start).count();
    std::printf("summary probes=%zu seconds=%.3f rate=%.0f\n", echo.probes.size(), seconds,
                static_cast<double>(echo.probes.size()) / seconds);
    return window.messages == 0 ? 0 : 1;
}
