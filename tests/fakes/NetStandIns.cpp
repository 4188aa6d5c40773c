// Minimal stand-ins for the network layer's look-ups and address helpers, so
// the engine's tests link before the real ones exist. Linked only into the
// engine's test and benchmark executables; removed once net/ provides them.
#include <arpa/inet.h>

#include <cstring>

#include "net/Module1.h"
#include "net/Resolver.h"
#include "net/Sockets.h"
#include "net/Toolkit.h"

bool startSockets() { return true; }
void stopSockets(Toolkit &) {}

std::string addressToText(uint32_t address)
{
    in_addr a{};
    a.s_addr = address;
    return textFromAnsi(inet_ntoa(a));
}

std::string textFromAnsi(const char *text) { return text ? std::string(text) : std::string(); }

uint32_t inetAddr(const std::string &text)
{
    in_addr a{};
    return inet_pton(AF_INET, text.c_str(), &a) == 1 ? a.s_addr : 0xFFFFFFFFu;
}

namespace Module1 {

bool openSockets() { return true; }
void closeSockets(Toolkit &) {}

std::string bytesToDotted(const std::array<uint8_t, 4> &bytes)
{
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

std::string hostToAddress(const std::string &host, Resolver &resolver, Toolkit &)
{
    const auto bytes = resolver.firstIpv4(host);
    return bytes ? bytesToDotted(*bytes) : std::string();
}

std::string addressToHost(const std::string &dotted, Resolver &resolver, Toolkit &toolkit)
{
    toolkit.yield();
    const uint32_t address = inetAddr(dotted);
    if (address == 0xFFFFFFFFu) {
        toolkit.messageBox("Invalid IP address", MessageIcon::none);
        return {};
    }
    toolkit.yield();
    std::string name = resolver.officialName(address);
    toolkit.yield();
    return name;
}

} // namespace Module1
