#pragma once

#include "net/IpAddress.h"

#include <cstdint>
#include <optional>
#include <string>

class Toolkit;

// Socket start-up and clean-up around a whole trace; nothing to do on Linux.
bool startSockets();
void stopSockets(Toolkit &toolkit);

// 32-bit address (network byte order) to dotted-decimal text.
std::string addressToText(uint32_t address);
// Copy of a NUL-terminated 8-bit string; empty for a null pointer.
std::string textFromAnsi(const char *text);

// The address in network byte order, or 0xFFFFFFFF when the text is not an address.
uint32_t inetAddr(const std::string &text);

// The address of a text the forward look-up gave: IPv4 as inetAddr reads it
// (255.255.255.255 is its failure value, as always), IPv6 in any text form.
std::optional<IpAddress> textToAddress(const std::string &text);

// The address when the whole text is one address in any of inet_addr's forms:
// dotted decimal, fewer parts ("1.2.3" is 1.2.0.3, "2130706433" is 127.0.0.1),
// hexadecimal ("0x7f.0.0.1") and octal parts ("010.1.1.1" is 8.1.1.1).
// Nothing otherwise; unlike inet_addr it takes no text after a blank, and
// 255.255.255.255 is an address here.
std::optional<uint32_t> literalAddress(const std::string &text);

// The address this machine sends from towards destination, as the routing
// table picks it: a datagram socket is connected, which sends nothing. None
// when there is no route.
std::optional<IpAddress> sourceAddressTowards(const IpAddress &destination);
// The same for a target's address text, as its text; empty for no address
// or no route.
std::string sourceTextTowards(const std::string &target);
