#pragma once

#include <cstdint>
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
