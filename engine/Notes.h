#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/AddressLog.h"

// The Notes text: one line per hop that answered from several addresses, in hop
// order, listing each of its logged addresses with name and reply count, e.g.
// "Hop : 3 / 10.0.0.1  = 2 / 10.0.0.2  = 1" followed by CR LF.
std::string notesText(const std::array<bool, 256> &hopNoted, const AddressLog &log,
                      int32_t dbIndex);
