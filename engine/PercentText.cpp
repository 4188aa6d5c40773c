#include "engine/PercentText.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Beyond this a double's share of a 32-bit count is shown anyway.
constexpr int mostDecimals = 9;

} // namespace

std::string percentText(double share, int decimals)
{
    const double percent = share * 100;
    char text[48];
    for (;; ++decimals) {
        std::snprintf(text, sizeof text, "%.*f", decimals, percent);
        const double shown = std::strtod(text, nullptr);
        const bool allOrNone = shown == 0 || shown == 100;
        if (!allOrNone || shown == percent || decimals >= mostDecimals)
            return text;
    }
}
