#pragma once

#include <array>
#include <string>
#include <vector>

#include "report/ReportSnapshot.h"

// The Notes lines: one per noted hop 1..255, ascending, each listing the hop's
// log entries in log order as " / addr name = count", ended by CR LF.
std::string notesLines(const std::array<bool, 256> &hopNoted,
                       const std::vector<ReportLogEntry> &log);
