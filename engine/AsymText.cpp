#include "engine/AsymText.h"

#include <algorithm>

namespace {

// The initial TTL the hop most likely sent its reply with (255, 128 or 64).
// An arriving 129 or 65 is taken to come from 128 or 64.
int16_t initialTtlGuess(int arriving)
{
    if (arriving > 129)
        return 255;
    if (arriving > 65)
        return 128;
    return 64;
}

} // namespace

AsymBasis asymBasis(std::span<const int16_t> ttls, int16_t hop)
{
    AsymBasis b;
    b.observed = ttls.front();
    b.consistent =
        std::all_of(ttls.begin(), ttls.end(), [&b](int16_t t) { return t == b.observed; });
    b.initialTtl = initialTtlGuess(b.observed);
    b.hopsBack = static_cast<int16_t>(b.initialTtl - b.observed + 1);
    b.hopsThere = hop;
    return b;
}

std::string asymText(std::span<const int16_t> ttls, int16_t hop, bool asymmetryView)
{
    const AsymBasis b = asymBasis(ttls, hop);
    if (!b.consistent)
        return "???";
    if (!asymmetryView)
        return std::to_string(b.observed);
    // guess - first + 1 hops back, hop hops there
    return std::to_string(b.asym());
}
