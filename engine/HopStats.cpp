#include "engine/HopStats.h"

void HopStats::reset()
{
    hopSent.fill(0);
    hopRecv.fill(0);
    hopSum.fill(0);
    hopWorst.fill(0);
    hopBest.fill(noBest);
}
