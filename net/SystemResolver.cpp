#include "net/SystemResolver.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

// getaddrinfo takes a literal address in every inet_aton form ("1.2.3",
// "0x7f.0.0.1", "010.1.1.1"), as inet_addr does, so the dotted text it gives
// back parses to the same address again. The first entry is the first
// address the resolver returned.
std::optional<std::array<uint8_t, 4>> SystemResolver::firstIpv4(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    addrinfo *list = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return std::nullopt;
    std::optional<std::array<uint8_t, 4>> bytes;
    if (list->ai_family == AF_INET && list->ai_addrlen >= sizeof(sockaddr_in)) {
        const auto *address = reinterpret_cast<const sockaddr_in *>(list->ai_addr);
        std::array<uint8_t, 4> value{};
        std::memcpy(value.data(), &address->sin_addr.s_addr, value.size());
        bytes = value;
    }
    freeaddrinfo(list);
    return bytes;
}

// gethostbyaddr_r gives the official name (h_name); its buffer grows until the
// record fits, so a name of any length comes back whole.
std::string SystemResolver::officialName(uint32_t address)
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
