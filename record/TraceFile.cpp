#include "record/TraceFile.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "report/ReportFormat.h"
#include "report/SettingsJson.h"

namespace {

using Json = nlohmann::json;
using Ordered = nlohmann::ordered_json;
using Kind = TraceRecord::Kind;

// Limits that hold whatever a file says: a line is far longer than any
// record needs, a name longer than any the resolver gives.
constexpr size_t longestLine = 8192;
constexpr size_t longestName = 1024;
constexpr int deepestNesting = 3;
// An MTU search halves 120 to 2000 bytes: at most 12 sizes, each tried up to
// MTU retries times, after one main probe.
constexpr int64_t mtuSizesPerSearch = 12;
constexpr uint64_t latestSentUs = uint64_t{1} << 53;

const char *keyOf(Kind kind)
{
    switch (kind) {
    case Kind::target: return "target";
    case Kind::probe: return "p";
    case Kind::mtu: return "m";
    case Kind::name: return "n";
    case Kind::late: return "late";
    case Kind::stop: return "stop";
    case Kind::runEnd: return "r";
    case Kind::runsStart: return "runs";
    }
    return "";
}

void appendNumber(std::string &out, uint64_t value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// A probe's numbers and address by hand: they are digits and address text,
// and a probe must cost no more than its bytes (no JSON object built).
std::string probeLine(const TraceLog &log, const TraceRecord &r)
{
    std::string out = "{\"";
    out += keyOf(r.kind);
    out += "\":[";
    for (const uint64_t n : {uint64_t(r.run), uint64_t(r.hop), r.sentUs}) {
        appendNumber(out, n);
        out += ',';
    }
    if (r.kind == Kind::mtu) {
        appendNumber(out, static_cast<uint64_t>(r.size));
        out += ',';
    }
    if (r.address == TraceRecord::none) {
        out += "null,null,";
    } else {
        out += '"' + log.address(r.address).text() + "\",";
        appendNumber(out, r.rttUs);
        out += ',';
    }
    appendNumber(out, r.status);
    out += ',';
    appendNumber(out, r.ttl);
    out += ']';
    if (!r.precise)
        out += ",\"ms\":1";
    if (r.sendErrno != 0)
        out += ",\"errno\":" + std::to_string(r.sendErrno);
    return out + "}\n";
}

std::string dump(const Ordered &json)
{
    return json.dump(-1, ' ', false, Ordered::error_handler_t::replace) + "\n";
}

std::optional<TraceHeader::Clock::time_point> timeOf(const Json &json)
{
    if (!json.is_string())
        return std::nullopt;
    const std::string text = json.get<std::string>();
    std::tm utc{};
    long us = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%6ldZ%n", &utc.tm_year, &utc.tm_mon,
                    &utc.tm_mday, &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &us, &used) != 7 ||
        static_cast<size_t>(used) != text.size() || text.size() != 27)
        return std::nullopt;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    // The system clock counts nanoseconds in 64 bits: it ends in 2262.
    constexpr std::time_t latest = 7'000'000'000; // 2191
    const std::time_t seconds = timegm(&utc);
    if (seconds < 0 || seconds > latest)
        return std::nullopt;
    return TraceHeader::Clock::from_time_t(seconds) + std::chrono::microseconds(us);
}

// Reads the lines of one file, checking each against what a trace can hold.
class Reader {
public:
    explicit Reader(std::FILE *file) : file_(file) {}
    TraceFile::ReadResult read();

private:
    // The next line without its line feed; false at the end of the file.
    bool nextLine(std::string &line);
    Json parse(const std::string &line);
    [[noreturn]] void fail(const std::string &what) const;
    void readHeader();
    void readRecord(const Json &json);
    void readEnd(const Json &json);
    void readProbe(Kind kind, const Json &values, const Json &json);
    void readName(Kind kind, const Json &values);
    int64_t integer(const Json &json, int64_t lo, int64_t hi, const char *what) const;
    int32_t address(const Json &json);
    void count(Kind kind);

    std::FILE *file_;
    int32_t line_ = 0;
    bool cut_ = false; // the last line has no line feed
    TraceDocument doc_;
    int32_t lastRun_ = 0;
    int64_t probes_ = 0, names_ = 0, stops_ = 0;
    int64_t searchProbes_ = 0; // MTU probes since the last main probe
    size_t completeRuns_ = 0; // records up to the last run's end
};

struct Refusal {
    std::string text;
};

void Reader::fail(const std::string &what) const
{
    throw Refusal{"line " + std::to_string(line_) + ": " + what};
}

bool Reader::nextLine(std::string &line)
{
    line.clear();
    char buffer[1024];
    while (std::fgets(buffer, sizeof buffer, file_)) {
        line += buffer;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            ++line_;
            return true;
        }
        if (line.size() > longestLine) {
            ++line_;
            fail("longer than any record (" + std::to_string(longestLine) + " bytes)");
        }
    }
    if (std::ferror(file_))
        throw Refusal{std::string("cannot be read: ") + std::strerror(errno)};
    if (line.empty())
        return false;
    ++line_;
    cut_ = true;
    return true;
}

Json Reader::parse(const std::string &line)
{
    try {
        return Json::parse(line, [this](int depth, Json::parse_event_t, Json &) {
            if (depth > deepestNesting)
                fail("nested deeper than any record");
            return true;
        });
    } catch (const Json::exception &e) {
        fail(std::string("not a JSON record (") + e.what() + ")");
    }
}

TraceFile::ReadResult Reader::read()
{
    try {
        readHeader();
        std::string line;
        while (!doc_.end && nextLine(line)) {
            if (cut_) {
                doc_.note = "line " + std::to_string(line_) + " is cut short";
                break;
            }
            const Json json = parse(line);
            if (!json.is_object() || json.size() < 1)
                fail("not a record");
            if (json.contains("end"))
                readEnd(json);
            else
                readRecord(json);
        }
        if (doc_.end && nextLine(line))
            fail("a record after the trace's end");
        if (!doc_.end) {
            if (doc_.note.empty())
                doc_.note = "the file ends at line " + std::to_string(line_) + " without the trace's end";
            doc_.log.truncate(completeRuns_);
        }
    } catch (const Refusal &refusal) {
        return {std::nullopt, refusal.text};
    }
    return {std::move(doc_), {}};
}

void Reader::readHeader()
{
    std::string line;
    if (!nextLine(line))
        throw Refusal{"empty: not a Korvalen trace"};
    Json json;
    try {
        json = parse(line);
    } catch (const Refusal &) {
        fail("not a Korvalen trace");
    }
    if (!json.is_object() || !json.contains("korvalen-trace"))
        fail("not a Korvalen trace");
    const int64_t version = integer(json["korvalen-trace"], 1, INT32_MAX, "the format version");
    if (version > TraceFile::version)
        fail("a trace of format version " + std::to_string(version) +
             ", newer than this program reads (" + std::to_string(TraceFile::version) + ")");
    TraceHeader &h = doc_.header;
    const auto start = json.contains("start") ? timeOf(json["start"]) : std::nullopt;
    const auto settings = json.contains("settings") ? SettingsJson::read(json["settings"])
                                                    : std::nullopt;
    const auto family = json.contains("settings") && json["settings"].contains("family") &&
                                json["settings"]["family"].is_string()
                            ? SettingsJson::familyNamed(json["settings"]["family"].get<std::string>())
                            : std::nullopt;
    if (!start || !settings || !family || !json.contains("host") || !json["host"].is_string() ||
        json["host"].get<std::string>().size() > longestName)
        fail("a header without its start, host or settings, or with one out of its range");
    h.start = *start;
    h.settings = *settings;
    h.family = *family;
    h.host = json["host"].get<std::string>();
    if (json.contains("program") && json["program"].is_string())
        h.program = json["program"].get<std::string>().substr(0, longestName);
}

void Reader::readRecord(const Json &json)
{
    if (json.size() > 3)
        fail("not a record");
    for (const Kind kind : {Kind::target, Kind::runsStart, Kind::probe, Kind::mtu, Kind::name,
                            Kind::late, Kind::stop, Kind::runEnd}) {
        const auto it = json.find(keyOf(kind)); // the members come sorted, not in their order
        if (it == json.end())
            continue;
        const Json &value = *it;
        count(kind);
        if (kind == Kind::probe || kind == Kind::mtu)
            return readProbe(kind, value, json);
        if (kind == Kind::name || kind == Kind::late)
            return readName(kind, value);
        TraceRecord r;
        r.kind = kind;
        r.line = line_;
        if (kind == Kind::target) {
            if (!value.is_string() || value.get<std::string>().size() > longestName)
                fail("a target that is no address text");
            r.text = doc_.log.textIndex(value.get<std::string>());
        } else if (kind == Kind::runsStart) {
            const auto at = timeOf(value);
            if (!at)
                fail("a start of the runs that is no time");
            r.sentUs = static_cast<uint64_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(at->time_since_epoch()).count());
        } else {
            r.run = static_cast<int32_t>(integer(value, lastRun_, doc_.header.settings.optMaxRuns, "the run"));
            lastRun_ = r.run;
        }
        doc_.log.add(r);
        if (kind != Kind::stop && (kind == Kind::runEnd || probes_ == 0))
            completeRuns_ = doc_.log.records().size(); // what a cut file still shows
        return;
    }
    fail("a record of an unknown kind \"" + json.begin().key() + "\"");
}

// Every probe the trace can send, and no more: a file may not make the
// reader hold more than the trace it claims to be.
void Reader::count(Kind kind)
{
    const TraceSettings &s = doc_.header.settings;
    const int64_t mainProbes = int64_t{s.optMaxRuns} * s.optMaxHops;
    if (kind == Kind::probe)
        searchProbes_ = 0;
    if (kind == Kind::mtu && (++searchProbes_ > mtuSizesPerSearch * s.optMtuRetries ||
                              !s.optFindMtu || probes_ == 0))
        fail("an MTU probe that no search of this trace sends");
    const bool over = (kind == Kind::probe && ++probes_ > mainProbes) ||
                      ((kind == Kind::name || kind == Kind::late || kind == Kind::target) &&
                       ++names_ > 2 * (mainProbes + 1)) ||
                      (kind == Kind::stop && ++stops_ > s.optMaxRuns);
    if (over)
        fail(std::string("more ") + (kind == Kind::probe ? "probes" : "records") +
             " than a trace of " + std::to_string(s.optMaxRuns) + " runs of " +
             std::to_string(s.optMaxHops) + " hops holds");
}

int64_t Reader::integer(const Json &json, int64_t lo, int64_t hi, const char *what) const
{
    if (!json.is_number_integer())
        fail(std::string(what) + " is not a whole number");
    const int64_t value = json.is_number_unsigned() && json.get<uint64_t>() > INT64_MAX
                              ? INT64_MAX
                              : json.get<int64_t>();
    if (value < lo || value > hi)
        fail(std::string(what) + " " + std::to_string(value) + " is not within " +
             std::to_string(lo) + " to " + std::to_string(hi));
    return value;
}

// A link-local address keeps the interface it was reached on; on another
// machine, without that interface, it is read without it.
std::optional<IpAddress> addressOf(const std::string &text)
{
    if (auto address = IpAddress::parse(text))
        return address;
    if (const size_t zone = text.find('%'); zone != std::string::npos)
        return IpAddress::parse(text.substr(0, zone));
    return std::nullopt;
}

int32_t Reader::address(const Json &json)
{
    if (json.is_null())
        return TraceRecord::none;
    const auto address = json.is_string() && json.get<std::string>().size() < 64
                             ? addressOf(json.get<std::string>())
                             : std::nullopt;
    if (!address)
        fail("an address that is no address");
    return doc_.log.addressIndex(*address);
}

void Reader::readProbe(Kind kind, const Json &values, const Json &json)
{
    const TraceSettings &s = doc_.header.settings;
    const size_t fields = kind == Kind::mtu ? 8 : 7;
    if (!values.is_array() || values.size() != fields)
        fail("a probe without its " + std::to_string(fields) + " values");
    TraceRecord r;
    r.kind = kind;
    r.line = line_;
    size_t i = 0;
    r.run = static_cast<int32_t>(integer(values[i++], std::max(lastRun_, 1), s.optMaxRuns, "the run"));
    lastRun_ = r.run;
    r.hop = static_cast<int16_t>(integer(values[i++], 1, s.optMaxHops, "the hop"));
    r.sentUs = static_cast<uint64_t>(integer(values[i++], 0, latestSentUs, "the send time"));
    if (kind == Kind::mtu)
        r.size = static_cast<int16_t>(integer(values[i++], 60, 2000, "the size"));
    r.address = address(values[i++]);
    if (r.address != TraceRecord::none)
        r.rttUs = static_cast<uint32_t>(
            integer(values[i], 0, int64_t{s.optTimeoutSec} * 1'000'000 + 1'000'000, "the round trip"));
    else if (!values[i].is_null())
        fail("a round trip without an address");
    ++i;
    r.status = static_cast<uint32_t>(integer(values[i++], 0, UINT32_MAX, "the status"));
    r.ttl = static_cast<uint8_t>(integer(values[i++], 0, 255, "the TTL"));
    if (json.contains("ms"))
        r.precise = integer(json["ms"], 1, 1, "\"ms\"") != 1;
    if (json.contains("errno"))
        r.sendErrno = static_cast<int32_t>(integer(json["errno"], 1, 4095, "the errno"));
    doc_.log.add(r);
}

void Reader::readName(Kind kind, const Json &values)
{
    if (!values.is_array() || values.size() != 2 || !values[1].is_string())
        fail("a name without its address and text");
    const std::string &name = values[1].get_ref<const std::string &>();
    if (name.size() > longestName)
        fail("a name longer than " + std::to_string(longestName) + " bytes");
    TraceRecord r;
    r.kind = kind;
    r.line = line_;
    r.address = address(values[0]);
    if (r.address == TraceRecord::none)
        fail("a name without its address");
    r.text = doc_.log.textIndex(name);
    doc_.log.add(r);
    if (probes_ == 0)
        completeRuns_ = doc_.log.records().size(); // the target's name
}

void Reader::readEnd(const Json &json)
{
    const auto end = timeOf(json["end"]);
    if (!end || !json.contains("ended") || !json["ended"].is_string() ||
        json["ended"].get<std::string>().size() > longestName)
        fail("an end without its time and how the trace ended");
    std::string source;
    if (json.contains("source") && json["source"].is_string() &&
        IpAddress::parse(json["source"].get<std::string>()))
        source = json["source"].get<std::string>();
    doc_.end = TraceEnd{*end, json["ended"].get<std::string>(), source};
}

} // namespace

namespace TraceFile {

std::string headerLine(const TraceHeader &header)
{
    Ordered json = {{"korvalen-trace", version},
                    {"program", header.program},
                    {"start", ReportText::isoUtc(header.start)},
                    {"host", header.host},
                    {"settings", SettingsJson::write(header.settings, header.family)}};
    return dump(json);
}

std::string recordLine(const TraceLog &log, const TraceRecord &r)
{
    switch (r.kind) {
    case Kind::probe:
    case Kind::mtu:
        return probeLine(log, r);
    case Kind::target:
        return dump(Ordered{{"target", log.text(r.text)}});
    case Kind::runsStart:
        return dump(Ordered{{"runs", ReportText::isoUtc(TraceHeader::Clock::time_point(
                                         std::chrono::microseconds(r.sentUs)))}});
    case Kind::name:
    case Kind::late:
        return dump(Ordered{{keyOf(r.kind), {log.address(r.address).text(), log.text(r.text)}}});
    case Kind::stop:
    case Kind::runEnd:
        break;
    }
    return dump(Ordered{{keyOf(r.kind), r.run}});
}

std::string endLine(const TraceEnd &end)
{
    Ordered json = {{"end", ReportText::isoUtc(end.end)}, {"ended", end.ended}};
    if (!end.source.empty())
        json["source"] = end.source;
    return dump(json);
}

ReadResult read(std::FILE *file)
{
    return Reader(file).read();
}

ReadResult readPath(const std::string &path)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {std::nullopt, std::string("cannot be opened: ") + std::strerror(errno)};
    ReadResult result = read(file);
    std::fclose(file);
    return result;
}

} // namespace TraceFile
