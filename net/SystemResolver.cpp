#include "net/SystemResolver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

#include "net/Sockets.h"

namespace {

using Bytes = std::array<uint8_t, 4>;

Bytes bytesOf(uint32_t address)
{
    Bytes bytes{};
    std::memcpy(bytes.data(), &address, bytes.size());
    return bytes;
}

// Digits and dots that make no address ("999.1.1.1", "1.2.3.4.5") are a
// mistyped address: no top-level domain is all digits, so no name server is asked.
bool malformedAddress(const std::string &host)
{
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// The first address getaddrinfo gives: the first one the resolver returned.
std::optional<Bytes> lookUpName(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return std::nullopt;
    std::optional<Bytes> bytes;
    if (list->ai_family == AF_INET && list->ai_addrlen >= sizeof(sockaddr_in))
        bytes = bytesOf(reinterpret_cast<const sockaddr_in *>(list->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(list);
    return bytes;
}

// gethostbyaddr_r gives the official name (h_name); its buffer grows until the
// record fits, so a name of any length comes back whole.
std::string lookUpAddress(uint32_t address)
{
    constexpr size_t largestBuffer = 1 << 20;
    std::vector<char> buffer(1024);
    for (;;) {
        hostent entry{};
        hostent *result = nullptr;
        int error = 0;
        const int status = gethostbyaddr_r(&address, sizeof address, AF_INET, &entry,
                                           buffer.data(), buffer.size(), &result, &error);
        if (status == ERANGE && buffer.size() < largestBuffer) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0 || !result || !result->h_name)
            return {};
        return result->h_name;
    }
}

} // namespace

// A literal address is read here, by the parser inet_addr uses, so the dotted
// text given back parses to the same address again; only names go to the resolver.
std::optional<Bytes> SystemResolver::firstIpv4(const std::string &host)
{
    if (const auto address = literalAddress(host))
        return bytesOf(*address);
    if (host.empty() || malformedAddress(host) || host.find('\0') != std::string::npos)
        return std::nullopt;
    std::optional<std::optional<Bytes>> found = lookups_.run<std::optional<Bytes>>(
        [host] { return lookUpName(host); }, forwardDeadline);
    return found ? *found : std::nullopt;
}

std::string SystemResolver::officialName(uint32_t address)
{
    return lookups_.run<std::string>([address] { return lookUpAddress(address); }, reverseDeadline)
        .value_or(std::string());
}
