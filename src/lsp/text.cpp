// Line scanning for the language server. Every function works on one line
// (or the list of lines) at a time and never on tokens, so it gives sensible
// answers on text that does not parse, which is most of what an editor sends
// while the user types.
#include "lsp/text.h"

#include "platform/utf8.h"
#include "support/text.h"

#include <algorithm>
#include <clocale>
#include <cwctype>
#include <filesystem>
#include <locale.h>

namespace kestal::lsp {

namespace {

// Classification of non-ASCII characters goes through the C library's
// Unicode tables; the locale object is made once and never freed.
locale_t unicode_locale() {
    static locale_t loc = [] {
        locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (made == static_cast<locale_t>(nullptr))
            made = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
        return made;
    }();
    return loc;
}

// The length of the UTF-8 sequence a valid lead byte starts.
std::size_t sequence_length(unsigned char lead) {
    if (lead < 0x80)
        return 1;
    if (lead < 0xE0)
        return 2;
    if (lead < 0xF0)
        return 3;
    return 4;
}

} // namespace

Chars decode_chars(std::string_view utf8) {
    std::string valid;
    if (!platform::is_valid_utf8(utf8)) {
        valid = platform::decode_utf8_lossy(utf8);
        utf8 = valid;
    }
    Chars chars;
    chars.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        std::size_t n = sequence_length(lead);
        char32_t c = n == 1 ? lead : lead & (0x7F >> n);
        for (std::size_t k = 1; k < n; ++k)
            c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        chars.push_back(c);
        i += n;
    }
    return chars;
}

std::string encode_chars(std::u32string_view chars) {
    std::string out;
    for (char32_t c : chars)
        platform::append_utf8(out, c);
    return out;
}

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool is_identifier_char(char32_t c) {
    if (c < 0x80)
        return c == '_' || is_ascii_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    locale_t loc = unicode_locale();
    if (loc == static_cast<locale_t>(nullptr))
        return !is_white_space(c) && c != 0xFFFD;
    return iswalnum_l(static_cast<wint_t>(c), loc) != 0;
}

std::string_view trim_start(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t n = sequence_length(static_cast<unsigned char>(text[i]));
        if (i + n > text.size() || !is_white_space(decode_chars(text.substr(i, n))[0]))
            break;
        i += n;
    }
    return text.substr(i);
}

std::string_view trim_end(std::string_view text) {
    while (!text.empty()) {
        // Step back to the lead byte of the last character.
        std::size_t start = text.size() - 1;
        while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
            --start;
        Chars last = decode_chars(text.substr(start));
        if (last.size() != 1 || !is_white_space(last[0]))
            break;
        text.remove_suffix(text.size() - start);
    }
    return text;
}

std::string_view trim(std::string_view text) {
    return trim_end(trim_start(text));
}

std::vector<std::string_view> document_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t newline = text.find('\n', start);
        std::string_view line =
            text.substr(start, newline == std::string_view::npos ? newline : newline - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        lines.push_back(line);
        if (newline == std::string_view::npos)
            return lines;
        start = newline + 1;
    }
}

std::size_t indentation(std::string_view line) {
    return line.size() - trim_start(line).size();
}

bool is_blank_or_comment(std::string_view line) {
    std::string_view rest = trim_start(line);
    return rest.empty() || rest.front() == '#';
}

std::uint64_t utf16_units(std::u32string_view chars, std::size_t n) {
    std::uint64_t units = 0;
    for (std::size_t i = 0; i < std::min(n, chars.size()); ++i)
        units += chars[i] > 0xFFFF ? 2 : 1;
    return units;
}

std::size_t character_to_char_index(std::string_view line, std::uint64_t character) {
    Chars chars = decode_chars(line);
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < chars.size(); ++i) {
        if (offset >= character)
            return i;
        offset += chars[i] > 0xFFFF ? 2 : 1;
    }
    return chars.size();
}

std::size_t position_to_offset(std::string_view text, std::uint64_t line, std::uint64_t character) {
    std::size_t start = 0;
    for (std::uint64_t n = 0; n < line; ++n) {
        std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos)
            return text.size();
        start = newline + 1;
    }
    std::uint64_t units = 0;
    std::size_t i = start;
    while (i < text.size() && text[i] != '\n') {
        if (units >= character)
            return i;
        std::size_t n = sequence_length(static_cast<unsigned char>(text[i]));
        units += n == 4 ? 2 : 1;
        i = std::min(i + n, text.size());
    }
    return i;
}

// One pass over the characters before the index, keeping the open quote,
// whether it opened an f-string, and the depth of replacement-field braces.
bool is_code_at(std::u32string_view chars, std::size_t index) {
    char32_t quote = 0;
    bool fstring = false;
    int depth = 0;
    auto is_f = [](char32_t c) { return c == 'f' || c == 'F'; };
    auto is_r = [](char32_t c) { return c == 'r' || c == 'R'; };
    std::size_t end = std::min(index, chars.size());
    std::size_t i = 0;
    while (i < end) {
        char32_t c = chars[i];
        if (quote == 0) {
            if (c == '#')
                return false;
            if (c == '"' || c == '\'') {
                quote = c;
                depth = 0;
                fstring = (i >= 1 && is_f(chars[i - 1])) ||
                          (i >= 2 && is_f(chars[i - 2]) && is_r(chars[i - 1]));
            }
            ++i;
        } else if (depth == 0) {
            if (c == '\\') {
                i += 2;
            } else if (c == quote) {
                quote = 0;
                ++i;
            } else if (fstring && c == '{') {
                if (i + 1 < chars.size() && chars[i + 1] == '{') {
                    i += 2;
                } else {
                    depth = 1;
                    ++i;
                }
            } else {
                ++i;
            }
        } else {
            if (c == '{')
                ++depth;
            else if (c == '}')
                --depth;
            ++i;
        }
    }
    if (quote != 0)
        return depth > 0;
    return index >= chars.size() || (chars[index] != '"' && chars[index] != '\'');
}

std::optional<CursorWord> word_at_position(std::string_view line, std::size_t index) {
    Chars chars = decode_chars(line);
    std::size_t anchor;
    if (index < chars.size() && is_identifier_char(chars[index]))
        anchor = index;
    else if (index >= 1 && index - 1 < chars.size() && is_identifier_char(chars[index - 1]))
        anchor = index - 1;
    else
        return std::nullopt;
    if (!is_code_at(chars, anchor))
        return std::nullopt;
    std::size_t start = anchor;
    while (start > 0 && is_identifier_char(chars[start - 1]))
        --start;
    std::size_t end = anchor + 1;
    while (end < chars.size() && is_identifier_char(chars[end]))
        ++end;
    if (is_ascii_digit(chars[start]))
        return std::nullopt;

    CursorWord word;
    word.word = encode_chars(std::u32string_view(chars).substr(start, end - start));
    word.start = start;
    word.end = end;
    std::size_t j = start;
    while (j > 0 && chars[j - 1] == ' ')
        --j;
    if (j == 0 || chars[j - 1] != '.')
        return word;
    --j;
    while (j > 0 && chars[j - 1] == ' ')
        --j;
    word.receiver = CursorWord::Receiver::Dot;
    std::size_t k = j;
    while (k > 0 && is_identifier_char(chars[k - 1]))
        --k;
    if (k < j && !is_ascii_digit(chars[k])) {
        word.receiver = CursorWord::Receiver::Name;
        word.receiver_name = encode_chars(std::u32string_view(chars).substr(k, j - k));
    }
    return word;
}

std::optional<std::string> def_or_class_name(std::string_view line, std::string_view keyword) {
    std::string_view rest = trim_start(line);
    if (rest.size() <= keyword.size() || rest.substr(0, keyword.size()) != keyword)
        return std::nullopt;
    char after = rest[keyword.size()];
    if (after != ' ' && after != '\t')
        return std::nullopt;
    Chars chars = decode_chars(trim_start(rest.substr(keyword.size())));
    std::size_t n = 0;
    while (n < chars.size() && is_identifier_char(chars[n]))
        ++n;
    if (n == 0)
        return std::nullopt;
    return encode_chars(std::u32string_view(chars).substr(0, n));
}

// The walk upward by indentation: each step looks for the nearest code line
// that is less indented than the last one found, until a def line, a class
// line or the module level decides.
std::optional<std::string> enclosing_def_or_class(const std::vector<std::string_view> &lines,
                                                  std::size_t index) {
    if (lines.empty())
        return std::nullopt;
    std::size_t i = std::min(index, lines.size() - 1);
    std::optional<std::size_t> def_line;
    if (def_or_class_name(lines[i], "def")) {
        def_line = i;
    } else {
        std::optional<std::size_t> limit;
        if (!is_blank_or_comment(lines[i]))
            limit = indentation(lines[i]);
        std::size_t j = i;
        while (!def_line) {
            std::optional<std::size_t> found;
            while (j > 0) {
                --j;
                if (!is_blank_or_comment(lines[j]) && (!limit || indentation(lines[j]) < *limit)) {
                    found = j;
                    break;
                }
            }
            if (!found)
                return std::nullopt;
            if (def_or_class_name(lines[*found], "def"))
                def_line = *found;
            else if (def_or_class_name(lines[*found], "class") || indentation(lines[*found]) == 0)
                return std::nullopt;
            else
                limit = indentation(lines[*found]);
        }
    }
    std::string name = *def_or_class_name(lines[*def_line], "def");
    std::size_t def_indent = indentation(lines[*def_line]);
    if (def_indent == 0)
        return name;
    for (std::size_t j = *def_line; j > 0;) {
        --j;
        if (is_blank_or_comment(lines[j]) || indentation(lines[j]) >= def_indent)
            continue;
        if (std::optional<std::string> cls = def_or_class_name(lines[j], "class"))
            return *cls + "." + name;
        return name;
    }
    return std::nullopt;
}

std::optional<std::size_t> find_whole_word(std::u32string_view chars, std::u32string_view word,
                                           std::size_t first) {
    if (word.empty() || word.size() > chars.size())
        return std::nullopt;
    for (std::size_t i = first; i + word.size() <= chars.size(); ++i) {
        if (chars.substr(i, word.size()) != word)
            continue;
        if (i > 0 && (is_identifier_char(chars[i - 1]) || chars[i - 1] == '.'))
            continue;
        std::size_t after = i + word.size();
        if (after < chars.size() && is_identifier_char(chars[after]))
            continue;
        if (is_code_at(chars, i))
            return i;
    }
    return std::nullopt;
}

std::optional<std::string> uri_to_path(std::string_view uri) {
    constexpr std::string_view scheme = "file://";
    if (uri.substr(0, scheme.size()) != scheme)
        return std::nullopt;
    std::string_view rest = uri.substr(scheme.size());
    std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    std::string host(rest.substr(0, slash));
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (!host.empty() && host != "localhost")
        return std::nullopt;
    std::string_view encoded = rest.substr(slash);
    std::string bytes;
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] == '%' && i + 2 < encoded.size() && hex_digit_value(encoded[i + 1]) >= 0 &&
            hex_digit_value(encoded[i + 2]) >= 0) {
            bytes += static_cast<char>(hex_digit_value(encoded[i + 1]) * 16 +
                                       hex_digit_value(encoded[i + 2]));
            i += 2;
        } else {
            bytes += encoded[i];
        }
    }
    return platform::decode_utf8_lossy(bytes);
}

std::string path_to_uri(std::string_view path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(path), error);
    std::string full = error ? std::string(path) : absolute.lexically_normal().string();
    std::string uri = "file://";
    constexpr char digits[] = "0123456789ABCDEF";
    for (char ch : full) {
        auto c = static_cast<unsigned char>(ch);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
        if (plain) {
            uri += ch;
        } else {
            uri += '%';
            uri += digits[c >> 4];
            uri += digits[c & 15];
        }
    }
    return uri;
}

} // namespace kestal::lsp
