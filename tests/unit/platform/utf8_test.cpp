// Strict UTF-8 validity and lossy decoding, one row per kind of fault.
#include "platform/utf8.h"

#include <gtest/gtest.h>

namespace kestal::platform {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(PlatformUtf8, StrictValidity) {
    struct Row {
        std::string bytes;
        bool valid;
    };
    const Row rows[] = {
        {"", true},
        {"plain ascii", true},
        {std::string("nul\0inside", 10), true},
        {"\xc3\xa9", true},         // U+00E9
        {"\xe2\x82\xac", true},     // U+20AC
        {"\xf0\x9f\x98\x80", true}, // U+1F600
        {"\xf4\x8f\xbf\xbf", true}, // U+10FFFF, the last code point
        {"\xef\xbf\xbf", true},     // U+FFFF
        {"\xff", false},
        {"\x80", false},             // lone continuation
        {"\xc0\xaf", false},         // overlong '/'
        {"\xc1\xbf", false},         // overlong
        {"\xe0\x80\xaf", false},     // overlong three-byte
        {"\xf0\x80\x80\xaf", false}, // overlong four-byte
        {"\xed\xa0\x80", false},     // surrogate U+D800
        {"\xed\xbf\xbf", false},     // surrogate U+DFFF
        {"\xf4\x90\x80\x80", false}, // U+110000
        {"\xf5\x80\x80\x80", false},
        {"\xc3", false}, // truncated at the end
        {"\xe2\x82", false},
        {"\xe2\x82x", false}, // truncated before ASCII
    };
    for (const Row &row : rows)
        EXPECT_EQ(is_valid_utf8(row.bytes), row.valid) << testing::PrintToString(row.bytes);
}

TEST(PlatformUtf8, LossyDecodingReplacesMaximalSubparts) {
    const std::string r = kReplacement;
    struct Row {
        std::string bytes;
        std::string expected;
    };
    const Row rows[] = {
        {"ok \xc3\xa9", "ok \xc3\xa9"},
        {"a\xff"
         "b",
         "a" + r + "b"},
        // A truncated three-byte character is one replacement, not two.
        {"\xe2\x82x", r + "x"},
        {"\xf0\x9f\x98", r},
        // Each byte of an overlong form or surrogate is its own subpart.
        {"\xc0\xaf", r + r},
        {"\xed\xa0\x80", r + r + r},
        {"\x80\x80", r + r},
    };
    for (const Row &row : rows)
        EXPECT_EQ(decode_utf8_lossy(row.bytes), row.expected) << testing::PrintToString(row.bytes);
}

} // namespace
} // namespace kestal::platform
