#pragma once

#include <string>

#include "engine/HopDetails.h"
#include "report/ReportSnapshot.h"
#include "report/TraceFacts.h"

// RIPE Atlas traceroute results: one JSON object a line, one a run, each
// listing the hops the run probed with what came back.
std::string atlasReport(const ReportSnapshot &snapshot, const HopDetails &details,
                        const TraceFacts &facts);
