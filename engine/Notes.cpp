#include "engine/Notes.h"

#include "engine/NumberText.h"

void NotesBuilder::add(int16_t hop, const std::string &addr, const std::string &name,
                       const std::string &count)
{
    if (hop >= 1 && hop <= 255 && hopNoted_[static_cast<size_t>(hop)])
        entries_[static_cast<size_t>(hop)] += " / " + addr + " " + name + " = " + count;
}

std::string NotesBuilder::text() const
{
    std::string text;
    for (int16_t hop = 1; hop <= 255; ++hop) {
        if (hopNoted_[static_cast<size_t>(hop)])
            text += "Hop :" + signRoomText(hop) + entries_[static_cast<size_t>(hop)] + "\r\n";
    }
    return text;
}

std::string notesText(const std::array<bool, 256> &hopNoted, const AddressLog &log,
                      int32_t dbIndex)
{
    NotesBuilder notes(hopNoted);
    for (int32_t j = 1; j <= dbIndex; ++j) {
        const auto k = static_cast<size_t>(j);
        notes.add(log.dbHop[k], log.dbAddr[k], log.dbName[k], log.dbCount[k]);
    }
    return notes.text();
}
