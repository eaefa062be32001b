// Source text as the language server sees it: raw lines, not tokens. These
// small pure functions find the identifier under a cursor, tell code from
// strings and comments by scanning one line, find the function a line
// belongs to by indentation, convert the protocol's positions (line, UTF-16
// code units) to byte offsets and character indexes, and turn file URIs
// into paths.
//
// A "character" is one Unicode scalar value; lines are decoded into
// `Chars` (UTF-32) whenever characters are counted, so an index into
// `Chars` is a character index. Nothing here fails or throws: positions
// past an end are clipped as each function says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal::lsp {

using Chars = std::u32string;

// The characters of UTF-8 text; an invalid sequence becomes U+FFFD.
Chars decode_chars(std::string_view utf8);
std::string encode_chars(std::u32string_view chars);

// Unicode White_Space.
bool is_white_space(char32_t c);
// A letter or digit in the Unicode sense, or '_'.
bool is_identifier_char(char32_t c);

// The text without White_Space at its start, at its end, or both.
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);
std::string_view trim(std::string_view text);

// The pieces between '\n' characters, each without one trailing '\r'. A text
// ending in '\n' has a final empty line; an empty text has one empty line.
std::vector<std::string_view> document_lines(std::string_view text);

// Bytes of leading White_Space (a tab counts like a space).
std::size_t indentation(std::string_view line);
// Nothing but White_Space, or a '#' after the indentation.
bool is_blank_or_comment(std::string_view line);

// UTF-16 code units of the first n characters (n clipped to the length).
std::uint64_t utf16_units(std::u32string_view chars, std::size_t n);

// The character index of a UTF-16 offset in a line: the number of
// characters before the first one that starts at or after it; the line's
// length when the line ends first (so the middle of a surrogate pair means
// after that character).
std::size_t character_to_char_index(std::string_view line, std::uint64_t character);

// The byte offset of a protocol position, always on a character boundary.
// A line past the last gives the text's length; a character past the end of
// its line gives the offset of that line's '\n' (or the end). A '\r' is an
// ordinary character here.
std::size_t position_to_offset(std::string_view text, std::uint64_t line, std::uint64_t character);

// Whether a character index of a line is code: not inside a string literal
// (except inside an f-string's replacement field), not after a '#', and not
// a quote character itself. An index at or past the end is code.
bool is_code_at(std::u32string_view chars, std::size_t index);

// The identifier at a cursor and what stands before it.
struct CursorWord {
    enum class Receiver {
        // No '.' before the word.
        None,
        // A '.' without a usable name before it (after a call's bracket).
        Dot,
        // `receiver_name.word`.
        Name,
    };
    std::string word;
    // Character indexes; end is exclusive.
    std::size_t start = 0;
    std::size_t end = 0;
    Receiver receiver = Receiver::None;
    std::string receiver_name;
};

// The identifier at or just before the character index, or none inside a
// string or comment, on a number, or away from any identifier.
std::optional<CursorWord> word_at_position(std::string_view line, std::size_t index);

// The name a `def` or `class` line declares (keyword "def" or "class"), or
// none when the line is not such a header.
std::optional<std::string> def_or_class_name(std::string_view line, std::string_view keyword);

// The key of the function a line belongs to, by indentation: "name" for a
// function (nested ones by their own name), "Class.name" for a method; none
// at module level and in a class body outside every method.
std::optional<std::string> enclosing_def_or_class(const std::vector<std::string_view> &lines,
                                                  std::size_t index);

// The first index from `first` on where the word stands as a whole
// identifier in code: not after an identifier character or '.', not before
// an identifier character, not in a string or comment.
std::optional<std::size_t> find_whole_word(std::u32string_view chars, std::u32string_view word,
                                           std::size_t first);

// The local path of a file URI: "file:///home/a/x.ktl" is "/home/a/x.ktl",
// with percent escapes decoded byte by byte (a '%' without two hexadecimal
// digits stays) and invalid UTF-8 replaced. A "localhost" host is the same
// as none. Any other host, any other scheme, or an empty path gives none:
// such a document is no local file.
std::optional<std::string> uri_to_path(std::string_view uri);

// "file://" and the absolute form of the path, every byte other than
// letters, digits, '-', '.', '_', '~' and '/' written as a percent escape,
// so that `uri_to_path` gives the path back.
std::string path_to_uri(std::string_view path);

} // namespace kestal::lsp
