#include "engine/TraceEngine.h"

TraceEngine::TraceEngine(TraceSettings &settings, EchoService &echo, Resolver &resolver,
                         WindowOps &ops)
    : settings(settings), echo_(echo), resolver_(resolver), ops_(ops)
{
    stats.reset();
}

void TraceEngine::command1Click() {}

void TraceEngine::resetResults()
{
    results.removeAllRows();
    maxhop = 0;
    results.setNotes({});
    dbIndex = 0;
    hopNoted.fill(false);
}
