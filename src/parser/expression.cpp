// The expression half of the parser: one function per precedence level,
// from the lambda and the conditional expression down to the primary with
// its postfix calls, attributes and subscripts. It builds `Expr` trees with
// the positions the later stages report at, lifts every lambda into the
// parser's `lambdas` list (inner lambdas finish, and are numbered, first),
// and parses each f-string replacement field by lexing its text again and
// running a sub-parser whose token positions are moved into the file.
//
// A few normalisations happen here: a minus sign before a number literal is
// folded into it, adjacent string literals are joined, `+x` leaves no node,
// and comparison chains are split into links joined by `and` (see
// `parse_comparison`).
#include "analysis/walkers.h"
#include "lexer/lexer.h"
#include "parser/parser.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <utility>

namespace kestal {

namespace {

Expr make_expr(Expr::Kind kind, uint64_t line, uint64_t column) {
    Expr e;
    e.kind = std::move(kind);
    e.line = line;
    e.column = column;
    return e;
}

Expr make_binary(Expr left, BinOp op, Expr right) {
    uint64_t line = left.line;
    uint64_t column = left.column;
    return make_expr(Expr::BinaryOp{std::move(left), op, std::move(right)}, line, column);
}

struct BinaryLevel {
    TokenKind token;
    BinOp op;
};

// One left-associative binary level: operands from `next`, operators from
// `table` (tried in order).
template <size_t N>
Expr parse_binary_level(Parser &p, Expr (*next)(Parser &),
                        const std::array<BinaryLevel, N> &table) {
    ChainHeight height(p);
    Expr left = next(p);
    for (;;) {
        const BinaryLevel *hit = nullptr;
        for (const BinaryLevel &entry : table) {
            if (at(p, entry.token)) {
                hit = &entry;
                break;
            }
        }
        if (hit == nullptr)
            return left;
        const Token &op = advance(p);
        uint64_t op_line = op.line;
        uint64_t op_column = op.column;
        Expr right = next(p);
        left = make_binary(std::move(left), hit->op, std::move(right));
        height.link(op_line, op_column);
    }
}

Expr parse_unary(Parser &p);

Expr parse_term(Parser &p) {
    static constexpr std::array<BinaryLevel, 4> table = {{{TokenKind::Star, BinOp::Mul},
                                                          {TokenKind::Slash, BinOp::Div},
                                                          {TokenKind::SlashSlash, BinOp::FloorDiv},
                                                          {TokenKind::Percent, BinOp::Mod}}};
    return parse_binary_level(p, parse_unary, table);
}

Expr parse_additive(Parser &p) {
    static constexpr std::array<BinaryLevel, 2> table = {
        {{TokenKind::Plus, BinOp::Add}, {TokenKind::Minus, BinOp::Sub}}};
    return parse_binary_level(p, parse_term, table);
}

Expr parse_shift(Parser &p) {
    static constexpr std::array<BinaryLevel, 2> table = {
        {{TokenKind::Shl, BinOp::Shl}, {TokenKind::Shr, BinOp::Shr}}};
    return parse_binary_level(p, parse_additive, table);
}

Expr parse_bitand(Parser &p) {
    static constexpr std::array<BinaryLevel, 1> table = {{{TokenKind::Amp, BinOp::BitAnd}}};
    return parse_binary_level(p, parse_shift, table);
}

Expr parse_bitxor(Parser &p) {
    static constexpr std::array<BinaryLevel, 1> table = {{{TokenKind::Caret, BinOp::BitXor}}};
    return parse_binary_level(p, parse_bitand, table);
}

Expr parse_bitor(Parser &p) {
    static constexpr std::array<BinaryLevel, 1> table = {{{TokenKind::Pipe, BinOp::BitOr}}};
    return parse_binary_level(p, parse_bitxor, table);
}

// Consumes a comparison operator when one starts here. A `not` that is not
// followed by `in` ends the chain and stays unconsumed.
std::optional<BinOp> accept_comparison(Parser &p) {
    static constexpr std::array<BinaryLevel, 7> simple = {{{TokenKind::In, BinOp::In},
                                                           {TokenKind::EqEq, BinOp::Eq},
                                                           {TokenKind::NotEq, BinOp::Ne},
                                                           {TokenKind::Lt, BinOp::Lt},
                                                           {TokenKind::Le, BinOp::Le},
                                                           {TokenKind::Gt, BinOp::Gt},
                                                           {TokenKind::Ge, BinOp::Ge}}};
    for (const BinaryLevel &entry : simple) {
        if (accept(p, entry.token))
            return entry.op;
    }
    if (accept(p, TokenKind::Is))
        return accept(p, TokenKind::Not) ? BinOp::IsNot : BinOp::Is;
    if (at(p, TokenKind::Not) && peek_next(p).kind == TokenKind::In) {
        advance(p);
        advance(p);
        return BinOp::NotIn;
    }
    return std::nullopt;
}

// A comparison chain `a < b < c < d` becomes a left-leaning tree of links
// joined by `and`:
//
//     And*(And*(Lt(a, b), Lt(b', c)), Lt(c', d))
//
// where b' and c' are deep copies of b and c, every `And` node has
// `chain = true`, and every node of the chain stands at the position of `a`.
// The left operand of link k (k >= 2) is always a copy of the right operand
// of link k - 1; the code generator uses the `chain` mark to evaluate that
// shared operand once. A plain `and` written in the source never has the mark.
Expr parse_comparison(Parser &p) {
    ChainHeight height(p);
    Expr previous = parse_bitor(p);
    uint64_t line = previous.line;
    uint64_t column = previous.column;
    std::vector<Expr> links;
    for (;;) {
        uint64_t op_line = current(p).line;
        uint64_t op_column = current(p).column;
        std::optional<BinOp> op = accept_comparison(p);
        if (!op)
            break;
        Expr right = parse_bitor(p);
        Expr link = make_binary(std::move(previous), *op, right);
        link.line = line;
        link.column = column;
        links.push_back(std::move(link));
        previous = std::move(right);
        height.link(op_line, op_column);
    }
    if (links.empty())
        return previous;
    Expr result = std::move(links[0]);
    for (size_t i = 1; i < links.size(); ++i) {
        result = make_expr(Expr::BinaryOp{std::move(result), BinOp::And, std::move(links[i]), true},
                           line, column);
    }
    return result;
}

Expr parse_not(Parser &p) {
    if (at(p, TokenKind::Not)) {
        Token token = advance(p);
        NestingGuard guard(p);
        Expr operand = parse_not(p);
        return make_expr(Expr::Unary{UnaryOp::Not, std::move(operand)}, token.line, token.column);
    }
    return parse_comparison(p);
}

Expr parse_and(Parser &p) {
    static constexpr std::array<BinaryLevel, 1> table = {{{TokenKind::And, BinOp::And}}};
    return parse_binary_level(p, parse_not, table);
}

// Prefix `+ - ~`, literal folding, and `**` (right-associative, binding
// tighter than a prefix operator on its left: `-x ** 2` is `-(x ** 2)`).
Expr parse_unary(Parser &p) {
    while (accept(p, TokenKind::Plus)) {
    }
    if (at(p, TokenKind::Minus) || at(p, TokenKind::Tilde)) {
        Token token = advance(p);
        NestingGuard guard(p);
        Expr operand = parse_unary(p);
        if (token.kind == TokenKind::Minus) {
            if (Expr::Int *literal = operand.as<Expr::Int>()) {
                // Wraps: minus the smallest integer stays the smallest integer.
                int64_t negated = static_cast<int64_t>(0 - static_cast<uint64_t>(literal->value));
                return make_expr(Expr::Int{negated}, token.line, token.column);
            }
            if (Expr::Float *literal = operand.as<Expr::Float>()) {
                return make_expr(Expr::Float{-literal->value}, token.line, token.column);
            }
        }
        UnaryOp op = token.kind == TokenKind::Minus ? UnaryOp::Neg : UnaryOp::Invert;
        return make_expr(Expr::Unary{op, std::move(operand)}, token.line, token.column);
    }
    Expr base = parse_primary(p);
    if (accept(p, TokenKind::StarStar)) {
        NestingGuard guard(p);
        Expr exponent = parse_unary(p);
        return make_binary(std::move(base), BinOp::Pow, std::move(exponent));
    }
    return base;
}

// Python's white space (the Unicode White_Space property) at `text[pos]`:
// its length in bytes, or 0.
size_t white_space_length(std::string_view text, size_t pos) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c == ' ' || (c >= 9 && c <= 13))
        return 1;
    auto byte = [&](size_t i) {
        return pos + i < text.size() ? static_cast<unsigned char>(text[pos + i]) : 0;
    };
    if (c == 0xC2 && (byte(1) == 0x85 || byte(1) == 0xA0))
        return 2;
    if (c == 0xE1 && byte(1) == 0x9A && byte(2) == 0x80)
        return 3;
    if (c == 0xE2 && byte(1) == 0x80) {
        unsigned char d = byte(2);
        if ((d >= 0x80 && d <= 0x8A) || d == 0xA8 || d == 0xA9 || d == 0xAF)
            return 3;
    }
    if (c == 0xE2 && byte(1) == 0x81 && byte(2) == 0x9F)
        return 3;
    if (c == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80)
        return 3;
    return 0;
}

// Finds the white space ending just before `end` (a character boundary).
size_t white_space_before(std::string_view text, size_t end) {
    size_t start = end;
    do {
        --start;
    } while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80);
    size_t length = white_space_length(text, start);
    return start + length == end ? length : 0;
}

// The field text without surrounding white space, and the number of
// characters trimmed from its start.
std::pair<std::string_view, uint64_t> trim_field(std::string_view text) {
    size_t begin = 0;
    uint64_t leading = 0;
    while (begin < text.size()) {
        size_t length = white_space_length(text, begin);
        if (length == 0)
            break;
        begin += length;
        ++leading;
    }
    size_t end = text.size();
    while (end > begin) {
        size_t length = white_space_before(text, end);
        if (length == 0)
            break;
        end -= length;
    }
    return {text.substr(begin, end - begin), leading};
}

// Parses one replacement field into a segment. The field text is lexed on
// its own and every position is moved into the file: the text holds no line
// feed, so everything lands on the field's line, shifted right to the
// field's column plus the blanks trimmed from its start (so an error in
// `f'{ x }'` points at the x itself).
FStringSegment parse_fstring_field(Parser &p, const FStringPart::Code &code) {
    auto [text, leading] = trim_field(code.src);
    uint64_t column_shift = code.col - 1 + leading;
    auto move_position = [&](uint64_t &line, uint64_t &column) {
        if (line == 1)
            column += column_shift;
        line += code.line - 1;
    };
    std::vector<Token> tokens;
    try {
        tokens = tokenize(text);
    } catch (CompileError &error) {
        move_position(error.line, error.column);
        throw;
    }
    for (Token &token : tokens)
        move_position(token.line, token.column);

    Parser sub;
    sub.tokens = std::move(tokens);
    sub.lambdas = std::move(p.lambdas);
    // The field nests inside the expression around the f-string: it
    // continues that expression's levels, not a fresh count.
    sub.depth = p.depth;
    sub.peak = p.peak;
    Expr expr;
    try {
        expr = parse_expr(sub);
    } catch (...) {
        p.lambdas = std::move(sub.lambdas);
        throw;
    }
    p.lambdas = std::move(sub.lambdas);
    p.peak = std::max(p.peak, sub.peak);
    if (!at(sub, TokenKind::Newline) && !at(sub, TokenKind::Eof)) {
        throw error_at_current(sub, "unexpected text in f-string expression");
    }
    return FStringSegment{FStringSegment::Field{std::move(expr), code.spec, code.conv}};
}

Expr parse_fstring(Parser &p, const Token &token) {
    Expr::FString fstring;
    for (const FStringPart &part : token.fstring_parts()) {
        if (const auto *lit = std::get_if<FStringPart::Lit>(&part.kind)) {
            fstring.segments.push_back(FStringSegment{FStringSegment::Literal{lit->text}});
        } else {
            fstring.segments.push_back(
                parse_fstring_field(p, std::get<FStringPart::Code>(part.kind)));
        }
    }
    return make_expr(std::move(fstring), token.line, token.column);
}

// After `(` and a first expression: a generator, a tuple, or the
// parenthesised expression itself (which keeps its own position).
Expr parse_paren_rest(Parser &p, const Token &open, Expr first) {
    if (at(p, TokenKind::For)) {
        std::vector<ComprehensionClause> clauses = parse_comprehension_clauses(p);
        expect(p, TokenKind::RParen, "')'");
        return make_expr(Expr::GeneratorExp{std::move(first), std::move(clauses)}, open.line,
                         open.column);
    }
    if (accept(p, TokenKind::Comma)) {
        Expr::Tuple tuple;
        tuple.elements.push_back(std::move(first));
        for (;;) {
            if (accept(p, TokenKind::RParen))
                break;
            tuple.elements.push_back(parse_expr(p));
            if (!accept(p, TokenKind::Comma)) {
                expect(p, TokenKind::RParen, "',' or ')'");
                break;
            }
        }
        return make_expr(std::move(tuple), open.line, open.column);
    }
    expect(p, TokenKind::RParen, "')'");
    return first;
}

// The rest of a display after its first element: `, e, e` up to the closer,
// a trailing comma allowed.
void parse_display_elements(Parser &p, std::vector<Expr> &elements, TokenKind closer,
                            std::string_view description) {
    while (accept(p, TokenKind::Comma)) {
        if (at(p, closer))
            break;
        elements.push_back(parse_expr(p));
    }
    expect(p, closer, description);
}

Expr parse_list_display(Parser &p, const Token &open) {
    if (accept(p, TokenKind::RBracket))
        return make_expr(Expr::List{}, open.line, open.column);
    Expr first = parse_expr(p);
    if (at(p, TokenKind::For)) {
        std::vector<ComprehensionClause> clauses = parse_comprehension_clauses(p);
        expect(p, TokenKind::RBracket, "']'");
        return make_expr(Expr::ListComp{std::move(first), std::move(clauses)}, open.line,
                         open.column);
    }
    Expr::List list;
    list.elements.push_back(std::move(first));
    parse_display_elements(p, list.elements, TokenKind::RBracket, "']'");
    return make_expr(std::move(list), open.line, open.column);
}

Expr parse_brace_display(Parser &p, const Token &open) {
    if (accept(p, TokenKind::RBrace))
        return make_expr(Expr::Dict{}, open.line, open.column);
    Expr first = parse_expr(p);
    if (accept(p, TokenKind::Colon)) {
        Expr value = parse_expr(p);
        if (at(p, TokenKind::For)) {
            std::vector<ComprehensionClause> clauses = parse_comprehension_clauses(p);
            expect(p, TokenKind::RBrace, "'}'");
            return make_expr(Expr::DictComp{std::move(first), std::move(value), std::move(clauses)},
                             open.line, open.column);
        }
        Expr::Dict dict;
        dict.entries.push_back(DictEntry{std::move(first), std::move(value)});
        while (accept(p, TokenKind::Comma)) {
            if (at(p, TokenKind::RBrace))
                break;
            Expr key = parse_expr(p);
            expect(p, TokenKind::Colon, "':' after the dict key");
            Expr entry_value = parse_expr(p);
            dict.entries.push_back(DictEntry{std::move(key), std::move(entry_value)});
        }
        expect(p, TokenKind::RBrace, "'}'");
        return make_expr(std::move(dict), open.line, open.column);
    }
    if (at(p, TokenKind::For)) {
        std::vector<ComprehensionClause> clauses = parse_comprehension_clauses(p);
        expect(p, TokenKind::RBrace, "'}'");
        return make_expr(Expr::SetComp{std::move(first), std::move(clauses)}, open.line,
                         open.column);
    }
    Expr::Set set;
    set.elements.push_back(std::move(first));
    parse_display_elements(p, set.elements, TokenKind::RBrace, "'}'");
    return make_expr(std::move(set), open.line, open.column);
}

// The atom of a primary, before any postfix.
Expr parse_atom(Parser &p) {
    Token token = advance(p);
    uint64_t line = token.line;
    uint64_t column = token.column;
    switch (token.kind) {
    case TokenKind::Int:
        return make_expr(Expr::Int{token.int_value()}, line, column);
    case TokenKind::Float:
        return make_expr(Expr::Float{token.float_value()}, line, column);
    case TokenKind::True:
        return make_expr(Expr::Bool{true}, line, column);
    case TokenKind::False:
        return make_expr(Expr::Bool{false}, line, column);
    case TokenKind::NoneKw:
        return make_expr(Expr::None{}, line, column);
    case TokenKind::Ident:
        return make_expr(Expr::Name{token.text()}, line, column);
    case TokenKind::Str: {
        std::string text = token.text();
        while (at(p, TokenKind::Str))
            text += advance(p).text();
        return make_expr(Expr::Str{std::move(text)}, line, column);
    }
    case TokenKind::FStr:
        return parse_fstring(p, token);
    case TokenKind::LParen: {
        if (at(p, TokenKind::RParen))
            throw error_at_current(p, "empty tuples are not supported");
        Expr first = parse_expr(p);
        return parse_paren_rest(p, token, std::move(first));
    }
    case TokenKind::LBracket:
        return parse_list_display(p, token);
    case TokenKind::LBrace:
        return parse_brace_display(p, token);
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
    case TokenKind::AugAssign:
    case TokenKind::RParen:
    case TokenKind::RBracket:
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
    throw error_at(fmt::format("expected an expression, found {}", describe_token(token)), line,
                   column);
}

// After `[`: an index, a tuple index `a[i, j]`, or a slice.
Expr parse_subscript(Parser &p, Expr object, uint64_t line, uint64_t column) {
    std::optional<Expr> lower;
    if (!at(p, TokenKind::Colon))
        lower = parse_expr(p);
    if (lower && at(p, TokenKind::Comma)) {
        uint64_t tuple_line = lower->line;
        uint64_t tuple_column = lower->column;
        Expr::Tuple tuple;
        tuple.elements.push_back(std::move(*lower));
        parse_display_elements(p, tuple.elements, TokenKind::RBracket, "']'");
        Expr index = make_expr(std::move(tuple), tuple_line, tuple_column);
        return make_expr(Expr::Index{std::move(object), std::move(index)}, line, column);
    }
    if (lower && !at(p, TokenKind::Colon)) {
        expect(p, TokenKind::RBracket, "']'");
        return make_expr(Expr::Index{std::move(object), std::move(*lower)}, line, column);
    }
    advance(p);
    Expr::Slice slice;
    slice.object = std::move(object);
    if (lower)
        slice.lower = std::move(*lower);
    if (!at(p, TokenKind::RBracket) && !at(p, TokenKind::Colon))
        slice.upper = parse_expr(p);
    if (accept(p, TokenKind::Colon) && !at(p, TokenKind::RBracket))
        slice.step = parse_expr(p);
    expect(p, TokenKind::RBracket, "']'");
    return make_expr(std::move(slice), line, column);
}

} // namespace

Expr parse_expr(Parser &p) {
    NestingGuard guard(p);
    if (at(p, TokenKind::Lambda))
        return parse_lambda(p);
    Expr if_true = parse_or(p);
    if (!accept(p, TokenKind::If))
        return if_true;
    Expr condition = parse_or(p);
    expect(p, TokenKind::Else, "'else' in conditional expression");
    Expr if_false = parse_expr(p);
    uint64_t line = if_true.line;
    uint64_t column = if_true.column;
    return make_expr(Expr::IfExp{std::move(condition), std::move(if_true), std::move(if_false)},
                     line, column);
}

Expr parse_or(Parser &p) {
    static constexpr std::array<BinaryLevel, 1> table = {{{TokenKind::Or, BinOp::Or}}};
    return parse_binary_level(p, parse_and, table);
}

Expr parse_primary(Parser &p) {
    ChainHeight height(p);
    Expr node = parse_atom(p);
    // Every postfix node stands at the start of the primary, which for a
    // parenthesised expression is that expression's own position.
    uint64_t line = node.line;
    uint64_t column = node.column;
    for (;;) {
        uint64_t link_line = current(p).line;
        uint64_t link_column = current(p).column;
        if (accept(p, TokenKind::LParen)) {
            CallArgs call = parse_call_args(p);
            if (Expr::Name *name = node.as<Expr::Name>()) {
                node =
                    make_expr(Expr::Call{name->name, std::move(call.args), std::move(call.kwargs)},
                              line, column);
            } else {
                node = make_expr(
                    Expr::CallExpr{std::move(node), std::move(call.args), std::move(call.kwargs)},
                    line, column);
            }
        } else if (accept(p, TokenKind::Dot)) {
            std::string name = expect_ident(p, "an attribute or method name");
            if (accept(p, TokenKind::LParen)) {
                CallArgs call = parse_call_args(p);
                node = make_expr(Expr::MethodCall{std::move(node), std::move(name),
                                                  std::move(call.args), std::move(call.kwargs)},
                                 line, column);
            } else {
                node = make_expr(Expr::Attribute{std::move(node), std::move(name)}, line, column);
            }
        } else if (accept(p, TokenKind::LBracket)) {
            node = parse_subscript(p, std::move(node), line, column);
        } else {
            return node;
        }
        height.link(link_line, link_column);
    }
}

CallArgs parse_call_args(Parser &p) {
    CallArgs call;
    for (;;) {
        if (accept(p, TokenKind::RParen))
            return call;
        if (at(p, TokenKind::Ident) && peek_next(p).kind == TokenKind::Assign) {
            std::string name = advance(p).text();
            advance(p);
            call.kwargs.push_back(Keyword{std::move(name), parse_expr(p)});
        } else {
            if (!call.kwargs.empty())
                throw error_at_current(p, "positional argument after a keyword argument");
            Expr arg = parse_expr(p);
            if (at(p, TokenKind::For)) {
                uint64_t line = arg.line;
                uint64_t column = arg.column;
                std::vector<ComprehensionClause> clauses = parse_comprehension_clauses(p);
                arg =
                    make_expr(Expr::GeneratorExp{std::move(arg), std::move(clauses)}, line, column);
            }
            call.args.push_back(std::move(arg));
        }
        if (!accept(p, TokenKind::Comma)) {
            expect(p, TokenKind::RParen, "',' or ')'");
            return call;
        }
    }
}

// The iterable and the filters are parsed below the conditional level, so
// the `if` of a filter is never taken for a conditional expression.
std::vector<ComprehensionClause> parse_comprehension_clauses(Parser &p) {
    std::vector<ComprehensionClause> clauses;
    while (accept(p, TokenKind::For)) {
        Expr target = parse_loop_targets(p);
        expect(p, TokenKind::In, "'in'");
        Expr iterable = parse_or(p);
        std::vector<Expr> conditions;
        while (accept(p, TokenKind::If))
            conditions.push_back(parse_or(p));
        clauses.push_back(
            ComprehensionClause{std::move(target), std::move(iterable), std::move(conditions)});
    }
    return clauses;
}

Expr parse_loop_targets(Parser &p) {
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    Expr target = parse_target_element(p);
    if (at(p, TokenKind::Comma)) {
        Expr::Tuple tuple;
        tuple.elements.push_back(std::move(target));
        while (accept(p, TokenKind::Comma)) {
            if (at(p, TokenKind::In))
                break;
            tuple.elements.push_back(parse_target_element(p));
        }
        target = make_expr(std::move(tuple), line, column);
    }
    std::vector<std::string> names;
    collect_target_names(target, names);
    for (size_t i = 0; i < names.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (names[j] == names[i]) {
                throw error_at(fmt::format("loop variable '{}' appears twice", names[i]), line,
                               column);
            }
        }
    }
    return target;
}

Expr parse_target_element(Parser &p) {
    if (at(p, TokenKind::LParen) || at(p, TokenKind::LBracket)) {
        Token open = advance(p);
        bool paren = open.kind == TokenKind::LParen;
        TokenKind closer = paren ? TokenKind::RParen : TokenKind::RBracket;
        std::vector<Expr> elements;
        elements.push_back(parse_target_element(p));
        bool trailing_comma = false;
        while (accept(p, TokenKind::Comma)) {
            if (at(p, closer)) {
                trailing_comma = true;
                break;
            }
            elements.push_back(parse_target_element(p));
        }
        expect(p, closer, paren ? "')'" : "']'");
        if (elements.size() == 1 && !trailing_comma)
            return std::move(elements[0]);
        return make_expr(Expr::Tuple{std::move(elements)}, open.line, open.column);
    }
    uint64_t line = current(p).line;
    uint64_t column = current(p).column;
    std::string name = expect_ident(p, "a loop variable");
    return make_expr(Expr::Name{std::move(name)}, line, column);
}

// Lifts the lambda into `lambdas` once it is complete, so a lambda nested in
// its body or defaults takes the lower number.
Expr parse_lambda(Parser &p) {
    Token keyword = advance(p);
    std::vector<Param> params;
    while (!at(p, TokenKind::Colon)) {
        std::string name = expect_ident(p, "a parameter name");
        for (const Param &earlier : params) {
            if (earlier.name == name) {
                throw error_at_current(p, fmt::format("duplicate parameter '{}'", name));
            }
        }
        Param param;
        param.name = std::move(name);
        if (accept(p, TokenKind::Assign)) {
            param.default_value = parse_expr(p);
        } else if (!params.empty() && params.back().default_value) {
            throw error_at_current(
                p, fmt::format("parameter '{}' without a default follows one with a default",
                               param.name));
        }
        params.push_back(std::move(param));
        if (!accept(p, TokenKind::Comma))
            break;
    }
    expect(p, TokenKind::Colon, "':'");
    Expr body = parse_expr(p);

    uint64_t index = p.lambdas.size();
    FuncDef lifted;
    lifted.name = fmt::format("<lambda{}>", index);
    lifted.params = std::move(params);
    Stmt ret;
    ret.kind = Stmt::Return{std::move(body)};
    ret.line = keyword.line;
    ret.column = keyword.column;
    lifted.body.push_back(std::move(ret));
    lifted.line = keyword.line;
    lifted.column = keyword.column;
    p.lambdas.push_back(std::move(lifted));
    return make_expr(Expr::Lambda{index}, keyword.line, keyword.column);
}

} // namespace kestal
