#include "report/CsvReport.h"

#include <cstdio>
#include <initializer_list>

#include "report/ReportFormat.h"

namespace {

// A field in quotes when it holds a comma, a quote or a line end, its quotes
// doubled.
std::string field(const std::string &text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

std::string fixed3(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

// Empty without replies, as the JSON's null.
std::string msField(const RttStatistics &s, double value)
{
    return s.replies > 0 ? fixed3(value) : std::string();
}

void appendLine(std::string &out, std::initializer_list<std::string> fields)
{
    bool first = true;
    for (const std::string &f : fields) {
        if (!first)
            out += ',';
        out += field(f);
        first = false;
    }
    out += "\r\n";
}

// Every address the hop answered from, in the order first answered from.
std::string addresses(const HopDetails &details, int16_t hop)
{
    std::string list;
    for (const AddressStatistics &a : details.addressStatistics(hop)) {
        if (!a.entry)
            continue;
        if (!list.empty())
            list += ' ';
        list += details.addressText(a.entry);
    }
    return list;
}

} // namespace

std::string csvReport(const ReportSnapshot &snapshot, const HopDetails &details)
{
    std::string out;
    appendLine(out, {"hop", "address", "hostname", "addresses", "sent", "recv", "loss_pct",
                     "best_ms", "median_ms", "avg_ms", "p95_ms", "worst_ms", "last_ms",
                     "stdev_ms", "jitter_ms", "mtu",
                     ReportText::lastColumnHeader(snapshot.settings) == "TTL" ? "ttl" : "asym",
                     "reply_ttl"});
    for (size_t i = 0; i < snapshot.rows.size(); ++i) {
        const auto hop = static_cast<int16_t>(i + 1);
        const ResultModel::Row &row = snapshot.rows[i];
        const RttStatistics s = details.statistics(hop);
        const auto ttl = details.replyTtl(hop);
        appendLine(out, {std::to_string(hop), row[1], row[2], addresses(details, hop),
                         std::to_string(s.probes), std::to_string(s.replies),
                         s.probes ? fixed3(100.0 * (s.probes - s.replies) / s.probes) : "0.000",
                         msField(s, s.best), msField(s, s.median), msField(s, s.avg),
                         msField(s, s.p95), msField(s, s.worst),
                         s.last ? fixed3(*s.last) : std::string(), msField(s, s.stdev),
                         msField(s, s.jitter), row[10], row[11],
                         ttl ? std::to_string(*ttl) : std::string()});
    }
    return out;
}
