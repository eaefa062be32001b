// The escaper's four modes side by side, one row per kind of byte.
#include "support/escape.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

TEST(Escape, EachModeOnEachKindOfByte) {
    struct Row {
        std::string text;
        std::string tree, ascii, json, c;
    };
    const Row rows[] = {
        {"", "", "", "", ""},
        {"plain text 0-9 ~", "plain text 0-9 ~", "plain text 0-9 ~", "plain text 0-9 ~",
         "plain text 0-9 ~"},
        {"a\"b\\c", R"(a\"b\\c)", R"(a\"b\\c)", R"(a\"b\\c)", R"(a\"b\\c)"},
        {"a?b?", "a?b?", "a?b?", "a?b?", R"(a\?b\?)"},
        {"\n\t\r", R"(\n\t\r)", R"(\n\t\r)", R"(\n\t\r)", R"(\012\011\015)"},
        {std::string("\0\x01\x1f", 3), R"(\x00\x01\x1f)", R"(\x00\x01\x1f)",
         R"(\u0000\u0001\u001f)", R"(\000\001\037)"},
        {"\x7f", R"(\x7f)", R"(\x7f)", "\x7f", R"(\177)"},
        {"\xc3\xa9", "\xc3\xa9", R"(\xc3\xa9)", "\xc3\xa9", R"(\303\251)"},
        {"\xff", "\xff", R"(\xff)", "\xff", R"(\377)"},
    };
    for (const Row &row : rows) {
        EXPECT_EQ(escaped(row.text, EscapeMode::Tree), row.tree) << row.text;
        EXPECT_EQ(escaped(row.text, EscapeMode::Ascii), row.ascii) << row.text;
        EXPECT_EQ(escaped(row.text, EscapeMode::Json), row.json) << row.text;
        EXPECT_EQ(escaped(row.text, EscapeMode::C), row.c) << row.text;
    }
}

TEST(Escape, QuotedAndAppended) {
    EXPECT_EQ(quoted("say \"hi\"\n", EscapeMode::Tree), R"("say \"hi\"\n")");
    EXPECT_EQ(quoted("", EscapeMode::C), R"("")");
    std::string out = "[";
    append_escaped(out, "a\tb", EscapeMode::Json);
    EXPECT_EQ(out, R"([a\tb)");
}

} // namespace
} // namespace kestal
