#include "report/ReportFormat.h"

#include <array>
#include <cstdio>
#include <ctime>
#include <utility>

#include "report/AtlasReport.h"
#include "report/CsvReport.h"
#include "report/JsonReport.h"
#include "report/Report.h"

namespace {

constexpr std::array<std::pair<std::string_view, ReportFormat>, 4> formatNames{{
    {"text", ReportFormat::text},
    {"json", ReportFormat::json},
    {"csv", ReportFormat::csv},
    {"atlas", ReportFormat::atlas},
}};

} // namespace

std::optional<ReportFormat> reportFormatNamed(std::string_view name)
{
    for (const auto &[text, format] : formatNames)
        if (text == name)
            return format;
    return std::nullopt;
}

std::string formatReport(ReportFormat format, const ReportSnapshot &snapshot,
                         const HopDetails &details, const TraceFacts &facts, ReportStyle style)
{
    switch (format) {
    case ReportFormat::json:
        return jsonReport(snapshot, details, facts, style.probes);
    case ReportFormat::csv:
        return csvReport(snapshot, details);
    case ReportFormat::atlas:
        return atlasReport(snapshot, details, facts);
    case ReportFormat::text:
        break;
    }
    std::string text = buildReport(snapshot);
    return style.crlf ? text : ReportText::withLf(std::move(text));
}

namespace ReportText {

std::string isoUtc(TraceFacts::Clock::time_point time)
{
    using namespace std::chrono;
    // A trace runs long after 1970: the count is never negative.
    const auto us = duration_cast<microseconds>(time.time_since_epoch()).count();
    const auto seconds = static_cast<std::time_t>(us / 1'000'000);
    const auto fraction = static_cast<long>(us % 1'000'000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%06ldZ", fraction);
    return text;
}

std::string withLf(std::string text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

std::string lastColumnHeader(const TraceSettings &settings)
{
    return settings.optAsymmetryView ? "Asym" : "TTL";
}

std::string endedText(const TraceFacts &facts)
{
    switch (facts.ended) {
    case TraceFacts::Ended::completed:
        return "completed";
    case TraceFacts::Ended::stopped:
        return "stopped";
    case TraceFacts::Ended::failed:
        break;
    }
    return facts.error;
}

bool reached(const HopDetails &details, int16_t hops)
{
    for (int16_t hop = 1; hop <= hops; ++hop)
        if (details.loss(hop).target)
            return true;
    return false;
}

} // namespace ReportText
