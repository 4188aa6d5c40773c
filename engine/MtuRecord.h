#pragma once

#include <cstdint>
#include <vector>

// What one probe of an MTU search got.
enum class MtuAnswer : uint8_t {
    reply,    // an echo reply: the size passes
    tooBig,   // packet too big
    noAnswer, // nothing within the time-out
    other,    // another status (unreachable, ...): the size is tried again
};

struct MtuTry {
    int16_t size = 0; // IP packet, headers included
    MtuAnswer answer = MtuAnswer::noAnswer;
    uint8_t ttl = 0; // arriving TTL (hop limit) of a reply
};

enum class MtuResult : uint8_t {
    none,      // no search of this hop yet, or one still going (run set)
    found,     // the MTU column shows mtu
    failed,    // a size got no decision within its tries: "***"
    stopped,   // Stop (or the window closing) cut the search short
    ambiguous, // the hop answers from several addresses: "???", nothing sent
};

// The last MTU search of one hop.
struct MtuRecord {
    int32_t run = 0;           // the run it belongs to; 0 before any
    std::vector<MtuTry> tries; // every probe it sent, in order
    MtuResult result = MtuResult::none;
    int16_t mtu = 0; // with found: the largest packet that passed
    // The TTLs the Asym/TTL column was last built from: those of the last
    // completed search; empty while the column is empty or shows "***". A
    // search of an ambiguous hop leaves the column, and these, as they were.
    std::vector<int16_t> asymTtls;

    // A search has begun and not ended yet: its probes are going out.
    bool searching() const { return result == MtuResult::none && run > 0; }
};
