#pragma once

#include <array>
#include <cstdint>
#include <string>

// Every (hop, address) pair seen in the current trace, in the order seen.
// Entries 1..dbIndex are in use (dbIndex lives with the engine); index 0 is unused.
struct AddressLog {
    static constexpr int32_t capacity = 1000;

    std::array<int16_t, capacity + 1> dbHop{};
    std::array<std::string, capacity + 1> dbAddr;
    std::array<std::string, capacity + 1> dbName;
    std::array<std::string, capacity + 1> dbCount; // replies from the address, decimal text
};
