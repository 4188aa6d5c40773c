#include "net/Module1.h"

#include "net/Resolver.h"
#include "net/Sockets.h"
#include "net/Toolkit.h"

namespace Module1 {

bool openSockets()
{
    return true;
}

void closeSockets(Toolkit &)
{
}

std::string hostToAddress(const std::string &host, Resolver &resolver, Toolkit &toolkit)
{
    if (!openSockets()) {
        toolkit.messageBox("Failed to open Socket.", MessageIcon::none);
        return {};
    }
    std::string text;
    if (const auto address = resolver.firstAddress(host))
        text = address->text();
    closeSockets(toolkit);
    return text;
}

std::string bytesToDotted(const std::array<uint8_t, 4> &bytes)
{
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "."
         + std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

// Yields at the seven points where the user interface may process its events;
// all state is local, so the look-up finishes correctly after any handler.
std::string addressToHost(const std::string &dotted, Resolver &resolver, Toolkit &toolkit)
{
    toolkit.yield();
    if (!openSockets()) {
        toolkit.messageBox("Failed to open Socket", MessageIcon::none);
        return {};
    }
    toolkit.yield();
    const auto address = textToAddress(dotted);
    if (!address) {
        toolkit.messageBox("Invalid IP address", MessageIcon::none);
        closeSockets(toolkit);
        return {};
    }
    toolkit.yield();
    const std::string name = resolver.officialName(*address);
    std::string result;
    if (!name.empty()) {
        toolkit.yield(); // the name is read
        toolkit.yield(); // its length is taken
        toolkit.yield(); // it is copied
        result = name;
    }
    toolkit.yield();
    closeSockets(toolkit);
    return result;
}

} // namespace Module1
