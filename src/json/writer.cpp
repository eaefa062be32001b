// The compact JSON writer. Whole numbers below 1e15 print as integers; every
// other finite number prints as the shortest digits that read back as the
// same double, laid out in positional notation (never an exponent), so the
// reader's correct rounding gives every finite value but -0.0 back exactly.
#include "support/escape.h"
#include "json/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace kestal {

namespace {

// Below this magnitude a whole number fits an int64 and prints as one.
constexpr double kIntegerLimit = 1e15;

// Lays the shortest round-trip digits of a finite, non-zero x out without an
// exponent: 1e300 gives a 1 and 300 zeros, 1.5e-7 gives 0.00000015.
void write_positional(double x, std::string &out) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(end - buf));
    if (sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    std::size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.')
            digits += c;
    int exponent = 0;
    std::string_view exp_text = sci.substr(e + 1);
    if (exp_text.front() == '+')
        exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

    auto count = static_cast<int>(digits.size());
    if (exponent >= count - 1) {
        out += digits;
        out.append(static_cast<std::size_t>(exponent - (count - 1)), '0');
    } else if (exponent >= 0) {
        out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
        out += '.';
        out.append(digits, static_cast<std::size_t>(exponent + 1));
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
}

void write_number(double x, std::string &out) {
    if (!std::isfinite(x)) {
        out += "null";
    } else if (std::fabs(x) < kIntegerLimit && x == std::trunc(x)) {
        // -0.0 lands here and prints as 0.
        fmt::format_to(std::back_inserter(out), "{}", static_cast<std::int64_t>(x));
    } else {
        write_positional(x, out);
    }
}

// A string between quotes, escaped for JSON.
void write_string(std::string_view text, std::string &out) {
    out += '"';
    append_escaped(out, text, EscapeMode::Json);
    out += '"';
}

} // namespace

void json_write(const JsonValue &value, std::string &out) {
    switch (value.kind()) {
    case JsonKind::Null:
        out += "null";
        break;
    case JsonKind::Bool:
        out += *value.bool_if() ? "true" : "false";
        break;
    case JsonKind::Number:
        write_number(*value.number_if(), out);
        break;
    case JsonKind::String:
        write_string(*value.string_if(), out);
        break;
    case JsonKind::Array: {
        out += '[';
        bool first = true;
        for (const JsonValue &element : *value.array_if()) {
            if (!first)
                out += ',';
            first = false;
            json_write(element, out);
        }
        out += ']';
        break;
    }
    case JsonKind::Object: {
        out += '{';
        bool first = true;
        for (const JsonMember &member : *value.object_if()) {
            if (!first)
                out += ',';
            first = false;
            write_string(member.key, out);
            out += ':';
            json_write(member.value, out);
        }
        out += '}';
        break;
    }
    }
}

std::string json_text(const JsonValue &value) {
    std::string out;
    json_write(value, out);
    return out;
}

} // namespace kestal
