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

namespace {

// The blanks that open the line-th line of the text (1-based); empty past
// the end. A byte-order mark opening the text is no part of line 1.
std::string_view line_blanks(std::string_view text, uint64_t line) {
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    size_t start = 0;
    for (uint64_t n = 1; n < line; ++n) {
        size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos)
            return {};
        start = newline + 1;
    }
    size_t end = text.find_first_not_of(" \t\r", start);
    return text.substr(start, (end == std::string_view::npos ? text.size() : end) - start);
}

bool is_layout(TokenKind kind) {
    return kind == TokenKind::Newline || kind == TokenKind::Indent || kind == TokenKind::Dedent;
}

} // namespace

void refuse_inconsistent_tabs(const Parser &p) {
    if (p.text.empty() || p.cursor < 2 || p.tokens[p.cursor - 1].kind != TokenKind::Newline)
        return;
    // The first token of the logical line that the Newline before the
    // cursor ends: the lexer measured the indentation on its line.
    size_t first = p.cursor - 1;
    while (first > 0 && !is_layout(p.tokens[first - 1].kind))
        --first;
    std::string_view before = line_blanks(p.text, p.tokens[first].line);
    std::string_view here = line_blanks(p.text, current(p).line);
    if (!indentations_agree(before, here))
        throw error_at_current(p, std::string(kInconsistentTabsMessage));
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
