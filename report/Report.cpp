#include "report/Report.h"

#include <algorithm>
#include <cstddef>

#include "engine/TraceEngine.h"
#include "report/NotesLines.h"

namespace {

constexpr const char *crlf = "\r\n";
constexpr std::size_t hopWidth = 3;
constexpr std::size_t addressWidth = 16;
constexpr std::size_t hostBaseWidth = 9;
constexpr std::size_t narrowWidth = 6;

// Characters, not bytes: a UTF-8 host name must pad like the ASCII ones.
std::size_t textLength(const std::string &text)
{
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Left-aligned in its column; a longer text is kept whole and pushes the rest right.
void appendPadded(std::string &out, const std::string &text, std::size_t width)
{
    out += text;
    const std::size_t len = textLength(text);
    if (len < width)
        out.append(width - len, ' ');
}

// Extra widths of the address and host columns: the longest logged address
// and name get at least one space after them. IPv4 addresses always fit.
struct Extra {
    std::size_t address = 0;
    std::size_t host = 0;
};

Extra extraWidths(const std::vector<ReportLogEntry> &log)
{
    std::size_t address = 0, host = 0;
    for (const ReportLogEntry &e : log) {
        address = std::max(address, textLength(e.dbAddr));
        host = std::max(host, textLength(e.dbName));
    }
    return {address >= addressWidth ? address + 1 - addressWidth : 0,
            host >= hostBaseWidth - 1 ? host + 1 - hostBaseWidth : 0};
}

const char *trueFalse(bool value)
{
    return value ? "True" : "False";
}

void appendOptions(std::string &out, const TraceSettings &s)
{
    out += std::string("Options") + crlf;
    out += std::string("Resolve names  : ") + trueFalse(s.optResolveNames) + crlf;
    out += std::string("Find MTU       : ") + trueFalse(s.optFindMtu) + crlf;
    out += std::string("Asymmetry/TTL  : ") + (s.optAsymmetryView ? "Asymmmetry" : "TTL") + crlf;
    out += "IP packet size : " + std::to_string(s.optPacketSize) + crlf;
    out += "Timeout (sec)  : " + std::to_string(s.optTimeoutSec) + crlf;
    out += "Max runs       : " + std::to_string(s.optMaxRuns) + crlf;
    out += "Max hops       : " + std::to_string(s.optMaxHops) + crlf;
    out += "ToS            : " + std::to_string(s.optTos) + crlf;
    out += "MTU retries    : " + std::to_string(s.optMtuRetries) + crlf;
}

void appendHeader(std::string &out, Extra extra, bool asymmetryView)
{
    out += "Hop IP address      ";
    out.append(extra.address, ' ');
    out += "Hostname ";
    out.append(extra.host, ' ');
    out += "Sent  Recv  Loss% Best  Avg   Worst Last  MTU   ";
    out += asymmetryView ? "Asym" : "TTL";
    out += crlf;
}

// The Hop column shows the row's position, not its Hop text.
void appendRow(std::string &out, std::size_t hop, const ResultModel::Row &row, Extra extra)
{
    appendPadded(out, std::to_string(hop), hopWidth);
    out += ' ';
    appendPadded(out, row[1], addressWidth + extra.address);
    appendPadded(out, row[2], hostBaseWidth + extra.host);
    for (std::size_t k = 3; k < ResultModel::columnCount; ++k)
        appendPadded(out, row[k], narrowWidth);
    out += crlf;
}

} // namespace

std::string buildReport(const ReportSnapshot &snapshot)
{
    const Extra extra = extraWidths(snapshot.log);
    std::string out;
    out += "Tracing to : " + snapshot.combo1Text + crlf;
    out += "IP address : " + snapshot.text3 + crlf;
    out += "Host name  : " + snapshot.text2 + crlf;
    out += crlf;
    appendOptions(out, snapshot.settings);
    out += crlf;
    appendHeader(out, extra, snapshot.settings.optAsymmetryView);
    for (std::size_t c = 0; c < snapshot.rows.size(); ++c)
        appendRow(out, c + 1, snapshot.rows[c], extra);
    out += crlf;
    out += std::string("Notes") + crlf;
    out += notesLines(snapshot.hopNoted, snapshot.log);
    return out;
}

ReportSnapshot takeSnapshot(const TraceEngine &engine, const std::string &combo1Text,
                            const std::string &text3, const std::string &text2)
{
    ReportSnapshot s;
    s.combo1Text = combo1Text;
    s.text3 = text3;
    s.text2 = text2;
    s.settings = engine.settings;
    // maxhop and dbIndex are public and written from outside; never read past what exists.
    const int rows = std::clamp<int>(engine.maxhop, 0, engine.results.rowCount());
    for (int c = 1; c <= rows; ++c)
        s.rows.push_back(engine.results.row(c));
    const int32_t entries = std::clamp<int32_t>(engine.dbIndex, 0, AddressLog::capacity);
    for (int32_t j = 1; j <= entries; ++j) {
        const auto i = static_cast<std::size_t>(j);
        s.log.push_back({engine.log.dbHop[i], engine.log.dbAddr[i], engine.log.dbName[i],
                         engine.log.dbCount[i]});
    }
    s.hopNoted = engine.hopNoted;
    return s;
}

std::string clipboardReport(const TraceEngine &engine, const std::string &combo1Text,
                            const std::string &text3, const std::string &text2)
{
    return buildReport(takeSnapshot(engine, combo1Text, text3, text2));
}
