// The escaper: each byte is kept, or written as its named escape (\" \\ and,
// by mode, \n \t \r \?), or written by number in the mode's form.
#include "support/escape.h"

#include <fmt/format.h>

#include <iterator>

namespace kestal {

namespace {

// The escape of a byte with a name in the mode, or none.
std::string_view named_escape(unsigned char c, EscapeMode mode) {
    switch (c) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '?':
        return mode == EscapeMode::C ? "\\?" : "";
    case '\n':
        return mode == EscapeMode::C ? "" : "\\n";
    case '\t':
        return mode == EscapeMode::C ? "" : "\\t";
    case '\r':
        return mode == EscapeMode::C ? "" : "\\r";
    default:
        return "";
    }
}

// Whether the mode writes the byte (one without a named escape) by number.
bool by_number(unsigned char c, EscapeMode mode) {
    switch (mode) {
    case EscapeMode::Tree:
        return c < 0x20 || c == 0x7F;
    case EscapeMode::Ascii:
    case EscapeMode::C:
        return c < 0x20 || c >= 0x7F;
    case EscapeMode::Json:
        return c < 0x20;
    }
    return false;
}

void append_number(std::string &out, unsigned char c, EscapeMode mode) {
    auto to = std::back_inserter(out);
    switch (mode) {
    case EscapeMode::Tree:
    case EscapeMode::Ascii:
        fmt::format_to(to, "\\x{:02x}", c);
        break;
    case EscapeMode::Json:
        fmt::format_to(to, "\\u{:04x}", c);
        break;
    case EscapeMode::C:
        fmt::format_to(to, "\\{:03o}", c);
        break;
    }
}

} // namespace

void append_escaped(std::string &out, std::string_view text, EscapeMode mode) {
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (std::string_view name = named_escape(c, mode); !name.empty())
            out += name;
        else if (by_number(c, mode))
            append_number(out, c, mode);
        else
            out += ch;
    }
}

std::string escaped(std::string_view text, EscapeMode mode) {
    std::string out;
    append_escaped(out, text, mode);
    return out;
}

std::string quoted(std::string_view text, EscapeMode mode) {
    std::string out = "\"";
    append_escaped(out, text, mode);
    out += '"';
    return out;
}

} // namespace kestal
