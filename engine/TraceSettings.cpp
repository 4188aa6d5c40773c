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
