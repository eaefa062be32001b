// The statement half of the parser: compound statements with their indented
// blocks, lines of simple statements separated by `;`, and assignments in
// all their forms (plain, declaration, unpacking, augmented). Statements are
// appended to a list the caller owns, so one call may add several (`a = 1;
// b = 2`) or none (an import). Each statement stands at its first token.
#include "lexer/lexer.h"
#include "parser/parser.h"

#include <fmt/format.h>

namespace kestal {

namespace {

Stmt make_stmt(Stmt::Kind kind, uint64_t line, uint64_t column) {
    Stmt s;
    s.kind = std::move(kind);
    s.line = line;
    s.column = column;
    return s;
}

bool at_line_end(const Parser &p) {
    return at(p, TokenKind::Semicolon) || at(p, TokenKind::Newline) || at(p, TokenKind::Eof);
}

Stmt::If parse_if(Parser &p) {
    Stmt::If stmt;
    do {
        Expr condition = parse_expr(p);
        expect(p, TokenKind::Colon, "':'");
        stmt.branches.push_back(IfBranch{std::move(condition), parse_block(p)});
    } while (accept(p, TokenKind::Elif));
    if (accept(p, TokenKind::Else)) {
        expect(p, TokenKind::Colon, "':'");
        stmt.else_body = parse_block(p);
    }
    return stmt;
}

Stmt::While parse_while(Parser &p) {
    Stmt::While stmt;
    stmt.condition = parse_expr(p);
    expect(p, TokenKind::Colon, "':'");
    stmt.body = parse_block(p);
    stmt.else_body = parse_else_block(p);
    return stmt;
}

Stmt::For parse_for(Parser &p) {
    Stmt::For stmt;
    stmt.target = parse_loop_targets(p);
    expect(p, TokenKind::In, "'in'");
    stmt.iterable = parse_expr(p);
    expect(p, TokenKind::Colon, "':'");
    stmt.body = parse_block(p);
    stmt.else_body = parse_else_block(p);
    return stmt;
}

Stmt::With parse_with(Parser &p) {
    Stmt::With stmt;
    do {
        WithItem item{parse_expr(p), std::nullopt};
        if (accept(p, TokenKind::As))
            item.target = parse_target_element(p);
        stmt.items.push_back(std::move(item));
    } while (accept(p, TokenKind::Comma));
    expect(p, TokenKind::Colon, "':'");
    stmt.body = parse_block(p);
    return stmt;
}

Stmt::Try parse_try(Parser &p) {
    Stmt::Try stmt;
    expect(p, TokenKind::Colon, "':'");
    stmt.body = parse_block(p);
    while (at(p, TokenKind::Except)) {
        Token keyword = advance(p);
        if (!stmt.handlers.empty() && stmt.handlers.back().types.empty()) {
            throw error_at("a bare `except:` must be the last except clause", keyword.line,
                           keyword.column);
        }
        ExceptHandler handler;
        if (!at(p, TokenKind::Colon)) {
            Expr types = parse_expr(p);
            if (Expr::Tuple *tuple = types.as<Expr::Tuple>()) {
                handler.types = std::move(tuple->elements);
            } else {
                handler.types.push_back(std::move(types));
            }
            if (accept(p, TokenKind::As))
                handler.name = expect_ident(p, "a name after 'as'");
        }
        expect(p, TokenKind::Colon, "':'");
        handler.body = parse_block(p);
        stmt.handlers.push_back(std::move(handler));
    }
    if (!stmt.handlers.empty() && accept(p, TokenKind::Else)) {
        expect(p, TokenKind::Colon, "':'");
        stmt.else_body = parse_block(p);
    }
    if (accept(p, TokenKind::Finally)) {
        expect(p, TokenKind::Colon, "':'");
        stmt.finally_body = parse_block(p);
    }
    if (stmt.handlers.empty() && !stmt.finally_body) {
        throw error_at_current(p, "expected 'except' or 'finally' after the try block");
    }
    return stmt;
}

// `a, b = value` (or `(a, b) = value`): `targets` holds what was read before
// the first comma.
Stmt::Kind parse_unpack(Parser &p, std::vector<Expr> targets, uint64_t line, uint64_t column) {
    while (accept(p, TokenKind::Comma))
        targets.push_back(parse_expr(p));
    expect(p, TokenKind::Assign, "'=' (as in `a, b = b, a`)");
    Expr value = parse_expression_list(p);
    for (const Expr &target : targets)
        check_assign_target(target);
    if (const auto *tuple = value.as<Expr::Tuple>()) {
        if (tuple->elements.size() != targets.size()) {
            throw error_at(fmt::format("can't unpack {} values into {} targets",
                                       tuple->elements.size(), targets.size()),
                           line, column);
        }
    }
    return Stmt::Unpack{std::move(targets), std::move(value)};
}

// The statements that start with an expression: assignments of every form
// and expression statements.
Stmt::Kind parse_assignment_forms(Parser &p, uint64_t line, uint64_t column) {
    Expr first = parse_expr(p);
    if (first.is<Expr::Tuple>() && at(p, TokenKind::Assign)) {
        return parse_unpack(p, first.as<Expr::Tuple>()->elements, line, column);
    }
    if (at(p, TokenKind::Comma)) {
        std::vector<Expr> targets;
        targets.push_back(std::move(first));
        return parse_unpack(p, std::move(targets), line, column);
    }
    if (accept(p, TokenKind::Colon)) {
        if (!first.is<Expr::Name>() && !first.is<Expr::Attribute>()) {
            throw error_at("only names and attributes can have a type annotation", first.line,
                           first.column);
        }
        Type annotation = parse_value_type(p);
        expect(p, TokenKind::Assign, "'=' (declarations need a value, e.g. `xs: list[int] = []`)");
        Expr value = parse_expression_list(p);
        return Stmt::Assign{std::move(first), std::move(annotation), std::move(value)};
    }
    if (accept(p, TokenKind::Assign)) {
        check_assign_target(first);
        Expr value = parse_expression_list(p);
        if (at(p, TokenKind::Assign))
            throw error_at_current(p, "chained assignment (a = b = c) is not supported");
        return Stmt::Assign{std::move(first), std::nullopt, std::move(value)};
    }
    if (at(p, TokenKind::AugAssign)) {
        BinOp op = advance(p).aug_op();
        check_assign_target(first);
        Expr value = parse_expr(p);
        return Stmt::AugAssign{std::move(first), op, std::move(value)};
    }
    return Stmt::ExprStmt{std::move(first)};
}

// One simple statement, by its first token.
Stmt::Kind parse_simple_statement(Parser &p, uint64_t line, uint64_t column) {
    switch (current(p).kind) {
    case TokenKind::Return: {
        advance(p);
        if (at_line_end(p))
            return Stmt::Return{};
        return Stmt::Return{parse_expression_list(p)};
    }
    case TokenKind::Break:
        advance(p);
        return Stmt::Break{};
    case TokenKind::Continue:
        advance(p);
        return Stmt::Continue{};
    case TokenKind::Pass:
        advance(p);
        return Stmt::Pass{};
    case TokenKind::Global: {
        advance(p);
        Stmt::Global stmt;
        do {
            stmt.names.push_back(expect_ident(p, "a name"));
        } while (accept(p, TokenKind::Comma));
        return stmt;
    }
    case TokenKind::Del: {
        advance(p);
        Stmt::Del stmt;
        do {
            stmt.targets.push_back(parse_expr(p));
        } while (accept(p, TokenKind::Comma));
        return stmt;
    }
    case TokenKind::Raise: {
        advance(p);
        Stmt::Raise stmt;
        if (at_line_end(p))
            return stmt;
        stmt.exception = parse_expr(p);
        if (accept(p, TokenKind::From))
            stmt.cause = parse_expr(p);
        return stmt;
    }
    case TokenKind::Assert: {
        advance(p);
        Stmt::Assert stmt;
        stmt.condition = parse_expr(p);
        if (accept(p, TokenKind::Comma))
            stmt.message = parse_expr(p);
        return stmt;
    }
    case TokenKind::Int:
    case TokenKind::Float:
    case TokenKind::Str:
    case TokenKind::FStr:
    case TokenKind::Ident:
    case TokenKind::Def:
    case TokenKind::If:
    case TokenKind::Elif:
    case TokenKind::Else:
    case TokenKind::While:
    case TokenKind::For:
    case TokenKind::In:
    case TokenKind::And:
    case TokenKind::Or:
    case TokenKind::Not:
    case TokenKind::True:
    case TokenKind::False:
    case TokenKind::NoneKw:
    case TokenKind::Import:
    case TokenKind::From:
    case TokenKind::With:
    case TokenKind::As:
    case TokenKind::Lambda:
    case TokenKind::Class:
    case TokenKind::Is:
    case TokenKind::Try:
    case TokenKind::Except:
    case TokenKind::Finally:
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
    case TokenKind::AugAssign:
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
    return parse_assignment_forms(p, line, column);
}

} // namespace

void parse_statement(Parser &p, std::vector<Stmt> &statements) {
    Token keyword = current(p);
    auto compound = [&](Stmt::Kind kind) {
        statements.push_back(make_stmt(std::move(kind), keyword.line, keyword.column));
    };
    switch (keyword.kind) {
    case TokenKind::If:
        advance(p);
        compound(parse_if(p));
        return;
    case TokenKind::While:
        advance(p);
        compound(parse_while(p));
        return;
    case TokenKind::For:
        advance(p);
        compound(parse_for(p));
        return;
    case TokenKind::With:
        advance(p);
        compound(parse_with(p));
        return;
    case TokenKind::Try:
        advance(p);
        compound(parse_try(p));
        return;
    case TokenKind::Import:
        parse_import_statement(p);
        return;
    case TokenKind::From:
        parse_from_statement(p);
        return;
    case TokenKind::Int:
    case TokenKind::Float:
    case TokenKind::Str:
    case TokenKind::FStr:
    case TokenKind::Ident:
    case TokenKind::Def:
    case TokenKind::Return:
    case TokenKind::Elif:
    case TokenKind::Else:
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
    case TokenKind::Del:
    case TokenKind::As:
    case TokenKind::Lambda:
    case TokenKind::Class:
    case TokenKind::Is:
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
    case TokenKind::AugAssign:
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
        parse_simple_statements(p, statements);
        return;
    }
}

namespace {

constexpr std::string_view kYieldMessage =
    "generators (`yield`) aren't part of the language; build a list and return it instead";

bool is_yield(const Token &token) {
    return token.kind == TokenKind::Ident && token.text() == "yield";
}

} // namespace

// `yield` is an ordinary name to the lexer: a statement that is the bare
// name, or a line that goes on after it (`yield x`, `yield from xs`,
// `total = yield x`), is a generator's.
void parse_simple_statements(Parser &p, std::vector<Stmt> &statements) {
    for (;;) {
        uint64_t line = current(p).line;
        uint64_t column = current(p).column;
        statements.push_back(make_stmt(parse_simple_statement(p, line, column), line, column));
        if (const auto *e = statements.back().as<Stmt::ExprStmt>()) {
            if (const auto *n = e->expr.as<Expr::Name>(); n && n->name == "yield")
                throw error_at(std::string(kYieldMessage), line, column);
        }
        if (!accept(p, TokenKind::Semicolon))
            break;
        if (at(p, TokenKind::Newline) || at(p, TokenKind::Eof))
            break;
    }
    if (accept(p, TokenKind::Newline) || at(p, TokenKind::Eof))
        return;
    if (const Token &before = p.tokens[p.cursor - 1]; is_yield(before))
        throw error_at(std::string(kYieldMessage), before.line, before.column);
    throw error_at_current(
        p, fmt::format("expected end of line, found {}", describe_token(current(p))));
}

std::vector<Stmt> parse_block(Parser &p) {
    NestingGuard guard(p);
    std::vector<Stmt> body;
    if (!accept(p, TokenKind::Newline)) {
        parse_simple_statements(p, body);
        return body;
    }
    if (!accept(p, TokenKind::Indent)) {
        refuse_inconsistent_tabs(p);
        throw error_at_current(p, "expected an indented block");
    }
    for (;;) {
        switch (current(p).kind) {
        case TokenKind::Def:
            throw error_at_current(p, "functions must be defined at the top level");
        case TokenKind::Class:
        case TokenKind::At:
            throw error_at_current(p, "classes must be defined at the top level");
        case TokenKind::Newline:
            advance(p);
            break;
        case TokenKind::Dedent:
            advance(p);
            return body;
        case TokenKind::Eof:
            return body;
        case TokenKind::Indent:
            refuse_inconsistent_tabs(p);
            parse_statement(p, body);
            break;
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Str:
        case TokenKind::FStr:
        case TokenKind::Ident:
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
        case TokenKind::AugAssign:
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
            parse_statement(p, body);
            break;
        }
    }
}

std::optional<std::vector<Stmt>> parse_else_block(Parser &p) {
    if (!accept(p, TokenKind::Else))
        return std::nullopt;
    expect(p, TokenKind::Colon, "':'");
    return parse_block(p);
}

Expr parse_expression_list(Parser &p) {
    Expr first = parse_expr(p);
    if (!at(p, TokenKind::Comma))
        return first;
    uint64_t line = first.line;
    uint64_t column = first.column;
    Expr::Tuple tuple;
    tuple.elements.push_back(std::move(first));
    while (accept(p, TokenKind::Comma)) {
        if (at_line_end(p))
            break;
        tuple.elements.push_back(parse_expr(p));
    }
    Expr result;
    result.kind = std::move(tuple);
    result.line = line;
    result.column = column;
    return result;
}

void check_assign_target(const Expr &target) {
    if (target.is<Expr::Name>() || target.is<Expr::Attribute>() || target.is<Expr::Index>() ||
        target.is<Expr::Slice>()) {
        return;
    }
    if (const auto *tuple = target.as<Expr::Tuple>()) {
        for (const Expr &element : tuple->elements)
            check_assign_target(element);
        return;
    }
    throw error_at("can't assign to this expression", target.line, target.column);
}

} // namespace kestal
