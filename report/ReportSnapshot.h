#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/ResultModel.h"
#include "engine/TraceSettings.h"

// One address log entry as the report reads it.
struct ReportLogEntry {
    int16_t dbHop = 0;
    std::string dbAddr;
    std::string dbName;
    std::string dbCount;
};

// Everything the clipboard report reads, copied out of the window and the
// engine at the moment of the copy, so the text is a function of this alone.
struct ReportSnapshot {
    std::string combo1Text; // the host the user typed
    std::string text3;      // the target's dotted address
    std::string text2;      // the target's host name
    TraceSettings settings;
    std::vector<ResultModel::Row> rows; // rows 1..maxhop; row[0] (Hop text) is not read
    std::vector<ReportLogEntry> log;    // entries 1..dbIndex, in log order
    std::array<bool, 256> hopNoted{};
};
