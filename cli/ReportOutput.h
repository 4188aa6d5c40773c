#pragma once

#include <string>

// Writes the report to standard output (path empty) or to a file, whole or
// not at all: into a temporary file beside it, renamed over it at the end.
// Empty when written; else what failed, naming the file and the reason.
std::string writeReport(const std::string &path, const std::string &text);
