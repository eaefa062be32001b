// Error table: every lexer message with the exact line and column it points
// at. Lexing stops at the first fault, so each row holds exactly one.
#include "lexer/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal {
namespace {

struct ErrorCase {
    std::string source;
    std::string message;
    uint64_t line;
    uint64_t column;
};

const char *const kIndent = "this line's indentation doesn't match any outer block";
const char *const kTabs = "inconsistent use of tabs and spaces in indentation";
const char *const kOneQuote = "unterminated string (use triple quotes for multi-line strings)";
const char *const kString = "unterminated string";
const char *const kHex = "invalid \\x escape (expected two hex digits)";
const char *const kHex4 = "invalid \\u escape (expected four hex digits)";
const char *const kHex8 = "invalid \\U escape (expected eight hex digits)";
const char *const kNamed =
    "\\N{...} escapes aren't supported (write the character itself, or use \\u or \\U)";
const char *const kFString = "unterminated f-string";
const char *const kField = "unterminated '{' in f-string";
const char *const kBrace = "single '}' is not allowed in an f-string (use '}}')";
const char *const kNumber = "invalid number literal";
const char *const kTooLarge = "integer literal too large (Kestal ints are 64-bit)";
const char *const kFloat = "invalid float literal";

void check_errors(const std::vector<ErrorCase> &rows) {
    for (const ErrorCase &row : rows) {
        SCOPED_TRACE(row.source);
        try {
            std::vector<Token> tokens = tokenize(row.source);
            ADD_FAILURE() << "no error; tokens: " << dump_tokens(tokens);
        } catch (const CompileError &error) {
            EXPECT_EQ(error.message, row.message);
            EXPECT_EQ(error.line, row.line);
            EXPECT_EQ(error.column, row.column);
        }
    }
}

TEST(LexerErrors, Indentation) {
    check_errors({
        {"if a:\n        b\n  c\n", kIndent, 3, 3},
        {"if a:\n  b\n c\n", kIndent, 3, 2},
        {"if a:\n    if b:\n        c\n  d\n", kIndent, 4, 3},
        // Where a tab decides how the unmatched line compares with a level
        // (a tab of one column against tab stops of eight), the tabs are
        // named; where the tab size changes nothing, the plain message stays.
        {"if a:\n\tb\n  \tc\n  d\n", kTabs, 4, 3},
        {"if a:\n\tif b:\n\t\tc\n      d\n", kTabs, 4, 7},
        {"if a:\n  b\n\tc\n d\n", kTabs, 4, 2},
        {"if a:\n\tif b:\n\t\tc\n\t  d\n", kTabs, 4, 4},
        {"if a:\n\t b\n c\n", kIndent, 3, 2},
    });
}

TEST(LexerErrors, UnexpectedCharacters) {
    check_errors({
        {"$", "unexpected character '$'", 1, 1},
        {"x ? y", "unexpected character '?'", 1, 3},
        {"a = `b`", "unexpected character '`'", 1, 5},
        {"!x", "unexpected character '!'", 1, 1},
        {"a ! = b", "unexpected character '!'", 1, 3},
        {"a \\ b", "unexpected character '\\'", 1, 3},
        {"x = 1 \\", "unexpected character '\\'", 1, 7},
        {"\xc3\xa9 = 1", "unexpected character '\xc3\xa9'", 1, 1},
        {"x = '\xc3\xa9' + \xe2\x82\xac", "unexpected character '\xe2\x82\xac'", 1, 11},
        {"x = 1\n  \x01", "unexpected character '\\x01'", 2, 3},
        {"x\x7f", "unexpected character '\\x7f'", 1, 2},
        {"x\f", "unexpected character '\\x0c'", 1, 2},
        {std::string("a\0b", 3), "unexpected character '\\x00'", 1, 2},
        {"x \xff", "unexpected character '\\xff'", 1, 3},
        {"x \x80", "unexpected character '\\x80'", 1, 3},
        {"x \xc3", "unexpected character '\\xc3'", 1, 3},
        // A byte-order mark is skipped only where the text starts, and only
        // in its UTF-8 form; columns count from the character after it.
        {"\xef\xbb\xbfx = $", "unexpected character '$'", 1, 5},
        {"x = 1\n\xef\xbb\xbfy = 2", "unexpected character '\xef\xbb\xbf'", 2, 1},
        {"\xef\xbb\xbf\xef\xbb\xbfx", "unexpected character '\xef\xbb\xbf'", 1, 1},
        {"\xff\xfex", "unexpected character '\\xff'", 1, 1},
    });
}

TEST(LexerErrors, Strings) {
    check_errors({
        {"'a\nb'", kOneQuote, 1, 3},
        {"x = \"ab\n", kOneQuote, 1, 8},
        {"'abc", kString, 1, 5},
        // An open triple-quoted string is reported where it starts.
        {"'''abc\n", kString, 1, 1},
        {"'''abc''", kString, 1, 1},
        {"x = 1\ny = \"\"\"a\nb\n\nc", kString, 2, 5},
        {"'''a\\", kString, 1, 1},
        {"'a\\", kString, 1, 4},
        {"'\\x4'", kHex, 1, 6},
        {"'\\xg1'", kHex, 1, 6},
        {"'\\x", kHex, 1, 4},
        {"'\\x4", kHex, 1, 5},
        {"'\\x\xc3\xa9\xc3\xa9'", kHex, 1, 6},
        {"'\\u00e'", kHex4, 1, 8},
        {"'\\u00'", kHex4, 1, 7},
        {"'\\U0001F60'", kHex8, 1, 12},
        {"'\\U0001F60z'", kHex8, 1, 12},
        {"'\\N{BULLET}'", kNamed, 1, 2},
        {"f'\\N{BULLET}'", kNamed, 1, 3},
        {"'\\U00110000'", "invalid \\U escape: U+110000 isn't a character that UTF-8 can hold", 1,
         12},
        {"'\\ud800'", "invalid \\u escape: U+D800 isn't a character that UTF-8 can hold", 1, 8},
    });
}

TEST(LexerErrors, FStrings) {
    check_errors({
        {"f'abc", kFString, 1, 6},       {"f'ab\nc'", kFString, 1, 5},
        {"f'\\", kString, 1, 4},         {"f'{x'", kField, 1, 5},
        {"f'{x\n'", kField, 1, 5},       {"f'{x", kField, 1, 5},
        {"f'{d['k']}'", kField, 1, 6},   {"f\"{'a:b}\"", kField, 1, 9},
        {"f\"{'a\nb'}\"", kField, 1, 6}, {"f\"{'a\\\"}\"", kField, 1, 7},
        {"f'{(x}'", kField, 1, 7},       {"f'{x:abc\n'", kField, 1, 9},
        {"f'{x:ab'", kField, 1, 8},      {"f'{x:ab", kFString, 1, 8},
        {"f'{x!r", kField, 1, 7},        {"f'a}b'", kBrace, 1, 4},
        {"f'}'", kBrace, 1, 3},          {"f'{x:{w}}'", kBrace, 1, 9},
        {"f'{x}}'", kBrace, 1, 6},
    });
}

TEST(LexerErrors, Numbers) {
    check_errors({
        {"0x", kNumber, 1, 1},
        {"0b", kNumber, 1, 1},
        {"0o_", kNumber, 1, 1},
        {"x = 0b102", kNumber, 1, 5},
        {"0b12", kNumber, 1, 1},
        {"0o8", kNumber, 1, 1},
        {"0o7a", kNumber, 1, 1},
        {"0xfg", kNumber, 1, 1},
        {"0x1_0000_0000_0000_0000", kNumber, 1, 1},
        {"0xfffffffffffffffff", kNumber, 1, 1},
        {"0b1" + std::string(64, '0'), kNumber, 1, 1},
        {"9223372036854775808", kTooLarge, 1, 1},
        {"x = 99999999999999999999999", kTooLarge, 1, 5},
        {"00009223372036854775808", kTooLarge, 1, 1},
        {"1e+x", kFloat, 1, 1},
        {"1e5e3", kFloat, 1, 1},
        {"y = 1e-", kFloat, 1, 5},
        {"1.5e+", kFloat, 1, 1},
    });
}

} // namespace
} // namespace kestal
