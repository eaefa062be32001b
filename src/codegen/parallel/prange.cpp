// The lowering of `for v in prange(...)`. The body becomes a C function run
// by every thread of the runtime's pool (the calling thread as thread 0),
// fed through an environment struct on the calling thread's stack: the
// range's start and step, a copy of each local the body reads, and one slot
// per thread for each reduction. Each thread claims chunks of iterations,
// accumulates its reductions in private locals and writes each slot once;
// the calling thread folds the slots after the loop. The struct and the
// body function are hoisted before the function that holds the loop.
//
// The body checker (checker.h) runs first: it refuses bodies that could
// race and finds the reductions and the outside names the body reads.
#include "codegen/parallel/prange.h"

#include "analysis/analyses.h"
#include "analysis/walkers.h"
#include "codegen/core/ctypes.h"
#include "codegen/core/widening.h"
#include "codegen/expr/expr.h"
#include "codegen/parallel/checker.h"
#include "codegen/stmt/stmt.h"

#include <algorithm>

namespace kestal {

namespace {

struct ReductionVar {
    std::string name;
    ReductionKind kind;
    Type type;
    std::string text;
};

struct SharedVar {
    std::string name;
    Type type;
    std::string text;
};

bool is_defined_name(CodegenContext &ctx, const std::string &name) {
    FunctionFrame &frame = ctx.frame();
    return lookup_var(ctx, name) || frame.declared_globals.count(name) ||
           (frame.is_module_level && ctx.global_names.count(name));
}

std::vector<ReductionVar> reduction_vars(CodegenContext &ctx, const PrangeChecker &checker) {
    std::vector<ReductionVar> out;
    for (const Reduction &r : checker.reductions) {
        auto same = std::find_if(out.begin(), out.end(),
                                 [&](const ReductionVar &v) { return v.name == r.name; });
        if (same != out.end()) {
            if (same->kind != r.kind)
                throw_error(fmt::format("inside a prange loop, '{}' can't be reduced in two ways "
                                        "(a sum and a min/max)",
                                        r.name),
                            r.line, r.column);
            continue;
        }
        if (auto read = checker.reads.find(r.name); read != checker.reads.end())
            throw_error(fmt::format("inside a prange loop, '{}' can't be read: it is a reduction "
                                    "(each thread updates its own copy, and the result is only "
                                    "known after the loop)",
                                    r.name),
                        read->second.first, read->second.second);
        auto var = lookup_var(ctx, r.name);
        if (!var)
            throw_error(fmt::format("name '{}' is not defined", r.name), r.line, r.column);
        if (!var->type.is<Type::Int>() && !var->type.is<Type::Float>())
            throw_error(fmt::format("'{}' is {:#}; a prange reduction needs an int or a float",
                                    r.name, var->type),
                        r.line, r.column);
        out.push_back({r.name, r.kind, var->type, var->text});
    }
    return out;
}

// The locals of the current frame among the outside names, sorted by name:
// module globals are read in place, so they are not copied.
std::vector<SharedVar> shared_vars(CodegenContext &ctx, std::set<std::string> outside,
                                   const std::vector<ReductionVar> &reductions) {
    FunctionFrame &frame = ctx.frame();
    // A method's receiver goes along even when the body only uses it through
    // `super()`.
    const std::string *function = frame_function_name(frame);
    if (!frame.method_class.empty() && function) {
        const FuncDef &def = *ctx.functions.at(*function);
        if (!def.params.empty())
            outside.insert(def.params[0].name);
    }
    std::vector<SharedVar> out;
    for (const std::string &name : outside) {
        bool reduced = std::any_of(reductions.begin(), reductions.end(),
                                   [&](const ReductionVar &r) { return r.name == name; });
        if (reduced || frame.declared_globals.count(name) || name.rfind('%', 0) == 0)
            continue;
        auto it = frame.locals.find(name);
        if (it == frame.locals.end())
            continue;
        out.push_back({name, it->second.type, it->second.text});
    }
    return out;
}

struct BodyParts {
    const std::string &loop_var;
    const std::vector<Stmt> &body;
    const std::set<std::string> &outside;
    const std::vector<SharedVar> &shared;
    const std::vector<ReductionVar> &reductions;
};

FunctionFrame compile_body_attempt(CodegenContext &ctx, const BodyParts &p,
                                   const ForcedTypes &forced) {
    const FunctionFrame &outer = ctx.frame();
    FunctionFrame frame = new_frame(false, std::nullopt, forced);
    frame.narrowed_paths = outer.narrowed_paths;
    // The body stands for the function that holds the loop: its tracebacks
    // name that function, and `super()` finds its class and receiver.
    const std::string *host = frame_function_name(outer);
    frame.host_function = host ? *host : std::string();
    frame.method_class = outer.method_class;
    PathSet volatile_paths;
    collect_try_assigned_names(p.body, volatile_paths);
    frame.volatile_names.insert(volatile_paths.begin(), volatile_paths.end());
    PathSet single = analyse_body_assignments(p.body, {});
    frame.single_assignment_names.insert(single.begin(), single.end());
    for (const SharedVar &v : p.shared) {
        frame.locals[v.name] = Variable{v.type, "v_" + v.name};
        frame.single_assignment_names.insert(v.name);
    }
    for (const ReductionVar &r : p.reductions)
        frame.locals[r.name] = Variable{r.type, "v_" + r.name};
    frame.indent = 3;
    FrameGuard guard(ctx, std::move(frame));
    Variable loop = declare_var(ctx, p.loop_var, Type::int_());
    emit_line(ctx, "{} = _pe->start + _k * _pe->step;", loop.text);
    ctx.frame().indent = 2;
    compile_loop_body(ctx, p.body, std::nullopt);
    return guard.pop();
}

// The body, compiled again while one of its own variables must widen. A
// request for an outside variable or the loop variable goes on to the
// enclosing function, which widens it there and compiles the whole loop
// again.
FunctionFrame compile_prange_body(CodegenContext &ctx, const BodyParts &p) {
    ForcedTypes forced;
    for (;;) {
        try {
            return compile_body_attempt(ctx, p, forced);
        } catch (WideningRequest &request) {
            if (request.kind != WideningRequest::Kind::Variable || p.outside.count(request.name) ||
                request.name == p.loop_var)
                throw;
            auto it = forced.find(request.name);
            if ((it != forced.end() && it->second == request.wider) ||
                (it == forced.end() && forced.size() >= kMaxForcedVariables))
                throw;
            forced[request.name] = request.wider;
        }
    }
}

std::string body_function_text(const std::string &env, const std::string &fn,
                               const std::vector<SharedVar> &shared,
                               const std::vector<ReductionVar> &reductions,
                               const FunctionFrame &body) {
    std::string fields = " int64_t start, step;";
    for (const SharedVar &v : shared)
        fields += fmt::format(" {} s_{};", c_type_name(v.type), v.name);
    for (const ReductionVar &r : reductions)
        fields += fmt::format(" {} r_{}[KTL_MAX_THREADS];", c_type_name(r.type), r.name);
    std::string text = fmt::format("typedef struct {{{} }} {};\n", fields, env);
    text += fmt::format("static void {}(void *_env, ktl_job *_job, int _tid) {{\n", fn);
    text += fmt::format("    {0} *_pe = ({0} *)_env;\n", env);
    text += "    (void)_tid;\n";
    for (const SharedVar &v : shared)
        text += fmt::format("    {0} v_{1} = _pe->s_{1};\n", c_type_name(v.type), v.name);
    for (const ReductionVar &r : reductions)
        text += fmt::format("    {0}{1} v_{2} = _pe->r_{2}[_tid];\n", c_type_name(r.type),
                            body.volatile_names.count(r.name) ? " volatile" : "", r.name);
    text += emit_local_decls(body.declared_locals, body.volatile_names);
    text += "    int64_t _lo, _hi;\n    while (ktl_par_claim(_job, &_lo, &_hi)) {\n"
            "        for (int64_t _k = _lo; _k < _hi; _k++) {\n";
    text += body.body;
    text += "        }\n    }\n";
    for (const ReductionVar &r : reductions)
        text += fmt::format("    _pe->r_{0}[_tid] = v_{0};\n", r.name);
    return text + "}\n\n";
}

void check_prange_call(const std::vector<Expr> &args, size_t keywords, uint64_t line,
                       uint64_t column, const Expr &target) {
    if (keywords > 0)
        throw_error("prange() doesn't take keyword arguments", line, column);
    if (args.empty() || args.size() > 3)
        throw_error(fmt::format("prange() takes 1 to 3 arguments, got {}", args.size()), line,
                    column);
    if (args.size() == 3)
        if (const auto *step = args[2].as<Expr::Int>(); step && step->value == 0)
            throw_error("prange() arg 3 must not be zero", args[2].line, args[2].column);
    if (!target.is<Expr::Name>())
        throw_error("a prange loop variable must be a plain name", target.line, target.column);
}

} // namespace

bool compile_reduction_update(CodegenContext &ctx, const Stmt::Assign &assign) {
    if (!ctx.prange_min_max_targets.count({assign.target.line, assign.target.column}))
        return false;
    const std::string &name = assign.target.as<Expr::Name>()->name;
    const auto &call = *assign.value.as<Expr::Call>();
    bool var_first = call.args[0].is<Expr::Name>() && call.args[0].as<Expr::Name>()->name == name;
    const Expr &operand = call.args[var_first ? 1 : 0];
    auto var = lookup_var(ctx, name);
    if (!var)
        internal_fault("a reduction variable is not bound in the loop body");
    CompiledExpr value = compile_expr(ctx, operand, &var->type);
    auto converted = coerce_expr(ctx, value.text, value.type, var->type);
    if (!converted) {
        if (var->type.is<Type::Int>() && value.type.is<Type::Float>())
            throw variable_widening(name, Type::float_(), assign.target.line, assign.target.column);
        throw_error(
            fmt::format("{}() can't compare {:#} with {:#}", call.name, var->type, value.type),
            operand.line, operand.column);
    }
    // Python keeps the first of equal values: min(x, e) takes e only when
    // e < x, min(e, x) keeps x only when x < e.
    const char *op = call.name == "min" ? "<" : ">";
    std::string m = fresh_temp(ctx, "m");
    std::string test = var_first ? fmt::format("{} {} {}", m, op, var->text)
                                 : fmt::format("!({} {} {})", var->text, op, m);
    emit_line(ctx, "{{ {0} {1} = {2}; if ({3}) {4} = {1}; }}", c_type_name(var->type), m,
              *converted, test, var->text);
    return true;
}

void compile_prange_loop(CodegenContext &ctx, const Stmt &stmt, const Stmt::For &loop,
                         const std::vector<Expr> &args, size_t keywords) {
    check_prange_call(args, keywords, loop.iterable.line, loop.iterable.column, loop.target);
    const std::string &var = loop.target.as<Expr::Name>()->name;
    // The body runs in a frame of its own, whose changes to lists are not
    // counted in this one.
    note_list_length_change(ctx);

    BlockNames names = collect_block_names(*ctx.lambdas, loop.body);
    std::set<std::string> outside;
    for (const auto *set : {&names.read, &names.assigned})
        for (const std::string &name : *set)
            if (name != var && is_defined_name(ctx, name))
                outside.insert(name);

    PrangeChecker checker{var, {}, ctx, outside, {}, {}, {}, {}, {}, {}, {}, true};
    for (const std::string &name : names.assigned)
        if (!outside.count(name))
            checker.variables.insert(name);
    check_prange_body(checker, loop.body);
    std::vector<ReductionVar> reductions = reduction_vars(ctx, checker);
    for (const Reduction &r : checker.reductions)
        if (r.kind != ReductionKind::Sum)
            ctx.prange_min_max_targets.insert({r.line, r.column});

    std::vector<std::string> bounds;
    for (const Expr &a : args)
        bounds.push_back(check_int_operand(ctx, a, "prange() arguments"));
    std::string start = "INT64_C(0)", stop, step = "INT64_C(1)";
    if (bounds.size() == 1) {
        stop = bounds[0];
    } else {
        start = bounds[0];
        stop = bounds[1];
        if (bounds.size() == 3)
            step = bounds[2];
    }

    std::vector<SharedVar> shared = shared_vars(ctx, outside, reductions);
    std::string par = fresh_temp(ctx, "par");
    std::string env = "ktl_penv" + par, fn = "ktl_pbody" + par;
    FunctionFrame body =
        compile_prange_body(ctx, BodyParts{var, loop.body, outside, shared, reductions});
    FunctionFrame &frame = ctx.frame();
    frame.hoisted += body.hoisted + body_function_text(env, fn, shared, reductions, body);
    NameTypeList body_locals = sorted_frame_locals(body);
    frame.inner_locals.insert(frame.inner_locals.end(), body_locals.begin(), body_locals.end());
    ctx.uses_prange = true;

    std::string a = fresh_temp(ctx, "a"), b = fresh_temp(ctx, "b"), st = fresh_temp(ctx, "st");
    std::string n = fresh_temp(ctx, "n"), pe = fresh_temp(ctx, "pe"), r = fresh_temp(ctx, "r");
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        emit_line(ctx, "int64_t {} = {}, {} = {}, {} = {};", a, start, b, stop, st, step);
        emit_line(ctx, "int64_t {} = ktl_range_len(ktl_range_new({}, {}, {}));", n, a, b, st);
        emit_line(ctx, "{0} {1}; {1}.start = {2}; {1}.step = {3};", env, pe, a, st);
        for (const SharedVar &v : shared)
            emit_line(ctx, "{}.s_{} = {};", pe, v.name, v.text);
        for (const ReductionVar &rv : reductions) {
            std::string init = rv.kind == ReductionKind::Sum
                                   ? fmt::format("({})0", c_type_name(rv.type))
                                   : rv.text;
            emit_line(ctx, "for (int {0} = 0; {0} < KTL_MAX_THREADS; {0}++) {1}.r_{2}[{0}] = {3};",
                      r, pe, rv.name, init);
        }
        emit_line(ctx, "ktl_par_run({}, &{}, {});", fn, pe, n);
        for (const ReductionVar &rv : reductions) {
            std::string slot = fmt::format("{}.r_{}[{}]", pe, rv.name, r);
            std::string fold =
                rv.kind == ReductionKind::Sum
                    ? fmt::format("{} += {};", rv.text, slot)
                    : fmt::format("if ({0} {1} {2}) {3} = {0};", slot,
                                  rv.kind == ReductionKind::Min ? "<" : ">", rv.text, rv.text);
            emit_line(ctx, "for (int {0} = 0; {0} < KTL_MAX_THREADS; {0}++) {1}", r, fold);
        }
        auto [text, value] =
            declare_loop_variable(ctx, var, fmt::format("{} + ({} - 1) * {}", a, n, st),
                                  Type::int_(), stmt.line, stmt.column);
        emit_line(ctx, "if ({} > 0) {} = {};", n, text, value);
        compile_loop_else(ctx, loop.else_body, std::nullopt);
    }
    emit_line(ctx, "}");
}

} // namespace kestal
