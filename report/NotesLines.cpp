#include "report/NotesLines.h"

#include "engine/Notes.h"

std::string notesLines(const std::array<bool, 256> &hopNoted,
                       const std::vector<ReportLogEntry> &log)
{
    NotesBuilder notes(hopNoted);
    for (const ReportLogEntry &e : log)
        notes.add(e.dbHop, e.dbAddr, e.dbName, e.dbCount);
    return notes.text();
}
