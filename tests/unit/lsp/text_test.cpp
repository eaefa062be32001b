// Line scanning of the language server: lines, UTF-16 positions, words
// under a cursor, headers, enclosing functions, whole-word search, URIs.
#include "lsp/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal::lsp {
namespace {

std::vector<std::string> owned(const std::vector<std::string_view> &lines) {
    return {lines.begin(), lines.end()};
}

TEST(DocumentLines, SplitsAtLineFeedsAndDropsOneCarriageReturn) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", {""}},
        {"a", {"a"}},
        {"a\n", {"a", ""}},
        {"a\r\nb\r\n", {"a", "b", ""}},
        {"a\r\r\nb", {"a\r", "b"}},
        {"\n\n", {"", "", ""}},
        {"x\ry", {"x\ry"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(owned(document_lines(c.text)), c.lines) << c.text;
}

TEST(Positions, Utf16CharacterToCharIndex) {
    // "a😀b": the emoji takes two UTF-16 units.
    const std::string line = "a\xF0\x9F\x98\x80"
                             "b";
    struct Case {
        std::uint64_t character;
        std::size_t index;
    };
    const Case cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 2}, {4, 3}, {5, 3}, {99, 3}};
    for (const Case &c : cases)
        EXPECT_EQ(character_to_char_index(line, c.character), c.index) << c.character;
    EXPECT_EQ(utf16_units(decode_chars(line), 2), 3u);
    EXPECT_EQ(utf16_units(decode_chars(line), 99), 4u);
    EXPECT_EQ(utf16_units(decode_chars("\xC3\xA9"), 1), 1u);
}

TEST(Positions, PositionToOffsetStaysOnCharacterBoundaries) {
    // Line 0: "é😀x\r", line 1: "yz".
    const std::string text = "\xC3\xA9\xF0\x9F\x98\x80x\r\nyz";
    struct Case {
        std::uint64_t line;
        std::uint64_t character;
        std::size_t offset;
    };
    const Case cases[] = {
        {0, 0, 0},
        {0, 1, 2},
        // The middle of the surrogate pair moves after the pair.
        {0, 2, 6},
        {0, 3, 6},
        {0, 4, 7},
        // Past the end of a line ending in "\r\n": between '\r' and '\n'.
        {0, 5, 8},
        {0, 50, 8},
        {1, 0, 9},
        {1, 2, 11},
        {1, 7, 11},
        // Past the last line: the text's length.
        {2, 0, 11},
        {UINT64_MAX, UINT64_MAX, 11},
    };
    for (const Case &c : cases)
        EXPECT_EQ(position_to_offset(text, c.line, c.character), c.offset)
            << c.line << ":" << c.character;
}

TEST(CodeAt, StringsCommentsAndFStringFields) {
    struct Case {
        std::string line;
        std::size_t index;
        bool code;
    };
    const Case cases[] = {
        {"x = 1", 0, true},
        {"x = 'abc'", 5, false},
        {"x = 'abc'", 4, false},
        {"x = 'abc' + y", 12, true},
        {"x = 1  # note", 9, false},
        {"s = '#' + y", 10, true},
        {"s = f'{y}'", 7, true},
        {"s = f'{{y}}'", 8, false},
        {"s = F'a {d[\"k\"]} b'", 9, true},
        {"s = rf'{y}'", 8, true},
        {"s = fr'{y}'", 8, true},
        {"s = r'{y}'", 7, false},
        {"s = 'a\\'b' + c", 13, true},
        {"s = 'a\\'b' + c", 8, false},
        {"s = \"\"\"doc\"\"\"", 7, false},
        {"x", 5, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(is_code_at(decode_chars(c.line), c.index), c.code) << c.line << " @" << c.index;
}

TEST(WordAtPosition, FindsTheIdentifierAndItsReceiver) {
    using R = CursorWord::Receiver;
    struct Case {
        std::string line;
        std::size_t index;
        std::string word; // empty: no word
        R receiver;
        std::string receiver_name;
    };
    const Case cases[] = {
        {"total = price * 2", 2, "total", R::None, ""},
        // Right after the identifier (on a space or a bracket).
        {"total = price * 2", 5, "total", R::None, ""},
        {"f(x)", 1, "f", R::None, ""},
        {"total = price * 2", 16, "", R::None, ""},
        {"n = 12", 5, "", R::None, ""},
        {"s = 'price'", 6, "", R::None, ""},
        {"x = 1  # price", 11, "", R::None, ""},
        {"s = f'{price}'", 8, "price", R::None, ""},
        {"s = f'{{price}}'", 9, "", R::None, ""},
        {"p.x", 2, "x", R::Name, "p"},
        {"a.b.c", 4, "c", R::Name, "b"},
        {"p . x", 4, "x", R::Name, "p"},
        {"p\t.x", 3, "x", R::Dot, ""},
        {"f().x", 4, "x", R::Dot, ""},
        {".x", 1, "x", R::Dot, ""},
        {"1.x", 2, "x", R::Dot, ""},
        {"café = 1", 1, "café", R::None, ""},
        {"x😀y", 0, "x", R::None, ""},
        {"", 0, "", R::None, ""},
    };
    for (const Case &c : cases) {
        std::optional<CursorWord> w = word_at_position(c.line, c.index);
        if (c.word.empty()) {
            EXPECT_FALSE(w.has_value()) << c.line << " @" << c.index;
            continue;
        }
        ASSERT_TRUE(w.has_value()) << c.line << " @" << c.index;
        EXPECT_EQ(w->word, c.word) << c.line;
        EXPECT_EQ(w->receiver, c.receiver) << c.line;
        EXPECT_EQ(w->receiver_name, c.receiver_name) << c.line;
    }
    std::optional<CursorWord> w = word_at_position("    value.field", 12);
    ASSERT_TRUE(w);
    EXPECT_EQ(w->start, 10u);
    EXPECT_EQ(w->end, 15u);
}

TEST(DefOrClassName, ReadsHeaders) {
    struct Case {
        std::string line;
        std::string keyword;
        std::optional<std::string> name;
    };
    const Case cases[] = {
        {"def area(w: int) -> int:", "def", "area"},
        {"    class Point(Base):", "class", "Point"},
        {"def\tf():", "def", "f"},
        {"define = 3", "def", std::nullopt},
        {"class(x)", "class", std::nullopt},
        {"def ", "def", std::nullopt},
        {"def (", "def", std::nullopt},
        {"x = 1", "def", std::nullopt},
        {"def f():", "class", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(def_or_class_name(c.line, c.keyword), c.name) << c.line;
}

TEST(EnclosingDefOrClass, KeysByIndentation) {
    const std::string text = "import math\n"          // 0
                             "class Shape:\n"         // 1
                             "    sides = 3\n"        // 2
                             "    def area(self):\n"  // 3
                             "        x = 1\n"        // 4
                             "\n"                     // 5
                             "        # note\n"       // 6
                             "        if x:\n"        // 7
                             "            return x\n" // 8
                             "def top(a):\n"          // 9
                             "    def inner():\n"     // 10
                             "        pass\n"         // 11
                             "    return a\n"         // 12
                             "y = top(1)\n";          // 13
    std::vector<std::string_view> lines = document_lines(text);
    struct Case {
        std::size_t index;
        std::optional<std::string> key;
    };
    const Case cases[] = {
        {0, std::nullopt},  {1, std::nullopt},  {2, std::nullopt}, {3, "Shape.area"},
        {4, "Shape.area"},  {5, "Shape.area"},  {6, "Shape.area"}, {8, "Shape.area"},
        {9, "top"},         {10, "inner"},      {11, "inner"},     {12, "top"},
        {13, std::nullopt}, {99, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(enclosing_def_or_class(lines, c.index), c.key) << c.index;
    EXPECT_EQ(enclosing_def_or_class({}, 0), std::nullopt);
}

TEST(FindWholeWord, MatchesWholeIdentifiersInCode) {
    struct Case {
        std::string line;
        std::string word;
        std::size_t first;
        std::optional<std::size_t> at;
    };
    const Case cases[] = {
        {"count = counter + count", "count", 0, 0},
        {"count = counter + count", "count", 1, 18},
        {"recount = 1", "count", 0, std::nullopt},
        {"counts = 1", "count", 0, std::nullopt},
        {"p.count = 1", "count", 0, std::nullopt},
        {"count.x = 1", "count", 0, 0},
        {"s = 'count'  # count", "count", 0, std::nullopt},
        {"self.x = 1", "self.x", 0, 0},
        {"self.xy = 1", "self.x", 0, std::nullopt},
        {"ab", "abc", 0, std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(find_whole_word(decode_chars(c.line), decode_chars(c.word), c.first), c.at)
            << c.line << " / " << c.word;
}

TEST(UriToPath, LocalFilesOnly) {
    struct Case {
        std::string uri;
        std::optional<std::string> path;
    };
    const Case cases[] = {
        {"file:///home/a/x.ktl", "/home/a/x.ktl"},
        {"file://localhost/home/a/x.ktl", "/home/a/x.ktl"},
        {"file://LocalHost/x.ktl", "/x.ktl"},
        {"file:///home/my%20dir/%C3%A9t%c3%a9.ktl", "/home/my dir/\xC3\xA9t\xC3\xA9.ktl"},
        {"file:///a%2", "/a%2"},
        {"file:///a%zz%", "/a%zz%"},
        {"file:///c%3A/x.ktl", "/c:/x.ktl"},
        {"file:///bad%FF.ktl", "/bad\xEF\xBF\xBD.ktl"},
        {"file://server/share/x.ktl", std::nullopt},
        {"file://", std::nullopt},
        {"untitled:Untitled-1", std::nullopt},
        {"http://host/x.ktl", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(uri_to_path(c.uri), c.path) << c.uri;
}

TEST(PathToUri, EscapesAndRoundTrips) {
    EXPECT_EQ(path_to_uri("/home/a/x.ktl"), "file:///home/a/x.ktl");
    EXPECT_EQ(path_to_uri("/tmp/my dir/%#?\xC3\xA9.ktl"),
              "file:///tmp/my%20dir/%25%23%3F%C3%A9.ktl");
    for (std::string path : {"/a b/c", "/x/%41", "/\xF0\x9F\x98\x80/y.ktl"})
        EXPECT_EQ(uri_to_path(path_to_uri(path)), path);
    std::string relative = path_to_uri("rel.ktl");
    EXPECT_TRUE(relative.starts_with("file:///")) << relative;
    EXPECT_TRUE(relative.ends_with("/rel.ktl")) << relative;
}

} // namespace
} // namespace kestal::lsp
