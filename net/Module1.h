#pragma once

#include <array>
#include <cstdint>
#include <string>

class Resolver;
class Toolkit;

// The look-ups and their socket start-up/clean-up pair.
namespace Module1 {

// Socket library start-up and clean-up around each look-up; nothing to do on Linux.
bool openSockets();
void closeSockets(Toolkit &toolkit);

// Text of the address a trace to the host goes to (dotted for IPv4, RFC 5952
// for IPv6), or empty text.
std::string hostToAddress(const std::string &host, Resolver &resolver, Toolkit &toolkit);
// Four bytes in network order to dotted-decimal text.
std::string bytesToDotted(const std::array<uint8_t, 4> &bytes);
// Official host name of an address in text, or empty text; yields while it works.
std::string addressToHost(const std::string &dotted, Resolver &resolver, Toolkit &toolkit);

} // namespace Module1
