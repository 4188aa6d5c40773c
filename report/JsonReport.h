#pragma once

#include <string>

#include "engine/HopDetails.h"
#include "report/ReportSnapshot.h"
#include "report/TraceFacts.h"

// The whole trace as one JSON object ("format": "korvalen-report"), ended by
// a line feed: the settings, the target, the Notes, and each hop's row, its
// precise figures, addresses, loss, MTU search and, with probes, every main
// probe.
std::string jsonReport(const ReportSnapshot &snapshot, const HopDetails &details,
                       const TraceFacts &facts, bool probes);
