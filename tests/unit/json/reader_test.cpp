// The JSON reader: scalars, strings with every kind of escape, numbers at the
// limits of a double, the nesting limit, and one row per error message with
// its byte offset.
#include "json/json.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kestal {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string describe(const JsonParseResult &result) {
    return result.ok() ? "value " + json_text(result.value()) : "error " + result.error();
}

TEST(JsonReader, StringBodies) {
    struct Row {
        std::string body; // between the quotes
        std::string expected;
    };
    const Row rows[] = {
        {"", ""},
        {"plain", "plain"},
        {R"(\"\\\/\b\f\n\r\t)", "\"\\/\b\f\n\r\t"},
        // Raw control characters are taken as they stand.
        {"a\tb\nc\x01", "a\tb\nc\x01"},
        {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"},
        {R"(\u0041\u00e9\u00E9\u20ac\uFFFF)", "A\xc3\xa9\xc3\xa9\xe2\x82\xac\xef\xbf\xbf"},
        {R"(a\u0000b)", std::string("a\0b", 3)},
        {R"(\uD83D\uDE00)", "\xf0\x9f\x98\x80"},
        {R"(\udbff\udfff)", "\xf4\x8f\xbf\xbf"},
        // Surrogates that do not pair up.
        {R"(\uDE00)", kReplacement},
        {R"(\uD800)", kReplacement},
        {R"(\uD800x)", kReplacement + "x"},
        {R"(\uD800\u0041)", kReplacement + "A"},
        {R"(\uD800\n)", kReplacement + "\n"},
        {R"(\uD800\uD83D\uDE00)", kReplacement + "\xf0\x9f\x98\x80"},
        {R"(\uDE00\uD83D)", kReplacement + kReplacement},
        // The unsigned-integer reading of the four bytes admits a '+'.
        {R"(\u+04A)", "J"},
        // Runs between escapes are copied whole.
        {R"(ab\ncd\tef)", "ab\ncd\tef"},
    };
    for (const Row &row : rows) {
        JsonParseResult result = json_parse("\"" + row.body + "\"");
        ASSERT_TRUE(result.ok()) << row.body << ": " << result.error();
        ASSERT_EQ(result.value().kind(), JsonKind::String) << row.body;
        EXPECT_EQ(*result.value().string_if(), row.expected) << row.body;
    }
}

TEST(JsonReader, NumbersAtTheLimits) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        std::string text;
        double expected;
    };
    const Row rows[] = {
        {"0", 0.0},
        {" 1 ", 1.0},
        {"01", 1.0},
        {"1.", 1.0},
        {"-.5", -0.5},
        {"1E2", 100.0},
        {"1e+2", 100.0},
        {"2.5e-3", 0.0025},
        {"0.1", 0.1},
        {"0.30000000000000004", 0.30000000000000004},
        // Halfway between two doubles: rounds to even.
        {"9007199254740993", 9007199254740992.0},
        {"9007199254740995", 9007199254740996.0},
        {"1.7976931348623157e308", 1.7976931348623157e308},
        {"2.2250738585072014e-308", 2.2250738585072014e-308},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        // Beyond the range: infinities and zeros, with the sign kept.
        {"1e400", inf},
        {"-1e400", -inf},
        {"1.8e308", inf},
        {"123456789e305", inf},
        {"0.0000001e-400", 0.0},
        {"1e-400", 0.0},
        {"-2e-324", -0.0},
        {"1e99999999999999999999", inf},
        {"1e-99999999999999999999", 0.0},
        {"0e99999", 0.0},
        {"-0", -0.0},
    };
    for (const Row &row : rows) {
        JsonParseResult result = json_parse(row.text);
        ASSERT_TRUE(result.ok()) << row.text << ": " << result.error();
        std::optional<double> x = result.value().number_if();
        ASSERT_TRUE(x) << row.text;
        EXPECT_EQ(*x, row.expected) << row.text;
        EXPECT_EQ(std::signbit(*x), std::signbit(row.expected)) << row.text;
    }
}

TEST(JsonReader, ErrorsNameTheirByteOffset) {
    struct Row {
        std::string text;
        std::string error;
    };
    const Row rows[] = {
        {"", "unexpected end of JSON at byte 0"},
        {"  ", "unexpected end of JSON at byte 2"},
        {"[", "unexpected end of JSON at byte 1"},
        {"[1,", "unexpected end of JSON at byte 3"},
        {"{\"a\":", "unexpected end of JSON at byte 5"},
        {"[1,]", "unexpected character at byte 3"},
        {"{\"a\":}", "unexpected character at byte 5"},
        {"+1", "unexpected character at byte 0"},
        {".5", "unexpected character at byte 0"},
        {"\xEF\xBB\xBF"
         "1",
         "unexpected character at byte 0"},
        {"[1 2]", "expected ',' or ']' at byte 3"},
        {"[1", "expected ',' or ']' at byte 2"},
        {"{,}", "expected a member name at byte 1"},
        {"{1:2}", "expected a member name at byte 1"},
        {"{", "expected a member name at byte 1"},
        {"{\"a\":1,", "expected a member name at byte 7"},
        {"{\"a\":1,}", "expected a member name at byte 7"},
        {"{\"a\" 1", "expected ':' at byte 5"},
        {"{\"a\"", "expected ':' at byte 4"},
        {"{\"a\":1 \"b\":2}", "expected ',' or '}' at byte 7"},
        {"{\"a\":1", "expected ',' or '}' at byte 6"},
        {"nul", "invalid literal at byte 0"},
        {"[tru]", "invalid literal at byte 1"},
        {"nulL", "invalid literal at byte 0"},
        {"falsy", "invalid literal at byte 0"},
        {"truex", "unexpected text after the JSON value at byte 4"},
        {"1 2", "unexpected text after the JSON value at byte 2"},
        {"[1]]", "unexpected text after the JSON value at byte 3"},
        {"{} x", "unexpected text after the JSON value at byte 3"},
        {"-", "invalid number '-' at byte 0"},
        {"[1e]", "invalid number '1e' at byte 1"},
        {"1-2", "invalid number '1-2' at byte 0"},
        {"--1", "invalid number '--1' at byte 0"},
        {"-e5", "invalid number '-e5' at byte 0"},
        {"1.2.3", "invalid number '1.2.3' at byte 0"},
        {"[0, 1e+]", "invalid number '1e+' at byte 4"},
        {"\"a\\qb\"", "invalid escape at byte 4"},
        {"\"\\U0041\"", "invalid escape at byte 3"},
        {"\"abc", "unterminated string at byte 4"},
        {"\"", "unterminated string at byte 1"},
        {"\"ab\\", "unterminated string at byte 4"},
        {"\"\\u12\"", "invalid \\u escape at byte 3"},
        {"\"\\u12", "invalid \\u escape at byte 3"},
        {"\"\\u00G0\"", "invalid \\u escape at byte 3"},
        {"\"\\u-123\"", "invalid \\u escape at byte 3"},
        {"\"\\u 123\"", "invalid \\u escape at byte 3"},
        {"\"\\uD800\\u12\"", "invalid \\u escape at byte 9"},
        {"{\"k\\x\":1}", "invalid escape at byte 5"},
        {"\"\xff\"", "invalid UTF-8 at byte 1"},
        {"\"ok\\n\xc3\"", "invalid UTF-8 at byte 5"},
        {"\"\xed\xa0\x80\"", "invalid UTF-8 at byte 1"},
    };
    for (const Row &row : rows) {
        JsonParseResult result = json_parse(row.text);
        ASSERT_FALSE(result.ok()) << testing::PrintToString(row.text) << " gave "
                                  << json_text(result.value());
        EXPECT_EQ(result.error(), row.error) << testing::PrintToString(row.text);
    }
}

std::string nested_arrays(int depth, const std::string &inner) {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

std::string nested_objects(int depth, const std::string &inner) {
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "{\"a\":";
    return text + inner + std::string(depth, '}');
}

TEST(JsonReader, NestingLimit) {
    struct Row {
        std::string text;
        std::string outcome;
    };
    const Row rows[] = {
        {nested_arrays(256, "1"), "value " + nested_arrays(256, "1")},
        {nested_arrays(257, "1"), "error JSON nested too deeply at byte 257"},
        // An empty container reads no inner value.
        {nested_arrays(257, ""), "value " + nested_arrays(257, "")},
        {nested_arrays(258, ""), "error JSON nested too deeply at byte 257"},
        // An array skips the whitespace after '[' before reading an element.
        {std::string(256, '[') + "[ 1]", "error JSON nested too deeply at byte 258"},
        {nested_objects(256, "1"), "value " + nested_objects(256, "1")},
        {nested_objects(257, "1"), "error JSON nested too deeply at byte 1285"},
        // A member value's reading begins right after the colon, before any
        // whitespace.
        {nested_objects(257, " 1"), "error JSON nested too deeply at byte 1285"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(describe(json_parse(row.text)), row.outcome) << row.text.size() << " bytes";
}

TEST(JsonReader, VeryDeepDocumentIsRefusedNotACrash) {
    std::string text(1'000'000, '[');
    EXPECT_EQ(describe(json_parse(text)), "error JSON nested too deeply at byte 257");
    std::string objects;
    for (int i = 0; i < 200'000; ++i)
        objects += "{\"\":";
    EXPECT_EQ(describe(json_parse(objects)), "error JSON nested too deeply at byte 1028");
}

TEST(JsonReader, DocumentsReadThenWritten) {
    struct Row {
        std::string text;
        std::string written;
    };
    const Row rows[] = {
        {"null", "null"},
        {" true", "true"},
        {"false\r\n\t ", "false"},
        {"[]", "[]"},
        {"{}", "{}"},
        {"[ ]", "[]"},
        {"{ }", "{}"},
        {"[[],{}]", "[[],{}]"},
        {" { \"a\" : [ 1 , true , null , false ] , \"b\" : { } } ",
         R"({"a":[1,true,null,false],"b":{}})"},
        {R"({"a":1,"a":2,"b":{"a":3}})", R"({"a":1,"a":2,"b":{"a":3}})"},
        {R"(["\b\f","\u0001\u001F","\/"])", R"(["\u0008\u000c","\u0001\u001f","/"])"},
        {"[1e400,-1e400,-0,0.1,1E2,1.0e-7]", "[null,null,0,0.1,100,0.0000001]"},
        {R"({"\u00e9":"\ud83d\ude00"})", "{\"\xc3\xa9\":\"\xf0\x9f\x98\x80\"}"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(describe(json_parse(row.text)), "value " + row.written) << row.text;
}

TEST(JsonReader, KindsAndScalars) {
    JsonParseResult result = json_parse(R"({"s":"x","n":2.5,"b":false,"z":null,"a":[1],"o":{}})");
    ASSERT_TRUE(result.ok()) << result.error();
    const JsonValue &doc = result.value();
    EXPECT_EQ(doc.kind(), JsonKind::Object);
    EXPECT_EQ(*json_get(doc, "s").string_if(), "x");
    EXPECT_EQ(json_get(doc, "n").number_if(), 2.5);
    EXPECT_EQ(json_get(doc, "b").bool_if(), false);
    EXPECT_TRUE(json_get(doc, "z").is_null());
    EXPECT_EQ(json_get(doc, "a").array_if()->size(), 1u);
    EXPECT_TRUE(json_get(doc, "o").object_if()->empty());
    // A member of another kind reads as absent through each accessor.
    EXPECT_EQ(json_get(doc, "s").number_if(), std::nullopt);
    EXPECT_EQ(json_get(doc, "n").string_if(), nullptr);
    EXPECT_EQ(json_get(doc, "b").array_if(), nullptr);
    EXPECT_EQ(json_get(doc, "a").object_if(), nullptr);
    EXPECT_EQ(json_get(doc, "z").bool_if(), std::nullopt);
}

} // namespace
} // namespace kestal
