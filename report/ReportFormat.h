#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/HopDetails.h"
#include "report/ReportSnapshot.h"
#include "report/TraceFacts.h"

// The forms a whole trace is written in: the clipboard's text, one JSON
// object, CSV with a line a hop, and RIPE Atlas traceroute results.
enum class ReportFormat { text, json, csv, atlas };

std::optional<ReportFormat> reportFormatNamed(std::string_view name);

struct ReportStyle {
    bool crlf = false;   // text: the clipboard's CR LF line ends instead of LF
    bool probes = false; // json: every main probe of every hop
};

// Everything a report reads: the window's state, each hop's probes and
// figures, and the facts of the trace.
std::string formatReport(ReportFormat format, const ReportSnapshot &snapshot,
                         const HopDetails &details, const TraceFacts &facts, ReportStyle style);

// Pieces the forms share.
namespace ReportText {
// "2026-12-10T00:04:05.123456Z"
std::string isoUtc(TraceFacts::Clock::time_point time);
// CR LF line ends as LF.
std::string withLf(std::string text);
// The last column's header: "Asym", or "TTL" in the TTL view.
std::string lastColumnHeader(const TraceSettings &settings);
// "completed", "stopped", or the failure's message.
std::string endedText(const TraceFacts &facts);
// Whether the target answered in some run.
bool reached(const HopDetails &details, int16_t hops);
} // namespace ReportText
