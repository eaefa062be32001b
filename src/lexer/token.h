// Tokens: what the lexer delivers and the parsers walk with a cursor.
//
// A token is a plain value: its kind, the payload of the kinds that have one
// (Int, Float, Str, FStr, Ident, AugAssign) and the 1-based line and column of
// its first character (columns count characters, not bytes). Two tokens are
// equal when their kinds and payloads are equal; the position is not compared,
// which lets the parser match a token against a pattern such as
// `Token{TokenKind::Comma}`.
#pragma once

#include "ast/operators.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestal {

// The 73 token kinds in their fixed order (the enumerator value is the kind
// number), each with the words that name it in parse errors. The payload
// kinds (Int, Float, Str, FStr, Ident, AugAssign) are described from their
// payload; their words here are the lower-cased kind name.
#define KESTAL_TOKEN_KINDS(X)                                                                      \
    X(Int, "int")                                                                                  \
    X(Float, "float")                                                                              \
    X(Str, "str")                                                                                  \
    X(FStr, "fstr")                                                                                \
    X(Ident, "ident")                                                                              \
    X(Def, "def")                                                                                  \
    X(Return, "return")                                                                            \
    X(If, "if")                                                                                    \
    X(Elif, "elif")                                                                                \
    X(Else, "else")                                                                                \
    X(While, "while")                                                                              \
    X(For, "for")                                                                                  \
    X(In, "in")                                                                                    \
    X(Break, "break")                                                                              \
    X(Continue, "continue")                                                                        \
    X(Pass, "pass")                                                                                \
    X(And, "and")                                                                                  \
    X(Or, "or")                                                                                    \
    X(Not, "not")                                                                                  \
    X(True, "true")                                                                                \
    X(False, "false")                                                                              \
    X(NoneKw, "nonekw")                                                                            \
    X(Global, "global")                                                                            \
    X(Import, "import")                                                                            \
    X(From, "from")                                                                                \
    X(Del, "del")                                                                                  \
    X(With, "with")                                                                                \
    X(As, "as")                                                                                    \
    X(Lambda, "lambda")                                                                            \
    X(Class, "class")                                                                              \
    X(Is, "is")                                                                                    \
    X(Try, "try")                                                                                  \
    X(Except, "except")                                                                            \
    X(Finally, "finally")                                                                          \
    X(Raise, "raise")                                                                              \
    X(Assert, "assert")                                                                            \
    X(Plus, "plus")                                                                                \
    X(Minus, "minus")                                                                              \
    X(Star, "star")                                                                                \
    X(Slash, "slash")                                                                              \
    X(SlashSlash, "slashslash")                                                                    \
    X(Percent, "percent")                                                                          \
    X(StarStar, "starstar")                                                                        \
    X(Amp, "amp")                                                                                  \
    X(Pipe, "pipe")                                                                                \
    X(Caret, "caret")                                                                              \
    X(Tilde, "tilde")                                                                              \
    X(Shl, "shl")                                                                                  \
    X(Shr, "shr")                                                                                  \
    X(EqEq, "eqeq")                                                                                \
    X(NotEq, "noteq")                                                                              \
    X(Lt, "lt")                                                                                    \
    X(Le, "le")                                                                                    \
    X(Gt, "gt")                                                                                    \
    X(Ge, "ge")                                                                                    \
    X(Assign, "'='")                                                                               \
    X(AugAssign, "augassign")                                                                      \
    X(LParen, "'('")                                                                               \
    X(RParen, "')'")                                                                               \
    X(LBracket, "'['")                                                                             \
    X(RBracket, "']'")                                                                             \
    X(LBrace, "'{'")                                                                               \
    X(RBrace, "'}'")                                                                               \
    X(Comma, "','")                                                                                \
    X(Colon, "':'")                                                                                \
    X(Semicolon, "semicolon")                                                                      \
    X(Arrow, "arrow")                                                                              \
    X(Dot, "'.'")                                                                                  \
    X(At, "at")                                                                                    \
    X(Newline, "end of line")                                                                      \
    X(Indent, "an indented block")                                                                 \
    X(Dedent, "end of block")                                                                      \
    X(Eof, "end of file")

enum class TokenKind : uint8_t {
#define KESTAL_X(name, words) name,
    KESTAL_TOKEN_KINDS(KESTAL_X)
#undef KESTAL_X
};

#define KESTAL_X(name, words) +1
inline constexpr int kTokenKindCount = 0 KESTAL_TOKEN_KINDS(KESTAL_X);
#undef KESTAL_X

// The spelling of each operator and punctuation kind. An augmented
// assignment is spelled as its operator's symbol followed by '='.
#define KESTAL_PUNCTUATION(X)                                                                      \
    X(Plus, "+")                                                                                   \
    X(Minus, "-")                                                                                  \
    X(Star, "*")                                                                                   \
    X(Slash, "/")                                                                                  \
    X(SlashSlash, "//")                                                                            \
    X(Percent, "%")                                                                                \
    X(StarStar, "**")                                                                              \
    X(Amp, "&")                                                                                    \
    X(Pipe, "|")                                                                                   \
    X(Caret, "^")                                                                                  \
    X(Tilde, "~")                                                                                  \
    X(Shl, "<<")                                                                                   \
    X(Shr, ">>")                                                                                   \
    X(EqEq, "==")                                                                                  \
    X(NotEq, "!=")                                                                                 \
    X(Lt, "<")                                                                                     \
    X(Le, "<=")                                                                                    \
    X(Gt, ">")                                                                                     \
    X(Ge, ">=")                                                                                    \
    X(Assign, "=")                                                                                 \
    X(LParen, "(")                                                                                 \
    X(RParen, ")")                                                                                 \
    X(LBracket, "[")                                                                               \
    X(RBracket, "]")                                                                               \
    X(LBrace, "{")                                                                                 \
    X(RBrace, "}")                                                                                 \
    X(Comma, ",")                                                                                  \
    X(Colon, ":")                                                                                  \
    X(Semicolon, ";")                                                                              \
    X(Arrow, "->")                                                                                 \
    X(Dot, ".")                                                                                    \
    X(At, "@")

struct Punctuation {
    std::string_view text;
    TokenKind kind;
};

inline constexpr auto kPunctuation = std::to_array<Punctuation>({
#define KESTAL_X(name, text) {text, TokenKind::name},
    KESTAL_PUNCTUATION(KESTAL_X)
#undef KESTAL_X
});

// The enumerator name ("Int", "NoneKw", "AugAssign").
std::string_view token_kind_name(TokenKind kind);

// The words that name a token of this kind in parse errors; for the payload
// kinds, whose words depend on the payload, use `describe_token`.
std::string_view token_kind_words(TokenKind kind);

// One piece of an f-string as the lexer delivers it, in source order.
struct FStringPart {
    // Literal text, escapes and doubled braces resolved; never empty.
    struct Lit {
        std::string text;
        bool operator==(const Lit &) const = default;
    };
    // A replacement field. `src` is the text between the braces up to a
    // conversion or format spec, untrimmed and unescaped; `line` and `col`
    // are the position of the first character after the `{`, where the
    // tokens of `src` are placed when the field is parsed.
    struct Code {
        std::string src;
        // Absent without `:`; the empty text for `{x:}`.
        std::optional<std::string> spec;
        // 'a', 'r' or 's'.
        std::optional<char> conv;
        uint64_t line = 0;
        uint64_t col = 0;
        bool operator==(const Code &) const = default;
    };

    std::variant<Lit, Code> kind;
    bool operator==(const FStringPart &) const = default;
};

// Int: the value; Float: the value; Str and Ident: the text; FStr: the
// parts; AugAssign: the operator (one of Add .. Shr). Other kinds hold
// monostate.
using TokenPayload =
    std::variant<std::monostate, int64_t, double, std::string, std::vector<FStringPart>, BinOp>;

struct Token {
    TokenKind kind = TokenKind::Eof;
    TokenPayload payload = {};
    uint64_t line = 0;
    uint64_t column = 0;

    // Kind and payload only; the position is not compared.
    bool operator==(const Token &other) const {
        return kind == other.kind && payload == other.payload;
    }

    // Payload accessors; each requires the matching kind.
    int64_t int_value() const { return std::get<int64_t>(payload); }
    double float_value() const { return std::get<double>(payload); }
    // The text of a Str or an Ident.
    const std::string &text() const { return std::get<std::string>(payload); }
    const std::vector<FStringPart> &fstring_parts() const {
        return std::get<std::vector<FStringPart>>(payload);
    }
    BinOp aug_op() const { return std::get<BinOp>(payload); }
};

} // namespace kestal
