#pragma once

#include <cstdint>

// One main probe of a hop as the hop's history keeps it. 16 bytes: 10 000 runs
// over 255 hops stay within 41 MB.
struct HopProbe {
    // Microseconds from the start of the first run to this probe's send, on the
    // monotonic clock, so a clock step cannot make it go back. 54 bits hold
    // 570 years, far more than any trace lasts (10 000 runs of 255 time-outs are
    // 2.4 years).
    uint64_t sentUs : 54;
    uint64_t ttl : 8;     // arriving TTL (hop limit) of a reply; 0 when lost
    uint64_t lost : 1;    // no answer within the time-out
    uint64_t precise : 1; // rttUs is the kernel stamps' difference, else whole ms × 1000
    uint32_t rttUs;       // round-trip time; 0 when lost
    uint16_t run;         // 1-based
    // The address-log entry (1..AddressLog::capacity) the reply was counted in;
    // 0 when lost, or when the log was full and could not hold the address.
    uint16_t entry;

    double rttMs() const { return rttUs / 1000.0; }
    double sentMs() const { return static_cast<double>(sentUs) / 1000.0; }
    // A reply from an address the full log could not hold.
    bool unlogged() const { return !lost && entry == 0; }
};

static_assert(sizeof(HopProbe) == 16);
