// Times a burst of echo requests leaving this network namespace: samples the
// kernel's count of sent echo requests (IcmpMsg OutType8 in /proc/net/snmp,
// plus Icmp6OutEchos in /proc/net/snmp6 for IPv6) every millisecond from the first request after the start to the COUNT-th,
// whoever sends them. Run it inside the namespace, start the burst after it.
//
//   burst_rate COUNT [TIMEOUT_S]
//       burst requests=N seconds=S.ssssss rate=P
//
// The rate is taken from the first sample that saw the burst to the last, so
// the delay before the burst starts does not count. Exit code 1 on a time-out.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Icmp6OutEchos of /proc/net/snmp6, a "name value" line each.
long long ipv6EchoRequestsSent() {
    std::ifstream snmp6("/proc/net/snmp6");
    std::string name;
    long long value = 0;
    while (snmp6 >> name >> value)
        if (name == "Icmp6OutEchos")
            return value;
    return 0;
}

// The OutType8 column of the second IcmpMsg line; -1 when there is none yet.
long long ipv4EchoRequestsSent() {
    std::ifstream snmp("/proc/net/snmp");
    std::string line, names;
    while (std::getline(snmp, line)) {
        if (line.rfind("IcmpMsg:", 0) != 0)
            continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream n(names), v(line);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "OutType8")
                return std::atoll(value.c_str());
        return 0;
    }
    return 0;
}

long long echoRequestsSent() { return ipv4EchoRequestsSent() + ipv6EchoRequestsSent(); }

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || std::atoll(argv[1]) <= 0) {
        std::fprintf(stderr, "usage: burst_rate COUNT [TIMEOUT_S]\n");
        return 2;
    }
    const long long count = std::atoll(argv[1]);
    const auto deadline = Clock::now() + std::chrono::seconds(argc > 2 ? std::atoi(argv[2]) : 300);
    const long long base = echoRequestsSent();
    long long first = -1, last = base;
    Clock::time_point t0, t1;
    while (last < base + count) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto now = Clock::now();
        if (now > deadline) {
            std::printf("burst requests=%lld seconds=0 rate=0 timed-out\n", last - base);
            return 1;
        }
        last = echoRequestsSent();
        if (first < 0 && last > base) {
            first = last;
            t0 = now;
        }
        t1 = now;
    }
    const double seconds = std::chrono::duration<double>(t1 - t0).count();
    std::printf("burst requests=%lld seconds=%.6f rate=%.0f\n", last - base, seconds,
                seconds > 0 ? static_cast<double>(last - first) / seconds : 0.0);
    return 0;
}
