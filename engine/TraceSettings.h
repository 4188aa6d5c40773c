#pragma once

#include <array>
#include <cstdint>
#include <string>

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
    // Empty when every number is within its range; otherwise says which is not.
    std::string outOfRange() const;
};

// A numeric setting, the Options dialog's label for it and its inclusive range;
// the table follows the order of the dialog's fields (left column first).
struct SettingRange {
    const char *label;
    int16_t TraceSettings::*value;
    int16_t lo;
    int16_t hi;
};

inline constexpr std::array<SettingRange, 6> settingRanges = {{
    {"IP packet size", &TraceSettings::optPacketSize, 60, 2000},
    {"Timeout (sec)", &TraceSettings::optTimeoutSec, 1, 30},
    {"Max runs", &TraceSettings::optMaxRuns, 1, 10000},
    {"Max hops", &TraceSettings::optMaxHops, 1, 255},
    {"ToS", &TraceSettings::optTos, 0, 255},
    {"MTU retries", &TraceSettings::optMtuRetries, 1, 10},
}};
