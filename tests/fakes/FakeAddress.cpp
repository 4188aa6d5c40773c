#include "tests/fakes/FakeAddress.h"

#include <arpa/inet.h>

uint32_t fakeAddr(const std::string &dotted)
{
    in_addr a{};
    return inet_pton(AF_INET, dotted.c_str(), &a) == 1 ? a.s_addr : 0;
}

std::string fakeDotted(uint32_t address)
{
    in_addr a{};
    a.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}
