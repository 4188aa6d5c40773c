// Test driver for the echo service and the resolver on a real network: runs
// inside a namespace of the test network and prints one text line per result,
// so that shell tests can compare it with ping, tracepath and nft counters.
//
//   echo_probe [--backend automatic|datagram|raw] [--ttl N] [--tos N] [--df]
//              [--size PAYLOAD] [--timeout MS] [--count N] [--hook MS] [--late]
//              [--quiet] ADDRESS
//       probe count=C status=S address=A rtt=MS ttl=T elapsed=MS.mmm us=US
//       summary probes=N replies=R seconds=S.sss rate=P
//   echo_probe name ADDRESS      name text="official name" elapsed=MS.mmm
//   echo_probe addr HOST         addr text=A elapsed=MS.mmm
//
// Every probe opens a handle, sends one request and closes the handle again,
// as a trace does. --hook sets an idle hook that blocks for MS each call, as a
// window busy with its events would. --late leaves every reply's send stamp
// queued until all probes are done, as a trace does with a batch, and prints
// the lines then; us= is the precise time, 0 without one. The exit code is 0, 2 for bad arguments, 3 when no handle opens.
#include "net/IcmpEchoService.h"
#include "net/PrivilegedSockets.h"
#include "net/SendStamps.h"
#include "net/SystemResolver.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    IcmpEchoService::Backend backend = IcmpEchoService::Backend::automatic;
    IpOptionInformation ip{64, 0, 0};
    uint32_t payloadSize = 32;
    uint32_t timeoutMs = 1000;
    uint32_t count = 1;
    uint32_t hookMs = 0;
    bool quiet = false;
    bool late = false;
    std::string target;
};

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::optional<uint32_t> number(const char *text, uint32_t max)
{
    char *end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (*text == '\0' || *end != '\0' || value > max)
        return std::nullopt;
    return uint32_t(value);
}

std::optional<IcmpEchoService::Backend> backendNamed(const std::string &name)
{
    if (name == "automatic")
        return IcmpEchoService::Backend::automatic;
    if (name == "datagram")
        return IcmpEchoService::Backend::datagram;
    if (name == "raw")
        return IcmpEchoService::Backend::raw;
    return std::nullopt;
}

// Parses the probe options; false on anything it does not know.
bool parse(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : "";
        std::optional<uint32_t> n;
        if (arg == "--df") {
            options.ip.flags = IpOptionInformation::dontFragment;
            continue;
        }
        if (arg == "--late") {
            options.late = true;
            continue;
        }
        if (arg == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (arg[0] != '-') {
            options.target = arg;
            continue;
        }
        ++i;
        if (arg == "--backend") {
            const auto backend = backendNamed(value);
            if (!backend)
                return false;
            options.backend = *backend;
        } else if (arg == "--ttl" && (n = number(value, 255)) && *n > 0) {
            options.ip.ttl = uint8_t(*n);
        } else if (arg == "--tos" && (n = number(value, 255))) {
            options.ip.tos = uint8_t(*n);
        } else if (arg == "--size" && (n = number(value, 65500))) {
            options.payloadSize = *n;
        } else if (arg == "--timeout" && (n = number(value, 600000))) {
            options.timeoutMs = *n;
        } else if (arg == "--count" && (n = number(value, 100000000)) && *n > 0) {
            options.count = *n;
        } else if (arg == "--hook" && (n = number(value, 10000))) {
            options.hookMs = *n;
        } else {
            return false;
        }
    }
    return !options.target.empty();
}

std::vector<uint8_t> payloadOf(uint32_t size)
{
    std::vector<uint8_t> payload(size);
    for (uint32_t i = 0; i < size; ++i)
        payload[i] = uint8_t('a' + i % 23);
    return payload;
}

void print(const IcmpEchoReply &reply, double elapsed)
{
    std::printf("probe count=%u status=%u address=%s rtt=%u ttl=%u elapsed=%.3f us=%u\n",
                reply.replyCount, reply.status, reply.address.text().c_str(), reply.roundTripTime,
                unsigned(reply.ttl), elapsed, reply.roundTripUs.value_or(0));
}

int probe(const Options &options)
{
    const auto destination = IpAddress::parse(options.target);
    if (!destination) {
        std::fprintf(stderr, "echo_probe: not an address: %s\n", options.target.c_str());
        return 2;
    }
    // The raw backend reads from held sockets, as the program does where
    // ping sockets are closed and it may open raw ones.
    IcmpEchoService service(options.backend, options.backend == IcmpEchoService::Backend::raw
                                                 ? PrivilegedSockets::openRaw()
                                                 : PrivilegedSockets());
    if (options.hookMs > 0)
        service.setIdleHook([ms = options.hookMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            return true;
        });
    const auto payload = payloadOf(options.payloadSize);
    std::vector<std::pair<IcmpEchoReply, double>> held; // with --late: reply, elapsed
    uint32_t replies = 0;
    const auto start = Clock::now();
    for (uint32_t i = 0; i < options.count; ++i) {
        auto handle = service.openHandle(*destination);
        if (!handle) {
            const auto failure = service.lastOpenFailure();
            std::printf("open-failed datagram_errno=%d raw_errno=%d reason=%s\n",
                        failure.datagramErrno, failure.rawErrno, failure.reason.c_str());
            return 3;
        }
        IcmpEchoReply reply;
        const auto sent = Clock::now();
        const uint32_t count = handle->sendEcho(*destination, payload, options.ip, reply,
                                                options.timeoutMs);
        const double elapsed = msSince(sent);
        replies += count;
        if (options.late) {
            held.emplace_back(reply, elapsed);
            continue;
        }
        settleSendStamp(reply);
        if (!options.quiet)
            print(reply, elapsed);
    }
    for (auto &[reply, elapsed] : held) {
        settleSendStamp(reply);
        if (!options.quiet)
            print(reply, elapsed);
    }
    const double seconds = msSince(start) / 1000;
    std::printf("summary probes=%u replies=%u seconds=%.3f rate=%.0f\n", options.count, replies,
                seconds, options.count / seconds);
    return 0;
}

int lookUp(const std::string &what, const std::string &text)
{
    SystemResolver resolver;
    const auto start = Clock::now();
    std::string result;
    if (what == "name") {
        const auto address = IpAddress::parse(text);
        if (!address)
            return 2;
        result = resolver.officialName(*address);
    } else if (const auto address = resolver.firstAddress(text)) {
        result = address->text();
    }
    std::printf("%s text=\"%s\" elapsed=%.3f\n", what.c_str(), result.c_str(), msSince(start));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 3 && (std::string(argv[1]) == "name" || std::string(argv[1]) == "addr"))
        return lookUp(argv[1], argv[2]);
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: echo_probe [--backend automatic|datagram|raw] [--ttl N] "
                             "[--tos N] [--df] [--size PAYLOAD] [--timeout MS] [--count N] "
                             "[--hook MS] [--late] [--quiet] ADDRESS\n       echo_probe name ADDRESS\n"
                             "       echo_probe addr HOST\n");
        return 2;
    }
    return probe(options);
}
