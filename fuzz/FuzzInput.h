#pragma once

// What the fuzz targets and their seed generator agree on: the request the
// parsers look for, the layout of a datagram input, and the invariant check.
#include "net/EchoService.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

namespace FuzzInput {

// Our request: to 192.0.2.7 (network byte order, as the parsers take it),
// id 0xbeef (raw sockets only), sequence 0x0102.
inline constexpr uint8_t destinationBytes[4] = {192, 0, 2, 7};
inline constexpr uint16_t id = 0xbeef;
inline constexpr uint16_t sequence = 0x0102;

// The same request over IPv6: to 2001:db8::7.
inline constexpr uint8_t destination6Bytes[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                  0,    0,    0,    0,    0, 0, 0, 7};

inline uint32_t destination()
{
    uint32_t value;
    std::memcpy(&value, destinationBytes, sizeof value);
    return value;
}

inline uint16_t read16(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

inline uint32_t readAddress(std::span<const uint8_t> bytes, size_t at)
{
    uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

inline bool isKnownStatus(uint32_t status)
{
    switch (status) {
    case IpStatus::success:
    case IpStatus::destNetUnreachable:
    case IpStatus::destHostUnreachable:
    case IpStatus::destProtUnreachable:
    case IpStatus::destPortUnreachable:
    case IpStatus::packetTooBig:
    case IpStatus::badSourceRoute:
    case IpStatus::ttlExpiredTransit:
    case IpStatus::ttlExpiredReassem:
    case IpStatus::paramProblem:
    case IpStatus::sourceQuench:
    case IpStatus::generalFailure:
        return true;
    default:
        return false;
    }
}

// A copy in a heap block of exactly its size, so that AddressSanitizer
// catches a read one byte past any part of the input.
class ExactCopy {
public:
    explicit ExactCopy(std::span<const uint8_t> bytes)
        : size_(bytes.size()), bytes_(new uint8_t[bytes.size()])
    {
        if (size_ > 0)
            std::memcpy(bytes_.get(), bytes.data(), size_);
    }
    std::span<const uint8_t> span() const { return {bytes_.get(), size_}; }

private:
    size_t size_;
    std::unique_ptr<uint8_t[]> bytes_;
};

// A datagram input is one recvmsg result: name length (1 byte), control
// length (2 bytes, big-endian), then the name, the control bytes and the
// data. Lengths longer than what is left are cut to it.
struct DatagramParts {
    std::span<const uint8_t> name, control, data;
};

inline DatagramParts splitDatagram(std::span<const uint8_t> input)
{
    if (input.size() < 3)
        return {{}, {}, input};
    const size_t nameLength = input[0];
    const size_t controlLength = read16(input, 1);
    auto rest = input.subspan(3);
    const auto name = rest.first(std::min(nameLength, rest.size()));
    rest = rest.subspan(name.size());
    const auto control = rest.first(std::min(controlLength, rest.size()));
    return {name, control, rest.subspan(control.size())};
}

} // namespace FuzzInput

// Aborts with the failed condition, which libFuzzer reports as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__,           \
                         __LINE__);                                                                \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
