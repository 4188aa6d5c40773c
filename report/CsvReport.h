#pragma once

#include <string>

#include "engine/HopDetails.h"
#include "report/ReportSnapshot.h"

// RFC 4180 CSV: a header line, then one line a hop with the row's texts and
// the precise figures; lines end in CR LF.
std::string csvReport(const ReportSnapshot &snapshot, const HopDetails &details);
