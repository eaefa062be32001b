// The for statement: the iterable becomes an iteration plan, wrapped here
// into one C block that binds the loop target to each element and runs the
// body, then the else block when the loop was not left by `break`.
#include "analysis/analyses.h"
#include "analysis/walkers.h"
#include "codegen/core/ctypes.h"
#include "codegen/optional/narrowing.h"
#include "codegen/parallel/checker.h"
#include "codegen/parallel/prange.h"
#include "codegen/stmt/deferred_checks.h"
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

namespace {

// A loop's unchecked copy, once written: its flag and the statements that
// put back the locals it assigned.
struct UncheckedCopy {
    std::string flag;
    std::string restores;
};

// Writes the unchecked copy of a range loop whose zero-divisor checks are
// deferred (see deferred_checks.h), before its checked copy; none when the
// copy turns out not to qualify, and then its text is taken out again.
std::optional<UncheckedCopy> emit_unchecked_copy(CodegenContext &ctx, const Stmt &stmt,
                                                 const Stmt::For &s, const IterationPlan &plan,
                                                 IndexHoisting &hoisting, const std::string &header,
                                                 const std::string &close,
                                                 const std::string &cleanup, bool nest) {
    FunctionFrame &frame = ctx.frame();
    auto facts = frame.narrowed_paths;
    std::string flag = fresh_temp(ctx, "dz");
    std::string marker = fmt::format("/* {} */", flag);
    size_t start = frame.body.size();
    emit_line(ctx, marker);
    size_t copy_at = frame.body.size();
    DeferredChecks state{"&" + flag, {}};
    // A nest stores only at its own index, so the items it may store are
    // those its range reaches.
    if (const HoistedLoop *own = hoisting.entry();
        nest && own && plan.range && (plan.range->step == 1 || plan.range->step == -1))
        state.store_guard = own->guard;
    for (const HoistedLoop &h : frame.hoisted_loops)
        state.guards.insert(h.guard);
    DeferredChecks used;
    size_t loop_at = 0, loop_end = 0;
    auto drop = [&] {
        frame.body.resize(start);
        frame.narrowed_paths = facts;
        return std::nullopt;
    };
    {
        DeferredScope scope(frame, std::move(state));
        emit_line(ctx, "if (!{}) {{", flag);
        {
            IndentGuard indent(ctx);
            loop_at = frame.body.size();
            emit_line(ctx, header);
            {
                IndentGuard inner(ctx);
                bind_loop_target(ctx, s.target, plan.element, plan.element_type, stmt.line,
                                 stmt.column);
            }
            hoisting.target_bound();
            compile_loop_body(ctx, s.body, std::nullopt, cleanup);
            emit_line(ctx, close);
            loop_end = frame.body.size();
        }
        emit_line(ctx, "}");
        used = *frame.deferred;
    }
    frame.narrowed_paths = facts;
    std::string_view copy(frame.body.data() + copy_at, frame.body.size() - copy_at);
    if (used.divisions == 0 || !effect_free_c(ctx, copy, false, used.stored_lists))
        return drop();
    PathSet assigned;
    collect_assigned_names(s.body, assigned);
    std::vector<std::string> names(assigned.begin(), assigned.end());
    collect_target_names(s.target, names);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    std::string saves, restores;
    for (const std::string &name : names) {
        std::optional<Variable> var = lookup_local(ctx, name);
        if (!var || var->text.rfind("v_", 0) != 0 ||
            var->text.find_first_of(".-> ") != std::string::npos)
            return drop();
        std::string saved = fresh_temp(ctx, "sv");
        saves += fmt::format(" {} {} = {};", c_type_name(var->type), saved, var->text);
        restores += fmt::format("{}{} = {};", restores.empty() ? "" : " ", var->text, saved);
    }
    // A nest that stores items runs in a function of its own.
    std::string distinct;
    if (!used.stored_lists.empty()) {
        std::map<std::string, StoredSpan> spans;
        const RangeBounds &r = *plan.range;
        const HoistedLoop *own = hoisting.entry();
        for (const auto &[name, list] : own->lists) {
            if (!used.stored_lists.count(list.text) || !list.used)
                continue;
            auto [low, high] = *list.used;
            // The smallest index the loop variable takes is the start
            // going up and the last value going down.
            std::string smallest = r.step > 0 ? r.start : fmt::format("({} + 1)", r.stop);
            std::string steps = r.step > 0 ? fmt::format("{} - {}", r.stop, r.start)
                                           : fmt::format("{} - {}", r.start, r.stop);
            spans[list.text] =
                StoredSpan{fmt::format("{} + INT64_C({})", smallest, low),
                           fmt::format("{} {} {} ? {} + INT64_C({}) : 0", r.start,
                                       r.step > 0 ? "<" : ">", r.stop, steps, high - low)};
        }
        if (spans.size() != used.stored_lists.size())
            return drop();
        std::string_view loop(frame.body.data() + loop_at, loop_end - loop_at);
        auto lifted = lift_nest(ctx, loop, flag, spans, std::string_view(frame.body.data(), start));
        if (!lifted)
            return drop();
        distinct = lifted->distinct;
        frame.body.resize(loop_at);
        {
            IndentGuard indent(ctx);
            emit_line(ctx, lifted->call);
        }
        emit_line(ctx, "}");
    }
    std::string guards;
    for (const std::string &g : used.used_guards)
        guards += (guards.empty() ? "" : " && ") + g;
    if (!distinct.empty())
        guards += (guards.empty() ? "" : " && ") + distinct;
    std::string line = fmt::format("int64_t {} = {};{}", flag,
                                   guards.empty() ? "false" : "!(" + guards + ")", saves);
    frame.body.replace(frame.body.find(marker, start), marker.size(), line);
    return UncheckedCopy{flag, restores};
}

} // namespace

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
    std::optional<UncheckedCopy> unchecked;
    const FunctionFrame &frame = ctx.frame();
    bool nest = false;
    if (plan.range && !label && !frame.deferred && !frame.host_function &&
        deferral_candidate(ctx, s, nest))
        unchecked = emit_unchecked_copy(ctx, stmt, s, plan, hoisting, trim(plan.header),
                                        trim(plan.close), trim(plan.cleanup), nest);
    std::optional<IndentGuard> checked_indent;
    if (unchecked) {
        emit_line(ctx, "if (KTL_UNLIKELY({})) {{", unchecked->flag);
        checked_indent.emplace(ctx);
        if (!unchecked->restores.empty())
            emit_line(ctx, unchecked->restores);
    }
    emit_line(ctx, trim(plan.header));
    {
        IndentGuard indent(ctx);
        bind_loop_target(ctx, s.target, plan.element, plan.element_type, stmt.line, stmt.column);
    }
    hoisting.target_bound();
    compile_loop_body(ctx, s.body, label, trim(plan.cleanup));
    hoisting.finish();
    emit_line(ctx, trim(plan.close));
    if (unchecked) {
        checked_indent.reset();
        emit_line(ctx, "}");
    }
    compile_loop_else(ctx, s.else_body, label);
    if (!plan.cleanup.empty())
        emit_line(ctx, trim(plan.cleanup));
    emit_line(ctx, "}");
    ctx.frame().narrowed_paths = snapshot;
}

} // namespace kestal
