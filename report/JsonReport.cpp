#include "report/JsonReport.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "net/Sockets.h"
#include "report/NotesLines.h"
#include "report/ReportFormat.h"
#include "report/SettingsJson.h"

namespace {

using Json = nlohmann::ordered_json;

// Milliseconds with three decimals: what the kernel stamps' microseconds give.
Json ms(double value)
{
    return std::round(value * 1000.0) / 1000.0;
}

Json msOrNull(const RttStatistics &s, double value)
{
    return s.replies > 0 ? ms(value) : Json(nullptr);
}

Json targetJson(const ReportSnapshot &snapshot, bool reached)
{
    const auto address = textToAddress(snapshot.text3);
    Json family = nullptr;
    if (!snapshot.text3.empty() && address)
        family = address->isIpv6() ? "ipv6" : "ipv4";
    return {{"host", snapshot.combo1Text},
            {"address", snapshot.text3.empty() ? Json(nullptr) : Json(snapshot.text3)},
            {"family", family},
            {"name", snapshot.text2},
            {"reached", reached}};
}

// The row's eleven texts as the table shows them, keyed by their headers.
Json cellsJson(const ResultModel::Row &row, const TraceSettings &settings)
{
    Json cells = Json::object();
    for (int k = 1; k < ResultModel::columnCount - 1; ++k)
        cells[ResultModel::columnHeaders[static_cast<size_t>(k)]] = row[static_cast<size_t>(k)];
    cells[ReportText::lastColumnHeader(settings)] = row.back();
    return cells;
}

Json addressesJson(const HopDetails &details, int16_t hop)
{
    Json list = Json::array();
    for (const AddressStatistics &a : details.addressStatistics(hop))
        list.push_back({{"address", a.entry ? Json(details.addressText(a.entry)) : Json(nullptr)},
                        {"name", details.addressName(a.entry)},
                        {"replies", a.stats.replies}});
    return list;
}

Json lossJson(const HopDetails &details, int16_t hop)
{
    const LossBreakdown loss = details.loss(hop);
    return {{"no_reply", loss.noReply},
            {"forward", loss.forward},
            {"pending", loss.pending},
            {"undecided", loss.undecided},
            {"text", lossText(loss)}};
}

const char *answerName(MtuAnswer answer)
{
    switch (answer) {
    case MtuAnswer::reply:
        return "reply";
    case MtuAnswer::tooBig:
        return "too_big";
    case MtuAnswer::noAnswer:
        return "no_answer";
    case MtuAnswer::other:
        break;
    }
    return "other";
}

const char *outcomeName(MtuResult result)
{
    switch (result) {
    case MtuResult::found:
        return "found";
    case MtuResult::failed:
        return "failed";
    case MtuResult::stopped:
        return "stopped";
    case MtuResult::ambiguous:
        return "ambiguous";
    case MtuResult::none:
        break;
    }
    return "none";
}

Json mtuJson(const MtuRecord &record)
{
    if (record.result == MtuResult::none)
        return nullptr;
    Json tries = Json::array();
    for (const MtuTry &t : record.tries)
        tries.push_back({{"size", t.size}, {"answer", answerName(t.answer)}});
    return {{"result", record.result == MtuResult::found ? Json(record.mtu) : Json(nullptr)},
            {"outcome", outcomeName(record.result)},
            {"tries", std::move(tries)}};
}

Json probesJson(const HopDetails &details, int16_t hop)
{
    Json list = Json::array();
    const HopHistory &probes = details.probes(hop);
    for (size_t i = 0; i < probes.size(); ++i) {
        const HopProbe &p = probes[i];
        Json address = nullptr;
        if (!p.lost && p.entry)
            address = details.addressText(p.entry);
        list.push_back({{"run", p.run},
                        {"ms", ms(p.sentMs())},
                        {"address", std::move(address)},
                        {"rtt_ms", p.lost ? Json(nullptr) : ms(p.rttMs())}});
    }
    return list;
}

Json hopJson(const ReportSnapshot &snapshot, const HopDetails &details, int16_t hop,
             bool probes)
{
    const RttStatistics s = details.statistics(hop);
    const auto ttl = details.replyTtl(hop);
    Json j = {{"hop", hop},
              {"cells", cellsJson(snapshot.rows[static_cast<size_t>(hop - 1)], snapshot.settings)},
              {"sent", s.probes},
              {"recv", s.replies},
              {"loss_pct", s.probes ? ms(100.0 * (s.probes - s.replies) / s.probes) : Json(0)},
              {"best_ms", msOrNull(s, s.best)},
              {"median_ms", msOrNull(s, s.median)},
              {"avg_ms", msOrNull(s, s.avg)},
              {"p95_ms", msOrNull(s, s.p95)},
              {"worst_ms", msOrNull(s, s.worst)},
              {"last_ms", s.last ? ms(*s.last) : Json(nullptr)},
              {"stdev_ms", msOrNull(s, s.stdev)},
              {"jitter_ms", msOrNull(s, s.jitter)},
              {"addresses", addressesJson(details, hop)},
              {"loss", lossJson(details, hop)},
              {"mtu", mtuJson(details.mtu(hop))},
              {"reply_ttl", ttl ? Json(*ttl) : Json(nullptr)}};
    if (probes)
        j["probes"] = probesJson(details, hop);
    return j;
}

} // namespace

std::string jsonReport(const ReportSnapshot &snapshot, const HopDetails &details,
                       const TraceFacts &facts, bool probes)
{
    const auto hops = static_cast<int16_t>(snapshot.rows.size());
    Json hopList = Json::array();
    for (int16_t hop = 1; hop <= hops; ++hop)
        hopList.push_back(hopJson(snapshot, details, hop, probes));
    Json report = {
        {"format", "korvalen-report"},
        {"version", 1},
        {"program", facts.program},
        {"start", ReportText::isoUtc(facts.start)},
        {"end", ReportText::isoUtc(facts.end)},
        {"ended", ReportText::endedText(facts)},
        {"error", facts.error.empty() ? Json(nullptr) : Json(facts.error)},
        {"settings", SettingsJson::write(snapshot.settings, facts.family)},
        {"target", targetJson(snapshot, ReportText::reached(details, hops))},
        {"source", facts.source.empty() ? Json(nullptr) : Json(facts.source)},
        {"notes", ReportText::withLf(notesLines(snapshot.hopNoted, snapshot.log))},
        {"hops", std::move(hopList)},
    };
    // A host typed with bytes that are not UTF-8 still gives valid JSON.
    return report.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}
