// UTF-8 checks for bytes that come from outside: environment values, the
// output of child processes, files. Validity is the strict one (no overlong
// forms, no surrogates, nothing above U+10FFFF).
#pragma once

#include <string>
#include <string_view>

namespace kestal::platform {

bool is_valid_utf8(std::string_view bytes);

// The bytes as UTF-8 text, each maximal invalid subsequence replaced by one
// U+FFFD (the usual "lossy" decoding); valid input comes back unchanged.
std::string decode_utf8_lossy(std::string_view bytes);

// Appends the UTF-8 bytes of one code point (at most U+10FFFF; callers
// decide what to do with surrogates before they get here).
void append_utf8(std::string &out, char32_t cp);

} // namespace kestal::platform
