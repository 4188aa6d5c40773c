#include "engine/Notes.h"

#include "engine/NumberText.h"

std::string notesText(const std::array<bool, 256> &hopNoted, const AddressLog &log,
                      int32_t dbIndex)
{
    // One pass over the log collects each noted hop's entries in log order.
    std::array<std::string, 256> entries;
    for (int32_t j = 1; j <= dbIndex; ++j) {
        const auto k = static_cast<size_t>(j);
        const int16_t hop = log.dbHop[k];
        if (hop >= 1 && hop <= 255 && hopNoted[static_cast<size_t>(hop)])
            entries[static_cast<size_t>(hop)] +=
                " / " + log.dbAddr[k] + " " + log.dbName[k] + " = " + log.dbCount[k];
    }
    std::string text;
    for (int16_t hop = 1; hop <= 255; ++hop) {
        if (hopNoted[static_cast<size_t>(hop)])
            text += "Hop :" + signRoomText(hop) + entries[static_cast<size_t>(hop)] + "\r\n";
    }
    return text;
}
