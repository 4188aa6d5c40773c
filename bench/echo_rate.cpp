// Main-probe rate of the echo service alone: every probe opens a handle,
// sends one echo request and closes the handle, as a trace does per hop.
//
//   echo_rate <address> <count> [automatic|datagram|raw]
//
// Prints the probes sent, the replies, the elapsed time and probes per second.
#include "net/IcmpEchoService.h"
#include "net/Sockets.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t payloadSize = 32; // 60-byte datagrams, the smallest packet size
constexpr uint32_t timeoutMs = 1000;

bool parseBackend(const char *text, IcmpEchoService::Backend &backend)
{
    using Backend = IcmpEchoService::Backend;
    if (std::strcmp(text, "automatic") == 0)
        backend = Backend::automatic;
    else if (std::strcmp(text, "datagram") == 0)
        backend = Backend::datagram;
    else if (std::strcmp(text, "raw") == 0)
        backend = Backend::raw;
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    auto backend = IcmpEchoService::Backend::automatic;
    if (argc < 3 || (argc > 3 && !parseBackend(argv[3], backend))) {
        std::fprintf(stderr, "usage: %s <address> <count> [automatic|datagram|raw]\n", argv[0]);
        return 2;
    }
    const auto destination = textToAddress(argv[1]);
    const long count = std::strtol(argv[2], nullptr, 10);
    if (!destination || count <= 0) {
        std::fprintf(stderr, "echo_rate: need a dotted address and a positive count\n");
        return 2;
    }
    IcmpEchoService service(backend);
    const std::vector<uint8_t> payload(payloadSize, 'a');
    const IpOptionInformation options{64, 0, 0};
    long replies = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < count; ++i) {
        auto handle = service.openHandle(*destination);
        if (!handle) {
            std::fprintf(stderr, "echo_rate: %s\n", service.lastOpenFailure().reason.c_str());
            return 1;
        }
        IcmpEchoReply reply;
        replies += handle->sendEcho(*destination, payload, options, reply, timeoutMs);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("probes %ld replies %ld elapsed %.3f s rate %.0f probes/s\n", count, replies,
                elapsed.count(), static_cast<double>(count) / elapsed.count());
    return 0;
}
