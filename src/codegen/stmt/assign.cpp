// Plain assignments and declarations. A name takes a Type at its first
// store and keeps it: a later store converts to it, or asks the owner of
// the frame to compile again with a wider Type, or fails.
#include "codegen/expr/expr.h"
#include "codegen/mod/analyses.h"
#include "codegen/mod/ctypes.h"
#include "codegen/mod/instances.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"

namespace kestal {

namespace {

void store_to_name(CodegenContext &ctx, const Expr &target, const std::string &n,
                   const std::optional<Type> &annotation, const CompiledExpr &value) {
    FunctionFrame &frame = ctx.frame();
    std::optional<Variable> existing = lookup_local(ctx, n);
    Type held;
    if (!existing) {
        Type d = value.type;
        if (annotation) {
            d = *annotation;
        } else if (auto forced = frame.forced_types.find(n); forced != frame.forced_types.end()) {
            d = forced->second;
        }
        auto converted = coerce_expr(value.text, value.type, d);
        if (!converted)
            throw_error(fmt::format("can't assign {:#} to '{}', declared as {}", value.type, n, d),
                        target.line, target.column);
        Variable var = declare_var(ctx, n, d);
        emit_line(ctx, "{} = {};", var.text, *converted);
        held = d;
    } else {
        const Type &l = existing->type;
        if (annotation && !(*annotation == l))
            throw_error(fmt::format("'{}' is already {:#}; it can't be redeclared as {}", n, l,
                                    *annotation),
                        target.line, target.column);
        if (auto converted = coerce_expr(value.text, value.type, l)) {
            emit_line(ctx, "{} = {};", existing->text, *converted);
        } else if (auto wider = assign_local_type(ctx, n, l, value.type)) {
            throw request_var_widening(ctx, n, *wider, target.line, target.column);
        } else {
            throw_error(fmt::format("can't assign {:#} to '{}', which holds {:#} (a variable keeps "
                                    "one type)",
                                    value.type, n, l),
                        target.line, target.column);
        }
        held = l;
    }
    update_facts_on_assign(ctx, target, held, value.type);
}

} // namespace

void compile_assign_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Assign &s) {
    if (s.annotation)
        check_annotation_classes(ctx.program->classes, *s.annotation, stmt.line, stmt.column);
    std::optional<Type> expected = s.annotation ? s.annotation : infer_declared_type(ctx, s.target);
    CompiledExpr value = compile_expr(ctx, s.value, expected ? &*expected : nullptr);
    store_to_target(ctx, s.target, s.annotation, value);
}

std::optional<Type> infer_declared_type(CodegenContext &ctx, const Expr &target) {
    if (const auto *n = target.as<Expr::Name>()) {
        if (auto var = lookup_local(ctx, n->name)) return var->type;
    }
    return std::nullopt;
}

void store_to_target(CodegenContext &ctx, const Expr &target, const std::optional<Type> &annotation,
                     const CompiledExpr &value) {
    if (value.type.is<Type::NoValue>())
        throw_error("can't assign: the right-hand side has no value", target.line, target.column);
    if (const auto *n = target.as<Expr::Name>()) {
        store_to_name(ctx, target, n->name, annotation, value);
        return;
    }
    if (target.is<Expr::Attribute>() || target.is<Expr::Index>() || target.is<Expr::Slice>() ||
        target.is<Expr::Tuple>())
        throw_error("assigning to this kind of target isn't supported yet", target.line,
                    target.column);
    throw_error("can't assign to this expression", target.line, target.column);
}

} // namespace kestal
