// The one string escaper, with a mode for each reader of the text it writes:
// the syntax tree dump, the token dump, JSON and C string literals. Every
// mode escapes the double quote and the backslash and keeps the other
// printable ASCII bytes; they differ in which other bytes they escape and
// how.
#pragma once

#include <string>
#include <string_view>

namespace kestal {

enum class EscapeMode {
    // Tree dumps: \n \t \r, other control bytes and DEL as \xNN; bytes from
    // 0x80 up are kept, so UTF-8 text reads as itself.
    Tree,
    // Token dumps, pure ASCII: as Tree, but every byte from 0x7F up as \xNN.
    Ascii,
    // JSON: \n \r \t, other control bytes as \u00NN; everything else kept.
    Json,
    // The inside of a C string literal: `?` as \? (no trigraph can form),
    // every byte outside printable ASCII as three octal digits (a hex escape
    // would swallow a hex digit that follows it).
    C,
};

// Appends the text escaped in the mode, without quotes.
void append_escaped(std::string &out, std::string_view text, EscapeMode mode);
// The text escaped in the mode, without quotes.
std::string escaped(std::string_view text, EscapeMode mode);
// The text escaped in the mode, between double quotes.
std::string quoted(std::string_view text, EscapeMode mode);

} // namespace kestal
