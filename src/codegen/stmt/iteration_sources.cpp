// Plans of the built-ins that exist only as iteration sources: zip, map,
// filter, reversed and enumerate. Each walks the underlying iterables
// directly; no zip, map, filter or enumerate object and no intermediate list
// exist, except that reversed, and zip for all its sources but the first
// lazy one, read by index and so first collect a lazy source (and a dict's
// keys) into a list.
//
// zip and reversed test every list source against its current length on
// every step, as Python's iterators do: a body that shrinks a list ends the
// loop and never reads past the end. A dict source raises Python's
// RuntimeError at the next step when its size changed.
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/stmt/iteration_plans.h"

#include <algorithm>

namespace kestal {

namespace {

// One iterable read by index: its element at any index, the per-step test
// that the index is still inside it, and its element count at the start.
struct IndexedSource {
    Type element_type;
    std::string setup = {};
    // The element count when the loop starts.
    std::string length = {};
    // The element at an index: prefix + index + suffix.
    std::string element_prefix = {};
    std::string element_suffix = {};
    // The current element count, read again on every step.
    std::string live_length = {};
    // A C expression run on every step before the index test (a dict's
    // size check); empty for most sources.
    std::string step_check = {};

    std::string element_at(const std::string &index) const {
        return element_prefix + index + element_suffix;
    }
    // The per-step condition that index `k` is still an element.
    std::string inside(const std::string &k, bool from_end) const {
        std::string test = from_end ? fmt::format("{0} >= 0 && {0} < {1}", k, live_length)
                                    : fmt::format("{} < {}", k, live_length);
        if (step_check.empty())
            return test;
        return fmt::format("((void)({}), {})", step_check, test);
    }
};

bool is_lazy_method_call(const Expr &expr) {
    const auto *mc = expr.as<Expr::MethodCall>();
    if (!mc || !mc->args.empty())
        return false;
    return dict_view_kind(mc->method) || (mc->method == "split" && mc->kwargs.empty());
}

IndexedSource indexed_source(CodegenContext &ctx, const Expr &expr) {
    CompiledExpr value;
    std::string dict_setup, step_check;
    if (is_lazy_iterable(ctx, expr)) {
        value = compile_iteration_to_list(ctx, plan_for_iteration(ctx, expr));
    } else {
        value = compile_expr(ctx, expr);
        if (value.type.is<Type::Dict>()) {
            // The keys are collected from a held copy of the dict, whose size
            // is checked again on every step.
            std::string d = fresh_temp(ctx, "src"), n0 = fresh_temp(ctx, "n0");
            dict_setup = fmt::format("{} {} = {}; int64_t {} = {}->len; ", c_type_name(value.type),
                                     d, value.text, n0, d);
            step_check =
                fmt::format("KTL_UNLIKELY({}->len != {}) && (ktl_dict_changed(), 0)", d, n0);
            IterationPlan keys = plan_typed_iteration(ctx, d, value.type, DictIterationMode::Keys,
                                                      expr.line, expr.column);
            value = compile_iteration_to_list(ctx, keys);
        }
    }
    const Type &t = value.type;
    if (!t.is<Type::Range>() && !t.is<Type::List>() && !t.is<Type::Str>())
        throw_error(fmt::format("can't iterate over {:#}", t), expr.line, expr.column);
    std::string src = fresh_temp(ctx, "src");
    ensure_type_defined(ctx, t);
    IndexedSource s{Type::int_()};
    s.setup = fmt::format("{}{} {} = {}; ", dict_setup, c_type_name(t), src, value.text);
    s.step_check = std::move(step_check);
    if (t.is<Type::Range>()) {
        s.length = fmt::format("ktl_range_len({})", src);
        s.element_prefix = fmt::format("ktl_range_at({}, ", src);
        s.element_suffix = ")";
    } else if (const auto *list = t.as<Type::List>()) {
        s.element_type = *list->element;
        s.length = src + "->len";
        s.element_prefix = src + "->data[";
        s.element_suffix = "]";
    } else {
        s.element_type = Type::str();
        s.length = src + ".len";
        s.element_prefix = fmt::format("ktl_mkstr({}.p + ", src);
        s.element_suffix = ", 1)";
    }
    s.live_length = s.length;
    return s;
}

// Stores the function operand in an `fv` temporary and the inner element in
// an `x` temporary; returns the function value.
FunctionValue hold_function(CodegenContext &ctx, const std::pair<std::string, FunctionValue> &f,
                            IterationPlan &inner, std::string &fv, std::string &x) {
    fv = fresh_temp(ctx, "fv");
    x = fresh_temp(ctx, "x");
    Type fn_type = Type::function(f.second);
    ensure_type_defined(ctx, fn_type);
    ensure_type_defined(ctx, inner.element_type);
    inner.setup += fmt::format("{} {} = {}; ", c_type_name(fn_type), fv, f.first);
    inner.header += fmt::format("{} {} = {}; ", c_type_name(inner.element_type), x, inner.element);
    return f.second;
}

// A lambda given to map or filter in a `for` statement is called between
// steps of the body: a copy of a variable the body assigns would go stale.
void refuse_stale_captures(CodegenContext &ctx, const FunctionValue &f, const Expr &at) {
    const auto *lambda = std::get_if<FunctionValue::Lambda>(&f.kind);
    const auto *assigned = ctx.frame().loop_body_assigned;
    if (!lambda || !assigned)
        return;
    for (const auto &[name, type] : lambda->captures)
        if (assigned->count(name))
            throw_error(fmt::format("this lambda uses '{0}', which is assigned more than once; "
                                    "Kestal copies the variables a lambda uses when it's created, "
                                    "so Python would differ if '{0}' changes later (pass it as an "
                                    "argument instead)",
                                    name),
                        at.line, at.column);
}

std::pair<std::string, FunctionValue> function_operand(CodegenContext &ctx, const Expr &arg,
                                                       const std::string &what) {
    auto f = compile_function_operand(ctx, arg, what);
    refuse_stale_captures(ctx, f.second, arg);
    return f;
}

// A zip with a lazy source (a generator expression, map, filter, ...): that
// source's own loop drives the zip and is advanced step by step, as
// Python's zip advances it, so its elements are computed between steps of
// the body that reads them; the other sources are read by index, and the
// first one that has ended leaves the driving loop. Later lazy sources are
// collected into lists first.
IterationPlan plan_driven_zip(CodegenContext &ctx, const std::vector<Expr> &args, size_t driver) {
    std::string k = fresh_temp(ctx, "k"), n = fresh_temp(ctx, "n");
    IterationPlan plan{Type::int_()};
    std::vector<Type> types;
    std::vector<std::string> elements, conditions;
    std::string i = fresh_temp(ctx, "i"), e;
    IterationPlan driven{Type::int_()};
    std::vector<std::string> lengths;
    for (size_t a = 0; a < args.size(); ++a) {
        if (a == driver) {
            driven = plan_for_iteration(ctx, args[a]);
            plan.setup += driven.setup;
            e = fresh_temp(ctx, "x");
            types.push_back(driven.element_type);
            elements.push_back(e);
            if (driven.length != "0")
                lengths.push_back(driven.length);
            continue;
        }
        IndexedSource s = indexed_source(ctx, args[a]);
        plan.setup += s.setup;
        types.push_back(s.element_type);
        elements.push_back(s.element_at(i));
        conditions.push_back(s.inside(i, false));
        lengths.push_back(s.length);
    }
    define_tuple_type(ctx, types);
    ensure_type_defined(ctx, driven.element_type);
    plan.element_type = Type::tuple(types);
    std::string end = fresh_temp(ctx, "zend");
    // Known only when the driving source's length is.
    plan.setup += fmt::format("int64_t {} = 0; int64_t {} = 0; ", k, n);
    if (driven.length != "0") {
        plan.setup += fmt::format("{} = {}; ", n, lengths.front());
        for (size_t l = 1; l < lengths.size(); ++l)
            plan.setup += fmt::format("if ({1} < {0}) {0} = {1}; ", n, lengths[l]);
    }
    plan.header = fmt::format("{}{} {} = {}; int64_t {} = {}++; ", driven.header,
                              c_type_name(driven.element_type), e, driven.element, i, k);
    if (!conditions.empty())
        plan.header += fmt::format("if (!({})) goto {}; ", fmt::join(conditions, " && "), end);
    plan.element =
        fmt::format("(({}){{{}}})", c_type_name(plan.element_type), fmt::join(elements, ", "));
    plan.close = fmt::format("{} {}:;", driven.close, end);
    plan.length = n;
    plan.cleanup = driven.cleanup;
    plan.loop_count = driven.loop_count;
    return plan;
}

} // namespace

IterationPlan plan_zip_loop(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                            uint64_t column) {
    if (args.empty())
        throw_error("zip() needs at least one iterable", line, column);
    auto lazy = std::find_if(args.begin(), args.end(),
                             [&](const Expr &a) { return is_lazy_iterable(ctx, a); });
    if (lazy != args.end())
        return plan_driven_zip(ctx, args, size_t(lazy - args.begin()));
    std::string n = fresh_temp(ctx, "n"), k = fresh_temp(ctx, "k");
    IterationPlan plan{Type::int_()};
    std::vector<Type> types;
    std::vector<std::string> elements, conditions;
    for (size_t i = 0; i < args.size(); ++i) {
        IndexedSource s = indexed_source(ctx, args[i]);
        plan.setup += s.setup;
        plan.setup += i == 0 ? fmt::format("int64_t {} = {}; ", n, s.length)
                             : fmt::format("if ({1} < {0}) {0} = {1}; ", n, s.length);
        types.push_back(s.element_type);
        elements.push_back(s.element_at(k));
        conditions.push_back(s.inside(k, false));
    }
    define_tuple_type(ctx, types);
    plan.element_type = Type::tuple(types);
    // Each source is asked in order, and the first one that has ended ends
    // the loop, as Python's zip does.
    plan.header =
        fmt::format("for (int64_t {0} = 0; {1}; {0}++) {{ ", k, fmt::join(conditions, " && "));
    plan.element =
        fmt::format("(({}){{{}}})", c_type_name(plan.element_type), fmt::join(elements, ", "));
    plan.length = n;
    return plan;
}

IterationPlan plan_map_loop(CodegenContext &ctx, const std::vector<Expr> &args, const Expr &call) {
    if (args.size() < 2)
        throw_error("map() needs a function and at least one iterable", call.line, call.column);
    auto f = function_operand(ctx, args[0], "map()'s first argument");
    IterationPlan plan = args.size() == 2
                             ? plan_for_iteration(ctx, args[1])
                             : plan_zip_loop(ctx, std::vector<Expr>(args.begin() + 1, args.end()),
                                             call.line, call.column);
    std::string fv, x;
    FunctionValue value = hold_function(ctx, f, plan, fv, x);
    std::vector<CompiledExpr> call_args;
    if (args.size() == 2) {
        call_args.push_back({x, plan.element_type});
    } else {
        const auto &fields = plan.element_type.as<Type::Tuple>()->elements;
        for (size_t i = 0; i < fields.size(); ++i)
            call_args.push_back({fmt::format("{}.f{}", x, i), fields[i]});
    }
    CompiledExpr r = compile_call_with_arg_texts(ctx, fv, value, call_args, call);
    if (r.type.is<Type::NoValue>())
        throw_error("map()'s function must return a value", args[0].line, args[0].column);
    plan.element = std::move(r.text);
    plan.element_type = std::move(r.type);
    return plan;
}

IterationPlan plan_filter_loop(CodegenContext &ctx, const std::vector<Expr> &args,
                               const Expr &call) {
    if (args.size() != 2)
        throw_error("filter() needs a function and an iterable", call.line, call.column);
    auto f = function_operand(ctx, args[0], "filter()'s first argument");
    IterationPlan plan = plan_for_iteration(ctx, args[1]);
    std::string fv, x;
    FunctionValue value = hold_function(ctx, f, plan, fv, x);
    CompiledExpr r = compile_call_with_arg_texts(ctx, fv, value, {{x, plan.element_type}}, call);
    auto truth = truth_test_expr(r.text, r.type);
    if (!truth)
        throw_error("filter()'s function must return a value", args[0].line, args[0].column);
    plan.header += fmt::format("if (!{}) continue; ", *truth);
    plan.element = x;
    plan.length = "0";
    return plan;
}

IterationPlan plan_reversed_loop(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                                 uint64_t column) {
    if (args.size() != 1)
        throw_error("reversed() takes exactly one argument", line, column);
    const Expr &arg = args[0];
    if (is_lazy_iterable(ctx, arg) && !is_lazy_method_call(arg))
        throw_error("reversed() needs a list, str, range or dict", arg.line, arg.column);
    IndexedSource s = indexed_source(ctx, arg);
    std::string k = fresh_temp(ctx, "k"), n = fresh_temp(ctx, "n");
    IterationPlan plan{s.element_type};
    plan.setup = s.setup + fmt::format("int64_t {} = {}; ", n, s.length);
    plan.header =
        fmt::format("for (int64_t {0} = {1} - 1; {2}; {0}--) {{ ", k, n, s.inside(k, true));
    plan.element = s.element_at(k);
    plan.length = n;
    return plan;
}

IterationPlan plan_enumerate_loop(CodegenContext &ctx, const std::vector<Expr> &args,
                                  const std::vector<Keyword> &kwargs, uint64_t line,
                                  uint64_t column) {
    for (size_t i = 0; i < kwargs.size(); ++i)
        if (i > 0 || kwargs[i].name != "start")
            throw_error(
                fmt::format("enumerate() got an unexpected keyword argument '{}'", kwargs[i].name),
                kwargs[i].value.line, kwargs[i].value.column);
    const Expr *start_expr = nullptr;
    if (args.size() == 1 && kwargs.size() == 1)
        start_expr = &kwargs[0].value;
    else if (args.size() == 2 && kwargs.empty())
        start_expr = &args[1];
    else if (!(args.size() == 1 && kwargs.empty()))
        throw_error("enumerate() takes an iterable and an optional start", line, column);
    std::string start =
        start_expr ? check_int_operand(ctx, *start_expr, "enumerate() start") : "INT64_C(0)";
    IterationPlan plan = plan_for_iteration(ctx, args[0]);
    std::string n = fresh_temp(ctx, "n");
    std::vector<Type> pair{Type::int_(), plan.element_type};
    define_tuple_type(ctx, pair);
    Type tuple = Type::tuple(pair);
    plan.setup += fmt::format("int64_t {} = {}; ", n, start);
    plan.element = fmt::format("(({}){{{}++, {}}})", c_type_name(tuple), n, plan.element);
    plan.element_type = tuple;
    return plan;
}

bool is_lazy_iterable(CodegenContext &ctx, const Expr &expr) {
    if (expr.is<Expr::GeneratorExp>() || is_lazy_method_call(expr))
        return true;
    const auto *call = expr.as<Expr::Call>();
    if (!call)
        return false;
    const std::string &n = call->name;
    bool source = n == "zip" || n == "map" || n == "filter" || n == "reversed" || n == "enumerate";
    return source && is_builtin_name(ctx, n);
}

IterableArg compile_iterable_arg(CodegenContext &ctx, const Expr &expr, const Type *expected) {
    if (is_lazy_iterable(ctx, expr))
        return plan_for_iteration(ctx, expr);
    return compile_expr(ctx, expr, expected);
}

IterationPlan iteration_plan_from_arg(CodegenContext &ctx, IterableArg arg, uint64_t line,
                                      uint64_t column) {
    if (auto *plan = std::get_if<IterationPlan>(&arg))
        return std::move(*plan);
    const auto &value = std::get<CompiledExpr>(arg);
    return plan_typed_iteration(ctx, value.text, value.type, DictIterationMode::Keys, line, column);
}

} // namespace kestal
