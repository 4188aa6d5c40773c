#include "net/IpAddress.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <cstring>
#include <iterator>
#include <net/if.h>
#include <netinet/in.h>

namespace {

constexpr uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// The interface index a zone names: an interface name or its decimal index.
std::optional<uint32_t> zoneIndex(const std::string &zone)
{
    uint32_t index = 0;
    const char *end = zone.data() + zone.size();
    const auto [at, error] = std::from_chars(zone.data(), end, index);
    if (!zone.empty() && error == std::errc() && at == end && index != 0)
        return index;
    if (zone.empty() || zone.size() >= IF_NAMESIZE)
        return std::nullopt;
    const unsigned named = if_nametoindex(zone.c_str());
    return named != 0 ? std::optional<uint32_t>(named) : std::nullopt;
}

std::optional<IpAddress> parseIpv6(const std::string &text)
{
    const size_t percent = text.find('%');
    const std::string bare = text.substr(0, percent);
    IpAddress::Ipv6Bytes bytes{};
    if (inet_pton(AF_INET6, bare.c_str(), bytes.data()) != 1)
        return std::nullopt;
    uint32_t scope = 0;
    if (percent != std::string::npos) {
        const auto index = zoneIndex(text.substr(percent + 1));
        if (!index)
            return std::nullopt;
        scope = *index;
    }
    if (std::equal(std::begin(mappedPrefix), std::end(mappedPrefix), bytes.begin())) {
        uint32_t v4 = 0;
        std::memcpy(&v4, bytes.data() + 12, sizeof v4);
        return IpAddress::fromIpv4(v4);
    }
    return IpAddress::fromIpv6(bytes, scope);
}

char *writeDotted(char *at, const uint8_t *bytes)
{
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *at++ = '.';
        at = std::to_chars(at, at + 3, bytes[i]).ptr;
    }
    return at;
}

// The longest run of zero groups, the first of equal ones; none shorter than two.
struct ZeroRun {
    int base = -1;
    int length = 0;
};
ZeroRun longestZeroRun(const uint16_t (&groups)[8])
{
    ZeroRun best, current;
    for (int i = 0; i <= 8; ++i) {
        if (i < 8 && groups[i] == 0) {
            if (current.base < 0)
                current = {i, 0};
            ++current.length;
        } else if (current.base >= 0) {
            if (current.length > best.length)
                best = current;
            current = {};
        }
    }
    return best.length >= 2 ? best : ZeroRun{};
}

// What inet_ntop writes, without its printf: a trace shows the text of every
// reply of a hop that answers from two addresses in turn. Groups in lower-case
// hex without leading zeros, the longest zero run as "::", and an address of
// the forms ::a.b.c.d and ::ffff:a.b.c.d ends in a dotted quad.
std::string ipv6Text(const IpAddress::Ipv6Bytes &bytes)
{
    uint16_t groups[8];
    for (size_t i = 0; i < 8; ++i)
        groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    const ZeroRun zeros = longestZeroRun(groups);
    char text[INET6_ADDRSTRLEN];
    char *at = text;
    for (int i = 0; i < 8; ++i) {
        if (zeros.base >= 0 && i >= zeros.base && i < zeros.base + zeros.length) {
            if (i == zeros.base)
                *at++ = ':';
            continue;
        }
        if (i != 0)
            *at++ = ':';
        if (i == 6 && zeros.base == 0
            && (zeros.length == 6 || (zeros.length == 5 && groups[5] == 0xffff))) {
            at = writeDotted(at, bytes.data() + 12);
            break;
        }
        at = std::to_chars(at, at + 4, groups[i], 16).ptr;
    }
    if (zeros.base >= 0 && zeros.base + zeros.length == 8)
        *at++ = ':';
    return std::string(text, at);
}

} // namespace

IpAddress IpAddress::fromIpv4(uint32_t networkOrder)
{
    IpAddress address;
    std::memcpy(address.bytes_.data(), &networkOrder, sizeof networkOrder);
    return address;
}

IpAddress IpAddress::fromIpv6(const Ipv6Bytes &bytes, uint32_t scopeId)
{
    IpAddress address;
    address.ipv6_ = true;
    address.bytes_ = bytes;
    address.scope_ = scopeId;
    return address;
}

std::optional<IpAddress> IpAddress::parse(std::string_view text)
{
    // c_str() would end the text at a NUL: such a text is not one address.
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']')
        return parseIpv6(std::string(text.substr(1, text.size() - 2)));
    const std::string whole(text);
    in_addr v4{};
    if (inet_pton(AF_INET, whole.c_str(), &v4) == 1)
        return fromIpv4(v4.s_addr);
    return parseIpv6(whole);
}

socklen_t IpAddress::toSockaddr(sockaddr_storage &storage) const
{
    storage = {};
    if (!ipv6_) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = ipv4();
        std::memcpy(&storage, &in, sizeof in);
        return sizeof in;
    }
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    std::copy(bytes_.begin(), bytes_.end(), in6.sin6_addr.s6_addr);
    in6.sin6_scope_id = scope_;
    std::memcpy(&storage, &in6, sizeof in6);
    return sizeof in6;
}

// Copied, not cast: the bytes need not be aligned.
std::optional<IpAddress> IpAddress::fromSockaddr(std::span<const uint8_t> bytes)
{
    sa_family_t family = AF_UNSPEC;
    if (bytes.size() < sizeof family)
        return std::nullopt;
    std::memcpy(&family, bytes.data(), sizeof family);
    if (family == AF_INET && bytes.size() >= sizeof(sockaddr_in)) {
        sockaddr_in in;
        std::memcpy(&in, bytes.data(), sizeof in);
        return fromIpv4(in.sin_addr.s_addr);
    }
    if (family == AF_INET6 && bytes.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 in6;
        std::memcpy(&in6, bytes.data(), sizeof in6);
        Ipv6Bytes raw;
        std::copy(std::begin(in6.sin6_addr.s6_addr), std::end(in6.sin6_addr.s6_addr), raw.begin());
        return fromIpv6(raw, in6.sin6_scope_id);
    }
    return std::nullopt;
}

uint32_t IpAddress::ipv4() const
{
    uint32_t value = 0;
    if (!ipv6_)
        std::memcpy(&value, bytes_.data(), sizeof value);
    return value;
}

std::string IpAddress::text() const
{
    if (!ipv6_) { // every reply of a trace is shown: the dotted quad without printf
        char quad[16];
        return std::string(quad, writeDotted(quad, bytes_.data()));
    }
    std::string text = ipv6Text(bytes_);
    if (scope_ != 0) {
        char name[IF_NAMESIZE] = {};
        text += '%';
        text += if_indextoname(scope_, name) ? std::string(name) : std::to_string(scope_);
    }
    return text;
}

bool IpAddress::isUnicastHost() const
{
    if (!ipv6_)
        return bytes_[0] != 0 && bytes_[0] < 224;
    const bool unspecified = std::all_of(bytes_.begin(), bytes_.end(), [](uint8_t b) { return b == 0; });
    return !unspecified && bytes_[0] != 0xff;
}
