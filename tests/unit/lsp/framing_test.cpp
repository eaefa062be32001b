// Content-Length framing on raw bytes: split and joined messages, header
// forms, bad headers, truncated input and lying lengths.
#include "lsp/framing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal::lsp {
namespace {

// Every frame of the input until the end, as "body:<bytes>" or
// "error:<text>".
std::vector<std::string> frames(const std::string &input, std::size_t chunk = 4096) {
    StringSource source(input, chunk);
    FrameReader reader(source);
    std::vector<std::string> out;
    for (int guard = 0; guard < 1000; ++guard) {
        Frame frame = read_frame(reader);
        if (const auto *body = std::get_if<FrameBody>(&frame))
            out.push_back("body:" + body->bytes);
        else if (const auto *error = std::get_if<FrameError>(&frame))
            out.push_back("error:" + error->text);
        else
            return out;
    }
    ADD_FAILURE() << "reader never reached the end";
    return out;
}

using Frames = std::vector<std::string>;

TEST(Framing, HeaderFormsAndBadBlocks) {
    struct Case {
        const char *name;
        std::string input;
        Frames expected;
    };
    const Case cases[] = {
        {"plain", "Content-Length: 2\r\n\r\n{}", {"body:{}"}},
        {"line feeds only", "Content-Length: 2\n\n{}", {"body:{}"}},
        {"any letter case, no space", "content-LENGTH:2\r\n\r\nab", {"body:ab"}},
        {"plus sign and blanks", "Content-Length :  +3  \r\n\r\nabc", {"body:abc"}},
        {"other headers ignored",
         "Content-Type: application/json\r\nX: y\r\nnoise\r\nContent-Length: 1\r\n\r\nz",
         {"body:z"}},
        {"blank lines between messages",
         "\r\n\r\nContent-Length: 1\r\n\r\na\r\n\nContent-Length: 1\r\n\r\nb",
         {"body:a", "body:b"}},
        {"zero length", "Content-Length: 0\r\n\r\n", {"body:"}},
        {"trailing letter skips the block",
         "Content-Length: 2x\r\n\r\nContent-Length: 1\r\n\r\nk",
         {"body:k"}},
        {"minus skips", "Content-Length: -1\r\n\r\nContent-Length: 1\r\n\r\nk", {"body:k"}},
        {"lone plus skips", "Content-Length: +\r\n\r\n", {}},
        {"empty value skips", "Content-Length:\r\n\r\nContent-Length: 1\r\n\r\nq", {"body:q"}},
        {"valid then invalid skips",
         "Content-Length: 1\r\nContent-Length: x\r\n\r\nContent-Length: 1\r\n\r\nq",
         {"body:q"}},
        {"invalid then valid is accepted",
         "Content-Length: x\r\nContent-Length: 1\r\n\r\nq",
         {"body:q"}},
        {"no length header", "Content-Type: x\r\n\r\nContent-Length: 1\r\n\r\nq", {"body:q"}},
        {"overflow", "Content-Length: 18446744073709551616\r\n\r\n", {}},
        {"length longer than the input", "Content-Length: 10\r\n\r\nabc", {}},
        {"ends inside the header", "Content-Length: 3\r\n", {}},
        {"ends without a line feed", "Content-Length: 3", {}},
        {"body not UTF-8",
         "Content-Length: 2\r\n\r\n\xC3(Content-Length: 1\r\n\r\nz",
         {"error:message is not UTF-8", "body:z"}},
        {"header not UTF-8 ends the input", "Content-Length: 1\xFF\r\n\r\na", {}},
        {"more than 64 MiB declared", "Content-Length: 67108865\r\n\r\nabc", {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(frames(c.input), c.expected) << c.name;
        // Arriving one byte at a time changes nothing.
        EXPECT_EQ(frames(c.input, 1), c.expected) << c.name << " (byte by byte)";
    }
}

TEST(Framing, JoinedAndSplitMessages) {
    std::string joined;
    Frames expected;
    for (int i = 0; i < 50; ++i) {
        std::string body = "{\"id\":" + std::to_string(i) + ",\"text\":\"" +
                           std::string(static_cast<std::size_t>(i * 37), 'x') + "\"}";
        joined += frame_message(body);
        expected.push_back("body:" + body);
    }
    for (std::size_t chunk : {1, 3, 7, 64, 100000})
        EXPECT_EQ(frames(joined, chunk), expected) << chunk;
}

TEST(Framing, LargeDeclaredLengthIsNotAllocatedUpFront) {
    // 64 MiB exactly is allowed, yet only the bytes present are ever held:
    // the reader ends without a message instead of reserving the space.
    EXPECT_EQ(frames("Content-Length: 67108864\r\n\r\n{}"), Frames{});
    EXPECT_EQ(frames("Content-Length: 99999999999999\r\n\r\n{}"), Frames{});
}

TEST(Framing, OverlongHeaderLineEndsTheInput) {
    std::string input =
        "X-Pad: " + std::string(kMaxHeaderLineBytes + 10, 'a') + "\r\nContent-Length: 1\r\n\r\nz";
    EXPECT_EQ(frames(input), Frames{});
}

TEST(Framing, ContentLengthValues) {
    struct Case {
        std::string value;
        std::optional<std::uint64_t> length;
    };
    const Case cases[] = {
        {"0", 0},
        {" 42 ", 42},
        {"+7", 7},
        {"\t+007\t", 7},
        {"18446744073709551615", UINT64_MAX},
        {"18446744073709551616", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"++1", std::nullopt},
        {"-0", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse_content_length(c.value), c.length) << c.value;
}

TEST(Framing, WritesTheHeaderWithTheByteLength) {
    EXPECT_EQ(frame_message("{}"), "Content-Length: 2\r\n\r\n{}");
    EXPECT_EQ(frame_message("\"\xC3\xA9\""), "Content-Length: 4\r\n\r\n\"\xC3\xA9\"");
}

} // namespace
} // namespace kestal::lsp
