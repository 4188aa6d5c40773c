#include "engine/Notes.h"

#include "engine/NumberText.h"

std::string notesText(const std::array<bool, 256> &hopNoted, const AddressLog &log,
                      int32_t dbIndex)
{
    std::string text;
    for (int16_t hop = 1; hop <= 255; ++hop) {
        if (!hopNoted[static_cast<size_t>(hop)])
            continue;
        text += "Hop :" + signRoomText(hop);
        for (int32_t j = 1; j <= dbIndex; ++j) {
            const auto k = static_cast<size_t>(j);
            if (log.dbHop[k] == hop)
                text += " / " + log.dbAddr[k] + " " + log.dbName[k] + " = " + log.dbCount[k];
        }
        text += "\r\n";
    }
    return text;
}
