// Import statements. They produce no statement: each one fills the parser's
// `imports` (modules that are not built in; nothing resolves them into
// libraries yet) and `aliases` (which dotted name a local name stands for).
// Both belong to the whole file, so an import inside a function body has the
// same effect as one at the top.
#include "ast/builtin_modules.h"
#include "lexer/lexer.h"
#include "parser/parser.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>
#include <array>
#include <string_view>
#include <vector>

namespace kestal {

namespace {

// An import ends its line: no `;` and no further statement may follow.
void expect_import_line_end(Parser &p) {
    if (accept(p, TokenKind::Newline) || at(p, TokenKind::Eof))
        return;
    throw error_at_current(
        p, fmt::format("expected end of line, found {}", describe_token(current(p))));
}

// The features `from __future__ import` names. Annotations are never
// evaluated here, so `annotations` changes nothing; the rest are the
// features every Python 3 has on.
constexpr std::array<std::string_view, 9> kFutureFeatures = {
    "annotations",   "absolute_import", "division",         "generators",    "generator_stop",
    "nested_scopes", "print_function",  "unicode_literals", "with_statement"};

// `from __future__ import NAME, ...` after its `import`: binds nothing.
void parse_future_features(Parser &p) {
    bool parenthesised = accept(p, TokenKind::LParen);
    for (;;) {
        uint64_t line = current(p).line;
        uint64_t column = current(p).column;
        std::string name = expect_ident(p, "a feature name");
        if (std::find(kFutureFeatures.begin(), kFutureFeatures.end(), name) ==
            kFutureFeatures.end())
            throw error_at(fmt::format("future feature '{}' is not defined", name), line, column);
        if (!accept(p, TokenKind::Comma))
            break;
        if (parenthesised && at(p, TokenKind::RParen))
            break;
    }
    if (parenthesised)
        expect(p, TokenKind::RParen, "')'");
    expect_import_line_end(p);
}

} // namespace

std::string parse_import_name(Parser &p) {
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    std::string name = expect_ident(p, "a module name");
    while (accept(p, TokenKind::Dot)) {
        name += '.';
        name += expect_ident(p, "a module name");
    }
    if (find_builtin_module(name))
        return name;
    if (name.find('.') == std::string::npos) {
        p.imports.push_back(ModuleImport{name, line, column});
        return name;
    }
    std::vector<std::string_view> builtin;
    for (const BuiltinModule &m : kBuiltinModules)
        builtin.push_back(m.name);
    throw error_at(
        fmt::format("module '{}' is not available (built in: {})", name, fmt::join(builtin, ", ")),
        line, column);
}

void parse_import_statement(Parser &p) {
    expect(p, TokenKind::Import, "'import'");
    do {
        std::string module = parse_import_name(p);
        if (accept(p, TokenKind::As)) {
            p.aliases[expect_ident(p, "a name")] = module;
        } else {
            std::string first = module.substr(0, module.find('.'));
            p.aliases[first] = first;
        }
    } while (accept(p, TokenKind::Comma));
    expect_import_line_end(p);
}

void parse_from_statement(Parser &p) {
    expect(p, TokenKind::From, "'from'");
    if (at(p, TokenKind::Ident) && current(p).text() == "__future__" &&
        peek_next(p).kind == TokenKind::Import) {
        advance(p);
        advance(p);
        parse_future_features(p);
        return;
    }
    std::string module = parse_import_name(p);
    expect(p, TokenKind::Import, "'import'");
    if (at(p, TokenKind::Star)) {
        throw error_at_current(p, "`from ... import *` isn't supported; import the names you use");
    }
    bool parenthesised = accept(p, TokenKind::LParen);
    for (;;) {
        std::string name = expect_ident(p, "a name to import");
        std::string local = accept(p, TokenKind::As) ? expect_ident(p, "a name") : name;
        p.aliases[local] = module + "." + name;
        if (!accept(p, TokenKind::Comma))
            break;
        if (parenthesised && at(p, TokenKind::RParen))
            break;
    }
    if (parenthesised)
        expect(p, TokenKind::RParen, "')'");
    expect_import_line_end(p);
}

} // namespace kestal
