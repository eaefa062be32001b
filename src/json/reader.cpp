// The JSON reader: one forward pass over the bytes, one recursion per nesting
// level, bounded at 256 levels so the stack it uses is bounded too. Strings
// are copied in whole runs between escapes. The first fault ends the read
// with one line of text naming its 0-based byte offset.
#include "json/json.h"

#include "platform/utf8.h"
#include "support/text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

namespace kestal {

namespace {

// A scalar inside 256 nested containers is read; one inside 257 is refused.
constexpr int kMaxDepth = 256;

constexpr unsigned kReplacementCharacter = 0xFFFD;

bool is_json_whitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool is_number_byte(char c) {
    return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}

// Whether the run is a decimal number: an optional sign, digits with an
// optional point (at least one digit on either side), then an optional
// exponent with an optional sign and at least one digit.
bool is_number_grammar(std::string_view run) {
    std::size_t i = 0;
    auto digits = [&] {
        std::size_t start = i;
        while (i < run.size() && is_ascii_digit(run[i]))
            ++i;
        return i - start;
    };
    if (i < run.size() && (run[i] == '-' || run[i] == '+'))
        ++i;
    std::size_t mantissa_digits = digits();
    if (i < run.size() && run[i] == '.') {
        ++i;
        mantissa_digits += digits();
    }
    if (mantissa_digits == 0)
        return false;
    if (i < run.size() && (run[i] == 'e' || run[i] == 'E')) {
        ++i;
        if (i < run.size() && (run[i] == '-' || run[i] == '+'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == run.size();
}

// For a well-formed run whose value lies outside the range of doubles: the
// decimal exponent of its first non-zero digit tells an overflow (an
// infinity) from an underflow (a zero), each with the run's sign.
double out_of_range_value(std::string_view run) {
    bool negative = !run.empty() && run[0] == '-';
    std::size_t exponent_at = run.find_first_of("eE");
    std::string_view mantissa = run.substr(0, exponent_at);
    std::int64_t exponent = 0;
    if (exponent_at != std::string_view::npos) {
        std::size_t i = exponent_at + 1;
        bool exponent_negative = run[i] == '-';
        if (run[i] == '-' || run[i] == '+')
            ++i;
        // Saturates: any exponent this large is far outside the double range.
        for (; i < run.size(); ++i)
            exponent = std::min<std::int64_t>(exponent * 10 + (run[i] - '0'), 1'000'000'000);
        if (exponent_negative)
            exponent = -exponent;
    }
    std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return negative ? -0.0 : 0.0;
    // The power of ten that the first non-zero digit stands for.
    auto place = first < point ? static_cast<std::int64_t>(point - first) - 1
                               : -static_cast<std::int64_t>(first - point);
    double magnitude = place + exponent >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return negative ? -magnitude : magnitude;
}

class Reader {
  public:
    explicit Reader(std::string_view text) : text_(text) {}

    JsonParseResult parse_document() {
        JsonValue value;
        if (!parse_value(0, value))
            return JsonParseResult::failure(std::move(error_));
        skip_whitespace();
        if (pos_ != text_.size())
            return JsonParseResult::failure(
                fmt::format("unexpected text after the JSON value at byte {}", pos_));
        return value;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::string error_;

    bool at_end() const { return pos_ >= text_.size(); }
    bool at(char c) const { return !at_end() && text_[pos_] == c; }

    void skip_whitespace() {
        while (!at_end() && is_json_whitespace(text_[pos_]))
            ++pos_;
    }

    bool fail(std::string_view message, std::size_t offset) {
        error_ = fmt::format("{} at byte {}", message, offset);
        return false;
    }

    bool parse_value(int depth, JsonValue &out) {
        if (depth > kMaxDepth)
            return fail("JSON nested too deeply", pos_);
        skip_whitespace();
        if (at_end())
            return fail("unexpected end of JSON", pos_);
        char c = text_[pos_];
        switch (c) {
        case '"': {
            std::string text;
            if (!parse_string(text))
                return false;
            out = JsonValue::from_string(std::move(text));
            return true;
        }
        case '[':
            return parse_array(depth, out);
        case '{':
            return parse_object(depth, out);
        case 'n':
            return expect_literal("null", JsonValue(), out);
        case 't':
            return expect_literal("true", JsonValue::boolean(true), out);
        case 'f':
            return expect_literal("false", JsonValue::boolean(false), out);
        default:
            if (c == '-' || is_ascii_digit(c))
                return parse_number(out);
            return fail("unexpected character", pos_);
        }
    }

    bool expect_literal(std::string_view word, JsonValue value, JsonValue &out) {
        if (!text_.substr(pos_).starts_with(word))
            return fail("invalid literal", pos_);
        pos_ += word.size();
        out = std::move(value);
        return true;
    }

    bool parse_array(int depth, JsonValue &out) {
        ++pos_;
        skip_whitespace();
        JsonArray elements;
        if (at(']')) {
            ++pos_;
            out = JsonValue::array(std::move(elements));
            return true;
        }
        for (;;) {
            JsonValue element;
            if (!parse_value(depth + 1, element))
                return false;
            elements.push_back(std::move(element));
            skip_whitespace();
            if (at(',')) {
                ++pos_;
                continue;
            }
            if (at(']')) {
                ++pos_;
                out = JsonValue::array(std::move(elements));
                return true;
            }
            return fail("expected ',' or ']'", pos_);
        }
    }

    bool parse_object(int depth, JsonValue &out) {
        ++pos_;
        skip_whitespace();
        JsonObject members;
        if (at('}')) {
            ++pos_;
            out = JsonValue::object(std::move(members));
            return true;
        }
        for (;;) {
            skip_whitespace();
            if (!at('"'))
                return fail("expected a member name", pos_);
            JsonMember member;
            if (!parse_string(member.key))
                return false;
            skip_whitespace();
            if (!at(':'))
                return fail("expected ':'", pos_);
            ++pos_;
            if (!parse_value(depth + 1, member.value))
                return false;
            members.push_back(std::move(member));
            skip_whitespace();
            if (at(',')) {
                ++pos_;
                continue;
            }
            if (at('}')) {
                ++pos_;
                out = JsonValue::object(std::move(members));
                return true;
            }
            return fail("expected ',' or '}'", pos_);
        }
    }

    bool parse_number(JsonValue &out) {
        std::size_t start = pos_;
        while (!at_end() && is_number_byte(text_[pos_]))
            ++pos_;
        std::string_view run = text_.substr(start, pos_ - start);
        if (!is_number_grammar(run)) {
            error_ = fmt::format("invalid number '{}' at byte {}", run, start);
            return false;
        }
        // from_chars rounds correctly but takes no leading '+'.
        std::string_view digits = run[0] == '+' ? run.substr(1) : run;
        double x = 0;
        auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), x);
        if (ec == std::errc::result_out_of_range) {
            x = out_of_range_value(run);
        } else if (ec != std::errc() || end != digits.data() + digits.size()) {
            error_ = fmt::format("invalid number '{}' at byte {}", run, start);
            return false;
        }
        out = JsonValue::number(x);
        return true;
    }

    // Reads the four bytes of a \u escape at the position: four hexadecimal
    // digits, or '+' and three (the unsigned-integer reading of the bytes).
    bool read_code_unit(unsigned &unit) {
        std::size_t start = pos_;
        if (text_.size() - pos_ < 4)
            return fail("invalid \\u escape", start);
        std::string_view bytes = text_.substr(pos_, 4);
        unit = 0;
        for (std::size_t i = bytes[0] == '+' ? 1 : 0; i < 4; ++i) {
            int digit = hex_digit_value(bytes[i]);
            if (digit < 0)
                return fail("invalid \\u escape", start);
            unit = unit * 16 + static_cast<unsigned>(digit);
        }
        pos_ += 4;
        return true;
    }

    // After the letter u of an escape: one code unit, or a surrogate pair.
    // A surrogate that is not part of a pair becomes U+FFFD.
    bool parse_unicode_escape(std::string &out) {
        unsigned unit;
        if (!read_code_unit(unit))
            return false;
        if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(pos_).starts_with("\\u")) {
            std::size_t second_escape = pos_;
            pos_ += 2;
            unsigned low;
            if (!read_code_unit(low))
                return false;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                platform::append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                return true;
            }
            // Not a pair: the second escape is read again on its own.
            pos_ = second_escape;
            platform::append_utf8(out, kReplacementCharacter);
            return true;
        }
        if (unit >= 0xD800 && unit <= 0xDFFF)
            unit = kReplacementCharacter;
        platform::append_utf8(out, unit);
        return true;
    }

    // Entered at the opening double quote.
    bool parse_string(std::string &out) {
        ++pos_;
        for (;;) {
            std::size_t start = pos_;
            std::size_t stop = text_.find_first_of("\"\\", pos_);
            if (stop == std::string_view::npos)
                stop = text_.size();
            std::string_view run = text_.substr(start, stop - start);
            if (!platform::is_valid_utf8(run)) {
                error_ = fmt::format("invalid UTF-8 at byte {}", start);
                return false;
            }
            out.append(run);
            pos_ = stop;
            if (at_end())
                return fail("unterminated string", text_.size());
            if (text_[pos_] == '"') {
                ++pos_;
                return true;
            }
            if (pos_ + 1 == text_.size())
                return fail("unterminated string", text_.size());
            char letter = text_[pos_ + 1];
            pos_ += 2;
            if (!parse_escape(letter, out))
                return false;
        }
    }

    bool parse_escape(char letter, std::string &out) {
        switch (letter) {
        case '"':
        case '\\':
        case '/':
            out += letter;
            return true;
        case 'b':
            out += '\b';
            return true;
        case 'f':
            out += '\f';
            return true;
        case 'n':
            out += '\n';
            return true;
        case 'r':
            out += '\r';
            return true;
        case 't':
            out += '\t';
            return true;
        case 'u':
            return parse_unicode_escape(out);
        default:
            return fail("invalid escape", pos_);
        }
    }
};

} // namespace

JsonParseResult json_parse(std::string_view text) {
    return Reader(text).parse_document();
}

} // namespace kestal
