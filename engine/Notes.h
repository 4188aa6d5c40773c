#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/AddressLog.h"

// Collects the Notes lines: one per hop that answered from several addresses,
// in hop order, listing each of its logged addresses with name and reply
// count, e.g. "Hop : 3 / 10.0.0.1  = 2 / 10.0.0.2  = 1" followed by CR LF.
// The Notes box and the clipboard report both build their lines with it.
class NotesBuilder {
public:
    explicit NotesBuilder(const std::array<bool, 256> &hopNoted) : hopNoted_(hopNoted) {}
    // One log entry, in log order; entries of hops that are not noted are skipped.
    void add(int16_t hop, const std::string &addr, const std::string &name,
             const std::string &count);
    std::string text() const;

private:
    const std::array<bool, 256> &hopNoted_;
    std::array<std::string, 256> entries_; // per hop: its " / addr name = count" pieces
};

// The Notes text of entries 1..dbIndex of the log.
std::string notesText(const std::array<bool, 256> &hopNoted, const AddressLog &log,
                      int32_t dbIndex);
