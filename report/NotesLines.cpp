#include "report/NotesLines.h"

std::string notesLines(const std::array<bool, 256> &hopNoted,
                       const std::vector<ReportLogEntry> &log) {
    std::string out;
    for (int h = 1; h <= 255; ++h) {
        if (!hopNoted[static_cast<size_t>(h)])
            continue;
        out += "Hop : " + std::to_string(h);
        for (const ReportLogEntry &e : log) {
            if (e.dbHop == h)
                out += " / " + e.dbAddr + " " + e.dbName + " = " + e.dbCount;
        }
        out += "\r\n";
    }
    return out;
}
