// Binary and unary operators and conditional expressions. The order in which
// the operands are compiled and the expected Types handed down are decided
// here; the combination of two compiled operands covers numbers, bools,
// strings, None tests, identity and container equality and order. Other
// combinations are refused with the operand-type message.
#include "codegen/expr/expr.h"

#include "codegen/classes/classes.h"
#include "codegen/mod/ctypes.h"
#include "codegen/optional/narrowing.h"

#include <array>
#include <cstdlib>

namespace kestal {

CompiledExpr compile_chain_value(CodegenContext &ctx, const Expr &e, const Type *expected);

namespace {

constexpr std::array<std::string_view, 24> kSymbols = {
    "+",  "-",  "*", "/",  "//", "%",   "**",  "&",  "|",      "^",  "<<",    ">>",
    "==", "!=", "<", "<=", ">",  ">=",  "and", "or", "in",     "not in", "is", "is not"};

bool is_int(const Type &t) { return t.is<Type::Int>(); }
bool is_number(const Type &t) { return t.is<Type::Int>() || t.is<Type::Float>(); }
bool is_reference(const Type &t) {
    if (t.is<Type::Optional>()) return is_pointer_kind(*t.as<Type::Optional>()->inner);
    return is_pointer_kind(t);
}

std::string none_hint(const Type &t) {
    if (t.is<Type::None>()) return " (it is always None here)";
    if (t.is<Type::Optional>()) return " (it may be None; check `is not None` first)";
    return "";
}

[[noreturn]] void operand_type_error(const Type &l, const Type &r, const Expr &e, BinOp op) {
    std::string hint = none_hint(l);
    if (hint.empty()) hint = none_hint(r);
    throw_error(fmt::format("unsupported operand types for {}: {} and {}{}", binop_symbol(op), l, r,
                            hint),
                e.line, e.column);
}

std::string as_float(const CompiledExpr &c) { return widen_to_float_text(c.text, c.type); }

bool is_nonzero_literal(const std::string &text) {
    std::string t = text;
    if (t.rfind("INT64_C(", 0) == 0 && t.back() == ')') t = t.substr(8, t.size() - 9);
    if (t == "INFINITY" || t == "(-INFINITY)" || t == "NAN") return true;
    if (t.empty()) return false;
    char *end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && v != 0.0;
}

bool is_empty_display(const Expr &e) {
    if (const auto *l = e.as<Expr::List>()) return l->elements.empty();
    if (const auto *d = e.as<Expr::Dict>()) return d->entries.empty();
    return false;
}

bool is_container(const Type &t) {
    return t.is<Type::List>() || t.is<Type::Dict>() || t.is<Type::Set>() || t.is<Type::Tuple>() ||
           t.is<Type::Range>();
}

std::optional<CompiledExpr> numeric_op(BinOp op, const CompiledExpr &l, const CompiledExpr &r) {
    bool both_int = is_int(l.type) && is_int(r.type);
    bool numeric = is_number(l.type) && is_number(r.type) && !both_int;
    std::string sym = binop_symbol(op);
    switch (op) {
    case BinOp::Add:
    case BinOp::Sub:
    case BinOp::Mul:
        if (both_int) return CompiledExpr{fmt::format("({} {} {})", l.text, sym, r.text), Type::int_()};
        if (numeric)
            return CompiledExpr{fmt::format("({} {} {})", as_float(l), sym, as_float(r)), Type::float_()};
        return std::nullopt;
    case BinOp::Div:
        if (!(both_int || numeric)) return std::nullopt;
        if (is_nonzero_literal(r.text))
            return CompiledExpr{fmt::format("(((double){}) / ((double){}))", l.text, r.text),
                                Type::float_()};
        return CompiledExpr{fmt::format("ktl_fdiv(((double){}), ((double){}))", l.text, r.text),
                            Type::float_()};
    case BinOp::FloorDiv:
        if (both_int) return CompiledExpr{fmt::format("ktl_floordiv({}, {})", l.text, r.text), Type::int_()};
        if (numeric)
            return CompiledExpr{fmt::format("ktl_ffloordiv({}, {})", as_float(l), as_float(r)),
                                Type::float_()};
        return std::nullopt;
    case BinOp::Mod:
        if (both_int) return CompiledExpr{fmt::format("ktl_mod({}, {})", l.text, r.text), Type::int_()};
        if (numeric)
            return CompiledExpr{fmt::format("ktl_fmod({}, {})", as_float(l), as_float(r)), Type::float_()};
        return std::nullopt;
    case BinOp::Pow:
        if (both_int) return CompiledExpr{fmt::format("ktl_ipow({}, {})", l.text, r.text), Type::int_()};
        if (numeric)
            return CompiledExpr{fmt::format("pow({}, {})", as_float(l), as_float(r)), Type::float_()};
        return std::nullopt;
    case BinOp::BitAnd:
    case BinOp::BitOr:
    case BinOp::BitXor:
        if (both_int) return CompiledExpr{fmt::format("({} {} {})", l.text, sym, r.text), Type::int_()};
        if (l.type.is<Type::Bool>() && r.type.is<Type::Bool>())
            return CompiledExpr{fmt::format("({} {} {})", l.text, sym, r.text), Type::bool_()};
        return std::nullopt;
    case BinOp::Shl:
        if (both_int)
            return CompiledExpr{
                fmt::format("((int64_t)((uint64_t){} << ({} & 63)))", l.text, r.text), Type::int_()};
        return std::nullopt;
    case BinOp::Shr:
        if (both_int) return CompiledExpr{fmt::format("({} >> ({} & 63))", l.text, r.text), Type::int_()};
        return std::nullopt;
    default: break;
    }
    if (is_comparison(op)) {
        if (both_int || (l.type.is<Type::Bool>() && r.type.is<Type::Bool>()))
            return CompiledExpr{fmt::format("({} {} {})", l.text, sym, r.text), Type::bool_()};
        if (numeric)
            return CompiledExpr{fmt::format("({} {} {})", as_float(l), sym, as_float(r)), Type::bool_()};
    }
    return std::nullopt;
}

} // namespace

std::string binop_symbol(BinOp op) { return std::string(kSymbols[static_cast<size_t>(op)]); }

// One piece: the per-Type table reads best as one ordered list of cases.
CompiledExpr compile_binary_op(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                               const CompiledExpr &r, const Expr &e) {
    if (op == BinOp::Eq || op == BinOp::Ne || op == BinOp::Is || op == BinOp::IsNot) {
        if (auto none_test = compile_static_is_none(op, l, r)) return *none_test;
    }
    if (op == BinOp::Is || op == BinOp::IsNot) {
        if (!is_reference(l.type) || !is_reference(r.type))
            throw_error(fmt::format("'{}' compares objects, lists, dicts, sets and files by identity; "
                                    "use == to compare {} and {}",
                                    binop_symbol(op), l.type, r.type),
                        e.line, e.column);
        return {fmt::format("({}((void *)({}) == (void *)({})))", op == BinOp::IsNot ? "!" : "", l.text,
                            r.text),
                Type::bool_()};
    }
    if (op == BinOp::Mod && l.type.is<Type::Str>())
        throw_error("%-formatting isn't supported; use an f-string: f\"{x}\"", e.line, e.column);
    if (auto numeric = numeric_op(op, l, r)) return *numeric;
    bool both_str = l.type.is<Type::Str>() && r.type.is<Type::Str>();
    if (both_str) {
        switch (op) {
        case BinOp::Add: return {fmt::format("ktl_str_cat({}, {})", l.text, r.text), Type::str()};
        case BinOp::Eq: return {fmt::format("ktl_str_eq({}, {})", l.text, r.text), Type::bool_()};
        case BinOp::Ne: return {fmt::format("(!ktl_str_eq({}, {}))", l.text, r.text), Type::bool_()};
        case BinOp::Lt:
        case BinOp::Le:
        case BinOp::Gt:
        case BinOp::Ge:
            return {fmt::format("(ktl_str_cmp({}, {}) {} 0)", l.text, r.text, binop_symbol(op)),
                    Type::bool_()};
        case BinOp::In:
            return {fmt::format("ktl_str_contains({}, {})", r.text, l.text), Type::bool_()};
        case BinOp::NotIn:
            return {fmt::format("(!ktl_str_contains({}, {}))", r.text, l.text), Type::bool_()};
        default: break;
        }
    }
    if (op == BinOp::Mul && ((l.type.is<Type::Str>() && is_int(r.type))))
        return {fmt::format("ktl_str_rep({}, {})", l.text, r.text), Type::str()};
    if (op == BinOp::Mul && ((is_int(l.type) && r.type.is<Type::Str>())))
        return {fmt::format("ktl_str_rep({}, {})", r.text, l.text), Type::str()};
    if ((op == BinOp::Eq || op == BinOp::Ne) && l.type == r.type && is_container(l.type)) {
        if (!supports_eq(l.type))
            throw_error(fmt::format("comparing {} with {} isn't supported", l.type, binop_symbol(op)),
                        e.line, e.column);
        ensure_type_defined(ctx, l.type);
        return {fmt::format("({}{}({}, {}))", op == BinOp::Ne ? "!" : "", eq_fn_name(l.type), l.text,
                            r.text),
                Type::bool_()};
    }
    if (is_comparison(op) && l.type == r.type &&
        (l.type.is<Type::List>() || l.type.is<Type::Tuple>())) {
        if (!is_orderable_type(l.type))
            throw_error(fmt::format("comparing {} with {} isn't supported", l.type, binop_symbol(op)),
                        e.line, e.column);
        ensure_type_defined(ctx, l.type);
        return {fmt::format("({} {} 0)", compare_expr(l.type, l.text, r.text), binop_symbol(op)),
                Type::bool_()};
    }
    operand_type_error(l.type, r.type, e, op);
}

CompiledExpr compile_binary_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &b = *e.as<Expr::BinaryOp>();
    if (b.op == BinOp::And || b.op == BinOp::Or) {
        if (b.chain) return compile_chain_value(ctx, e, expected);
        return compile_and_or(ctx, b.op, *b.left, *b.right, expected, e.line, e.column);
    }
    bool list_op = (b.op == BinOp::Add || b.op == BinOp::Mul) && expected && expected->is<Type::List>();
    auto hint_for = [&](const Expr &operand) -> const Type * {
        return list_op && operand.is<Expr::List>() ? expected : nullptr;
    };
    CompiledExpr l, r;
    if (is_empty_display(*b.left) && !is_empty_display(*b.right)) {
        r = compile_expr(ctx, *b.right, hint_for(*b.right));
        l = compile_expr(ctx, *b.left, &r.type);
    } else {
        l = compile_expr(ctx, *b.left, hint_for(*b.left));
        r = compile_expr(ctx, *b.right, is_empty_display(*b.right) ? &l.type : hint_for(*b.right));
    }
    return compile_binary_op(ctx, b.op, l, r, e);
}

CompiledExpr compile_unary_expr(CodegenContext &ctx, const Expr &e) {
    const auto &u = *e.as<Expr::Unary>();
    switch (u.op) {
    case UnaryOp::Invert:
        return {fmt::format("(~{})", check_int_operand(ctx, *u.operand, "the operand of ~")),
                Type::int_()};
    case UnaryOp::Not: return {fmt::format("(!{})", compile_condition(ctx, *u.operand)), Type::bool_()};
    case UnaryOp::Neg: break;
    }
    CompiledExpr o = compile_expr(ctx, *u.operand);
    if (is_number(o.type)) return {fmt::format("(-{})", o.text), o.type};
    if (o.type.is<Type::Class>()) {
        auto call = call_dunder_if_defined(ctx, o.text, o.type.as<Type::Class>()->name, "__neg__", {},
                                           e.line, e.column);
        if (call) return *call;
        throw_error(fmt::format("bad operand type for unary -: {} (define __neg__)", o.type), e.line,
                    e.column);
    }
    throw_error(fmt::format("bad operand type for unary -: {}", o.type), e.line, e.column);
}

CompiledExpr compile_if_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &x = *e.as<Expr::IfExp>();
    NarrowingFacts facts = non_none_paths_if_true(*x.condition);
    StaticTruth truth = none_test_fact(ctx, *x.condition);
    if (truth == StaticTruth::False) return compile_expr_with_paths(ctx, facts.when_false, *x.if_false, expected);
    if (truth == StaticTruth::True) return compile_expr_with_paths(ctx, facts.when_true, *x.if_true, expected);
    std::string cond = compile_condition(ctx, *x.condition);
    CompiledExpr a = compile_expr_with_paths(ctx, facts.when_true, *x.if_true, expected);
    CompiledExpr b = compile_expr_with_paths(ctx, facts.when_false, *x.if_false, expected);
    auto joined = join_types(a.type, b.type);
    if (!joined)
        throw_error(fmt::format("both branches of a conditional expression must have the same type "
                                "({} vs {})",
                                a.type, b.type),
                    e.line, e.column);
    ensure_type_defined(ctx, *joined);
    return {fmt::format("({} ? {} : {})", cond, *coerce_expr(a.text, a.type, *joined),
                        *coerce_expr(b.text, b.type, *joined)),
            *joined};
}

std::string check_int_operand(CodegenContext &ctx, const Expr &expr, const std::string &label) {
    CompiledExpr c = compile_expr(ctx, expr);
    if (!c.type.is<Type::Int>())
        throw_error(fmt::format("{} must be int, not {}{}", label, c.type, none_hint(c.type)), expr.line,
                    expr.column);
    return c.text;
}

} // namespace kestal
