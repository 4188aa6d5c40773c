#include "cli/CliOptions.h"

#include <getopt.h>

#include "engine/FieldCheck.h"
#include "net/IpAddress.h"
#include "net/Sockets.h"

namespace {

// Long options without a short letter.
enum LongOnly : int {
    optMtu = 256,
    optMtuRetries,
    optTtl,
    optFormat,
    optOutput,
    optProbes,
    optCrlf,
    optSave,
    optOpen,
};

constexpr option longOptions[] = {
    {"runs", required_argument, nullptr, 'c'},
    {"max-hops", required_argument, nullptr, 'm'},
    {"size", required_argument, nullptr, 's'},
    {"timeout", required_argument, nullptr, 'W'},
    {"tos", required_argument, nullptr, 'Q'},
    {"mtu", no_argument, nullptr, optMtu},
    {"mtu-retries", required_argument, nullptr, optMtuRetries},
    {"ttl", no_argument, nullptr, optTtl},
    {"no-dns", no_argument, nullptr, 'n'},
    {"format", required_argument, nullptr, optFormat},
    {"output", required_argument, nullptr, optOutput},
    {"probes", no_argument, nullptr, optProbes},
    {"crlf", no_argument, nullptr, optCrlf},
    {"save", required_argument, nullptr, optSave},
    {"open", required_argument, nullptr, optOpen},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
constexpr const char *shortOptions = ":c:m:s:W:Q:n46jCqhV";

// A numeric option: its names, the setting it fills and the Options dialog's range.
struct NumberOption {
    int key;
    const char *names;
    int16_t TraceSettings::*value;
    FieldBounds bounds;
};

constexpr NumberOption numberOptions[] = {
    {'c', "-c/--runs", &TraceSettings::optMaxRuns, {1, 10000}},
    {'m', "-m/--max-hops", &TraceSettings::optMaxHops, {1, 255}},
    {'s', "-s/--size", &TraceSettings::optPacketSize, {60, 2000}},
    {'W', "-W/--timeout", &TraceSettings::optTimeoutSec, {1, 30}},
    {'Q', "-Q/--tos", &TraceSettings::optTos, {0, 255}},
    {optMtuRetries, "--mtu-retries", &TraceSettings::optMtuRetries, {1, 10}},
};

const NumberOption *numberOption(int key)
{
    for (const NumberOption &o : numberOptions)
        if (o.key == key)
            return &o;
    return nullptr;
}

std::string setNumber(CliOptions &o, const NumberOption &n, const char *text)
{
    if (!FieldCheck::passes(text, n.bounds))
        return std::string(n.names) + " takes a whole number from " + std::to_string(n.bounds.lo) +
               " to " + std::to_string(n.bounds.hi) + ", not \"" + text + "\"";
    o.settings.*n.value = FieldCheck::valueOf(text);
    return {};
}

std::string setFormat(CliOptions &o, const char *text)
{
    const auto format = reportFormatNamed(text);
    if (!format)
        return std::string("--format takes text, json, csv or atlas, not \"") + text + "\"";
    o.format = *format;
    return {};
}

std::string setFlag(CliOptions &o, int key)
{
    switch (key) {
    case optMtu: o.settings.optFindMtu = true; break;
    case optTtl: o.settings.optAsymmetryView = false; break;
    case 'n': o.settings.optResolveNames = false; break;
    case '4': o.family = AddressFamily::ipv4; break;
    case '6': o.family = AddressFamily::ipv6; break;
    case 'j': o.format = ReportFormat::json; break;
    case 'C': o.format = ReportFormat::csv; break;
    case optProbes: o.style.probes = true; break;
    case optCrlf: o.style.crlf = true; break;
    case 'q': o.quiet = true; break;
    case 'h': o.help = true; break;
    case 'V': o.version = true; break;
    default: return "unknown option";
    }
    return {};
}

std::string applyOption(CliOptions &o, int key, const char *arg)
{
    if (const NumberOption *n = numberOption(key))
        return setNumber(o, *n, arg);
    if (key == optFormat)
        return setFormat(o, arg);
    if (key == optOutput || key == optSave || key == optOpen) {
        const char *name = key == optOutput ? "--output" : key == optSave ? "--save" : "--open";
        if (*arg == '\0')
            return std::string(name) + " takes a file name";
        (key == optOutput ? o.output : key == optSave ? o.save : o.open) = arg;
        return {};
    }
    return setFlag(o, key);
}

// A typed address of the other family than -4 or -6 asks for cannot be traced.
std::string checkFamily(const CliOptions &o)
{
    if (o.family == AddressFamily::any)
        return {};
    const auto typed = literalAddress(o.host) ? textToAddress(o.host) : IpAddress::parse(o.host);
    if (!typed)
        return {};
    if (typed->isIpv6() && o.family == AddressFamily::ipv4)
        return o.host + " is an IPv6 address, and -4 traces over IPv4 only";
    if (!typed->isIpv6() && o.family == AddressFamily::ipv6)
        return o.host + " is an IPv4 address, and -6 traces over IPv6 only";
    return {};
}

// The words left once the options are read: getopt_long has moved them to
// the end of argv, options written after the host included.
std::string readOperands(CliOptions &o, const std::vector<char *> &argv, size_t first)
{
    if (o.help || o.version)
        return {};
    const size_t end = argv.size() - 1; // the null that ends argv
    if (!o.open.empty()) {
        if (first < end)
            return "--open writes the report of a saved trace: no host as well";
        return o.save.empty() ? "" : "--open and --save together: the trace is saved already";
    }
    if (first >= end)
        return "no host given";
    if (first + 1 < end)
        return "one host only, not \"" + std::string(argv[first + 1]) + "\" as well";
    o.host = argv[first];
    return checkFamily(o);
}

} // namespace

CliParse parseCliOptions(const std::vector<std::string> &args)
{
    CliParse result;
    result.options.settings.optResolveNames = true;
    std::vector<std::string> copies = args;
    std::vector<char *> argv;
    for (std::string &a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    optind = 0; // getopt_long starts afresh
    opterr = 0;
    const int argc = static_cast<int>(args.size());
    for (;;) {
        const int key = getopt_long(argc, argv.data(), shortOptions, longOptions, nullptr);
        if (key == -1)
            break;
        if (key == '?') {
            result.error = optopt ? std::string("unknown option -") + static_cast<char>(optopt)
                                  : "unknown option " + std::string(argv[static_cast<size_t>(optind - 1)]);
            return result;
        }
        if (key == ':') { // the option as written is the last word read
            result.error = std::string(argv[static_cast<size_t>(optind - 1)]) + " needs a value";
            return result;
        }
        result.error = applyOption(result.options, key, optarg);
        if (!result.error.empty())
            return result;
    }
    result.error = readOperands(result.options, argv, static_cast<size_t>(optind));
    return result;
}

std::string cliUsage()
{
    return R"(Usage: korvalen-cli [OPTIONS] HOST
       korvalen-cli --open FILE [--format FORMAT] [--output FILE]
Traces the route to HOST, measures every hop, and writes a report.

  -c, --runs N          runs over the whole path (1-10000, default 20)
  -m, --max-hops N      highest hop probed (1-255, default 30)
  -s, --size BYTES      IP packet size of each probe, headers included
                        (60-2000, default 100)
  -W, --timeout SECONDS wait for each reply (1-30, default 2)
  -Q, --tos N           type of service byte (0-255, default 0)
      --mtu             find the path MTU up to each hop
      --mtu-retries N   probes an MTU search may send for one size (1-10, default 3)
      --ttl             the last column shows the replies' TTL instead of Asym
  -n, --no-dns          do not look up host names
  -4, -6                trace a name over IPv4 / IPv6 only
      --format FORMAT   text (default), json, csv or atlas
  -j                    the same as --format json
  -C                    the same as --format csv
      --output FILE     write the report to FILE (whole, or not at all)
      --save FILE       record the trace into FILE as it runs (NAME.kvtrace)
      --open FILE       write the report of a saved trace; no probe is sent
      --probes          json: every probe of every hop
      --crlf            text: CR LF line ends, as the clipboard's report
  -q, --quiet           no progress on standard error
  -h, --help            this help
  -V, --version         the program's version

Exit status: 0 the target answered, 1 it never answered, 2 a bad option, a host
that does not resolve, no probe able to leave or a saved trace that cannot be
read, 3 the report (or the saved trace) could not be written, 130 or 143
stopped by SIGINT or SIGTERM.
)";
}
