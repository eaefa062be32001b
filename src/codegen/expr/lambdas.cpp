// Lambdas as values. A lambda is a function value whose Type names the
// lifted lambda and the variables it captures; a lambda with captures is a
// C struct holding copies of them, taken when the lambda expression runs.
// Because a copy can't follow later assignments, a lambda may only copy a
// local that keeps one value for the whole body, unless it is a call
// argument that the built-in calls and drops before returning (a sort key).
// Module globals and functions are never copied: the lambda reads them.
#include "codegen/expr/expr.h"

#include "analysis/walkers.h"
#include "codegen/core/ctypes.h"
#include "codegen/optional/narrowing.h"

namespace kestal {

CompiledExpr compile_lambda_expr(CodegenContext &ctx, const Expr &expr) {
    uint64_t index = expr.as<Expr::Lambda>()->index;
    FunctionFrame &frame = ctx.frame();
    bool transient = frame.transient_lambda == &expr;
    NameTypeList captures;
    std::vector<std::string> texts;
    for (const std::string &name : collect_lambda_captures(*ctx.lambdas, index)) {
        if (frame.declared_globals.count(name))
            continue;
        auto local = frame.locals.find(name);
        if (local == frame.locals.end())
            continue;
        if (!transient && !frame.single_assignment_names.count(name))
            throw_error(fmt::format("this lambda uses '{0}', which is assigned more than once; "
                                    "Kestal copies the variables a lambda uses when it's created, "
                                    "so Python would differ if '{0}' changes later (pass it as an "
                                    "argument instead)",
                                    name),
                        expr.line, expr.column);
        // A copy of a narrowed optional keeps the narrowed Type: it can't
        // become None afterwards.
        Variable var = local->second;
        if (var.type.is<Type::Optional>() && is_known_non_none(ctx, name)) {
            Type inner = *var.type.as<Type::Optional>()->inner;
            texts.push_back(narrowed_read_text(ctx, name, var));
            captures.emplace_back(name, inner);
        } else {
            texts.push_back(var.text);
            captures.emplace_back(name, var.type);
        }
    }
    Type type = Type::function(FunctionValue{FunctionValue::Lambda{index, captures}});
    ensure_type_defined(ctx, type);
    if (captures.empty())
        return {"((uint8_t)0)", type};
    return {fmt::format("(({}){{{}}})", c_type_name(type), fmt::join(texts, ", ")), type};
}

CompiledExpr compile_transient_function(CodegenContext &ctx, const Expr &expr) {
    FunctionFrame &frame = ctx.frame();
    const Expr *saved = frame.transient_lambda;
    frame.transient_lambda = expr.is<Expr::Lambda>() ? &expr : nullptr;
    try {
        CompiledExpr c = compile_expr(ctx, expr);
        frame.transient_lambda = saved;
        return c;
    } catch (...) {
        frame.transient_lambda = saved;
        throw;
    }
}

} // namespace kestal
