#pragma once

#include <cstdint>
#include <string>

// Dotted text to a 32-bit address in network byte order, and back; for
// scripting fakes and checking requests. A text that is not an address is 0.
uint32_t fakeAddr(const std::string &dotted);
std::string fakeDotted(uint32_t address);
