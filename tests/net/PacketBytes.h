#pragma once

// Byte-level builders of ICMP messages and control messages, as the kernel
// hands them to the reply parsers: shared by the parser tests and the seed
// corpus of the fuzz targets.
#include <cstdint>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

#include "net/IcmpPacket.h"

namespace PacketBytes {

using Bytes = std::vector<uint8_t>;

inline void put16(Bytes &bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value);
}

template <typename T> Bytes bytesOf(const T &value)
{
    const auto *raw = reinterpret_cast<const uint8_t *>(&value);
    return Bytes(raw, raw + sizeof value);
}

inline Bytes operator+(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes withChecksum(Bytes icmp)
{
    put16(icmp, 2, 0);
    put16(icmp, 2, IcmpPacket::internetChecksum(icmp));
    return icmp;
}

// An echo request (8) or reply (0) with a payload of 'a's.
inline Bytes echoMessage(uint8_t type, uint16_t id, uint16_t sequence, size_t payload = 32)
{
    Bytes icmp(8 + payload, 'a');
    icmp[0] = type;
    icmp[1] = 0;
    put16(icmp, 4, id);
    put16(icmp, 6, sequence);
    return withChecksum(icmp);
}

// An ICMP error quoting `quote` (an IP packet as we sent it); mtu is the
// next-hop MTU of a fragmentation-needed.
inline Bytes icmpError(uint8_t type, uint8_t code, const Bytes &quote, uint16_t mtu = 0)
{
    Bytes icmp(8, 0);
    icmp[0] = type;
    icmp[1] = code;
    put16(icmp, 6, mtu);
    icmp.insert(icmp.end(), quote.begin(), quote.end());
    return withChecksum(icmp);
}

// One control message (IPPROTO_IP unless told) as the kernel lays it out,
// padding included; declared, when set, overrides cmsg_len.
inline Bytes cmsg(int type, const Bytes &data, size_t declared = 0, int level = IPPROTO_IP)
{
    Bytes bytes(CMSG_SPACE(data.size()), 0);
    cmsghdr header{};
    header.cmsg_len = declared ? declared : CMSG_LEN(data.size());
    header.cmsg_level = level;
    header.cmsg_type = type;
    std::memcpy(bytes.data(), &header, sizeof header);
    std::copy(data.begin(), data.end(), bytes.begin() + CMSG_LEN(0));
    return bytes;
}

// The kernel's receive stamp (SO_TIMESTAMPNS) of a packet that arrived at
// this CLOCK_REALTIME time.
inline Bytes receiveStamp(time_t seconds, long nanoseconds)
{
    return cmsg(SCM_TIMESTAMPNS, bytesOf(timespec{seconds, nanoseconds}), 0, SOL_SOCKET);
}

// SCM_TIMESTAMPING's three stamps, the software one first; stamps lets a
// test cut the message short.
inline Bytes softwareStamp(time_t seconds, long nanoseconds, size_t stamps = 3)
{
    timespec three[3] = {{seconds, nanoseconds}, {}, {}};
    const Bytes data = bytesOf(three);
    return cmsg(SCM_TIMESTAMPING, Bytes(data.begin(), data.begin() + stamps * sizeof(timespec)), 0,
                SOL_SOCKET);
}

} // namespace PacketBytes
