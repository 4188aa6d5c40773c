#pragma once

#include <cstdint>
#include <string>

// A number as the result rows and the Notes box show it with room for a sign:
// one leading blank when it is not negative, so hop 5 reads " 5".
inline std::string signRoomText(int32_t value)
{
    std::string text = std::to_string(value);
    if (value >= 0)
        text.insert(text.begin(), ' ');
    return text;
}
