// Binary and unary operator expressions and conditional expressions. The
// order in which the operands are compiled and the expected Types handed
// down are decided here; combining two compiled operands is the business of
// `compile_binary_op` (binary_ops.cpp).
//
// A long left-leaning run of arithmetic, bitwise or comparison operators
// (`a + b - c + ...`) is compiled link by link into numbered temporaries
// inside one statement expression, so its C text nests no deeper with more
// links; the temporaries also fix the left-to-right order of every operand.
#include "codegen/expr/expr.h"

#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/optional/narrowing.h"

#include <algorithm>
#include <iterator>

namespace kestal {

CompiledExpr compile_chain_value(CodegenContext &ctx, const Expr &e, const Type *expected);

namespace {

bool is_number(const Type &t) {
    return t.is<Type::Int>() || t.is<Type::Float>();
}

// Runs of at most this many links keep their nested form, which reads as
// the source does.
constexpr size_t kFlatChainLinks = 16;

bool is_operator_link(const Expr &e) {
    const auto *b = e.as<Expr::BinaryOp>();
    return b && b->op != BinOp::And && b->op != BinOp::Or;
}

// A value that a C variable can hold.
bool storable(const Type &t) {
    return !(t.is<Type::Range>() || t.is<Type::Function>() || t.is<Type::None>() ||
             t.is<Type::NoValue>());
}

bool is_empty_display(const Expr &e) {
    if (const auto *l = e.as<Expr::List>())
        return l->elements.empty();
    if (const auto *d = e.as<Expr::Dict>())
        return d->entries.empty();
    return false;
}

bool is_nonempty_list_display(const Expr &e) {
    const auto *l = e.as<Expr::List>();
    return l && !l->elements.empty();
}

// `xs + [a, b]` and `[a, b] + xs`: the display's items are stored straight
// into one new list of the final size, not first into a list of their own.
// The operands are compiled in source order with the hints the plain
// lowering gives; when the two sides' Types differ, the display becomes its
// own list and the operator its usual lowering. None unless one side is a
// non-empty display and the other no empty display. (Hoisting orders the
// display's items as operands of the `+` itself, so they may stand in one
// C call beside the other side.)
std::optional<CompiledExpr> display_concat(CodegenContext &ctx, const Expr &e,
                                           const Type *list_hint) {
    const auto &b = *e.as<Expr::BinaryOp>();
    if (b.op != BinOp::Add || is_empty_display(*b.left) || is_empty_display(*b.right))
        return std::nullopt;
    const Type *item = list_hint ? &*list_hint->as<Type::List>()->element : nullptr;
    auto hint_for = [&](const Expr &operand) {
        return operand.is<Expr::List>() ? list_hint : nullptr;
    };
    if (is_nonempty_list_display(*b.right)) {
        CompiledExpr l = compile_expr(ctx, *b.left, hint_for(*b.left));
        UnifiedElements items = compile_list_items(ctx, *b.right, item);
        if (l.type != Type::list(items.type))
            return compile_binary_op(ctx, b.op, l, list_from_items(ctx, items), e);
        return CompiledExpr{fmt::format("{}_cat_items({}, {}, {})", list_c_name(items.type), l.text,
                                        items.texts.size(), items_array_text(items)),
                            l.type};
    }
    if (!is_nonempty_list_display(*b.left))
        return std::nullopt;
    UnifiedElements items = compile_list_items(ctx, *b.left, item);
    CompiledExpr r = compile_expr(ctx, *b.right, hint_for(*b.right));
    if (r.type != Type::list(items.type))
        return compile_binary_op(ctx, b.op, list_from_items(ctx, items), r, e);
    return CompiledExpr{fmt::format("{}_items_cat({}, {}, {})", list_c_name(items.type),
                                    items.texts.size(), items_array_text(items), r.text),
                        r.type};
}

} // namespace

CompiledExpr compile_binary_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &b = *e.as<Expr::BinaryOp>();
    if (b.op == BinOp::And || b.op == BinOp::Or) {
        // The regrouped run is compiled from its root down; its links are
        // short runs, so they are not regrouped again.
        std::optional<Expr> grouped = regrouped_bool_run(e);
        const Expr &run = grouped ? *grouped : e;
        const auto &top = *run.as<Expr::BinaryOp>();
        if (top.chain)
            return compile_chain_value(ctx, run, expected);
        return compile_and_or(ctx, top.op, *top.left, *top.right, expected, e.line, e.column);
    }
    bool list_op =
        (b.op == BinOp::Add || b.op == BinOp::Mul) && expected && expected->is<Type::List>();
    auto hint_for = [&](const Expr &operand) -> const Type * {
        return list_op && operand.is<Expr::List>() ? expected : nullptr;
    };
    if (std::optional<CompiledExpr> joined = display_concat(ctx, e, list_op ? expected : nullptr))
        return std::move(*joined);
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

std::optional<CompiledExpr> compile_operator_run(CodegenContext &ctx, const Expr &e,
                                                 const Type *expected) {
    // The links from the innermost (leftmost) one out.
    std::vector<const Expr *> links;
    for (const Expr *cur = &e; is_operator_link(*cur); cur = cur->as<Expr::BinaryOp>()->left.get())
        links.push_back(cur);
    if (links.size() <= kFlatChainLinks)
        return std::nullopt;
    std::reverse(links.begin(), links.end());
    // The first link is compiled as it stands (an empty display on its left
    // takes the right operand's Type there).
    CompiledExpr acc = compile_expr(ctx, *links.front());
    std::string text = "({ ";
    for (size_t i = 1; i < links.size(); ++i) {
        if (storable(acc.type)) {
            ensure_type_defined(ctx, acc.type);
            std::string t = fresh_temp(ctx, "ch");
            fmt::format_to(std::back_inserter(text), "{} {} = {}; ", c_type_name(acc.type), t,
                           acc.text);
            acc.text = std::move(t);
        }
        const auto &b = *links[i]->as<Expr::BinaryOp>();
        const Type *hint = nullptr;
        if (is_empty_display(*b.right))
            hint = &acc.type;
        else if ((b.op == BinOp::Add || b.op == BinOp::Mul) && expected &&
                 expected->is<Type::List>() && b.right->is<Expr::List>())
            hint = expected;
        CompiledExpr r = compile_expr(ctx, *b.right, hint);
        acc = compile_binary_op(ctx, b.op, acc, r, *links[i]);
    }
    text.append(acc.text).append("; })");
    return CompiledExpr{std::move(text), std::move(acc.type)};
}

CompiledExpr compile_unary_expr(CodegenContext &ctx, const Expr &e) {
    const auto &u = *e.as<Expr::Unary>();
    switch (u.op) {
    case UnaryOp::Invert:
        return {fmt::format("(~{})", check_int_operand(ctx, *u.operand, "the operand of ~")),
                Type::int_()};
    case UnaryOp::Not:
        return {fmt::format("(!{})", compile_condition(ctx, *u.operand)), Type::bool_()};
    case UnaryOp::Neg:
        break;
    }
    CompiledExpr o = compile_expr(ctx, *u.operand);
    if (is_number(o.type))
        return {fmt::format("(-{})", o.text), o.type};
    if (o.type.is<Type::Class>()) {
        auto call = call_dunder_if_defined(ctx, o.text, o.type.as<Type::Class>()->name, "__neg__",
                                           {}, e.line, e.column);
        if (call)
            return *call;
        throw_error(fmt::format("bad operand type for unary -: {} (define __neg__)", o.type),
                    e.line, e.column);
    }
    throw_error(fmt::format("bad operand type for unary -: {}", o.type), e.line, e.column);
}

CompiledExpr compile_if_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &x = *e.as<Expr::IfExp>();
    NarrowingFacts facts = non_none_paths_if_true(*x.condition);
    StaticTruth truth = none_test_fact(ctx, *x.condition);
    if (truth == StaticTruth::False)
        return compile_expr_with_paths(ctx, facts.when_false, *x.if_false, expected);
    if (truth == StaticTruth::True)
        return compile_expr_with_paths(ctx, facts.when_true, *x.if_true, expected);
    std::string cond = compile_condition(ctx, *x.condition);
    CompiledExpr a = compile_expr_with_paths(ctx, facts.when_true, *x.if_true, expected);
    CompiledExpr b = compile_expr_with_paths(ctx, facts.when_false, *x.if_false, expected);
    auto joined = join_types(ctx, a.type, b.type);
    if (!joined)
        throw_error(fmt::format("both branches of a conditional expression must have the same type "
                                "({} vs {})",
                                a.type, b.type),
                    e.line, e.column);
    ensure_type_defined(ctx, *joined);
    return {fmt::format("({} ? {} : {})", cond, *coerce_expr(ctx, a.text, a.type, *joined),
                        *coerce_expr(ctx, b.text, b.type, *joined)),
            *joined};
}

} // namespace kestal
