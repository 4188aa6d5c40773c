#pragma once

#include <cstdint>

// The nine values that govern a trace. One instance lives as long as the
// program; only start-up and the Options dialog's OK write it.
struct TraceSettings {
    bool optResolveNames = false;
    bool optFindMtu = false;
    bool optAsymmetryView = true;
    int16_t optPacketSize = 100; // bytes of IP packet, 60..2000
    int16_t optTimeoutSec = 2;   // 1..30
    int16_t optMaxRuns = 20;     // 1..10000
    int16_t optMaxHops = 30;     // 1..255
    int16_t optTos = 0;          // 0..255
    int16_t optMtuRetries = 3;   // 1..10

    // Start-up values, stored in the order the window's load gives them.
    void setStartupValues();
};
