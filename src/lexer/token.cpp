// Names and descriptions of tokens: the kind names, the words parse errors use
// ("end of line", "number 42", "augassign(add)") and a compact dump for tests.
// Numbers are written with std::to_chars, so nothing depends on the C locale.
#include "lexer/token.h"
#include "lexer/lexer.h"
#include "support/escape.h"

#include <array>
#include <charconv>
#include <cmath>
#include <fmt/format.h>

namespace kestal {

namespace {

constexpr std::array<std::string_view, kTokenKindCount> kKindNames = {
#define KESTAL_X(name, words) #name,
    KESTAL_TOKEN_KINDS(KESTAL_X)
#undef KESTAL_X
};

constexpr std::array<std::string_view, kTokenKindCount> kKindWords = {
#define KESTAL_X(name, words) words,
    KESTAL_TOKEN_KINDS(KESTAL_X)
#undef KESTAL_X
};

std::string lower(std::string_view text) {
    std::string out(text);
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// The shortest decimal that reads back as `value`, in positional notation:
// 2.0 gives "2", 0.5 gives "0.5", 1e20 gives "100000000000000000000".
// to_chars in scientific form yields the shortest digits; they are then
// placed around the decimal point by hand.
std::string float_text(double value) {
    if (std::isnan(value)) {
        return "nan";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-inf" : "inf";
    }
    std::array<char, 64> buf{};
    auto res =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific);
    std::string_view sci(buf.data(), static_cast<size_t>(res.ptr - buf.data()));
    std::string out;
    if (!sci.empty() && sci.front() == '-') {
        out += '-';
        sci.remove_prefix(1);
    }
    size_t e = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e)) {
        if (c != '.') {
            digits += c;
        }
    }
    int exponent = 0;
    std::string_view exp_text = sci.substr(e + 1);
    if (!exp_text.empty() && exp_text.front() == '+') {
        exp_text.remove_prefix(1);
    }
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    // The value is 0.d1d2d3... * 10^(exponent + 1).
    int point = exponent + 1;
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<size_t>(-point), '0');
        out += digits;
    } else if (static_cast<size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<size_t>(point) - digits.size(), '0');
    } else {
        out += digits.substr(0, static_cast<size_t>(point));
        out += '.';
        out += digits.substr(static_cast<size_t>(point));
    }
    return out;
}

std::string dump_part(const FStringPart &part) {
    if (const auto *lit = std::get_if<FStringPart::Lit>(&part.kind)) {
        return fmt::format("Lit({})", quoted(lit->text, EscapeMode::Ascii));
    }
    const auto &code = std::get<FStringPart::Code>(part.kind);
    std::string out = fmt::format("Code({}", quoted(code.src, EscapeMode::Ascii));
    if (code.conv) {
        out += fmt::format(" !{}", *code.conv);
    }
    if (code.spec) {
        out += fmt::format(" :{}", quoted(*code.spec, EscapeMode::Ascii));
    }
    out += fmt::format(" @{}:{})", code.line, code.col);
    return out;
}

std::string dump_payload(const Token &token) {
    switch (token.kind) {
    case TokenKind::Int:
        return fmt::format("({})", token.int_value());
    case TokenKind::Float:
        return fmt::format("({})", float_text(token.float_value()));
    case TokenKind::Str:
        return fmt::format("({})", quoted(token.text(), EscapeMode::Ascii));
    case TokenKind::Ident:
        return fmt::format("({})", token.text());
    case TokenKind::AugAssign:
        return fmt::format("({})", binop_name(token.aug_op()));
    case TokenKind::FStr: {
        std::string out = "[";
        const auto &parts = token.fstring_parts();
        for (size_t i = 0; i < parts.size(); ++i) {
            if (i > 0) {
                out += ',';
            }
            out += dump_part(parts[i]);
        }
        return out + "]";
    }
    case TokenKind::Def:
    case TokenKind::Return:
    case TokenKind::If:
    case TokenKind::Elif:
    case TokenKind::Else:
    case TokenKind::While:
    case TokenKind::For:
    case TokenKind::In:
    case TokenKind::Break:
    case TokenKind::Continue:
    case TokenKind::Pass:
    case TokenKind::And:
    case TokenKind::Or:
    case TokenKind::Not:
    case TokenKind::True:
    case TokenKind::False:
    case TokenKind::NoneKw:
    case TokenKind::Global:
    case TokenKind::Import:
    case TokenKind::From:
    case TokenKind::Del:
    case TokenKind::With:
    case TokenKind::As:
    case TokenKind::Lambda:
    case TokenKind::Class:
    case TokenKind::Is:
    case TokenKind::Try:
    case TokenKind::Except:
    case TokenKind::Finally:
    case TokenKind::Raise:
    case TokenKind::Assert:
    case TokenKind::Plus:
    case TokenKind::Minus:
    case TokenKind::Star:
    case TokenKind::Slash:
    case TokenKind::SlashSlash:
    case TokenKind::Percent:
    case TokenKind::StarStar:
    case TokenKind::Amp:
    case TokenKind::Pipe:
    case TokenKind::Caret:
    case TokenKind::Tilde:
    case TokenKind::Shl:
    case TokenKind::Shr:
    case TokenKind::EqEq:
    case TokenKind::NotEq:
    case TokenKind::Lt:
    case TokenKind::Le:
    case TokenKind::Gt:
    case TokenKind::Ge:
    case TokenKind::Assign:
    case TokenKind::LParen:
    case TokenKind::RParen:
    case TokenKind::LBracket:
    case TokenKind::RBracket:
    case TokenKind::LBrace:
    case TokenKind::RBrace:
    case TokenKind::Comma:
    case TokenKind::Colon:
    case TokenKind::Semicolon:
    case TokenKind::Arrow:
    case TokenKind::Dot:
    case TokenKind::At:
    case TokenKind::Newline:
    case TokenKind::Indent:
    case TokenKind::Dedent:
    case TokenKind::Eof:
        break;
    }
    return "";
}

} // namespace

std::string_view token_kind_name(TokenKind kind) {
    return kKindNames.at(static_cast<size_t>(kind));
}

std::string_view token_kind_words(TokenKind kind) {
    return kKindWords.at(static_cast<size_t>(kind));
}

std::string describe_token(const Token &token) {
    switch (token.kind) {
    case TokenKind::Int:
        return fmt::format("number {}", token.int_value());
    case TokenKind::Float:
        return fmt::format("number {}", float_text(token.float_value()));
    case TokenKind::Str:
    case TokenKind::FStr:
        return "a string";
    case TokenKind::Ident:
        return fmt::format("'{}'", token.text());
    case TokenKind::AugAssign:
        return fmt::format("augassign({})", lower(binop_name(token.aug_op())));
    case TokenKind::Def:
    case TokenKind::Return:
    case TokenKind::If:
    case TokenKind::Elif:
    case TokenKind::Else:
    case TokenKind::While:
    case TokenKind::For:
    case TokenKind::In:
    case TokenKind::Break:
    case TokenKind::Continue:
    case TokenKind::Pass:
    case TokenKind::And:
    case TokenKind::Or:
    case TokenKind::Not:
    case TokenKind::True:
    case TokenKind::False:
    case TokenKind::NoneKw:
    case TokenKind::Global:
    case TokenKind::Import:
    case TokenKind::From:
    case TokenKind::Del:
    case TokenKind::With:
    case TokenKind::As:
    case TokenKind::Lambda:
    case TokenKind::Class:
    case TokenKind::Is:
    case TokenKind::Try:
    case TokenKind::Except:
    case TokenKind::Finally:
    case TokenKind::Raise:
    case TokenKind::Assert:
    case TokenKind::Plus:
    case TokenKind::Minus:
    case TokenKind::Star:
    case TokenKind::Slash:
    case TokenKind::SlashSlash:
    case TokenKind::Percent:
    case TokenKind::StarStar:
    case TokenKind::Amp:
    case TokenKind::Pipe:
    case TokenKind::Caret:
    case TokenKind::Tilde:
    case TokenKind::Shl:
    case TokenKind::Shr:
    case TokenKind::EqEq:
    case TokenKind::NotEq:
    case TokenKind::Lt:
    case TokenKind::Le:
    case TokenKind::Gt:
    case TokenKind::Ge:
    case TokenKind::Assign:
    case TokenKind::LParen:
    case TokenKind::RParen:
    case TokenKind::LBracket:
    case TokenKind::RBracket:
    case TokenKind::LBrace:
    case TokenKind::RBrace:
    case TokenKind::Comma:
    case TokenKind::Colon:
    case TokenKind::Semicolon:
    case TokenKind::Arrow:
    case TokenKind::Dot:
    case TokenKind::At:
    case TokenKind::Newline:
    case TokenKind::Indent:
    case TokenKind::Dedent:
    case TokenKind::Eof:
        break;
    }
    return std::string(token_kind_words(token.kind));
}

std::string dump_tokens(const std::vector<Token> &tokens) {
    std::string out;
    for (const Token &token : tokens) {
        if (!out.empty()) {
            out += ' ';
        }
        out += fmt::format("{}{}@{}:{}", token_kind_name(token.kind), dump_payload(token),
                           token.line, token.column);
    }
    return out;
}

} // namespace kestal
