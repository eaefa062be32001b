// The iterable consumers: each runs the loop of its argument's iteration
// plan in place, inside one GNU statement expression, so no list is built
// unless the result is a list. A list argument takes a fast path into the
// runtime's list functions where one exists.
//
// A plan's element is read exactly once per step (enumerate's counter
// advances as it is read), and the plan's cleanup runs after the loop also
// when any() or all() leaves it early.
#include "codegen/builtins/consumers.h"

#include "codegen/builtins/methods.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/stmt/iteration_plans.h"

namespace kestal {

namespace {

[[noreturn]] void fail(const std::string &message, const Expr &at) {
    throw_error(message, at.line, at.column);
}

const CompiledExpr *as_value(const IterableArg &arg) {
    return std::get_if<CompiledExpr>(&arg);
}

IterationPlan plan_arg(CodegenContext &ctx, IterableArg arg, const Expr &at) {
    return iteration_plan_from_arg(ctx, std::move(arg), at.line, at.column);
}

CompiledExpr list_copy(const CompiledExpr &list) {
    const Type &item = *list.type.as<Type::List>()->element;
    return {fmt::format("{}_slice({}, 0, INT64_MAX)", list_c_name(item), list.text), list.type};
}

// The argument as a new list that no other value shares.
CompiledExpr new_list_of(CodegenContext &ctx, const Expr &arg, const Type *expected) {
    IterableArg a = compile_iterable_arg(ctx, arg, expected);
    if (const CompiledExpr *v = as_value(a); v && v->type.is<Type::List>())
        return list_copy(*v);
    return compile_iteration_to_list(ctx, plan_arg(ctx, std::move(a), arg));
}

void require_hashable(const Type &type, std::string_view what, const Expr &at) {
    if (!is_hashable_type(type))
        fail(fmt::format("{} must be int, str, bool or a tuple of those, not {}", what, type), at);
}

// Whether the item x replaces the minimum or maximum m so far: Python's
// `x < m` for min and `x > m` for max, so an object's ordering is called
// once a step with Python's operands (x.__lt__(m) for min; for max
// x.__gt__(m) when its class has one, else the reflected m.__lt__(x)).
std::string min_max_comparison(CodegenContext &ctx, const std::string &name, const Type &type,
                               const std::string &x, const std::string &m, const Expr &call) {
    if (may_be_unordered(type)) {
        CompiledExpr c = compile_binary_op(ctx, name == "min" ? BinOp::Lt : BinOp::Gt, {x, type},
                                           {m, type}, call);
        return c.text;
    }
    return fmt::format("{} < 0",
                       name == "min" ? compare_expr(type, x, m) : compare_expr(type, m, x));
}

CompiledExpr compile_min_max_plan(CodegenContext &ctx, const std::string &name,
                                  const IterationPlan &plan, const Expr &call) {
    const Type &t = plan.element_type;
    if (!is_orderable_type(t))
        fail(fmt::format("{}() needs items that can be ordered with <, not {}", name, t), call);
    ensure_type_defined(ctx, t);
    std::string m = fresh_temp(ctx, "m"), x = fresh_temp(ctx, "x"),
                first = fresh_temp(ctx, "first");
    return {fmt::format("({{ {0}{1} {2}; bool {3} = true; {4}{1} {5} = {6}; if ({3} || {7}) "
                        "{{ {2} = {5}; {3} = false; }} {8} {9}if ({3}) "
                        "ktl_raise_c(KTL_E_ValueError, \"{10}() iterable argument is empty\"); "
                        "{2}; }})",
                        plan.setup, c_type_name(t), m, first, plan.header, x, plan.element,
                        min_max_comparison(ctx, name, t, x, m, call), plan.close, plan.cleanup,
                        name),
            t};
}

} // namespace

CompiledExpr compile_list_call(CodegenContext &ctx, const Expr &arg, const Expr &call,
                               const Type *expected) {
    (void)call;
    return new_list_of(ctx, arg, expected && expected->is<Type::List>() ? expected : nullptr);
}

CompiledExpr compile_dict_constructor(CodegenContext &ctx, const Expr *arg, const Expr &call,
                                      const Type *expected) {
    const Type *dict = expected && expected->is<Type::Dict>() ? expected : nullptr;
    if (!arg) {
        if (!dict)
            fail("an empty dict needs a type, e.g. `d: dict[str, int] = dict()`", call);
        ensure_type_defined(ctx, *dict);
        const auto *d = dict->as<Type::Dict>();
        return {fmt::format("{}_new(0)", dict_c_name(*d->key, *d->value)), *dict};
    }
    IterableArg a = compile_iterable_arg(ctx, *arg, dict);
    if (const CompiledExpr *v = as_value(a); v && v->type.is<Type::Dict>()) {
        const auto *d = v->type.as<Type::Dict>();
        return {fmt::format("{}_copy({})", dict_c_name(*d->key, *d->value), v->text), v->type};
    }
    IterationPlan plan = plan_arg(ctx, std::move(a), *arg);
    const auto *pair = plan.element_type.as<Type::Tuple>();
    if (!pair || pair->elements.size() != 2)
        fail(fmt::format("dict() needs (key, value) pairs, not {}", plan.element_type), *arg);
    const Type &key = pair->elements[0], &value = pair->elements[1];
    require_hashable(key, "dict keys", *arg);
    define_dict_type(ctx, key, value);
    std::string dn = dict_c_name(key, value);
    std::string d = fresh_temp(ctx, "d"), p = fresh_temp(ctx, "p");
    return {fmt::format("({{ {0}{1} *{2} = {1}_new(0); {3}{4} {5} = {6}; {1}_set({2}, {5}.f0, "
                        "{5}.f1); {7} {8}{2}; }})",
                        plan.setup, dn, d, plan.header, c_type_name(plan.element_type), p,
                        plan.element, plan.close, plan.cleanup),
            Type::dict(key, value)};
}

CompiledExpr compile_set_call(CodegenContext &ctx, const std::vector<Expr> &args,
                              const std::vector<Keyword> &kwargs, const Expr &call,
                              const Type *expected) {
    if (!kwargs.empty())
        throw_error(fmt::format("set() got an unexpected keyword argument '{}'", kwargs[0].name),
                    kwargs[0].value.line, kwargs[0].value.column);
    const Type *item =
        expected && expected->is<Type::Set>() ? &*expected->as<Type::Set>()->element : nullptr;
    if (args.empty()) {
        if (!item)
            fail("an empty set needs a type, e.g. `s: set[int] = set()`", call);
        define_set_type(ctx, *item);
        return {fmt::format("{}_new()", set_c_name(*item)), *expected};
    }
    if (args.size() > 1)
        fail("set() takes at most one argument", call);
    const Expr &arg = args[0];
    std::optional<Type> hint;
    if (item)
        hint = Type::list(*item);
    IterableArg a = compile_iterable_arg(ctx, arg, hint ? &*hint : nullptr);
    if (const CompiledExpr *v = as_value(a); v && v->type.is<Type::Set>())
        return {fmt::format("{}_copy({})", set_c_name(*v->type.as<Type::Set>()->element), v->text),
                v->type};
    IterationPlan plan = plan_arg(ctx, std::move(a), arg);
    require_hashable(plan.element_type, "set items", arg);
    define_set_type(ctx, plan.element_type);
    std::string sn = set_c_name(plan.element_type), r = fresh_temp(ctx, "res");
    return {fmt::format("({{ {0}{1} *{2} = {1}_new(); {3}{1}_add({2}, {4}); {5} {6}{2}; }})",
                        plan.setup, sn, r, plan.header, plan.element, plan.close, plan.cleanup),
            Type::set(plan.element_type)};
}

CompiledExpr compile_sorted_call(CodegenContext &ctx, const Expr &arg,
                                 const std::vector<Keyword> &kwargs, const Expr &call,
                                 const Type *expected) {
    CompiledExpr list = new_list_of(ctx, arg, expected);
    SortKeywords kw = parse_sort_keywords(ctx, "sorted", kwargs);
    const Type &item = *list.type.as<Type::List>()->element;
    std::string l = fresh_temp(ctx, "l");
    std::string sort = compile_sort_call(ctx, l, item, kw, call);
    return {
        fmt::format("({{ {0} {1} = {2}; {3}; {1}; }})", c_type_name(list.type), l, list.text, sort),
        list.type};
}

CompiledExpr compile_any_all(CodegenContext &ctx, bool any, const Expr &arg, const Expr &call) {
    IterationPlan plan = plan_arg(ctx, compile_iterable_arg(ctx, arg, nullptr), arg);
    auto truth = truth_test_expr(fmt::format("({})", plan.element), plan.element_type);
    if (!truth)
        fail("these items have no value", call);
    std::string r = fresh_temp(ctx, "r"), done = fresh_temp(ctx, "done");
    std::string condition = any ? *truth : fmt::format("!{}", *truth);
    // The label is local to the statement expression, so the same text may
    // stand twice in one function.
    return {fmt::format("({{ __label__ {6}; {0}bool {1} = {2}; {3}if ({4}) {{ {1} = {5}; goto {6}; "
                        "}} {7} {6}:; {8}{1}; }})",
                        plan.setup, r, any ? "false" : "true", plan.header, condition,
                        any ? "true" : "false", done, plan.close, plan.cleanup),
            Type::bool_()};
}

CompiledExpr compile_sum_call(CodegenContext &ctx, const std::vector<Expr> &args,
                              const Expr &call) {
    IterableArg a = compile_iterable_arg(ctx, args[0], nullptr);
    std::optional<CompiledExpr> start;
    if (args.size() == 2) {
        start = compile_expr(ctx, args[1]);
        if (!start->type.is<Type::Int>() && !start->type.is<Type::Float>())
            fail(fmt::format("sum() start must be a number, not {}", start->type), args[1]);
    }
    if (const CompiledExpr *v = as_value(a); v && !start) {
        if (const auto *list = v->type.as<Type::List>();
            list && (list->element->is<Type::Int>() || list->element->is<Type::Float>()))
            return {fmt::format("ktl_sum_{}({})", list_c_name(*list->element), v->text),
                    *list->element};
    }
    IterationPlan plan = plan_arg(ctx, std::move(a), args[0]);
    const Type &item = plan.element_type;
    if (!item.is<Type::Int>() && !item.is<Type::Float>() && !item.is<Type::Bool>())
        fail(fmt::format("sum() needs numbers, not {}", item), call);
    bool is_float = item.is<Type::Float>() || (start && start->type.is<Type::Float>());
    std::string start_text = start ? start->text : "INT64_C(0)";
    std::string sum = fresh_temp(ctx, "sum"), x = fresh_temp(ctx, "x");
    if (!is_float)
        return {fmt::format("({{ {0}int64_t {1} = {2}; {3}{1} += {4}; {5} {6}{1}; }})", plan.setup,
                            sum, start_text, plan.header, plan.element, plan.close, plan.cleanup),
                Type::int_()};
    std::string start_f =
        widen_to_float_text(fmt::format("({})", start_text), start ? start->type : Type::int_());
    std::string item_f = widen_to_float_text(fmt::format("({})", plan.element), item);
    return {fmt::format("({{ {0}ktl_fsum {1} = {{ {2}, 0.0 }}; {3}double {4} = {5}; "
                        "ktl_fsum_add(&{1}, {4}); {6} {7}ktl_fsum_done({1}); }})",
                        plan.setup, sum, start_f, plan.header, x, item_f, plan.close, plan.cleanup),
            Type::float_()};
}

CompiledExpr compile_min_max_call(CodegenContext &ctx, const std::string &name,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  const Expr &call) {
    std::optional<std::pair<std::string, FunctionValue>> key;
    const Expr *default_value = nullptr;
    for (const Keyword &k : kwargs) {
        if (k.name == "key")
            key = compile_function_operand(ctx, k.value, "key");
        else
            default_value = &k.value;
    }
    IterationPlan plan{Type::int_()};
    if (args.size() == 1) {
        IterableArg a = compile_iterable_arg(ctx, args[0], nullptr);
        if (const CompiledExpr *v = as_value(a); v && !key && !default_value) {
            const auto *list = v->type.as<Type::List>();
            const Type *item = list ? &*list->element : nullptr;
            if (item &&
                (item->is<Type::Int>() || item->is<Type::Float>() || item->is<Type::Str>()) &&
                define_list_algos(ctx, *item))
                return {fmt::format("ktl_{}_{}({})", name, list_c_name(*item), v->text), *item};
        }
        plan = plan_arg(ctx, std::move(a), args[0]);
    } else {
        // `max(a, b, key=f)` is the maximum of the list [a, b].
        Expr values{Expr::List{args}, call.line, call.column};
        CompiledExpr list = compile_expr(ctx, values);
        plan = plan_typed_iteration(ctx, list.text, list.type, DictIterationMode::Keys, call.line,
                                    call.column);
    }
    if (!key && !default_value)
        return compile_min_max_plan(ctx, name, plan, call);

    const Type &t = plan.element_type;
    ensure_type_defined(ctx, t);
    std::string m = fresh_temp(ctx, "m"), x = fresh_temp(ctx, "x"), mk = fresh_temp(ctx, "mk"),
                xk = fresh_temp(ctx, "xk"), first = fresh_temp(ctx, "first"),
                fv = fresh_temp(ctx, "fv");
    std::string store, key_call = x;
    Type key_type = t;
    if (key) {
        Type fn_type = Type::function(key->second);
        ensure_type_defined(ctx, fn_type);
        store = fmt::format("{} {} = {}; ", c_type_name(fn_type), fv, key->first);
        CompiledExpr k = compile_call_with_arg_texts(ctx, fv, key->second, {{x, t}}, call);
        key_call = k.text;
        key_type = k.type;
    }
    if (!is_orderable_type(key_type))
        fail(fmt::format("{}() needs keys that can be ordered with <, not {}", name, key_type),
             call);
    ensure_type_defined(ctx, key_type);
    std::string empty_action =
        fmt::format("ktl_raise_c(KTL_E_ValueError, \"{}() iterable argument is empty\");", name);
    if (default_value) {
        CompiledExpr d = compile_expr(ctx, *default_value, &t);
        auto converted = coerce_expr(ctx, d.text, d.type, t);
        if (!converted)
            fail(fmt::format("{}() default must be {:#}, not {:#}", name, t, d.type),
                 *default_value);
        empty_action = fmt::format("{} = {};", m, *converted);
    }
    return {fmt::format("({{ {0}{1}{2} {3}; {4} {5}; bool {6} = true; {7}{2} {8} = {9}; {4} {10} = "
                        "{11}; if ({6} || {12}) {{ {3} = {8}; {5} = {10}; {6} = false; }} {13} "
                        "{14}if ({6}) {15} {3}; }})",
                        plan.setup, store, c_type_name(t), m, c_type_name(key_type), mk, first,
                        plan.header, x, plan.element, xk, key_call,
                        min_max_comparison(ctx, name, key_type, xk, mk, call), plan.close,
                        plan.cleanup, empty_action),
            t};
}

CompiledExpr compile_min_max_values(CodegenContext &ctx, const std::string &name,
                                    const std::vector<CompiledExpr> &values, const Expr &call) {
    if (values.empty())
        fail(fmt::format("{}() needs arguments", name), call);
    bool numbers = std::all_of(values.begin(), values.end(), [](const CompiledExpr &v) {
        return v.type.is<Type::Int>() || v.type.is<Type::Float>();
    });
    if (numbers) {
        CompiledExpr acc = values[0];
        for (size_t i = 1; i < values.size(); ++i) {
            const CompiledExpr &v = values[i];
            if (acc.type.is<Type::Int>() && v.type.is<Type::Int>()) {
                acc = {fmt::format("ktl_i{}({}, {})", name, acc.text, v.text), Type::int_()};
                continue;
            }
            auto widen = [](const CompiledExpr &e) {
                return e.type.is<Type::Int>() ? fmt::format("((double){})", e.text) : e.text;
            };
            acc = {fmt::format("ktl_f{}({}, {})", name, widen(acc), widen(v)), Type::float_()};
        }
        return acc;
    }
    const Type &t = values[0].type;
    bool same = std::all_of(values.begin(), values.end(),
                            [&](const CompiledExpr &v) { return v.type == t; });
    if (!same || !is_orderable_type(t))
        fail(fmt::format("{}() of several values needs numbers, or values of one type that can be "
                         "ordered",
                         name),
             call);
    ensure_type_defined(ctx, t);
    std::string m = fresh_temp(ctx, "m"), x = fresh_temp(ctx, "x");
    std::string text = fmt::format("({{ {} {} = {}; ", c_type_name(t), m, values[0].text);
    for (size_t i = 1; i < values.size(); ++i)
        text += fmt::format("{{ {0} {1} = {2}; if ({3}) {4} = {1}; }} ", c_type_name(t), x,
                            values[i].text, min_max_comparison(ctx, name, t, x, m, call), m);
    text += m + "; })";
    return {std::move(text), t};
}

} // namespace kestal
