#include "engine/FieldCheck.h"

#include <charconv>
#include <cmath>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Digits with an optional decimal part and at least one digit in all.
bool isUnsignedDecimal(std::string_view s)
{
    size_t i = 0;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i]))
        ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i]))
            ++i, ++digits;
    }
    return i == s.size() && digits > 0;
}

} // namespace

namespace FieldCheck {

std::optional<double> numberOf(std::string_view text)
{
    std::string_view s = trimmed(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (!isUnsignedDecimal(s))
        return std::nullopt;
    // from_chars does not depend on the C locale, which the window sets from the environment.
    std::string digits(s);
    if (digits.front() == '.')
        digits.insert(digits.begin(), '0');
    double v = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), v, std::chars_format::fixed);
    return negative ? -v : v;
}

bool passes(std::string_view text, FieldBounds bounds)
{
    const std::optional<double> v = numberOf(text);
    return v && *v == std::floor(*v) && *v >= bounds.lo && *v <= bounds.hi;
}

int16_t valueOf(std::string_view text)
{
    const double v = numberOf(text).value_or(0);
    if (v < INT16_MIN || v > INT16_MAX)
        return 0;
    return static_cast<int16_t>(std::nearbyint(v));
}

std::string message(FieldBounds bounds)
{
    return "Please insert a integer number greater than or equal to " + std::to_string(bounds.lo) +
           " and less than or equal to " + std::to_string(bounds.hi) + ".";
}

} // namespace FieldCheck
