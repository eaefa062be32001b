// The lexer: one pass over the source bytes that produces the whole token
// list, or throws the CompileError of the first fault.
//
// Layout becomes tokens here: each logical line ends with `Newline`, a deeper
// indentation opens a block with one `Indent`, a shallower one closes blocks
// with one `Dedent` each. Inside brackets, and after a backslash at the end
// of a line, line feeds are plain blanks. Indentation widths are summed (a
// space is 1, a tab a flat 4), so tabs and spaces may be mixed; a mix that
// leaves a line in no block is reported as inconsistent tabs when the tab
// size would change how the lines compare (as it does for Python).
//
// Line ends: a CR LF pair is one line end everywhere, standing at the CR, so
// a CR LF file gives the same tokens at the same positions as its LF twin. A
// CR not followed by LF is a blank outside strings and an ordinary character
// inside them.
//
// Positions count characters: every byte advances the column except the
// continuation bytes of a UTF-8 sequence. Numbers are read with
// std::from_chars, so nothing depends on the C locale.
#include "lexer/lexer.h"
#include "platform/memory.h"
#include "platform/utf8.h"

#include "support/compile_error.h"
#include "support/text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestal {

namespace {

bool is_letter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_ident_start(char c) {
    return c == '_' || is_letter(c);
}
bool is_ident_char(char c) {
    return is_ident_start(c) || is_ascii_digit(c);
}
bool is_continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The keyword spellings: kinds Def to Assert are their lower-cased names,
// except the three capitalised constants.
std::optional<TokenKind> keyword_kind(std::string_view word) {
    static const auto table = [] {
        std::array<std::pair<std::string_view, TokenKind>, 31> entries{};
        size_t n = 0;
        for (auto k = static_cast<int>(TokenKind::Def); k <= static_cast<int>(TokenKind::Assert);
             ++k) {
            auto kind = static_cast<TokenKind>(k);
            std::string_view text = token_kind_words(kind);
            if (kind == TokenKind::True) {
                text = "True";
            } else if (kind == TokenKind::False) {
                text = "False";
            } else if (kind == TokenKind::NoneKw) {
                text = "None";
            }
            entries.at(n++) = {text, kind};
        }
        return entries;
    }();
    for (const auto &[text, kind] : table) {
        if (text == word) {
            return kind;
        }
    }
    return std::nullopt;
}

struct Operator {
    std::string text;
    TokenKind kind;
    // Used only for AugAssign.
    BinOp op;
};

// Every operator and punctuation spelling with the augmented assignments,
// longest first, so the first match is the longest match.
const std::vector<Operator> &operators() {
    static const std::vector<Operator> table = [] {
        std::vector<Operator> ops;
        for (int i = 0; i < kAugAssignOpCount; ++i) {
            BinOp op = static_cast<BinOp>(i);
            ops.push_back({std::string(binop_symbol(op)) + "=", TokenKind::AugAssign, op});
        }
        for (const Punctuation &p : kPunctuation)
            ops.push_back({std::string(p.text), p.kind, BinOp::Add});
        std::stable_sort(ops.begin(), ops.end(), [](const Operator &a, const Operator &b) {
            return a.text.size() > b.text.size();
        });
        return ops;
    }();
    return table;
}

// A float literal's text whose conversion left the double range: the
// nearest double is then an infinity (too large) or zero (too small).
// `text` holds digits, at most one '.', and an optional exponent "e[+-]N".
double out_of_range_float(std::string_view text) {
    size_t e = text.find('e');
    std::string_view mantissa = text.substr(0, e);
    int64_t exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view exp_text = text.substr(e + 1);
        if (!exp_text.empty() && exp_text.front() == '+') {
            exp_text.remove_prefix(1);
        }
        auto res = std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
        if (res.ec == std::errc::result_out_of_range) {
            exponent = exp_text.front() == '-' ? std::numeric_limits<int32_t>::min()
                                               : std::numeric_limits<int32_t>::max();
        }
    }
    // Decimal magnitude of the mantissa: the power of ten just above its
    // first significant digit.
    size_t point = mantissa.find('.');
    std::string_view whole = mantissa.substr(0, point);
    size_t lead = whole.find_first_not_of('0');
    int64_t magnitude = 0;
    if (lead != std::string_view::npos) {
        magnitude = static_cast<int64_t>(whole.size() - lead);
    } else if (point != std::string_view::npos) {
        std::string_view frac = mantissa.substr(point + 1);
        size_t first = frac.find_first_not_of('0');
        magnitude = -static_cast<int64_t>(first == std::string_view::npos ? frac.size() : first);
    }
    return magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

class Lexer {
  public:
    // A UTF-8 byte-order mark opening the text is skipped, and columns count
    // from the character after it.
    explicit Lexer(std::string_view text) : text_(text) {
        if (text_.starts_with(kByteOrderMark)) {
            pos_ = kByteOrderMark.size();
        }
    }

    std::vector<Token> run() {
        // Sources run at two to three bytes a token; reserving a token for
        // every two bytes up front spares a large file the copies of a
        // doubling vector, each of which moves every token (pages reserved
        // but never written cost no memory).
        tokens_.reserve(text_.size() / 2 + 64);
        platform::advise_huge_pages(tokens_.data(), tokens_.capacity() * sizeof(Token));
        while (true) {
            if (at_line_start_ && !measure_indentation()) {
                break;
            }
            if (at_end()) {
                break;
            }
            size_t before = tokens_.size();
            lex_one();
            if (tokens_.size() != before && tokens_.back().kind != TokenKind::Newline) {
                code_end_pos_ = pos_;
                code_end_line_ = line_;
                code_end_column_ = column_;
            }
        }
        finish();
        return std::move(tokens_);
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
    uint64_t line_ = 1;
    uint64_t column_ = 1;
    std::vector<Token> tokens_;
    std::vector<uint64_t> indent_stack_{0};
    // The blanks of the line that opened each level of `indent_stack_`.
    std::vector<std::string_view> indent_texts_{std::string_view()};
    int32_t bracket_depth_ = 0;
    bool at_line_start_ = true;
    // Just after the last token that is not layout; line 0 while there is
    // none.
    size_t code_end_pos_ = 0;
    uint64_t code_end_line_ = 0;
    uint64_t code_end_column_ = 0;

    // ---- Reading characters ----

    bool at_end() const { return pos_ >= text_.size(); }
    char peek(size_t ahead = 0) const {
        return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
    }
    bool has(size_t ahead) const { return pos_ + ahead < text_.size(); }

    // Consumes one byte, keeping line and column.
    void advance() {
        char c = text_[pos_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if (!is_continuation(c)) {
            ++column_;
        }
    }

    // Consumes one whole UTF-8 character (a byte and its continuation bytes).
    void advance_char() {
        advance();
        while (!at_end() && is_continuation(peek())) {
            advance();
        }
    }

    // A line feed, or a CR LF pair, starts at the cursor.
    bool at_line_end() const {
        return peek() == '\n' || (peek() == '\r' && has(1) && peek(1) == '\n');
    }

    // Consumes a line end found by `at_line_end`.
    void consume_line_end() {
        if (peek() == '\r') {
            advance();
        }
        advance();
    }

    // Skips up to and including the next line end, or to the end of the text.
    void skip_past_line_end() {
        while (!at_end() && peek() != '\n') {
            advance();
        }
        if (!at_end()) {
            advance();
        }
    }

    [[noreturn]] void fail(std::string message) const {
        throw_error(std::move(message), line_, column_);
    }

    Token &add(TokenKind kind, uint64_t line, uint64_t column) {
        Token &token = tokens_.emplace_back();
        token.kind = kind;
        token.line = line;
        token.column = column;
        return token;
    }

    template <class Payload>
    void add(TokenKind kind, uint64_t line, uint64_t column, Payload &&payload) {
        add(kind, line, column)
            .payload.emplace<std::decay_t<Payload>>(std::forward<Payload>(payload));
    }

    // ---- Layout ----

    // Measures the indentation of the next non-blank line and adds its
    // Indent or Dedent tokens. Returns false when the text ends first.
    bool measure_indentation() {
        while (true) {
            uint64_t width = 0;
            size_t start = pos_;
            while (!at_end()) {
                char c = peek();
                if (c == ' ') {
                    width += 1;
                } else if (c == '\t') {
                    width += 4;
                } else if (c == '\r' && !at_line_end()) {
                    // A lone CR is a blank of no width.
                } else {
                    break;
                }
                advance();
            }
            if (at_end()) {
                return false;
            }
            if (at_line_end() || peek() == '#') {
                skip_past_line_end();
                if (at_end()) {
                    return false;
                }
                continue;
            }
            apply_indentation(width, text_.substr(start, pos_ - start));
            at_line_start_ = false;
            return true;
        }
    }

    // A line that matches no open level is blamed on its tabs when some
    // level it was compared with orders differently against it with a tab
    // of one column than with tab stops of eight.
    void apply_indentation(uint64_t width, std::string_view blanks) {
        if (width > indent_stack_.back()) {
            indent_stack_.push_back(width);
            indent_texts_.push_back(blanks);
            add(TokenKind::Indent, line_, 1);
            return;
        }
        bool tabs_disagree = false;
        while (width < indent_stack_.back()) {
            tabs_disagree = tabs_disagree || !indentations_agree(blanks, indent_texts_.back());
            indent_stack_.pop_back();
            indent_texts_.pop_back();
            add(TokenKind::Dedent, line_, 1);
        }
        if (width != indent_stack_.back()) {
            tabs_disagree = tabs_disagree || !indentations_agree(blanks, indent_texts_.back());
            fail(tabs_disagree ? std::string(kInconsistentTabsMessage)
                               : "this line's indentation doesn't match any outer block");
        }
    }

    // Reads one token or skips one piece of layout within a line.
    void lex_one() {
        char c = peek();
        if (at_line_end()) {
            if (bracket_depth_ == 0) {
                add(TokenKind::Newline, line_, column_);
                at_line_start_ = true;
            }
            consume_line_end();
        } else if (c == ' ' || c == '\t' || c == '\r') {
            advance();
        } else if (c == '#') {
            while (!at_end() && !at_line_end()) {
                advance();
            }
        } else if (c == '\\') {
            lex_backslash();
        } else if (is_ident_start(c)) {
            lex_word();
        } else if (is_ascii_digit(c) || (c == '.' && is_ascii_digit(peek(1)))) {
            lex_number();
        } else if (c == '\'' || c == '"') {
            lex_string();
        } else {
            lex_operator();
        }
    }

    // A backslash right before a line end joins the next line to this one.
    void lex_backslash() {
        uint64_t line = line_;
        uint64_t column = column_;
        advance();
        if (at_end() || !at_line_end()) {
            throw_error("unexpected character '\\'", line, column);
        }
        consume_line_end();
    }

    void lex_operator() {
        std::string_view rest = text_.substr(pos_);
        for (const Operator &op : operators()) {
            if (rest.starts_with(op.text)) {
                uint64_t line = line_;
                uint64_t column = column_;
                for (size_t i = 0; i < op.text.size(); ++i) {
                    advance();
                }
                track_brackets(op.kind);
                if (op.kind == TokenKind::AugAssign) {
                    add(op.kind, line, column, op.op);
                } else {
                    add(op.kind, line, column);
                }
                return;
            }
        }
        fail(fmt::format("unexpected character '{}'", current_character()));
    }

    void track_brackets(TokenKind kind) {
        if (kind == TokenKind::LParen || kind == TokenKind::LBracket || kind == TokenKind::LBrace) {
            ++bracket_depth_;
        } else if (kind == TokenKind::RParen || kind == TokenKind::RBracket ||
                   kind == TokenKind::RBrace) {
            // A stray closer leaves the depth at 0; the parser reports it.
            bracket_depth_ = bracket_depth_ > 0 ? bracket_depth_ - 1 : 0;
        }
    }

    // The character at the cursor as a message shows it: a whole UTF-8
    // character as it stands; a control character or a byte that starts no
    // valid UTF-8 sequence as "\xNN", so a message never carries raw control
    // bytes or broken UTF-8.
    std::string current_character() const {
        auto byte = static_cast<unsigned char>(peek());
        size_t length = byte < 0x80             ? 1
                        : (byte & 0xE0) == 0xC0 ? 2
                        : (byte & 0xF0) == 0xE0 ? 3
                        : (byte & 0xF8) == 0xF0 ? 4
                                                : 0;
        if (byte < 0x20 || byte == 0x7f || length == 0 || (length > 1 && byte < 0xC2) ||
            byte > 0xF4) {
            return fmt::format("\\x{:02x}", byte);
        }
        for (size_t i = 1; i < length; ++i) {
            if (!has(i) || !is_continuation(peek(i))) {
                return fmt::format("\\x{:02x}", byte);
            }
        }
        return std::string(text_.substr(pos_, length));
    }

    // ---- Words ----

    void lex_word() {
        uint64_t line = line_;
        uint64_t column = column_;
        size_t start = pos_;
        while (!at_end() && is_ident_char(peek())) {
            advance();
        }
        std::string_view word = text_.substr(start, pos_ - start);
        if ((word == "f" || word == "F") && (peek() == '\'' || peek() == '"')) {
            lex_fstring(line, column);
            return;
        }
        if (auto kind = keyword_kind(word)) {
            add(*kind, line, column);
        } else {
            add(TokenKind::Ident, line, column, std::string(word));
        }
    }

    // ---- Numbers ----

    // Reads one number literal; every number error stands at its first
    // character.
    void lex_number() {
        uint64_t line = line_;
        uint64_t column = column_;
        char prefix = peek(1);
        if (peek() == '0' && (prefix == 'x' || prefix == 'X' || prefix == 'o' || prefix == 'O' ||
                              prefix == 'b' || prefix == 'B')) {
            lex_based_number(line, column);
            return;
        }
        std::string literal;
        bool is_float = false;
        while (!at_end()) {
            char c = peek();
            if (is_ascii_digit(c)) {
                literal += c;
                advance();
            } else if (c == '_') {
                advance();
            } else if (c == '.') {
                // `1.real` is the integer 1 and an attribute; `1.2.3` is
                // 1.2 followed by .3.
                if (is_float || is_ident_start(peek(1))) {
                    break;
                }
                literal += '.';
                is_float = true;
                advance();
            } else if ((c == 'e' || c == 'E') &&
                       (is_ascii_digit(peek(1)) || peek(1) == '+' || peek(1) == '-')) {
                literal += 'e';
                advance();
                if (peek() == '+' || peek() == '-') {
                    literal += peek();
                    advance();
                }
                is_float = true;
            } else {
                break;
            }
        }
        if (is_float) {
            add(TokenKind::Float, line, column, parse_float(literal, line, column));
        } else {
            add(TokenKind::Int, line, column, parse_decimal(literal, line, column));
        }
    }

    // 0x / 0o / 0b: every following letter, digit and underscore belongs to
    // the literal. The value is read as unsigned 64-bit and kept with the
    // same bits, so 0xFFFFFFFFFFFFFFFF is -1.
    void lex_based_number(uint64_t line, uint64_t column) {
        advance();
        char prefix = peek();
        advance();
        int base = (prefix == 'x' || prefix == 'X') ? 16 : (prefix == 'o' || prefix == 'O') ? 8 : 2;
        std::string digits;
        while (!at_end() && (is_ident_char(peek()))) {
            if (peek() != '_') {
                digits += peek();
            }
            advance();
        }
        uint64_t value = 0;
        const char *end = digits.data() + digits.size();
        auto res = std::from_chars(digits.data(), end, value, base);
        if (digits.empty() || res.ec != std::errc{} || res.ptr != end) {
            throw_error("invalid number literal", line, column);
        }
        add(TokenKind::Int, line, column, std::bit_cast<int64_t>(value));
    }

    static int64_t parse_decimal(const std::string &digits, uint64_t line, uint64_t column) {
        int64_t value = 0;
        const char *end = digits.data() + digits.size();
        auto res = std::from_chars(digits.data(), end, value);
        if (res.ec == std::errc::result_out_of_range) {
            throw_error("integer literal too large (Kestal ints are 64-bit)", line, column);
        }
        if (res.ec != std::errc{} || res.ptr != end) {
            throw_error("invalid number literal", line, column);
        }
        return value;
    }

    // The nearest double, rounding as IEEE does: past the largest finite
    // double it is infinity, below the smallest subnormal it is zero.
    static double parse_float(const std::string &literal, uint64_t line, uint64_t column) {
        double value = 0.0;
        const char *end = literal.data() + literal.size();
        auto res = std::from_chars(literal.data(), end, value, std::chars_format::general);
        if (res.ptr != end || (res.ec != std::errc{} && res.ec != std::errc::result_out_of_range)) {
            throw_error("invalid float literal", line, column);
        }
        if (res.ec == std::errc::result_out_of_range) {
            return out_of_range_float(literal);
        }
        return value;
    }

    // ---- Strings ----

    void lex_string() {
        uint64_t line = line_;
        uint64_t column = column_;
        char quote = peek();
        bool triple = peek(1) == quote && peek(2) == quote;
        for (int i = 0; i < (triple ? 3 : 1); ++i) {
            advance();
        }
        std::string value;
        while (true) {
            // An open triple-quoted string runs to the end of the file, so
            // that end says nothing about where the mistake is: its start
            // does.
            if (triple && (at_end() || (peek() == '\\' && pos_ + 1 == text_.size()))) {
                throw_error("unterminated string", line, column);
            }
            if (at_end()) {
                fail("unterminated string");
            }
            char c = peek();
            if (triple && c == quote && peek(1) == quote && peek(2) == quote) {
                advance();
                advance();
                advance();
                break;
            }
            if (!triple && c == quote) {
                advance();
                break;
            }
            if (at_line_end()) {
                if (!triple) {
                    fail("unterminated string (use triple quotes for multi-line strings)");
                }
                consume_line_end();
                value += '\n';
            } else if (c == '\\') {
                advance();
                unescape_string(value);
            } else {
                value += c;
                advance();
            }
        }
        add(TokenKind::Str, line, column, std::move(value));
    }

    // Reads what follows a backslash in a string or in f-string text and
    // appends its value to `out`. The escapes are Python's: `\\ \' \" \a \b
    // \f \n \r \t \v`, one to three octal digits, `\xHH`, `\uHHHH` and
    // `\UHHHHHHHH`, each code point stored as its UTF-8 bytes. `\N{...}` is
    // refused; any other character keeps the backslash before it.
    void unescape_string(std::string &out) {
        if (at_end()) {
            fail("unterminated string");
        }
        char c = peek();
        if (char simple = simple_escape(c)) {
            out += simple;
            advance();
            return;
        }
        if (c >= '0' && c <= '7') {
            unescape_octal(out);
            return;
        }
        if (c == 'x' || c == 'u' || c == 'U') {
            advance();
            unescape_hex(out, c);
            return;
        }
        if (c == 'N') {
            // At the backslash, one column back on the same line.
            throw_error(
                "\\N{...} escapes aren't supported (write the character itself, or use \\u or \\U)",
                line_, column_ - 1);
        }
        if (at_line_end()) {
            // The string continues on the next line.
            consume_line_end();
            return;
        }
        out += '\\';
        size_t start = pos_;
        advance_char();
        out += text_.substr(start, pos_ - start);
    }

    // The character a one-letter escape stands for, or 0 for none.
    static char simple_escape(char c) {
        switch (c) {
        case '\\':
        case '\'':
        case '"':
            return c;
        case 'a':
            return '\a';
        case 'b':
            return '\b';
        case 'f':
            return '\f';
        case 'n':
            return '\n';
        case 'r':
            return '\r';
        case 't':
            return '\t';
        case 'v':
            return '\v';
        default:
            return 0;
        }
    }

    // Up to three octal digits; `\0` is the character 0. Values above 0o377
    // are code points, as in Python (`\777` is U+01FF).
    void unescape_octal(std::string &out) {
        uint32_t value = 0;
        for (int i = 0; i < 3 && !at_end() && peek() >= '0' && peek() <= '7'; ++i) {
            value = value * 8 + static_cast<uint32_t>(peek() - '0');
            advance();
        }
        platform::append_utf8(out, value);
    }

    // `\xHH`, `\uHHHH` and `\UHHHHHHHH`: the code point in UTF-8. The digits
    // are consumed before they are checked, so an error stands after them.
    // Surrogates and values past U+10FFFF have no UTF-8 form and are refused.
    void unescape_hex(std::string &out, char kind) {
        size_t count = kind == 'x' ? 2 : kind == 'u' ? 4 : 8;
        uint32_t value = 0;
        bool valid = true;
        for (size_t i = 0; i < count; ++i) {
            if (at_end()) {
                valid = false;
                break;
            }
            char digit = peek();
            if (is_hex_digit(digit)) {
                value = value * 16 + static_cast<uint32_t>(hex_digit_value(digit));
            } else {
                valid = false;
            }
            advance_char();
        }
        if (!valid) {
            static constexpr std::array<const char *, 3> kCounts = {"two", "four", "eight"};
            fail(fmt::format("invalid \\{} escape (expected {} hex digits)", kind,
                             kCounts[count == 2   ? 0
                                     : count == 4 ? 1
                                                  : 2]));
        }
        if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
            fail(fmt::format("invalid \\{} escape: U+{:04X} isn't a character that UTF-8 can hold",
                             kind, value));
        }
        platform::append_utf8(out, value);
    }

    // ---- F-strings ----

    // The cursor is on the quote after the `f`; (line, column) is the `f`.
    // F-strings have no triple-quoted form.
    void lex_fstring(uint64_t line, uint64_t column) {
        char quote = peek();
        advance();
        std::vector<FStringPart> parts;
        std::string literal;
        auto flush = [&] {
            if (!literal.empty()) {
                parts.push_back(FStringPart{FStringPart::Lit{std::move(literal)}});
                literal.clear();
            }
        };
        while (true) {
            if (at_end() || at_line_end()) {
                fail("unterminated f-string");
            }
            char c = peek();
            if (c == quote) {
                advance();
                break;
            }
            if (c == '{' && peek(1) == '{') {
                literal += '{';
                advance();
                advance();
            } else if (c == '{') {
                flush();
                advance();
                parts.push_back(FStringPart{lex_fstring_field(quote)});
            } else if (c == '}') {
                if (peek(1) != '}') {
                    fail("single '}' is not allowed in an f-string (use '}}')");
                }
                literal += '}';
                advance();
                advance();
            } else if (c == '\\') {
                advance();
                unescape_string(literal);
            } else {
                literal += c;
                advance();
            }
        }
        flush();
        add(TokenKind::FStr, line, column, std::move(parts));
    }

    // One replacement field; the cursor is just after its `{`. Brackets
    // nest inside the source text, so `:` and `!` inside them belong to it,
    // and so does everything inside a string literal written with the other
    // quote (`f"{d['a:b']}"`).
    FStringPart::Code lex_fstring_field(char quote) {
        FStringPart::Code code;
        code.line = line_;
        code.col = column_;
        int64_t depth = 0;
        while (true) {
            if (at_end() || at_line_end() || peek() == quote) {
                fail("unterminated '{' in f-string");
            }
            char c = peek();
            if (depth == 0 && c == '}') {
                advance();
                return code;
            }
            if (depth == 0 && c == ':') {
                advance();
                code.spec = lex_fstring_spec(quote);
                return code;
            }
            if (depth == 0 && c == '!' && (peek(1) == 'a' || peek(1) == 'r' || peek(1) == 's') &&
                (peek(2) == '}' || peek(2) == ':')) {
                code.conv = peek(1);
                advance();
                advance();
                continue;
            }
            if (c == '\'' || c == '"') {
                lex_field_string(quote, code.src);
                continue;
            }
            if (c == '(' || c == '[' || c == '{') {
                ++depth;
            } else if (c == ')' || c == ']' || c == '}') {
                --depth;
            }
            code.src += c;
            advance();
        }
    }

    // A string literal inside a field's source, copied as written (the
    // parser reads its escapes): up to its own closing quote, a backslash
    // taking the next character with it. A line feed, the f-string's quote
    // or the end of the text leaves the field unterminated.
    void lex_field_string(char fstring_quote, std::string &src) {
        char quote = peek();
        src += quote;
        advance();
        while (true) {
            if (at_end() || at_line_end() || peek() == fstring_quote) {
                fail("unterminated '{' in f-string");
            }
            char c = peek();
            size_t start = pos_;
            advance_char();
            src += text_.substr(start, pos_ - start);
            if (c == quote) {
                return;
            }
            if (c == '\\' && !at_end() && !at_line_end() && peek() != fstring_quote) {
                start = pos_;
                advance_char();
                src += text_.substr(start, pos_ - start);
            }
        }
    }

    // The format spec runs to the first `}`; braces do not nest in it. The
    // end of the text ends it silently: the f-string then reports itself
    // unterminated.
    std::string lex_fstring_spec(char quote) {
        std::string spec;
        while (!at_end()) {
            if (at_line_end() || peek() == quote) {
                fail("unterminated '{' in f-string");
            }
            if (peek() == '}') {
                advance();
                break;
            }
            spec += peek();
            advance();
        }
        return spec;
    }

    // ---- End of input ----

    // The closing tokens stand at the line feed that ends the last line of
    // code (at the end of the text when that line has none), not at the end
    // of the text: after a final line feed, or trailing blank lines and
    // comments, that end lies on a line past the code, where an error about
    // an unclosed bracket or a missing block would show no excerpt.
    void finish() {
        uint64_t line = line_;
        uint64_t column = column_;
        if (code_end_line_ != 0) {
            line = code_end_line_;
            column = code_end_column_;
            for (size_t i = code_end_pos_;
                 i < text_.size() && text_[i] != '\n' && text_.substr(i, 2) != "\r\n"; ++i) {
                if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80)
                    ++column;
            }
        }
        if (!tokens_.empty() && tokens_.back().kind != TokenKind::Newline) {
            add(TokenKind::Newline, line, column);
        }
        for (size_t i = 1; i < indent_stack_.size(); ++i) {
            add(TokenKind::Dedent, line, column);
        }
        add(TokenKind::Eof, line, column);
    }
};

} // namespace

std::vector<Token> tokenize(std::string_view text) {
    return Lexer(text).run();
}

namespace {

// The two widths of an indentation: a tab reaching the next multiple of
// eight, and a tab of one column. A lone carriage return has no width.
std::pair<uint64_t, uint64_t> tab_widths(std::string_view blanks) {
    uint64_t eight = 0;
    uint64_t one = 0;
    for (char c : blanks) {
        if (c == ' ') {
            ++eight;
            ++one;
        } else if (c == '\t') {
            eight = eight / 8 * 8 + 8;
            ++one;
        }
    }
    return {eight, one};
}

} // namespace

bool indentations_agree(std::string_view a, std::string_view b) {
    auto [a8, a1] = tab_widths(a);
    auto [b8, b1] = tab_widths(b);
    return (a8 < b8) == (a1 < b1) && (a8 == b8) == (a1 == b1);
}

} // namespace kestal
