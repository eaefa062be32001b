// The JSON writer, the values and the member lookup: number and string forms,
// duplicate keys, the shared Null, deep copies, and the round trip of the
// writer's text through the reader.
#include "json/json.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace kestal {
namespace {

TEST(JsonWriter, Numbers) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Row {
        double x;
        std::string text;
    };
    const Row rows[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {3.0, "3"},
        {-42.0, "-42"},
        {999999999999999.0, "999999999999999"},
        {-999999999999999.0, "-999999999999999"},
        {1e15, "1000000000000000"},
        {-1e15, "-1000000000000000"},
        {1e16, "10000000000000000"},
        {1e300, "1" + std::string(300, '0')},
        {1.7976931348623157e308, "17976931348623157" + std::string(292, '0')},
        {123456789012345.5, "123456789012345.5"},
        {-123456789012345.25, "-123456789012345.25"},
        {1.5, "1.5"},
        {-2.5, "-2.5"},
        {123.456, "123.456"},
        {0.1, "0.1"},
        {0.30000000000000004, "0.30000000000000004"},
        {1.5e-7, "0.00000015"},
        {1e-7, "0.0000001"},
        {-1e-7, "-0.0000001"},
        {5e-324, "0." + std::string(323, '0') + "5"},
        {std::nan(""), "null"},
        {inf, "null"},
        {-inf, "null"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(json_text(JsonValue::number(row.x)), row.text) << row.x;
}

TEST(JsonWriter, Strings) {
    struct Row {
        std::string text;
        std::string written;
    };
    const Row rows[] = {
        {"", R"("")"},
        {"say \"hi\"", R"("say \"hi\"")"},
        {"a\\b", R"("a\\b")"},
        {"\n\r\t", R"("\n\r\t")"},
        {"\b\f", R"("\u0008\u000c")"},
        {std::string("\0\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
        {"/ \x7f \xc3\xa9 \xf0\x9f\x98\x80", "\"/ \x7f \xc3\xa9 \xf0\x9f\x98\x80\""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(json_text(json_string(row.text)), row.written)
            << testing::PrintToString(row.text);
}

TEST(JsonWriter, ContainersAreCompactAndKeepOrder) {
    JsonValue doc = JsonValue::object();
    doc.push("z", JsonValue::number(1));
    doc.push("a\"", JsonValue::array({JsonValue(), JsonValue::boolean(true), json_string("x")}));
    doc.push("z", JsonValue::object());
    EXPECT_EQ(json_text(doc), R"({"z":1,"a\"":[null,true,"x"],"z":{}})");
    EXPECT_EQ(fmt::format("<{}>", doc), R"(<{"z":1,"a\"":[null,true,"x"],"z":{}}>)");

    std::string sink = "prefix ";
    json_write(JsonValue::array(), sink);
    EXPECT_EQ(sink, "prefix []");
}

TEST(JsonValues, LookupTakesTheFirstPairAndMissIsTheSharedNull) {
    JsonParseResult result = json_parse(R"({"a":1,"a":2,"n":null,"A":3})");
    ASSERT_TRUE(result.ok()) << result.error();
    const JsonValue &doc = result.value();
    EXPECT_EQ(json_get(doc, "a").number_if(), 1.0);
    EXPECT_EQ(json_get(doc, "A").number_if(), 3.0);
    EXPECT_EQ(&json_get(doc, "missing"), &json_null());
    EXPECT_EQ(&json_get(doc, "a\0"), &json_get(doc, "a"));
    EXPECT_EQ(&json_get(doc, std::string_view("a\0", 2)), &json_null());
    EXPECT_TRUE(json_get(doc, "n").is_null());
    // Anything but an Object has no members.
    for (const char *text : {"[1]", "\"a\"", "1", "null", "true"}) {
        JsonParseResult other = json_parse(text);
        ASSERT_TRUE(other.ok()) << text;
        EXPECT_EQ(&json_get(other.value(), "a"), &json_null()) << text;
    }
    EXPECT_EQ(json_text(doc), R"({"a":1,"a":2,"n":null,"A":3})");
}

TEST(JsonValues, CopiesAreDeep) {
    JsonValue original = JsonValue::object({{"list", JsonValue::array({JsonValue::number(1)})}});
    JsonValue copy = original;
    copy.object_if()->front().value.push(JsonValue::number(2));
    EXPECT_EQ(json_text(original), R"({"list":[1]})");
    EXPECT_EQ(json_text(copy), R"({"list":[1,2]})");
    EXPECT_FALSE(original == copy);
    copy.object_if()->front().value.array_if()->pop_back();
    EXPECT_TRUE(original == copy);
}

TEST(JsonValues, PushOnTheWrongKindIsAFault) {
    JsonValue number = JsonValue::number(1);
    EXPECT_THROW(number.push(JsonValue()), std::logic_error);
    JsonValue array = JsonValue::array();
    EXPECT_THROW(array.push("k", JsonValue()), std::logic_error);
}

// Every finite double but -0.0 reads back exactly from the writer's text.
TEST(JsonRoundTrip, FiniteDoublesReadBackExactly) {
    std::mt19937_64 bits(20240611);
    int checked = 0;
    for (int i = 0; i < 20000; ++i) {
        std::uint64_t pattern = bits();
        double x;
        std::memcpy(&x, &pattern, sizeof x);
        // Half the cases at ordinary magnitudes, where the integer form and
        // short fractions are exercised.
        if (i % 2)
            x = std::ldexp(static_cast<double>(pattern >> 11), -static_cast<int>(pattern % 64));
        if (!std::isfinite(x) || (x == 0 && std::signbit(x)))
            continue;
        std::string text = json_text(JsonValue::number(x));
        ASSERT_EQ(text.find_first_of("eE"), std::string::npos) << text;
        JsonParseResult back = json_parse(text);
        ASSERT_TRUE(back.ok()) << text << ": " << back.error();
        ASSERT_EQ(back.value().number_if(), x) << text;
        ++checked;
    }
    EXPECT_GT(checked, 19000);
}

TEST(JsonRoundTrip, WrittenDocumentsReadBackEqual) {
    std::string every_byte;
    for (int c = 0; c < 0x80; ++c)
        every_byte += static_cast<char>(c);
    every_byte += "\xc3\xa9\xf0\x9f\x98\x80";
    JsonValue doc = JsonValue::object({
        {every_byte, json_string(every_byte)},
        {"", JsonValue::array({JsonValue(), JsonValue::boolean(false), JsonValue::number(-1.25),
                               JsonValue::array(), JsonValue::object()})},
        {"dup", JsonValue::number(1)},
        {"dup", JsonValue::number(2)},
    });
    std::string text = json_text(doc);
    JsonParseResult back = json_parse(text);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_TRUE(back.value() == doc) << text;
    EXPECT_EQ(json_text(back.value()), text);
}

} // namespace
} // namespace kestal
