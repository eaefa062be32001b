// The ASCII digit helpers: decimal digits and hexadecimal digit values.
#include "support/text.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

TEST(TextDigits, DecimalAndHexadecimal) {
    struct Row {
        char32_t c;
        bool digit;
        int hex;
    };
    const Row rows[] = {
        {'0', true, 0},   {'9', true, 9},         {'a', false, 10}, {'f', false, 15},
        {'A', false, 10}, {'F', false, 15},       {'g', false, -1}, {'G', false, -1},
        {'/', false, -1}, {':', false, -1},       {'@', false, -1}, {'`', false, -1},
        {' ', false, -1}, {U'\u0660', false, -1},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(is_ascii_digit(row.c), row.digit) << static_cast<unsigned>(row.c);
        EXPECT_EQ(hex_digit_value(row.c), row.hex) << static_cast<unsigned>(row.c);
        EXPECT_EQ(is_hex_digit(row.c), row.hex >= 0) << static_cast<unsigned>(row.c);
    }
    // A byte above 0x7F read as a signed char is no digit either.
    EXPECT_FALSE(is_hex_digit(static_cast<char>(0xB0)));
}

} // namespace
} // namespace kestal
