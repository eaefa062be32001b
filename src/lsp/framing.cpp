// Content-Length framing. The reader keeps one buffer and a read position;
// a body grows only by the bytes that actually arrived, in chunks of at most
// kChunk bytes, so a lying header costs nothing until the bytes come.
#include "lsp/framing.h"

#include "lsp/text.h"
#include "platform/utf8.h"

#include <algorithm>
#include <cerrno>
#include <fmt/format.h>
#include <unistd.h>

namespace kestal::lsp {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

} // namespace

std::ptrdiff_t FdSource::read_some(char *buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::read(fd_, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

std::ptrdiff_t StringSource::read_some(char *buffer, std::size_t size) {
    std::size_t n = std::min({size, chunk_, text_.size() - pos_});
    std::copy_n(text_.data() + pos_, n, buffer);
    pos_ += n;
    return static_cast<std::ptrdiff_t>(n);
}

bool FrameReader::fill() {
    if (ended_)
        return false;
    if (pos_ > 0) {
        buffer_.erase(0, pos_);
        pos_ = 0;
    }
    char chunk[kChunk];
    std::ptrdiff_t n = source_.read_some(chunk, sizeof chunk);
    if (n <= 0) {
        ended_ = true;
        return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::optional<std::string> FrameReader::read_line() {
    std::size_t searched = pos_;
    for (;;) {
        std::size_t newline = buffer_.find('\n', searched);
        if (newline != std::string::npos) {
            if (newline + 1 - pos_ > kMaxHeaderLineBytes) {
                ended_ = true;
                return std::nullopt;
            }
            std::string line = buffer_.substr(pos_, newline + 1 - pos_);
            pos_ = newline + 1;
            return line;
        }
        if (buffer_.size() - pos_ > kMaxHeaderLineBytes) {
            ended_ = true;
            return std::nullopt;
        }
        std::size_t kept = buffer_.size() - pos_;
        if (!fill())
            return std::nullopt;
        searched = kept;
    }
}

std::optional<std::string> FrameReader::read_exact(std::uint64_t n) {
    std::string out;
    while (out.size() < n) {
        if (pos_ == buffer_.size() && !fill())
            return std::nullopt;
        std::size_t take = static_cast<std::size_t>(
            std::min<std::uint64_t>(n - out.size(), buffer_.size() - pos_));
        out.append(buffer_, pos_, take);
        pos_ += take;
    }
    return out;
}

std::optional<std::uint64_t> parse_content_length(std::string_view value) {
    value = trim(value);
    if (!value.empty() && value.front() == '+')
        value.remove_prefix(1);
    if (value.empty())
        return std::nullopt;
    std::uint64_t n = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (n > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

Frame read_frame(FrameReader &reader) {
    for (;;) {
        bool seen = false;
        std::optional<std::uint64_t> length;
        for (;;) {
            std::optional<std::string> raw = reader.read_line();
            if (!raw || !platform::is_valid_utf8(*raw))
                return FrameEnd{};
            std::string_view line = trim_end(*raw);
            if (line.empty())
                break;
            std::size_t colon = line.find(':');
            if (colon == std::string_view::npos)
                continue;
            std::string_view name = trim(line.substr(0, colon));
            if (!equals_ignoring_ascii_case(name, "Content-Length"))
                continue;
            seen = true;
            length = parse_content_length(line.substr(colon + 1));
        }
        if (!seen || !length)
            continue;
        if (*length > kMaxBodyBytes)
            return FrameEnd{};
        std::optional<std::string> body = reader.read_exact(*length);
        if (!body)
            return FrameEnd{};
        if (!platform::is_valid_utf8(*body))
            return FrameError{"message is not UTF-8"};
        return FrameBody{std::move(*body)};
    }
}

std::string frame_message(std::string_view body) {
    return fmt::format("Content-Length: {}\r\n\r\n{}", body.size(), body);
}

} // namespace kestal::lsp
