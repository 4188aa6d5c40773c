#include "engine/AsymText.h"

#include <algorithm>

namespace {

// The initial TTL the hop most likely sent its reply with (255, 128 or 64).
// An arriving 129 or 65 is taken to come from 128 or 64.
int initialTtlGuess(int arriving)
{
    if (arriving > 129)
        return 255;
    if (arriving > 65)
        return 128;
    return 64;
}

} // namespace

std::string asymText(std::span<const int16_t> ttls, int16_t hop, bool asymmetryView)
{
    const int16_t first = ttls.front();
    if (std::any_of(ttls.begin(), ttls.end(), [first](int16_t t) { return t != first; }))
        return "???";
    if (!asymmetryView)
        return std::to_string(first);
    // guess - first + 1 hops back, hop hops there
    return std::to_string(initialTtlGuess(first) - first - hop + 1);
}
