// The for statement: the iterable becomes an iteration plan, wrapped here
// into one C block that binds the loop target to each element and runs the
// body, then the else block when the loop was not left by `break`.
#include "analysis/analyses.h"
#include "analysis/walkers.h"
#include "codegen/core/ctypes.h"
#include "codegen/optional/narrowing.h"
#include "codegen/parallel/checker.h"
#include "codegen/parallel/prange.h"
#include "codegen/stmt/index_hoisting.h"
#include "codegen/stmt/iteration_plans.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"

namespace kestal {

// The loop variable's C text with the element converted to its Type. A
// first use declares it with the element's Type, or with the wider Type a
// later assignment asked for on this attempt (`x = None` in the body); an
// existing variable must hold the element's Type or be its optional form.
std::pair<std::string, std::string>
declare_loop_variable(CodegenContext &ctx, const std::string &name, const std::string &element,
                      const Type &type, uint64_t line, uint64_t column) {
    FunctionFrame &frame = ctx.frame();
    std::optional<Variable> var = lookup_local(ctx, name);
    if (!var) {
        Type declared = type;
        if (auto forced = frame.forced_types.find(name); forced != frame.forced_types.end())
            declared = forced->second;
        if (auto converted = coerce_expr(ctx, element, type, declared))
            return {declare_var(ctx, name, declared).text, *converted};
        var = Variable{declared, ""};
    } else if (var->type == type) {
        return {var->text, element};
    } else if (var->type == make_optional(type)) {
        if (auto converted = coerce_expr(ctx, element, type, var->type))
            return {var->text, *converted};
    }
    throw_error(fmt::format("loop variable '{}' already holds {:#}, but this loop gives it {}",
                            name, var->type, type),
                line, column);
}

// Emits the stores of one element into the target at the current
// indentation.
void bind_loop_target(CodegenContext &ctx, const Expr &target, const std::string &element,
                      const Type &type, uint64_t line, uint64_t column) {
    if (const auto *n = target.as<Expr::Name>()) {
        auto [text, value] = declare_loop_variable(ctx, n->name, element, type, line, column);
        emit_line(ctx, "{} = {};", text, value);
        // A variable widened to an optional by a later `x = None` holds a
        // value here: the body reads it with the element's Type.
        if (!type.is<Type::Optional>() && !type.is<Type::None>())
            if (auto var = lookup_local(ctx, n->name); var && var->type.is<Type::Optional>())
                ctx.frame().narrowed_paths.insert(n->name);
        return;
    }
    const auto *tuple = target.as<Expr::Tuple>();
    if (!tuple)
        throw_error("can't assign to this loop target", target.line, target.column);
    ensure_type_defined(ctx, type);
    std::string t = fresh_temp(ctx, "t");
    std::string text = fmt::format("{} {} = {}; ", c_type_name(type), t, element);
    std::vector<CompiledExpr> parts =
        unpack_elements(t, type, tuple->elements.size(), text, line, column);
    text.pop_back();
    emit_line(ctx, text);
    for (size_t i = 0; i < parts.size(); ++i)
        bind_loop_target(ctx, tuple->elements[i], parts[i].text, parts[i].type, line, column);
}

void compile_for_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::For &s) {
    PathSet assigned;
    collect_assigned_names(s.body, assigned);
    std::vector<std::string> bound;
    collect_target_names(s.target, bound);
    for (const auto &p : assigned)
        forget_facts_under(ctx, p);
    for (const auto &p : bound)
        forget_facts_under(ctx, p);
    auto snapshot = ctx.frame().narrowed_paths;

    if (auto prange = match_prange_call(ctx, s.iterable)) {
        compile_prange_loop(ctx, stmt, s, *prange->args, prange->kwargs->size());
        ctx.frame().narrowed_paths = snapshot;
        return;
    }
    IterationPlan plan = [&] {
        FunctionFrame &frame = ctx.frame();
        const auto *saved = frame.loop_body_assigned;
        frame.loop_body_assigned = &assigned;
        try {
            IterationPlan p = plan_for_iteration(ctx, s.iterable);
            frame.loop_body_assigned = saved;
            return p;
        } catch (...) {
            frame.loop_body_assigned = saved;
            throw;
        }
    }();
    std::optional<std::string> label;
    if (s.else_body || plan.loop_count >= 2)
        label = fresh_break_label(ctx);
    auto trim = [](std::string text) {
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        return text;
    };
    emit_line(ctx, "{{ {}", trim(plan.setup));
    IndexHoisting hoisting(ctx, s, plan);
    emit_line(ctx, trim(plan.header));
    {
        IndentGuard indent(ctx);
        bind_loop_target(ctx, s.target, plan.element, plan.element_type, stmt.line, stmt.column);
    }
    hoisting.target_bound();
    compile_loop_body(ctx, s.body, label, trim(plan.cleanup));
    hoisting.finish();
    emit_line(ctx, trim(plan.close));
    compile_loop_else(ctx, s.else_body, label);
    if (!plan.cleanup.empty())
        emit_line(ctx, trim(plan.cleanup));
    emit_line(ctx, "}");
    ctx.frame().narrowed_paths = snapshot;
}

} // namespace kestal
