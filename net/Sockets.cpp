#include "net/Sockets.h"

#include <arpa/inet.h>
#include <cstring>

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
// "010.1.1.1" is 8.1.1.1), as the forward look-up does for literal addresses,
// so a literal host text and its address agree; 255.255.255.255 reads as the
// failure value, as it always has.
uint32_t inetAddr(const std::string &text)
{
    return inet_addr(text.c_str());
}
