#pragma once

#include <cstdint>
#include <span>
#include <string>

// The Asym/TTL column of a completed MTU search: the arriving TTL of its
// successful probes (TTL view), or how many hops longer the way back from the
// hop is than the way there (Asymmetry view); "???" when the TTLs differ.
// ttls holds at least one value.
std::string asymText(std::span<const int16_t> ttls, int16_t hop, bool asymmetryView);
