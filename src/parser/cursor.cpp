// The token cursor every rule of the parser moves: reading the current and
// next token, consuming, and the two expectations whose failure is the
// "expected {}, found {}" message. The cursor stops on the last token (`Eof`),
// so a rule that runs off the end keeps seeing `Eof` instead of reading past
// the list.
#include "lexer/lexer.h"
#include "parser/parser.h"

#include <algorithm>
#include <fmt/format.h>

namespace kestal {

const Token &current(const Parser &p) {
    return p.tokens[p.cursor];
}

const Token &peek_next(const Parser &p) {
    uint64_t next = p.cursor + 1 < p.tokens.size() ? p.cursor + 1 : p.cursor;
    return p.tokens[next];
}

bool at(const Parser &p, TokenKind kind) {
    return current(p).kind == kind;
}

Token advance(Parser &p) {
    Token token = current(p);
    if (p.cursor + 1 < p.tokens.size())
        ++p.cursor;
    return token;
}

bool accept(Parser &p, TokenKind kind) {
    if (!at(p, kind))
        return false;
    advance(p);
    return true;
}

CompileError error_at_current(const Parser &p, std::string message) {
    const Token &token = current(p);
    return error_at(std::move(message), token.line, token.column);
}

void expect(Parser &p, TokenKind kind, std::string_view description) {
    if (accept(p, kind))
        return;
    throw error_at_current(
        p, fmt::format("expected {}, found {}", description, describe_token(current(p))));
}

std::string expect_ident(Parser &p, std::string_view description) {
    if (!at(p, TokenKind::Ident))
        expect(p, TokenKind::Ident, description);
    return advance(p).text();
}

namespace {

std::string nesting_message() {
    return fmt::format("too many nested levels (brackets, operators or blocks nest at most {} "
                       "deep)",
                       kMaxNesting);
}

} // namespace

NestingGuard::NestingGuard(Parser &p) : p_(p) {
    if (++p_.depth > kMaxNesting) {
        --p_.depth;
        throw error_at_current(p, nesting_message());
    }
    p_.peak = std::max(p_.peak, p_.depth);
}

// While the chain is open, `peak` measures only what its operands reach;
// the outer value is merged back when the chain closes.
ChainHeight::ChainHeight(Parser &p) : p_(p), outer_peak_(p.peak) {
    p_.peak = p_.depth;
}

ChainHeight::~ChainHeight() {
    p_.peak = std::max(outer_peak_, p_.peak + links_);
}

void ChainHeight::link(uint64_t line, uint64_t column) {
    ++links_;
    if (p_.peak + links_ > kMaxNesting)
        throw error_at(nesting_message(), line, column);
}

} // namespace kestal
