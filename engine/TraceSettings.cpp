#include "engine/TraceSettings.h"

void TraceSettings::setStartupValues()
{
    optAsymmetryView = true;
    optResolveNames = false;
    optFindMtu = false;
    optPacketSize = 100;
    optTimeoutSec = 2;
    optMaxRuns = 20;
    optMaxHops = 30;
    optTos = 0;
    optMtuRetries = 3;
}

std::string TraceSettings::outOfRange() const
{
    for (const SettingRange &r : settingRanges) {
        const int16_t v = this->*r.value;
        if (v < r.lo || v > r.hi)
            return std::string(r.label) + " is " + std::to_string(v) + ", outside " +
                   std::to_string(r.lo) + " to " + std::to_string(r.hi);
    }
    return {};
}
