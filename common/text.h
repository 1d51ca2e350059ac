// Text read as UTF-8, and written into JSON: for pages and reports that must stay well formed whatever
// bytes a stored name or a file name holds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

inline constexpr char32_t kUtf8Replacement = 0xFFFD;

// The code point at text[at] and the bytes it takes. A byte that does not begin a well-formed UTF-8
// sequence (a stray continuation byte, a cut or overlong sequence, a surrogate, beyond U+10FFFF) is
// U+FFFD on its own, and the next one is read afresh.
std::pair<char32_t, size_t> Utf8CodePointAt(std::string_view text, size_t at);

// text as the inside of a JSON string, in ASCII: quotes, backslashes, control characters and every
// character beyond ASCII as \uXXXX (a pair of them beyond U+FFFF).
std::string EscapeJson(std::string_view text);
