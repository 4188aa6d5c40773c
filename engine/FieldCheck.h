#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Inclusive bounds of one numeric field of the Options dialog.
struct FieldBounds {
    int lo = 0;
    int hi = 0;
};

// The check run when the focus leaves a numeric field, and the reading of the
// field's number on OK.
namespace FieldCheck {
// The value when the whole text is one number: blanks around it, an optional
// sign, digits with an optional decimal part ("20", " 20 ", "20.0", "-0", ".5").
// Empty when it is not ("", "20a", "1 2", "1e3").
std::optional<double> numberOf(std::string_view text);
// A whole number within the bounds, compared before any rounding.
bool passes(std::string_view text, FieldBounds bounds);
// The number rounded to the nearest integer, ties to the even one; 0 when the
// text is not a number (never the case once the field check passed).
int16_t valueOf(std::string_view text);
std::string message(FieldBounds bounds);
} // namespace FieldCheck
