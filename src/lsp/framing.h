// Content-Length framing of the language server's input and output, on raw
// bytes. A message is a block of header lines ended by an empty line, then a
// body of exactly the length the last Content-Length header declared.
//
// The declared length is never trusted for memory: a body is read in chunks
// as the bytes arrive, and a declared length over kMaxBodyBytes (or a header
// line over kMaxHeaderLineBytes) ends the input as a read error would.
// Whatever the input, reading ends in a body, an error text, or the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kestal::lsp {

inline constexpr std::uint64_t kMaxBodyBytes = std::uint64_t{64} << 20;
inline constexpr std::size_t kMaxHeaderLineBytes = std::size_t{1} << 20;

// Where the bytes come from: standard input for the server, a string in
// tests.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to `size` bytes into `buffer`: the count read, 0 at the end of the
    // input, or a negative number for a read error.
    virtual std::ptrdiff_t read_some(char *buffer, std::size_t size) = 0;
};

// Reads a file descriptor; a read interrupted by a signal is retried.
class FdSource final : public ByteSource {
  public:
    explicit FdSource(int fd) : fd_(fd) {}
    std::ptrdiff_t read_some(char *buffer, std::size_t size) override;

  private:
    int fd_;
};

// Hands out a fixed text, at most `chunk` bytes per read (so tests see
// messages split across reads), then the end.
class StringSource final : public ByteSource {
  public:
    explicit StringSource(std::string text, std::size_t chunk = 4096)
        : text_(std::move(text)), chunk_(chunk == 0 ? 1 : chunk) {}
    std::ptrdiff_t read_some(char *buffer, std::size_t size) override;

  private:
    std::string text_;
    std::size_t chunk_;
    std::size_t pos_ = 0;
};

// A buffered reader of lines and exact byte counts over a source.
class FrameReader {
  public:
    explicit FrameReader(ByteSource &source) : source_(source) {}
    // One line up to and including its '\n'; none at the end of the input,
    // on a read error, for a last line without '\n', or for a line longer
    // than kMaxHeaderLineBytes.
    std::optional<std::string> read_line();
    // Exactly n bytes; none when the input ends or fails first.
    std::optional<std::string> read_exact(std::uint64_t n);

  private:
    // Reads more bytes into the buffer; false at the end or on an error.
    bool fill();

    ByteSource &source_;
    std::string buffer_;
    std::size_t pos_ = 0;
    bool ended_ = false;
};

// One framed body read from the input.
struct FrameBody {
    std::string bytes;
};
// A body that cannot be used; the text says why.
struct FrameError {
    std::string text;
};
// The input ended, failed, or declared an impossible length: reading stops.
struct FrameEnd {};
using Frame = std::variant<FrameBody, FrameError, FrameEnd>;

// Reads header blocks until one declares a valid length, then its body. A
// block without a valid last Content-Length header is skipped. A body that is
// not UTF-8 gives the error "message is not UTF-8".
Frame read_frame(FrameReader &reader);

// The value of a Content-Length header: an optional '+' and decimal digits,
// trimmed of white space, no overflow; none when invalid.
std::optional<std::uint64_t> parse_content_length(std::string_view value);

// "Content-Length: {}\r\n\r\n{}" with the body's length in bytes.
std::string frame_message(std::string_view body);

} // namespace kestal::lsp
