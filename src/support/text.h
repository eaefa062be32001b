// Small text helpers shared by the stages: ASCII whitespace trimming, ASCII
// digit tests and the test for a plain C name.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace kestal {

// The text without ASCII whitespace at either end.
inline std::string_view trim(std::string_view text) {
    constexpr std::string_view kSpace = " \t\r\n\f\v";
    std::size_t first = text.find_first_not_of(kSpace);
    if (first == std::string_view::npos)
        return {};
    std::size_t last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

// Whether the character is an ASCII decimal digit.
constexpr bool is_ascii_digit(char32_t c) {
    return c >= '0' && c <= '9';
}

// The value of an ASCII hexadecimal digit of either case, or -1 for any other
// character.
constexpr int hex_digit_value(char32_t c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a') + 10;
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A') + 10;
    return -1;
}

constexpr bool is_hex_digit(char32_t c) {
    return hex_digit_value(c) >= 0;
}

// Letters, digits and underscores only, and not empty.
inline bool is_plain_c_name(const std::string &text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

} // namespace kestal
