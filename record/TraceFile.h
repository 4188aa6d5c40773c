#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "record/TraceLog.h"

// The saved trace, NAME.kvtrace: JSON Lines in UTF-8. A header line first,
// then the records in the order the world gave them, then an end line. A
// file whose writer was killed has no end line and may end in a line cut
// short; it reads up to its last complete run.
namespace TraceFile {

constexpr int version = 1;
constexpr const char *mimeType = "application/x-korvalen-trace";

std::string headerLine(const TraceHeader &header);
std::string recordLine(const TraceLog &log, const TraceRecord &record);
std::string endLine(const TraceEnd &end);

// What a read gives: the document, or why the file is refused (naming the line).
struct ReadResult {
    std::optional<TraceDocument> document;
    std::string error;
};

ReadResult read(std::FILE *file);
ReadResult readPath(const std::string &path);

} // namespace TraceFile
