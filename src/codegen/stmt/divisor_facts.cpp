#include "codegen/stmt/divisor_facts.h"

#include "ast/traverse.h"
#include "codegen/expr/expr.h"

#include <algorithm>

namespace kestal {

namespace {

bool is_division(BinOp op) {
    return op == BinOp::Div || op == BinOp::FloorDiv || op == BinOp::Mod;
}

bool is_simple(const Stmt &stmt) {
    return stmt.is<Stmt::ExprStmt>() || stmt.is<Stmt::Assign>() || stmt.is<Stmt::Unpack>() ||
           stmt.is<Stmt::AugAssign>() || stmt.is<Stmt::Pass>() || stmt.is<Stmt::Del>();
}

void add_fact(CodegenContext &ctx, const std::string &name) {
    std::optional<Variable> var = lookup_var(ctx, name);
    if (!var || !(var->type.is<Type::Int>() || var->type.is<Type::Float>()))
        return;
    if (var->text.starts_with("ktl_G.") && call_may_assign_global(ctx, name))
        return;
    auto &facts = ctx.frame().nonzero_divisors;
    for (const auto &fact : facts)
        if (fact.first == name)
            return;
    facts.emplace_back(name, var->text);
}

// The checked divisions by a variable that a completed evaluation of `e`
// has certainly run.
void note_evaluated(CodegenContext &ctx, const Expr &e) {
    if (const auto *b = e.as<Expr::BinaryOp>()) {
        note_evaluated(ctx, *b->left);
        if (b->op == BinOp::And || b->op == BinOp::Or)
            return;
        note_evaluated(ctx, *b->right);
        const auto *divisor = b->right->as<Expr::Name>();
        if (divisor && is_division(b->op) && ctx.frame().checked_divisions.count(&e))
            add_fact(ctx, divisor->name);
        return;
    }
    if (const auto *x = e.as<Expr::IfExp>()) {
        note_evaluated(ctx, *x->condition);
        return;
    }
    if (e.is<Expr::Lambda>() || e.is<Expr::ListComp>() || e.is<Expr::SetComp>() ||
        e.is<Expr::DictComp>() || e.is<Expr::GeneratorExp>())
        return;
    for_each_child_expr(e, [&](const Expr &child, ExprRole role) {
        if (role == ExprRole::Read)
            note_evaluated(ctx, child);
    });
}

void collect_target_names(const Expr &target, std::vector<std::string> &out) {
    if (const auto *n = target.as<Expr::Name>()) {
        out.push_back(n->name);
    } else if (const auto *t = target.as<Expr::Tuple>()) {
        for (const Expr &x : t->elements)
            collect_target_names(x, out);
    } else if (const auto *l = target.as<Expr::List>()) {
        for (const Expr &x : l->elements)
            collect_target_names(x, out);
    }
}

} // namespace

DivisorFactsScope::DivisorFactsScope(CodegenContext &ctx)
    : frame_(ctx.frame()), saved_(std::move(frame_.nonzero_divisors)) {
    frame_.nonzero_divisors.clear();
}

DivisorFactsScope::~DivisorFactsScope() {
    frame_.nonzero_divisors = std::move(saved_);
}

void begin_divisor_facts(CodegenContext &ctx, const Stmt &stmt) {
    FunctionFrame &frame = ctx.frame();
    frame.checked_divisions.clear();
    if (!is_simple(stmt))
        frame.nonzero_divisors.clear();
}

void end_divisor_facts(CodegenContext &ctx, const Stmt &stmt) {
    FunctionFrame &frame = ctx.frame();
    if (!is_simple(stmt) || frame.deferred) {
        frame.nonzero_divisors.clear();
        frame.checked_divisions.clear();
        return;
    }
    std::vector<std::string> assigned;
    if (const auto *s = stmt.as<Stmt::ExprStmt>()) {
        note_evaluated(ctx, s->expr);
    } else if (const auto *s = stmt.as<Stmt::Assign>()) {
        note_evaluated(ctx, s->value);
        collect_target_names(s->target, assigned);
    } else if (const auto *s = stmt.as<Stmt::Unpack>()) {
        note_evaluated(ctx, s->value);
        for (const Expr &t : s->targets)
            collect_target_names(t, assigned);
    } else if (const auto *s = stmt.as<Stmt::AugAssign>()) {
        note_evaluated(ctx, s->value);
        const auto *divisor = s->value.as<Expr::Name>();
        if (divisor && is_division(s->op) && frame.checked_divisions.count(&s->target))
            add_fact(ctx, divisor->name);
        collect_target_names(s->target, assigned);
    } else if (const auto *s = stmt.as<Stmt::Del>()) {
        for (const Expr &t : s->targets)
            collect_target_names(t, assigned);
    }
    auto &facts = frame.nonzero_divisors;
    facts.erase(std::remove_if(facts.begin(), facts.end(),
                               [&](const auto &fact) {
                                   return std::find(assigned.begin(), assigned.end(), fact.first) !=
                                          assigned.end();
                               }),
                facts.end());
    frame.checked_divisions.clear();
}

} // namespace kestal
