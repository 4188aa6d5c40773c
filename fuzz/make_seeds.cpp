// Writes the seed corpora of the fuzz targets: sound answers, every ICMP
// error type and code the parsers map, IP options, truncation at every
// length, bogus header lengths and quotes that lie.
//
//   fuzz_seeds DIR      writes DIR/raw_reply/*, DIR/datagram_reply/* and DIR/icmp6_reply/*
#include "fuzz/FuzzInput.h"
#include "net/IcmpPacket.h"
#include "tests/net/PacketBytes.h"

#include <cerrno>
#include <cstdio>
#include <ctime> // linux/errqueue.h needs timespec
#include <filesystem>
#include <fstream>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <vector>

using namespace FuzzInput;
using namespace PacketBytes;

namespace {

const uint8_t us[4] = {10, 0, 0, 1};
const uint8_t router[4] = {198, 51, 100, 200};
const uint8_t elsewhere[4] = {192, 0, 2, 8};

struct Ip {
    const uint8_t *source = us;
    const uint8_t *destination = destinationBytes;
    uint8_t protocol = 1;
    size_t optionWords = 0;
    uint8_t ttl = 64;
};

Bytes ipPacket(const Ip &ip, const Bytes &body)
{
    const size_t length = 20 + ip.optionWords * 4;
    Bytes packet(length, 1); // options: NOPs
    packet[0] = static_cast<uint8_t>(0x40 | length / 4);
    packet[1] = 0;
    put16(packet, 2, static_cast<uint16_t>(length + body.size()));
    put16(packet, 4, 0x1234);
    put16(packet, 6, 0);
    packet[8] = ip.ttl;
    packet[9] = ip.protocol;
    put16(packet, 10, 0);
    std::copy(ip.source, ip.source + 4, packet.begin() + 12);
    std::copy(ip.destination, ip.destination + 4, packet.begin() + 16);
    packet.insert(packet.end(), body.begin(), body.end());
    return packet;
}

Bytes echo(uint8_t type, uint16_t echoId = id, uint16_t echoSequence = sequence,
           size_t payload = 32)
{
    return echoMessage(type, echoId, echoSequence, payload);
}

// Our request as a router quotes it.
Bytes request(Ip ip = {}, Bytes echoHeader = echo(8))
{
    ip.ttl = 1;
    return ipPacket(ip, echoHeader);
}

Bytes fromRouter(const Bytes &icmp, size_t optionWords = 0)
{
    return ipPacket({router, us, 1, optionWords, 250}, icmp);
}

Bytes reply(size_t optionWords = 0)
{
    return ipPacket({destinationBytes, us, 1, optionWords, 57}, echo(0));
}

struct Code {
    uint8_t type, code;
};

// Every type and code the status mapping tells apart, and some it does not.
std::vector<Code> errorCodes()
{
    std::vector<Code> codes;
    for (uint8_t code = 0; code <= 15; ++code)
        codes.push_back({3, code});
    codes.insert(codes.end(), {{4, 0}, {11, 0}, {11, 1}, {11, 2}, {12, 0}, {12, 1}, {5, 1}});
    return codes;
}

class Corpus {
public:
    explicit Corpus(std::filesystem::path dir) : dir_(std::move(dir))
    {
        std::filesystem::create_directories(dir_);
    }
    void add(const std::string &name, const Bytes &bytes)
    {
        std::ofstream(dir_ / (name + "-" + std::to_string(count_++)), std::ios::binary)
            .write(reinterpret_cast<const char *>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    // The bytes cut at every length below their own.
    void addCuts(const std::string &name, const Bytes &bytes)
    {
        for (size_t n = 0; n < bytes.size(); ++n)
            add(name + "-cut", Bytes(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    }
    size_t count() const { return count_; }

private:
    std::filesystem::path dir_;
    size_t count_ = 0;
};

void rawSeeds(Corpus &corpus)
{
    for (size_t words = 0; words <= 10; ++words)
        corpus.add("reply-options", reply(words));
    for (const Code &c : errorCodes()) {
        corpus.add("error", fromRouter(icmpError(c.type, c.code, request(), 1400)));
        corpus.add(
            "error-options",
            fromRouter(icmpError(c.type, c.code, request({us, destinationBytes, 1, 2}), 576), 3));
    }
    const Bytes timeExceeded = fromRouter(icmpError(11, 0, request()));
    corpus.addCuts("reply", reply());
    corpus.addCuts("error", timeExceeded);
    const Bytes quote = request();
    for (size_t n = 0; n < quote.size(); ++n)
        corpus.add("short-quote",
                   fromRouter(icmpError(11, 0, Bytes(quote.begin(), quote.begin() + long(n)))));
    for (uint8_t ihl = 0; ihl <= 15; ++ihl) {
        Bytes outer = reply();
        outer[0] = static_cast<uint8_t>(0x40 | ihl);
        corpus.add("bogus-ihl", outer);
        Bytes inner = request();
        inner[0] = static_cast<uint8_t>(0x40 | ihl);
        corpus.add("bogus-quoted-ihl", fromRouter(icmpError(11, 0, inner)));
    }
    Bytes ipv6 = reply(), longTotal = reply(), shortTotal = reply(), badSum = reply();
    ipv6[0] = 0x65;
    put16(longTotal, 2, static_cast<uint16_t>(longTotal.size() + 1));
    put16(shortTotal, 2, 19);
    badSum.back() ^= 1;
    for (const Bytes &b : {ipv6, longTotal, shortTotal, badSum})
        corpus.add("bad-header", b);
    corpus.add("wrong-id", ipPacket({destinationBytes, us}, echo(0, id + 1)));
    corpus.add("wrong-sequence", ipPacket({destinationBytes, us}, echo(0, id, sequence + 1)));
    corpus.add("udp", ipPacket({destinationBytes, us, 17}, echo(0)));
    corpus.add("quote-wrong-protocol",
               fromRouter(icmpError(11, 0, request({us, destinationBytes, 17}))));
    corpus.add("quote-wrong-destination", fromRouter(icmpError(11, 0, request({us, elsewhere}))));
    corpus.add("quote-wrong-id", fromRouter(icmpError(11, 0, request({}, echo(8, id + 1)))));
    corpus.add("quote-wrong-sequence",
               fromRouter(icmpError(11, 0, request({}, echo(8, id, sequence - 1)))));
    corpus.add("quote-of-a-reply", fromRouter(icmpError(3, 4, request({}, echo(0)), 1400)));
    corpus.add("quote-of-an-error", fromRouter(icmpError(11, 0, timeExceeded)));
    // Linux routers quote up to 548 bytes.
    corpus.add("long-quote",
               fromRouter(icmpError(3, 4, request({}, echo(8, id, sequence, 520)), 1400)));
}

// ---- datagram inputs

Bytes sockaddrBytes(const uint8_t *address, sa_family_t family = AF_INET)
{
    sockaddr_in in{};
    in.sin_family = family;
    std::memcpy(&in.sin_addr, address, 4);
    const auto *raw = reinterpret_cast<const uint8_t *>(&in);
    return Bytes(raw, raw + sizeof in);
}

Bytes ttlCmsg(int ttl)
{
    const auto *raw = reinterpret_cast<const uint8_t *>(&ttl);
    return cmsg(IP_TTL, Bytes(raw, raw + sizeof ttl));
}

sock_extended_err extendedError(uint8_t origin, Code c, uint32_t info)
{
    sock_extended_err error{};
    error.ee_errno = EHOSTUNREACH;
    error.ee_origin = origin;
    error.ee_type = c.type;
    error.ee_code = c.code;
    error.ee_info = info;
    return error;
}

Bytes errorCmsg(uint8_t origin, Code c, uint32_t info = 0, const uint8_t *offender = router)
{
    const sock_extended_err error = extendedError(origin, c, info);
    const auto *raw = reinterpret_cast<const uint8_t *>(&error);
    Bytes data(raw, raw + sizeof error);
    const Bytes address = sockaddrBytes(offender);
    data.insert(data.end(), address.begin(), address.end());
    return cmsg(IP_RECVERR, data);
}

Bytes datagramInput(const Bytes &name, const Bytes &control, const Bytes &data)
{
    Bytes input{static_cast<uint8_t>(name.size()), 0, 0};
    put16(input, 1, static_cast<uint16_t>(control.size()));
    return input + name + control + data;
}

void datagramSeeds(Corpus &corpus)
{
    const Bytes toUs = sockaddrBytes(destinationBytes);
    const Bytes ttl = ttlCmsg(61);
    const Bytes sound = datagramInput(toUs, ttl, echo(0, 0x4242));
    corpus.add("reply", sound);
    corpus.addCuts("reply", sound);
    corpus.add("reply-wrong-sequence", datagramInput(toUs, ttl, echo(0, 0x4242, sequence + 1)));
    corpus.add("reply-no-control", datagramInput(toUs, {}, echo(0, 0x4242)));
    // The receive stamp comes first, at the socket level, as the kernel orders it.
    const Bytes stamp = receiveStamp(1765000000, 123456789);
    corpus.add("reply-stamped", datagramInput(toUs, stamp + ttl, echo(0, 0x4242)));
    corpus.add("error-stamped",
               datagramInput(toUs, stamp + ttlCmsg(250) + errorCmsg(SO_EE_ORIGIN_ICMP, {11, 0}),
                             echo(8, 0x4242)));
    for (const Code &c : errorCodes()) {
        const Bytes control = ttlCmsg(250) + errorCmsg(SO_EE_ORIGIN_ICMP, c, 1400);
        corpus.add("error", datagramInput(toUs, control, echo(8, 0x4242)));
        corpus.add("error-error-first",
                   datagramInput(toUs, errorCmsg(SO_EE_ORIGIN_ICMP, c, 576) + ttlCmsg(250),
                                 echo(8, 0x4242)));
    }
    const Bytes control = ttlCmsg(250) + errorCmsg(SO_EE_ORIGIN_ICMP, {11, 0});
    const Bytes timeExceeded = datagramInput(toUs, control, echo(8, 0x4242));
    corpus.addCuts("error", timeExceeded);
    sock_extended_err sent{};
    sent.ee_errno = ENOMSG;
    sent.ee_origin = SO_EE_ORIGIN_TIMESTAMPING;
    sent.ee_data = 3;
    corpus.add("send-stamp",
               datagramInput(toUs, stamp + softwareStamp(1765000000, 123456789)
                                       + cmsg(IP_RECVERR, bytesOf(sent)), {}));
    corpus.add("error-local-origin",
               datagramInput(toUs, errorCmsg(SO_EE_ORIGIN_LOCAL, {0, 0}, 1400), echo(8, 0x4242)));
    corpus.add("error-echo-type",
               datagramInput(toUs, errorCmsg(SO_EE_ORIGIN_ICMP, {0, 0}), echo(8, 0x4242)));
    corpus.add("error-wrong-sequence", datagramInput(toUs, control, echo(8, 0x4242, sequence + 1)));
    corpus.add("error-wrong-destination",
               datagramInput(sockaddrBytes(elsewhere), control, echo(8, 0x4242)));
    corpus.add("error-no-name", datagramInput({}, control, echo(8, 0x4242)));
    corpus.add("error-inet6-name",
               datagramInput(sockaddrBytes(destinationBytes, AF_INET6), control, echo(8, 0x4242)));
    corpus.add("error-quote-of-a-reply", datagramInput(toUs, control, echo(0, 0x4242)));
    const Bytes quoted = echo(8, 0x4242);
    corpus.add("error-short-quote",
               datagramInput(toUs, control, Bytes(quoted.begin(), quoted.begin() + 7)));
    // Control messages whose length lies: past the buffer, below the header,
    // zero, or an extended error without its offender.
    Bytes error = errorCmsg(SO_EE_ORIGIN_ICMP, {11, 0});
    for (size_t declared : {size_t(0), size_t(8), size_t(17), size_t(32), error.size() + 1,
                            size_t(4096), ~size_t(0)}) {
        Bytes lying = error;
        std::memcpy(lying.data(), &declared, sizeof declared);
        corpus.add("cmsg-length", datagramInput(toUs, lying, echo(8, 0x4242)));
        corpus.add("cmsg-length-cut",
                   datagramInput(toUs, Bytes(lying.begin(), lying.begin() + 36), echo(8, 0x4242)));
        Bytes ttlLying = ttl;
        std::memcpy(ttlLying.data(), &declared, sizeof declared);
        corpus.add("ttl-length", datagramInput(toUs, ttlLying + error, echo(8, 0x4242)));
        corpus.add(
            "ttl-length-cut",
            datagramInput(toUs, Bytes(ttlLying.begin(), ttlLying.begin() + 16), echo(0, 0x4242)));
    }
}

// ---- ICMPv6 inputs: the same recvmsg layout for both socket kinds

const uint8_t router6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0x64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
const uint8_t us6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0xff, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

Bytes sockaddr6(const uint8_t *address)
{
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address, 16);
    return bytesOf(in6);
}

Bytes hopLimitCmsg(int hops)
{
    return cmsg(IPV6_HOPLIMIT, bytesOf(hops), 0, IPPROTO_IPV6);
}

Bytes error6Cmsg(uint8_t origin, Code c, uint32_t info = 0)
{
    return cmsg(IPV6_RECVERR, bytesOf(extendedError(origin, c, info)) + sockaddr6(router6), 0,
                IPPROTO_IPV6);
}

// Our request as a router quotes it: the IPv6 header, then the echo request,
// with a fragment header between them when fragmentOffset is given.
Bytes request6(const uint8_t *to = destination6Bytes, uint8_t nextHeader = 58,
               Bytes echoHeader = echo(128), std::optional<uint16_t> fragmentOffset = {})
{
    Bytes header(40, 0);
    header[0] = 0x60;
    header[6] = fragmentOffset ? 44 : nextHeader;
    header[7] = 1;
    std::copy(us6, us6 + 16, header.begin() + 8);
    std::copy(to, to + 16, header.begin() + 24);
    if (fragmentOffset) {
        Bytes fragment(8, 0);
        fragment[0] = nextHeader;
        put16(fragment, 2, *fragmentOffset);
        header = header + fragment;
    }
    put16(header, 4, static_cast<uint16_t>(header.size() - 40 + echoHeader.size()));
    return header + echoHeader;
}

Bytes error6(Code c, const Bytes &quote, uint32_t word = 0)
{
    Bytes icmp(8, 0);
    icmp[0] = c.type;
    icmp[1] = c.code;
    put16(icmp, 4, static_cast<uint16_t>(word >> 16));
    put16(icmp, 6, static_cast<uint16_t>(word));
    return icmp + quote;
}

// Every ICMPv6 type the mapping tells apart, with codes, and some it does not.
std::vector<Code> error6Codes()
{
    std::vector<Code> codes;
    for (uint8_t code = 0; code <= 8; ++code)
        codes.push_back({1, code});
    codes.insert(codes.end(), {{2, 0}, {3, 0}, {3, 1}, {3, 2}, {4, 0}, {4, 1}, {4, 2}, {129, 0},
                               {128, 0}, {133, 0}, {134, 0}, {135, 0}, {136, 0}, {137, 0}, {0, 0},
                               {11, 0}});
    return codes;
}

void icmp6Seeds(Corpus &corpus)
{
    const Bytes fromTarget = sockaddr6(destination6Bytes), fromRouter = sockaddr6(router6);
    const Bytes hops = hopLimitCmsg(61);
    const Bytes reply = datagramInput(fromTarget, hops, echo(129));
    corpus.add("reply", reply);
    corpus.addCuts("reply", reply);
    corpus.add("reply-wrong-id", datagramInput(fromTarget, hops, echo(129, id + 1)));
    corpus.add("reply-wrong-sequence", datagramInput(fromTarget, hops, echo(129, id, sequence + 1)));
    corpus.add("reply-ipv4", datagramInput(fromTarget, hops, echo(0)));
    corpus.add("request", datagramInput(fromTarget, hops, echo(128)));
    for (const Code &c : error6Codes()) {
        // As a raw socket reads it, and as a datagram socket's error queue gives it.
        corpus.add("raw-error", datagramInput(fromRouter, hops, error6(c, request6(), 1280)));
        corpus.add("raw-error-fragment",
                   datagramInput(fromRouter, hops, error6(c, request6(destination6Bytes, 58,
                                                                      echo(128), 1))));
        corpus.add("queued-error", datagramInput(fromTarget, hops + error6Cmsg(SO_EE_ORIGIN_ICMP6,
                                                                                c, 1280),
                                                 echo(128)));
    }
    const Bytes timeExceeded = datagramInput(fromRouter, hops, error6({3, 0}, request6()));
    corpus.addCuts("raw-error", timeExceeded);
    const Bytes queued = datagramInput(fromTarget, error6Cmsg(SO_EE_ORIGIN_ICMP6, {3, 0}) + hops,
                                       echo(128));
    corpus.addCuts("queued-error", queued);
    corpus.add("quote-wrong-destination",
               datagramInput(fromRouter, hops, error6({3, 0}, request6(router6))));
    corpus.add("quote-udp", datagramInput(fromRouter, hops, error6({3, 0}, request6(
                                                                        destination6Bytes, 17))));
    corpus.add("quote-later-fragment",
               datagramInput(fromRouter, hops,
                             error6({3, 0}, request6(destination6Bytes, 58, echo(128), 0x0008))));
    corpus.add("quote-wrong-id",
               datagramInput(fromRouter, hops,
                             error6({3, 0}, request6(destination6Bytes, 58, echo(128, id + 1)))));
    corpus.add("quote-of-a-reply",
               datagramInput(fromRouter, hops,
                             error6({3, 0}, request6(destination6Bytes, 58, echo(129)))));
    corpus.add("queued-local-origin",
               datagramInput(fromTarget, error6Cmsg(SO_EE_ORIGIN_LOCAL, {0, 0}, 1280), echo(128)));
    corpus.add("queued-ipv4-origin",
               datagramInput(fromTarget, error6Cmsg(SO_EE_ORIGIN_ICMP, {11, 0}), echo(128)));
    corpus.add("queued-wrong-destination",
               datagramInput(fromRouter, error6Cmsg(SO_EE_ORIGIN_ICMP6, {3, 0}), echo(128)));
    // Routers quote as much as fits in 1280 bytes.
    corpus.add("long-quote",
               datagramInput(fromRouter, hops,
                             error6({2, 0}, request6(destination6Bytes, 58,
                                                     echo(128, id, sequence, 1184)),
                                    1280)));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    Corpus raw(dir / "raw_reply"), datagram(dir / "datagram_reply"), icmp6(dir / "icmp6_reply");
    rawSeeds(raw);
    datagramSeeds(datagram);
    icmp6Seeds(icmp6);
    std::printf("seeds: %zu raw_reply, %zu datagram_reply, %zu icmp6_reply\n", raw.count(),
                datagram.count(), icmp6.count());
    return 0;
}
