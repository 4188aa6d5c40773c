#include "net/Sockets.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Linux sockets need no library start-up or clean-up, so these succeed
// without a call and their failure messages never appear.
bool startSockets()
{
    return true;
}

void stopSockets(Toolkit &)
{
}

std::string addressToText(uint32_t address)
{
    in_addr value{};
    value.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    // inet_ntop writes the same text as inet_ntoa, without its shared buffer.
    return textFromAnsi(inet_ntop(AF_INET, &value, text, sizeof text));
}

std::string textFromAnsi(const char *text)
{
    return text ? std::string(text, std::strlen(text)) : std::string();
}

// glibc's inet_addr takes every inet_aton form ("1.2.3", "0x7f.0.0.1",
// "010.1.1.1" is 8.1.1.1), as literalAddress does, so a literal host text and
// its address agree; 255.255.255.255 reads as the failure value, as it always
// has. The engine only hands it the forward look-up's dotted text.
uint32_t inetAddr(const std::string &text)
{
    return inet_addr(text.c_str());
}

std::optional<IpAddress> textToAddress(const std::string &text)
{
    if (text.find(':') != std::string::npos)
        return IpAddress::parse(text);
    const uint32_t address = inetAddr(text);
    if (address == 0xFFFFFFFFu)
        return std::nullopt;
    return IpAddress::fromIpv4(address);
}

// Octal and hexadecimal parts are read as the C library has always read them,
// as ping and traceroute do: a text that means 10.1.1.1 to its author may
// trace 8.1.1.1, and the address box shows which.
std::optional<uint32_t> literalAddress(const std::string &text)
{
    // inet_aton ends the address at the first blank and ignores the rest, and
    // c_str() would end it at a NUL: such a text is not one address.
    const bool cut = std::any_of(text.begin(), text.end(), [](char c) {
        return c == '\0' || std::isspace(static_cast<unsigned char>(c));
    });
    in_addr address{};
    if (cut || inet_aton(text.c_str(), &address) == 0)
        return std::nullopt;
    return address.s_addr;
}

std::optional<IpAddress> sourceAddressTowards(const IpAddress &destination)
{
    sockaddr_storage to{};
    const socklen_t toLength = destination.toSockaddr(to);
    // Any port will do: connecting a datagram socket only picks the route.
    if (to.ss_family == AF_INET6)
        reinterpret_cast<sockaddr_in6 *>(&to)->sin6_port = htons(9);
    else
        reinterpret_cast<sockaddr_in *>(&to)->sin_port = htons(9);
    const int fd = socket(to.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    std::optional<IpAddress> source;
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&to), toLength) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&from), &fromLength) == 0)
        source = IpAddress::fromSockaddr({reinterpret_cast<const uint8_t *>(&from), fromLength});
    close(fd);
    return source;
}

std::string sourceTextTowards(const std::string &target)
{
    if (const auto address = textToAddress(target); address && !target.empty())
        if (const auto source = sourceAddressTowards(*address))
            return source->text();
    return {};
}
