#pragma once

#include <cstdint>
#include <span>
#include <string>

// What the Asym figure rests on: the arriving TTL of a search's successful
// probes, the TTL the hop most likely sent them with, and the hops each way.
struct AsymBasis {
    int16_t observed = 0;   // the first successful probe's arriving TTL (hop limit)
    bool consistent = true; // every successful probe arrived with it; else "???"
    int16_t initialTtl = 0; // 255, 128 or 64
    int16_t hopsBack = 0;   // initialTtl - observed + 1
    int16_t hopsThere = 0;  // the hop number
    int16_t asym() const { return static_cast<int16_t>(hopsBack - hopsThere); }
};

// ttls holds at least one value.
AsymBasis asymBasis(std::span<const int16_t> ttls, int16_t hop);

// The Asym/TTL column of a completed MTU search: the arriving TTL of its
// successful probes (TTL view), or how many hops longer the way back from the
// hop is than the way there (Asymmetry view); "???" when the TTLs differ.
// ttls holds at least one value.
std::string asymText(std::span<const int16_t> ttls, int16_t hop, bool asymmetryView);
