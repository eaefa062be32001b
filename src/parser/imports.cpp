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
