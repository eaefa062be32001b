// The methods of list, dict and set values, and the sort of a list with
// `key=` and `reverse=`. Arguments are converted to the item (or value)
// Type; a name or argument count that no row takes is the container's
// no-method error with the count. Where a receiver is read more than once
// it is held in a temporary first, so it is evaluated once, before the
// arguments.
#include "codegen/builtins/methods.h"

#include "codegen/builtins/builtin_methods.h"
#include "codegen/builtins/builtins.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/expr/expr.h"
#include "codegen/stmt/comprehensions.h"

namespace kestal {

namespace {

[[noreturn]] void no_method(std::string_view kind, const std::string &method, size_t count,
                            const Expr &call) {
    throw_error(fmt::format("{} has no method '{}' taking {} argument(s)", kind, method, count),
                call.line, call.column);
}

// The table row of a method `method` taking `count` positional arguments;
// keywords are refused first unless the row takes some. No row is the
// container's no-method error with the count.
const BuiltinMethod &checked_method(MethodReceiver receiver, std::string_view kind,
                                    const std::string &method, size_t count,
                                    const std::vector<Keyword> &kwargs, const Expr &call) {
    const BuiltinMethod *row = find_builtin_method(receiver, method);
    bool known = row && row->takes(count);
    if (!known || row->keywords.empty())
        refuse_method_keywords(method, kwargs);
    if (!known)
        no_method(kind, method, count, call);
    return *row;
}

// A list of exactly the receiver's Type from any iterable argument (`[]`
// takes the Type from the hint; a list[int] doesn't extend a list[float]).
CompiledExpr compile_same_list(CodegenContext &ctx, const Expr &arg, const Type &type,
                               std::string_view verb) {
    CompiledExpr c = compile_collected_argument(ctx, arg, &type);
    auto items = collect_iterable(ctx, c);
    if (!items || !(items->type == type))
        throw_error(
            fmt::format("can't {} {:#} with {:#}", verb, type, items ? items->type : c.type),
            arg.line, arg.column);
    return *items;
}

// The live entries of a dict as a new list of keys, values or pairs.
CompiledExpr dict_view_list(CodegenContext &ctx, const CompiledExpr &receiver,
                            const Type::Dict &dict, int kind) {
    Type item = kind == 0   ? *dict.key
                : kind == 1 ? *dict.value
                            : Type::tuple({*dict.key, *dict.value});
    define_list_type(ctx, item);
    std::string dn = dict_c_name(*dict.key, *dict.value), ln = list_c_name(item);
    std::string d = fresh_temp(ctx, "d"), r = fresh_temp(ctx, "r"), i = fresh_temp(ctx, "i");
    std::string entry = fmt::format("{}->ents[{}]", d, i);
    std::string value = kind == 0 ? entry + ".key"
                        : kind == 1
                            ? entry + ".val"
                            : fmt::format("(({0}){{{1}.key, {1}.val}})", c_type_name(item), entry);
    return {fmt::format(
                "({{ {0} *{1} = {2}; {3} *{4} = {3}_new({1}->len); for (int64_t {5} = 0; {5} < "
                "{1}->n; {5}++) if (!{1}->dead || !{1}->dead[{5}]) {3}_push({4}, {6}); {4}; }})",
                dn, d, receiver.text, ln, r, i, value),
            Type::list(item)};
}

// The C less-than of an orderable item Type.
std::string less_fn(const Type &t) {
    switch (t.tag()) {
    case TypeKind::Str:
        return "KTL_STR_LT";
    case TypeKind::List:
        return list_c_name(*t.as<Type::List>()->element) + "_lt";
    case TypeKind::Tuple:
        return tuple_c_name(t.as<Type::Tuple>()->elements) + "_lt";
    case TypeKind::Class:
        return type_code(t) + "_lt";
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    return "KTL_LT";
}

} // namespace

bool define_list_algos(CodegenContext &ctx, const Type &element) {
    if (!is_orderable_type(element))
        return false;
    if (element.is<Type::Int>() || element.is<Type::Float>() || element.is<Type::Bool>() ||
        element.is<Type::Str>())
        return true;
    define_list_type(ctx, element);
    std::string l = list_c_name(element);
    if (ctx.defined_helpers.insert("algos " + l).second)
        // Only a class's __lt__ can raise while the list is half merged.
        ctx.types_text += fmt::format("KTL_DEFINE_LIST_ALGOS{}({}, {}, {})\n",
                                      type_contains_class(element) ? "_GUARDED" : "", l,
                                      c_type_name(element), less_fn(element));
    return true;
}

SortKeywords parse_sort_keywords(CodegenContext &ctx, const std::string &name,
                                 const std::vector<Keyword> &kwargs) {
    SortKeywords out;
    for (const Keyword &k : kwargs) {
        if (k.name == "key") {
            if (k.value.is<Expr::None>())
                continue;
            out.key = compile_function_operand(ctx, k.value, "sort key");
        } else if (k.name == "reverse") {
            CompiledExpr r = compile_expr(ctx, k.value);
            auto truth = truth_test_expr(r.text, r.type);
            if (!truth || r.type.is<Type::Optional>() || r.type.is<Type::None>())
                throw_error(fmt::format("{}() reverse must be a bool, not {}", name, r.type),
                            k.value.line, k.value.column);
            out.reverse = r.type.is<Type::Bool>() ? r.text : *truth;
        } else {
            throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", name, k.name),
                        k.value.line, k.value.column);
        }
    }
    return out;
}

std::string compile_sort_call(CodegenContext &ctx, const std::string &list, const Type &element,
                              const SortKeywords &kw, const Expr &position) {
    if (!kw.key) {
        if (!define_list_algos(ctx, element))
            throw_error(
                fmt::format("sorting needs items that can be ordered with <, not {}", element),
                position.line, position.column);
        std::string l = list_c_name(element);
        if (!kw.reverse)
            return fmt::format("ktl_sort_{}({})", l, list);
        if (*kw.reverse == "true")
            return fmt::format("ktl_rsort_{}({})", l, list);
        return fmt::format("({0} ? ktl_rsort_{1}({2}) : ktl_sort_{1}({2}))", *kw.reverse, l, list);
    }
    std::string n = fresh_temp(ctx, "n"), kp = fresh_temp(ctx, "kp"), i = fresh_temp(ctx, "i");
    std::string fv = fresh_temp(ctx, "fv");
    Type fn_type = Type::function(kw.key->second);
    ensure_type_defined(ctx, fn_type);
    CompiledExpr key = compile_call_with_arg_texts(
        ctx, fv, kw.key->second, {CompiledExpr{fmt::format("{}->data[{}]", list, i), element}},
        position);
    if (!is_orderable_type(key.type))
        throw_error(
            fmt::format("sort keys must be things that can be ordered with <, not {}", key.type),
            position.line, position.column);
    std::string r = "KP_" + type_code(key.type);
    // Keys whose equal values can't be told apart sort on the quicksort with
    // ties broken by index; any other key (objects, tuples, floats) on the
    // stable sort with the key's own `<`, which calls a user __lt__ on the
    // same keys in the same order as Python.
    bool plain = key.type.is<Type::Int>() || key.type.is<Type::Bool>() || key.type.is<Type::Str>();
    if (ctx.defined_helpers.insert(r).second) {
        ensure_type_defined(ctx, key.type);
        std::string &out = ctx.types_text;
        out += fmt::format("typedef struct {{ {} k; int64_t i; }} {};\n", c_type_name(key.type), r);
        if (plain) {
            std::string cmp = compare_expr(key.type, "a.k", "b.k");
            out += fmt::format(
                "static inline bool {0}_lt({0} a, {0} b) {{ int c = {1}; return c < 0 || (c == 0 "
                "&& a.i < b.i); }}\n",
                r, cmp);
            // Descending keeps ties in their first order too.
            out += fmt::format(
                "static inline bool {0}_gt({0} a, {0} b) {{ int c = {1}; return c > 0 || (c == 0 "
                "&& a.i < b.i); }}\n",
                r, cmp);
            out += fmt::format("KTL_DEFINE_SORT(ktl_ksort_{0}, {0}, {0}_lt)\n", r);
            out += fmt::format("KTL_DEFINE_SORT(ktl_ksort_{0}_desc, {0}, {0}_gt)\n", r);
        } else {
            out +=
                fmt::format("static inline bool {0}_lt({0} a, {0} b) {{ return {1}(a.k, b.k); }}\n",
                            r, less_fn(key.type));
            out += fmt::format("KTL_DEFINE_STABLE_SORT({0}, {1}, {1}_lt, {2})\n", "ktl_ksort_" + r,
                               r, needs_gc_scan(key.type) ? "KTL_SCAN" : "KTL_NOSCAN");
        }
    }
    // What follows the keys' loop is one call of a function made once per
    // record and list type: the block written out at every sort cost the C
    // compiler more than the call costs at run time. The keys' loop is not
    // vectorized: clang's vector version of a loop of `len` keys is several
    // times the code, for a loop that costs little beside the sort.
    std::string item = c_type_name(element);
    std::string l = list_c_name(element);
    std::string finish = fmt::format("ktl_kfinish_{}_{}", r, l);
    if (ctx.defined_helpers.insert(finish).second)
        ctx.types_text += fmt::format(
            "static KTL_NOINLINE void {0}({1} *l, {2} *kp, int64_t n, bool rev) {{ if (rev) "
            "ktl_ksort_{2}_desc(kp, n); else ktl_ksort_{2}(kp, n); ktl_sort_unchanged(l->len, n); "
            "{3} *tmp = ({3} *)ktl_gc_alloc(sizeof({3}) * (size_t)n, {4}); for (int64_t i = 0; "
            "i < n; i++) tmp[i] = l->data[kp[i].i]; if (n) memcpy(l->data, tmp, sizeof({3}) * "
            "(size_t)n); ktl_gc_free(tmp); ktl_gc_free(kp); }}\n",
            finish, l, r, item, needs_gc_scan(element) ? "KTL_SCAN" : "KTL_NOSCAN");
    return fmt::format(
        "({{ int64_t {0} = {1}->len; {2} {3} = {4}; {5} *{6} = ({5} *)ktl_gc_alloc_out(sizeof({5}) "
        "* "
        "(size_t){0}, {7}); KTL_NO_VECTORIZE for (int64_t {8} = 0; {8} < {0}; {8}++) {{ "
        "{6}[{8}].k = {9}; "
        "{6}[{8}].i = {8}; ktl_sort_unchanged({1}->len, {0}); }} {10}({1}, {6}, {0}, {11}); "
        "(void)0; }})",
        n, list, c_type_name(fn_type), fv, kw.key->first, r, kp,
        needs_gc_scan(key.type) ? "KTL_SCAN" : "KTL_NOSCAN", i, key.text, finish,
        kw.reverse ? *kw.reverse : "false");
}

// One piece per container: each reads as its table of rows.
CompiledExpr compile_list_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call) {
    const Type &t = *receiver.type.as<Type::List>()->element;
    std::string l = list_c_name(t);
    const std::string &r = receiver.text;
    size_t n = args.size();
    Type none = Type::no_value();
    const BuiltinMethod &row =
        checked_method(MethodReceiver::List, "list", method, n, kwargs, call);
    if (row.has(kMethodChangesLength))
        note_list_length_change(ctx);
    if (method == "sort") {
        SortKeywords kw = parse_sort_keywords(ctx, "sort", kwargs);
        std::string tmp = fresh_temp(ctx, "l");
        std::string sort = compile_sort_call(ctx, tmp, t, kw, call);
        return {fmt::format("({{ {} {} = {}; {}; }})", c_type_name(receiver.type), tmp, r, sort),
                none};
    }
    if (method == "pop" && n == 0)
        return {fmt::format("{}_pop({})", l, r), t};
    if (method == "pop" && n == 1) {
        std::string i = check_int_operand(ctx, args[0], "pop() index");
        return {fmt::format("{}_pop_at({}, {})", l, r, i), t};
    }
    if (method == "copy" && n == 0)
        return {fmt::format("{}_slice({}, 0, INT64_MAX)", l, r), receiver.type};
    if (method == "clear" && n == 0)
        return {fmt::format("((void)(({})->len = 0))", r), none};
    if (method == "reverse" && n == 0)
        return {fmt::format("{}_reverse({})", l, r), none};
    if (method == "append" && n == 1) {
        CompiledExpr x = compile_method_arg(ctx, args[0], t);
        return {fmt::format("{}_push({}, {})", l, r, x.text), none};
    }
    if (method == "insert" && n == 2) {
        std::string i = check_int_operand(ctx, args[0], "insert() index");
        CompiledExpr x = compile_method_arg(ctx, args[1], t);
        return {fmt::format("{}_insert({}, {}, {})", l, r, i, x.text), none};
    }
    if (method == "extend" && n == 1) {
        CompiledExpr x = compile_same_list(ctx, args[0], receiver.type, "extend");
        return {fmt::format("{}_extend({}, {})", l, r, x.text), none};
    }
    if ((method == "index" || method == "count" || method == "remove") && n == 1) {
        if (!supports_eq(t))
            throw_error(fmt::format("{}() on {:#} isn't supported", method, receiver.type),
                        call.line, call.column);
        CompiledExpr x = compile_search_value(ctx, args[0], t);
        if (method != "remove")
            return {fmt::format("{}_{}({}, {})", l, method, r, x.text), Type::int_()};
        std::string s = fresh_temp(ctx, "l"), v = fresh_temp(ctx, "x"), i = fresh_temp(ctx, "i");
        return {fmt::format(
                    "({{ {0} *{1} = {2}; {3} {4} = {5}; int64_t {6} = {0}_find({1}, {4}); if "
                    "(KTL_UNLIKELY({6} < 0)) ktl_raise_c(KTL_E_ValueError, \"list.remove(x): x not "
                    "in list\"); (void){0}_pop_at({1}, {6}); }})",
                    l, s, r, c_type_name(t), v, x.text, i),
                none};
    }
    no_method("list", method, n, call);
}

CompiledExpr compile_dict_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call) {
    const auto &dict = *receiver.type.as<Type::Dict>();
    const Type &k = *dict.key, &v = *dict.value;
    std::string dn = dict_c_name(k, v);
    const std::string &r = receiver.text;
    size_t n = args.size();
    checked_method(MethodReceiver::Dict, "dict", method, n, kwargs, call);
    if (method == "get" && (n == 1 || (n == 2 && args[1].is<Expr::None>()))) {
        std::string key = compile_dict_key(ctx, args[0], k);
        Type opt = make_optional(v);
        ensure_type_defined(ctx, opt);
        std::string d = fresh_temp(ctx, "d"), kt = fresh_temp(ctx, "k"), e = fresh_temp(ctx, "e");
        auto value = coerce_expr(ctx, fmt::format("{}->ents[{}].val", d, e), v, opt);
        if (!value)
            internal_fault("a dict value converts to its optional");
        return {
            fmt::format(
                "({{ {0} *{1} = {2}; {3} {4} = {5}; int64_t {6} = {0}_find({1}, {4}, {7}({4})); "
                "{6} < 0 ? ({8}){{0}} : {9}; }})",
                dn, d, r, c_type_name(k), kt, key, e, hash_fn_name(k), c_type_name(opt), *value),
            opt};
    }
    if ((method == "get" || method == "pop" || method == "setdefault") && n == 2) {
        std::string key = compile_dict_key(ctx, args[0], k);
        CompiledExpr def = compile_method_arg(ctx, args[1], v);
        std::string fn = method == "pop" ? std::string("pop_or") : method;
        return {fmt::format("{}_{}({}, {}, {})", dn, fn, r, key, def.text), v};
    }
    if (method == "pop" && n == 1) {
        std::string key = compile_dict_key(ctx, args[0], k);
        return {fmt::format("{}_pop({}, {})", dn, r, key), v};
    }
    if (method == "update" && n == 1) {
        CompiledExpr o = compile_expr(ctx, args[0], &receiver.type);
        if (!(o.type == receiver.type))
            throw_error(fmt::format("can't update {:#} from {:#}", receiver.type, o.type),
                        args[0].line, args[0].column);
        return {fmt::format("{}_update({}, {})", dn, r, o.text), Type::no_value()};
    }
    if (method == "copy" && n == 0)
        return {fmt::format("{}_copy({})", dn, r), receiver.type};
    if (method == "clear" && n == 0)
        return {fmt::format("{}_clear({})", dn, r), Type::no_value()};
    if (auto kind = dict_view_kind(method); kind && n == 0)
        return dict_view_list(ctx, receiver, dict, *kind);
    no_method("dict", method, n, call);
}

CompiledExpr compile_set_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                const std::string &method, const std::vector<Expr> &args,
                                const std::vector<Keyword> &kwargs, const Expr &call) {
    const Type &t = *receiver.type.as<Type::Set>()->element;
    std::string sn = set_c_name(t);
    size_t n = args.size();
    Type none = Type::no_value();
    const BuiltinMethod &row = checked_method(MethodReceiver::Set, "set", method, n, kwargs, call);
    if (method == "pop" && n == 0)
        return {fmt::format("{}_pop({})", sn, receiver.text), t};
    if (method == "clear" && n == 0)
        return {fmt::format("{}_clear({})", sn, receiver.text), none};
    if (method == "copy" && n == 0)
        return {fmt::format("{}_copy({})", sn, receiver.text), receiver.type};
    if ((method == "add" || method == "remove" || method == "discard") && n == 1) {
        CompiledExpr x = compile_method_arg(ctx, args[0], t);
        return {fmt::format("((void){}_{}({}, {}))", sn, method, receiver.text, x.text), none};
    }
    // The receiver first, then each argument once, in order. An argument is
    // a set of the same Type or a list of the set's items (collected into a
    // set where a whole-set operation needs one).
    std::string s = fresh_temp(ctx, "s");
    std::string text = fmt::format("{} *{} = {}; ", sn, s, receiver.text);
    std::vector<std::string> sets;
    Type list_hint = Type::list(t);
    for (const Expr &a : args) {
        CompiledExpr c = compile_collected_argument(ctx, a, &list_hint);
        std::string held = fresh_temp(ctx, "a");
        if (c.type == receiver.type) {
            text += fmt::format("{} *{} = {}; ", sn, held, c.text);
            sets.push_back(held);
            continue;
        }
        auto items = collect_iterable(ctx, c);
        if (!items)
            throw_error(fmt::format("{}() needs an iterable, not {:#}", method, c.type), a.line,
                        a.column);
        const Type &element = *items->type.as<Type::List>()->element;
        if (!(element == t))
            throw_error(fmt::format("this set holds {}, not {}", t, element), a.line, a.column);
        std::string list = fresh_temp(ctx, "l");
        text += fmt::format("{0} {1} = {2}; {3} *{4} = {3}_from({1}->len, {1}->data); ",
                            c_type_name(items->type), list, items->text, sn, held);
        sets.push_back(held);
    }
    std::string res = fresh_temp(ctx, "r");
    auto value = [&](const std::string &tail, const Type &type) {
        return CompiledExpr{fmt::format("({{ {}{}; }})", text, tail), type};
    };
    // union, difference and intersection fold every argument into a copy of
    // the receiver; their _update forms fold them into the receiver itself.
    if (row.max_args == kAnyMethodArgCount) {
        bool copy = row.result == MethodResult::Receiver;
        if (copy)
            text += fmt::format("{0} *{1} = {0}_copy({2}); ", sn, res, s);
        for (const std::string &a : sets)
            text += fmt::format("{}{}({}, {}); ", sn, row.runtime, copy ? res : s, a);
        return copy ? value(res, receiver.type) : value("(void)0", none);
    }
    const std::string &a = sets[0];
    if (method == "symmetric_difference")
        return value(fmt::format("{}_xor({}, {})", sn, s, a), receiver.type);
    if (method == "symmetric_difference_update")
        return value(fmt::format("{}_xor_update({}, {})", sn, s, a), none);
    if (method == "issubset")
        return value(fmt::format("{}_issubset({}, {})", sn, s, a), Type::bool_());
    if (method == "issuperset")
        return value(fmt::format("{}_issubset({}, {})", sn, a, s), Type::bool_());
    return value(fmt::format("{}_isdisjoint({}, {})", sn, s, a), Type::bool_());
}

} // namespace kestal
