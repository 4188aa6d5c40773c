#pragma once

#include <string>
#include <string_view>

// A name as the resolver gave it, made valid UTF-8 once where it is looked up:
// every byte that starts no valid sequence (a Latin-1 byte from an older
// hosts file, an overlong or surrogate form) and every control character
// becomes U+FFFD, so the table, the Notes box and the report show the same
// characters and the report can pad by counting them.
std::string validText(std::string_view bytes);
