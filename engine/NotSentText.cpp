#include "engine/NotSentText.h"

#include <cerrno>
#include <cstring>

namespace {

std::string reason(int sendErrno)
{
    switch (sendErrno) {
    case ENETUNREACH:
        return "the network is unreachable (no route)";
    case EHOSTUNREACH:
        return "the host is unreachable (a route on this machine rejects it)";
    // EPERM: a firewall rule dropped it on the way out; EACCES: a prohibit route
    case EPERM:
    case EACCES:
        return "a firewall or routing rule of this machine refuses it";
    case EADDRNOTAVAIL:
        return "this machine has no address to send it from";
    default:
        return std::string("the system refused to send it (") + std::strerror(sendErrno) + ")";
    }
}

} // namespace

std::string notSentText(const std::string &target, int sendErrno)
{
    return "No probe can leave this machine for " + target + ": " + reason(sendErrno) +
           ". Check the connection and press Start again.";
}
