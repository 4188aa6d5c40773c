#include "net/ValidText.h"

#include <cstdint>

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD"; // U+FFFD

bool continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at the front of text with its code point,
// or 0 when the first byte starts none.
size_t sequenceAt(std::string_view text, char32_t &codePoint)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (!continuation(c))
            return 0;
        codePoint = (codePoint << 6) | (c & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < lowest || surrogate || codePoint > 0x10FFFF)
        return 0;
    return length;
}

// C0 controls, DEL and the C1 controls.
bool control(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

} // namespace

std::string validText(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        char32_t codePoint = 0;
        const size_t length = sequenceAt(bytes, codePoint);
        if (length == 0 || control(codePoint))
            text += replacement;
        else
            text += bytes.substr(0, length);
        bytes.remove_prefix(length == 0 ? 1 : length);
    }
    return text;
}
