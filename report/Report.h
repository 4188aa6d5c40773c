#pragma once

#include <string>

#include "report/ReportSnapshot.h"

class TraceEngine;

// The clipboard report: a fixed-layout plain text with CR LF line ends.
std::string buildReport(const ReportSnapshot &snapshot);

// Copies what the report reads out of the engine and builds the text
// (the Copy button's handler puts the result on the clipboard).
ReportSnapshot takeSnapshot(const TraceEngine &engine, const std::string &combo1Text,
                            const std::string &text3, const std::string &text2);
std::string clipboardReport(const TraceEngine &engine, const std::string &combo1Text,
                            const std::string &text3, const std::string &text2);
