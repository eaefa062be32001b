// The methods of str. The arguments are bound to slots (positional ones in
// order, keywords by their slots in the method table: `sep`/`maxsplit` of
// split and `keepends` of splitlines), compiled without a hint, and the
// method name with the slot Types picks one row of a closed table; no row is
// the error that lists the Types. Beyond the plain forms,
// find/rfind/index/rindex/count take start and end bounds, replace takes a
// count and startswith/endswith take a tuple of strings, as in Python.
#include "codegen/builtins/methods.h"

#include "codegen/builtins/builtin_methods.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/expr/expr.h"
#include "codegen/stmt/comprehensions.h"

#include <algorithm>

namespace kestal {

namespace {

// Without arguments, a method of a str or bool result is one runtime call
// on the receiver (upper, strip, isdigit, ...).
bool is_plain_unary(const BuiltinMethod &row) {
    return row.min_args == 0 &&
           (row.result == MethodResult::Str || row.result == MethodResult::Bool);
}

std::string slot_types_text(const std::vector<std::optional<CompiledExpr>> &slots) {
    std::vector<std::string> shown;
    for (const auto &s : slots)
        shown.push_back(s ? type_display(s->type) : "None");
    return fmt::format("{}", fmt::join(shown, ", "));
}

bool is_tuple_of_str(const Type &t) {
    const auto *tuple = t.as<Type::Tuple>();
    if (!tuple)
        return false;
    return std::all_of(tuple->elements.begin(), tuple->elements.end(),
                       [](const Type &e) { return e.is<Type::Str>(); });
}

CompiledExpr compile_join(CodegenContext &ctx, const CompiledExpr &receiver,
                          const std::vector<Expr> &args, const Expr &call) {
    if (args.size() != 1)
        throw_error("join() takes exactly one argument", call.line, call.column);
    Type hint = Type::list(Type::str());
    CompiledExpr value = compile_collected_argument(ctx, args[0], &hint);
    auto items = collect_iterable(ctx, value);
    if (!items || !(items->type == hint)) {
        std::string element =
            items ? type_display(*items->type.as<Type::List>()->element) : type_display(value.type);
        throw_error(fmt::format("join() needs strings, not {}", element), args[0].line,
                    args[0].column);
    }
    return {fmt::format("ktl_str_join({}, {})", receiver.text, items->text), Type::str()};
}

} // namespace

void refuse_method_keywords(const std::string &method, const std::vector<Keyword> &kwargs) {
    if (kwargs.empty())
        return;
    const Keyword &k = kwargs.front();
    throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", method, k.name),
                k.value.line, k.value.column);
}

CompiledExpr compile_method_arg(CodegenContext &ctx, const Expr &arg, const Type &expected) {
    CompiledExpr c = compile_expr(ctx, arg, &expected);
    auto converted = coerce_expr(ctx, c.text, c.type, expected);
    if (!converted)
        throw_error(fmt::format("expected {:#}, got {:#}", expected, c.type), arg.line, arg.column);
    return {*converted, expected};
}

CompiledExpr compile_search_value(CodegenContext &ctx, const Expr &arg, const Type &item) {
    CompiledExpr c = compile_expr(ctx, arg, &item);
    if (std::optional<std::string> text = search_value_text(ctx, c.text, c.type, item))
        return {*text, item};
    throw_error(fmt::format("expected {:#}, got {:#}", item, c.type), arg.line, arg.column);
}

// One piece: the table of rows reads best as one run of tests.
CompiledExpr compile_str_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                const std::string &method, const std::vector<Expr> &args,
                                const std::vector<Keyword> &kwargs, const Expr &call) {
    const BuiltinMethod *row = find_builtin_method(MethodReceiver::Str, method);
    if (!row || row->keywords.empty())
        refuse_method_keywords(method, kwargs);
    if (method == "join")
        return compile_join(ctx, receiver, args, call);
    std::vector<const Expr *> bound;
    for (const Expr &a : args)
        bound.push_back(&a);
    for (const Keyword &k : kwargs) {
        int at = row->keyword_slot(k.name);
        if (at < 0)
            throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", method, k.name),
                        k.value.line, k.value.column);
        size_t slot = static_cast<size_t>(at);
        if (slot >= bound.size())
            bound.resize(slot + 1, nullptr);
        if (bound[slot])
            throw_error(fmt::format("{}() got multiple values for argument '{}'", method, k.name),
                        k.value.line, k.value.column);
        bound[slot] = &k.value;
    }
    std::vector<std::optional<CompiledExpr>> slots;
    for (const Expr *e : bound) {
        if (e)
            slots.push_back(compile_expr(ctx, *e));
        else
            slots.push_back(std::nullopt);
    }
    auto is = [&](size_t i, TypeKind kind) { return slots[i] && slots[i]->type.tag() == kind; };
    auto arg = [&](size_t i) { return slots[i]->text; };
    const std::string &r = receiver.text;
    size_t n = slots.size();
    Type str = Type::str(), int_ = Type::int_(), bool_ = Type::bool_();
    Type list_str = Type::list(Type::str());
    if (n == 0) {
        if (row && is_plain_unary(*row))
            return {fmt::format("{}({})", row->runtime, r),
                    row->result == MethodResult::Str ? str : bool_};
        if (method == "split")
            return {fmt::format("ktl_str_split_ws({})", r), list_str};
        if (method == "splitlines")
            return {fmt::format("ktl_str_splitlines({}, false)", r), list_str};
    }
    // The searches: the only str methods of an int result.
    if (n >= 1 && row && row->result == MethodResult::Int && is(0, TypeKind::Str)) {
        if (n == 1)
            return {fmt::format("{}({}, {})", row->runtime, r, arg(0)), int_};
        if (n <= 3 && is(1, TypeKind::Int) && (n == 2 || is(2, TypeKind::Int)))
            return {fmt::format("{}_in({}, {}, {}, {})", row->runtime, r, arg(0), arg(1),
                                n == 3 ? arg(2) : "INT64_MAX"),
                    int_};
    }
    if (n == 1 && (method == "startswith" || method == "endswith")) {
        if (is(0, TypeKind::Str))
            return {fmt::format("ktl_str_{}({}, {})", method, r, arg(0)), bool_};
        if (slots[0] && is_tuple_of_str(slots[0]->type)) {
            // Any of the strings: the receiver and the tuple are evaluated once.
            const Type &tuple = slots[0]->type;
            ensure_type_defined(ctx, tuple);
            std::string s = fresh_temp(ctx, "s"), t = fresh_temp(ctx, "t");
            std::string tests;
            for (size_t i = 0; i < tuple.as<Type::Tuple>()->elements.size(); ++i)
                tests += fmt::format("ktl_str_{}({}, {}.f{}) || ", method, s, t, i);
            return {fmt::format("({{ ktl_str {} = {}; {} {} = {}; {}false; }})", s, r,
                                c_type_name(tuple), t, arg(0), tests),
                    bool_};
        }
    }
    if (n == 1 && is(0, TypeKind::Str)) {
        if (method == "removeprefix" || method == "removesuffix")
            return {fmt::format("ktl_str_{}({}, {})", method, r, arg(0)), str};
        if (method == "strip" || method == "lstrip" || method == "rstrip")
            return {fmt::format("ktl_str_{}_c({}, {})", method, r, arg(0)), str};
        if (method == "split")
            return {fmt::format("ktl_str_split({}, {})", r, arg(0)), list_str};
        if (method == "partition" || method == "rpartition") {
            std::vector<Type> three(3, Type::str());
            define_tuple_type(ctx, three);
            std::string parts = fresh_temp(ctx, "parts");
            return {fmt::format(
                        "({{ ktl_str {0}[3]; ktl_str_{1}({2}, {3}, {0}); (({4}){{{0}[0], {0}[1], "
                        "{0}[2]}}); }})",
                        parts, method, r, arg(0), tuple_c_name(three)),
                    Type::tuple(three)};
        }
    }
    if (n == 1 && method == "splitlines" && is(0, TypeKind::Bool))
        return {fmt::format("ktl_str_splitlines({}, {})", r, arg(0)), list_str};
    if (n == 1 && method == "zfill" && is(0, TypeKind::Int))
        return {fmt::format("ktl_str_zfill({}, {})", r, arg(0)), str};
    if ((method == "center" || method == "ljust" || method == "rjust") && n >= 1 && n <= 2 &&
        is(0, TypeKind::Int) && (n == 1 || is(1, TypeKind::Str)))
        return {fmt::format("ktl_str_{}({}, {}, {})", method, r, arg(0),
                            n == 2 ? arg(1) : "KTL_LIT(\" \")"),
                str};
    if (method == "replace" && n >= 2 && n <= 3 && is(0, TypeKind::Str) && is(1, TypeKind::Str)) {
        if (n == 2)
            return {fmt::format("ktl_str_replace({}, {}, {})", r, arg(0), arg(1)), str};
        if (is(2, TypeKind::Int))
            return {fmt::format("ktl_str_replace_n({}, {}, {}, {})", r, arg(0), arg(1), arg(2)),
                    str};
    }
    if (method == "split" && n == 2 && is(1, TypeKind::Int)) {
        if (is(0, TypeKind::Str))
            return {fmt::format("ktl_str_split_n({}, {}, {})", r, arg(0), arg(1)), list_str};
        if (!slots[0] || is(0, TypeKind::None))
            return {fmt::format("ktl_str_split_ws_n({}, {})", r, arg(1)), list_str};
    }
    throw_error(fmt::format("str has no method '{}' taking ({})", method, slot_types_text(slots)),
                call.line, call.column);
}

} // namespace kestal
