// Per-type C support. Definitions instantiate the runtime's container macros
// (lists, dicts, sets) and write tuple, optional and closure structs with
// their functions; each Type is written once, element Types first, so the C
// file declares everything before use. The name functions are the single
// place where each Type's C equality, order, hash and print functions are
// named.
#include "codegen/core/ctypes.h"

#include "codegen/core/class_table.h"
#include "support/escape.h"

#include <fmt/format.h>

namespace kestal {

namespace {

bool is_scalar_list_item(const Type &t) {
    return t.is<Type::Int>() || t.is<Type::Float>() || t.is<Type::Bool>() || t.is<Type::Str>();
}

const Type &inner_of(const Type &optional) {
    return *optional.as<Type::Optional>()->inner;
}

void define_optional_type(CodegenContext &ctx, const Type &opt) {
    if (ctx.defined_c_types.count(opt))
        return;
    const Type &inner = inner_of(opt);
    ensure_type_defined(ctx, inner);
    ctx.defined_c_types.insert(opt);
    std::string qc = type_code(opt);
    std::string ct = c_type_name(opt);
    bool pointer = is_pointer_kind(inner);
    if (!pointer) {
        ctx.types_text +=
            fmt::format("typedef struct {{ bool has; {} v; }} {};\n", c_type_name(inner), ct);
    }
    std::string present = pointer ? "x != NULL" : "x.has";
    std::string value = pointer ? "x" : "x.v";
    ctx.types_text += fmt::format(
        "static void ktl_{}_{}({} x) {{ if ({}) {}({}); else ktl_write(\"None\", 4); }}\n", "print",
        qc, ct, present, print_fn_name(inner), value);
    ctx.types_text += fmt::format(
        "static void ktl_{}_{}({} x) {{ if ({}) {}({}); else ktl_write(\"None\", 4); }}\n", "repr",
        qc, ct, present, repr_fn_name(inner), value);
    if (supports_eq(inner)) {
        std::string body =
            pointer ? fmt::format("(a == NULL || b == NULL) ? a == b : {}(a, b)", eq_fn_name(inner))
                    : fmt::format("a.has == b.has && (!a.has || {}(a.v, b.v))", eq_fn_name(inner));
        ctx.types_text += fmt::format("static inline bool {0}_eq({1} a, {1} b) {{ return {2}; }}\n",
                                      qc, ct, body);
        if (inner.is<Type::Class>())
            ctx.types_text += fmt::format(
                "static inline bool {0}_item_eq({1} a, {1} b) {{ return a == b || {0}_eq(a, b); "
                "}}\n",
                qc, ct);
    }
}

void define_closure_type(CodegenContext &ctx, const Type &fn) {
    if (ctx.defined_c_types.count(fn))
        return;
    ctx.defined_c_types.insert(fn);
    const auto &lambda = std::get<FunctionValue::Lambda>(fn.as<Type::Function>()->value.kind);
    std::string fields;
    for (size_t i = 0; i < lambda.captures.size(); ++i) {
        ensure_type_defined(ctx, lambda.captures[i].second);
        fields += fmt::format(" {} c{};", c_type_name(lambda.captures[i].second), i);
    }
    ctx.types_text += fmt::format("typedef struct {{{} }} {};\n", fields, c_type_name(fn));
}

// The item comparison a list of T sorts and compares with.
std::string item_order_fn(const Type &t, std::string_view suffix) {
    if (t.is<Type::List>())
        return list_c_name(*t.as<Type::List>()->element) + std::string(suffix);
    if (t.is<Type::Tuple>())
        return tuple_c_name(t.as<Type::Tuple>()->elements) + std::string(suffix);
    if (t.is<Type::Class>())
        return type_code(t) + std::string(suffix);
    return "KTL_CMP";
}

} // namespace

// True when two values of t can be unequal while neither is less: objects,
// whose order comes from user methods (a class with only __lt__ on one
// field). Containers of such items must stop at the first unequal pair even
// when it is unordered, so later items never decide.
bool may_be_unordered(const Type &t) {
    if (t.is<Type::Class>())
        return true;
    if (t.is<Type::List>())
        return may_be_unordered(*t.as<Type::List>()->element);
    if (t.is<Type::Tuple>()) {
        for (const Type &e : t.as<Type::Tuple>()->elements)
            if (may_be_unordered(e))
                return true;
    }
    return false;
}

bool is_pointer_kind(const Type &t) {
    return t.is<Type::List>() || t.is<Type::Dict>() || t.is<Type::Set>() || t.is<Type::File>() ||
           t.is<Type::Class>();
}

void ensure_type_defined(CodegenContext &ctx, const Type &type) {
    switch (type.tag()) {
    case TypeKind::List:
        define_list_type(ctx, *type.as<Type::List>()->element);
        break;
    case TypeKind::Dict:
        define_dict_type(ctx, *type.as<Type::Dict>()->key, *type.as<Type::Dict>()->value);
        break;
    case TypeKind::Set:
        define_set_type(ctx, *type.as<Type::Set>()->element);
        break;
    case TypeKind::Tuple:
        define_tuple_type(ctx, type.as<Type::Tuple>()->elements);
        break;
    case TypeKind::Class:
        declare_class(ctx, type.as<Type::Class>()->name);
        break;
    case TypeKind::Optional:
        define_optional_type(ctx, type);
        break;
    case TypeKind::Function: {
        const auto *lambda =
            std::get_if<FunctionValue::Lambda>(&type.as<Type::Function>()->value.kind);
        if (lambda && !lambda->captures.empty())
            define_closure_type(ctx, type);
        break;
    }
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::Str:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::None:
    case TypeKind::NoValue:
        break;
    }
}

void define_list_type(CodegenContext &ctx, const Type &element) {
    if (is_scalar_list_item(element) || element.is<Type::NoValue>())
        return;
    Type list = Type::list(element);
    if (ctx.defined_c_types.count(list))
        return;
    ensure_type_defined(ctx, element);
    ctx.defined_c_types.insert(list);
    std::string l = list_c_name(element);
    ctx.types_text +=
        fmt::format("KTL_DEFINE_LIST({}, {}, {}, {})\n", l, c_type_name(element),
                    item_eq_fn_name(element), needs_gc_scan(element) ? "KTL_SCAN" : "KTL_NOSCAN");
    ctx.types_text += fmt::format("KTL_DEFINE_LIST_PRINT({}, {})\n", l, repr_fn_name(element));
    if (is_orderable_type(element) && may_be_unordered(element)) {
        ctx.types_text += fmt::format("KTL_DEFINE_LIST_CMP_EQ({}, {}, {}, {})\n", l,
                                      item_order_fn(element, "_cmp"), item_eq_fn_name(element),
                                      item_order_fn(element, "_lt"));
    } else if (is_orderable_type(element)) {
        ctx.types_text +=
            fmt::format("KTL_DEFINE_LIST_CMP({}, {})\n", l, item_order_fn(element, "_cmp"));
    }
}

void define_dict_type(CodegenContext &ctx, const Type &key, const Type &value) {
    Type dict = Type::dict(key, value);
    if (ctx.defined_c_types.count(dict))
        return;
    ensure_type_defined(ctx, key);
    ensure_type_defined(ctx, value);
    ctx.defined_c_types.insert(dict);
    bool scan = needs_gc_scan(key) || needs_gc_scan(value);
    ctx.types_text += fmt::format(
        "KTL_DEFINE_DICT({}, {}, {}, {}, {}, {}, {}, {}, {})\n", dict_c_name(key, value),
        c_type_name(key), c_type_name(value), hash_fn_name(key), eq_fn_name(key), repr_fn_name(key),
        repr_fn_name(value), item_eq_fn_name(value), scan ? "KTL_SCAN" : "KTL_NOSCAN");
}

void define_set_type(CodegenContext &ctx, const Type &element) {
    Type set = Type::set(element);
    if (ctx.defined_c_types.count(set))
        return;
    ensure_type_defined(ctx, element);
    ctx.defined_c_types.insert(set);
    ctx.types_text += fmt::format("KTL_DEFINE_SET({}, {}, {}, {}, {})\n", set_c_name(element),
                                  c_type_name(element), pyhash_fn_name(element),
                                  eq_fn_name(element), repr_fn_name(element));
}

void define_tuple_type(CodegenContext &ctx, const std::vector<Type> &elements) {
    Type tuple = Type::tuple(elements);
    if (ctx.defined_c_types.count(tuple))
        return;
    for (const Type &e : elements)
        ensure_type_defined(ctx, e);
    ctx.defined_c_types.insert(tuple);
    std::string t = tuple_c_name(elements);
    std::string fields, eq_terms, cmp_body = "int c; ", lt_body, hash_body, pyhash_body, print_body;
    bool hashable = true;
    print_body = "ktl_putc('('); ";
    for (size_t i = 0; i < elements.size(); ++i) {
        const Type &e = elements[i];
        fields += fmt::format(" {} f{};", c_type_name(e), i);
        if (i > 0)
            eq_terms += " && ";
        eq_terms += fmt::format("{0}(a.f{1}, b.f{1})", item_eq_fn_name(e), i);
        cmp_body += fmt::format("if ((c = {})) return c; ",
                                compare_expr(e, fmt::format("a.f{}", i), fmt::format("b.f{}", i)));
        if (may_be_unordered(e))
            cmp_body += fmt::format("if (!{0}(a.f{1}, b.f{1})) return 0; ", item_eq_fn_name(e), i);
        std::string item_lt = may_be_unordered(e)
                                  ? fmt::format("{}(a.f{}, b.f{})", item_order_fn(e, "_lt"), i, i)
                                  : fmt::format("{} < 0", compare_expr(e, fmt::format("a.f{}", i),
                                                                       fmt::format("b.f{}", i)));
        lt_body +=
            fmt::format("if (!{0}(a.f{1}, b.f{1})) return {2}; ", item_eq_fn_name(e), i, item_lt);
        hashable = hashable && is_hashable_type(e);
        hash_body += fmt::format("h = ktl_hash_step(h, {}(t.f{})); ", hash_fn_name(e), i);
        pyhash_body +=
            fmt::format("acc = ktl_tuphash_step(acc, {}(t.f{})); ", pyhash_fn_name(e), i);
        if (i > 0)
            print_body += "ktl_write(\", \", 2); ";
        print_body += fmt::format("{}(t.f{}); ", repr_fn_name(e), i);
    }
    if (elements.size() == 1)
        print_body += "ktl_putc(','); ";
    if (eq_terms.empty())
        eq_terms = "true";
    std::string &out = ctx.types_text;
    out += fmt::format("typedef struct {0} {{{1} }} {0};\n", t, fields);
    out += fmt::format("static inline bool {0}_eq({0} a, {0} b) {{ return {1}; }}\n", t, eq_terms);
    if (is_orderable_type(tuple)) {
        out += fmt::format("static inline int {0}_cmp({0} a, {0} b) {{ {1}return 0; }}\n", t,
                           cmp_body);
        // With objects inside, Python's `<`: the first items that differ,
        // then `<` once on them.
        if (may_be_unordered(tuple))
            out += fmt::format("static inline bool {0}_lt({0} a, {0} b) {{ {1}return false; }}\n",
                               t, lt_body);
        else
            out += fmt::format(
                "static inline bool {0}_lt({0} a, {0} b) {{ return {0}_cmp(a, b) < 0; }}\n", t);
    }
    if (hashable) {
        out += fmt::format("static inline uint32_t {0}_hash({0} t) {{ uint64_t h = {1}; {2}return "
                           "ktl_mix(h); }}\n",
                           t, elements.size(), hash_body);
        out += fmt::format("static inline int64_t {0}_pyhash({0} t) {{ uint64_t acc = KTL_XXP5; "
                           "{1}return ktl_tuphash_done(acc, {2}); }}\n",
                           t, pyhash_body, elements.size());
    }
    out += fmt::format("static void ktl_print_{0}({0} t) {{ {1}ktl_putc(')'); }}\n", t, print_body);
}

std::string widen_to_float_text(const std::string &text, const Type &type) {
    if (type.is<Type::Int>())
        return fmt::format("((double){})", text);
    return text;
}

std::string eq_fn_name(const Type &t) {
    switch (t.tag()) {
    case TypeKind::Str:
        return "KTL_STR_EQ";
    case TypeKind::List:
        return list_c_name(*t.as<Type::List>()->element) + "_eq";
    case TypeKind::Dict:
        return dict_c_name(*t.as<Type::Dict>()->key, *t.as<Type::Dict>()->value) + "_eq";
    case TypeKind::Set:
        return set_c_name(*t.as<Type::Set>()->element) + "_eq";
    case TypeKind::Tuple:
        return tuple_c_name(t.as<Type::Tuple>()->elements) + "_eq";
    case TypeKind::Range:
        return "ktl_range_eq";
    case TypeKind::Class:
        return type_code(t) + "_eq";
    case TypeKind::Optional:
        return type_code(t) + "_eq";
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::NoValue:
        break;
    }
    return "KTL_EQ";
}

std::string item_eq_fn_name(const Type &t) {
    const Type *object = &t;
    if (const auto *opt = t.as<Type::Optional>())
        object = &*opt->inner;
    if (object->is<Type::Class>())
        return type_code(t) + "_item_eq";
    return eq_fn_name(t);
}

std::string compare_expr(const Type &t, const std::string &a, const std::string &b) {
    switch (t.tag()) {
    case TypeKind::Str:
        return fmt::format("ktl_str_cmp({}, {})", a, b);
    case TypeKind::List:
        return fmt::format("{}_cmp({}, {})", list_c_name(*t.as<Type::List>()->element), a, b);
    case TypeKind::Tuple:
        return fmt::format("{}_cmp({}, {})", tuple_c_name(t.as<Type::Tuple>()->elements), a, b);
    case TypeKind::Class:
        return fmt::format("{}_cmp({}, {})", type_code(t), a, b);
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
    return fmt::format("KTL_CMP({}, {})", a, b);
}

namespace {

// The hash function of a key Type in one family, `hash` (the tables' bucket
// hash) or `pyhash` (the value of Python's hash()): the runtime's for bools
// and strings, the tuple's own for a tuple, the int one for any other Type.
std::string hash_fn_name_in(const Type &t, std::string_view family) {
    if (t.is<Type::Bool>())
        return fmt::format("ktl_{}_b", family);
    if (t.is<Type::Str>())
        return fmt::format("ktl_{}_s", family);
    if (t.is<Type::Tuple>())
        return fmt::format("{}_{}", tuple_c_name(t.as<Type::Tuple>()->elements), family);
    return fmt::format("ktl_{}_i", family);
}

} // namespace

std::string hash_fn_name(const Type &t) {
    return hash_fn_name_in(t, "hash");
}

std::string pyhash_fn_name(const Type &t) {
    return hash_fn_name_in(t, "pyhash");
}

std::string print_fn_name(const Type &t) {
    switch (t.tag()) {
    case TypeKind::Int:
        return "ktl_print_i";
    case TypeKind::Float:
        return "ktl_print_f";
    case TypeKind::Bool:
        return "ktl_print_b";
    case TypeKind::Str:
        return "ktl_print_s";
    case TypeKind::List:
        return "ktl_print_" + list_c_name(*t.as<Type::List>()->element);
    case TypeKind::Dict:
        return "ktl_print_" + dict_c_name(*t.as<Type::Dict>()->key, *t.as<Type::Dict>()->value);
    case TypeKind::Set:
        return "ktl_print_" + set_c_name(*t.as<Type::Set>()->element);
    case TypeKind::Tuple:
        return "ktl_print_" + tuple_c_name(t.as<Type::Tuple>()->elements);
    case TypeKind::Range:
        return "ktl_print_range";
    case TypeKind::Class:
        return "ktl_print_" + type_code(t);
    case TypeKind::None:
        return "ktl_print_none";
    case TypeKind::Optional:
        return "ktl_print_" + type_code(t);
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::NoValue:
        break;
    }
    return "(void)";
}

std::string repr_fn_name(const Type &t) {
    switch (t.tag()) {
    case TypeKind::Str:
        return "ktl_print_repr_s";
    case TypeKind::Class:
        return "ktl_repr_" + type_code(t);
    case TypeKind::Optional:
        return "ktl_repr_" + type_code(t);
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::NoValue:
        break;
    }
    return print_fn_name(t);
}

std::optional<std::string> truth_test_expr(const std::string &x, const Type &t) {
    switch (t.tag()) {
    case TypeKind::Int:
        return fmt::format("({} != 0)", x);
    case TypeKind::Float:
        return fmt::format("({} != 0.0)", x);
    case TypeKind::Bool:
        return x;
    case TypeKind::Str:
        return fmt::format("({}.len != 0)", x);
    case TypeKind::List:
    case TypeKind::Dict:
        return fmt::format("({}->len != 0)", x);
    case TypeKind::Set:
        return fmt::format("({}->used != 0)", x);
    case TypeKind::Range:
        return fmt::format("(ktl_range_len({}) != 0)", x);
    case TypeKind::Class:
        return fmt::format("ktl_truthy_{}({})", type_code(t), x);
    case TypeKind::None:
        return fmt::format("((void)({}), false)", x);
    case TypeKind::Optional: {
        const Type &inner = inner_of(t);
        bool pointer = is_pointer_kind(inner);
        auto inner_test = truth_test_expr(pointer ? "_qt" : "_qt.v", inner);
        if (!inner_test)
            return std::nullopt;
        return fmt::format("({{ {} _qt = {}; {} && {}; }})", c_type_name(t), x,
                           pointer ? "(_qt != NULL)" : "_qt.has", *inner_test);
    }
    case TypeKind::Tuple:
    case TypeKind::File:
        return fmt::format("((void)({}), true)", x);
    // `if f:` of a function is almost always a forgotten call.
    case TypeKind::Function:
    case TypeKind::NoValue:
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> search_value_text(const CodegenContext &ctx, const std::string &text,
                                             const Type &from, const Type &item) {
    if (from.is<Type::Int>() && item.is<Type::Float>())
        return fmt::format("ktl_exact_f64({})", text);
    return coerce_expr(ctx, text, from, item);
}

std::optional<std::string> coerce_expr(const CodegenContext &ctx, const std::string &x,
                                       const Type &from, const Type &to) {
    if (from == to)
        return x;
    if (from.is<Type::Int>() && to.is<Type::Float>())
        return fmt::format("((double){})", x);
    if (from.is<Type::Class>() && to.is<Type::Class>()) {
        if (is_subclass_of(ctx, from.as<Type::Class>()->name, to.as<Type::Class>()->name))
            return fmt::format("((C_{} *)({}))", to.as<Type::Class>()->name, x);
        return std::nullopt;
    }
    if (from.is<Type::None>() && to.is<Type::Optional>())
        return fmt::format("((void)({}), ({}){{0}})", x, c_type_name(to));
    if (from.is<Type::Optional>() && to.is<Type::Optional>()) {
        const Type &fi = inner_of(from);
        const Type &ti = inner_of(to);
        if (is_pointer_kind(ti))
            return coerce_expr(ctx, x, fi, ti);
        auto inner = coerce_expr(ctx, "_qc.v", fi, ti);
        if (!inner)
            return std::nullopt;
        return fmt::format("({{ {} _qc = {}; ({}){{_qc.has, {}}}; }})", c_type_name(from), x,
                           c_type_name(to), *inner);
    }
    if (from.is<Type::Optional>() || from.is<Type::NoValue>())
        return std::nullopt;
    if (to.is<Type::Optional>()) {
        const Type &ti = inner_of(to);
        auto converted = coerce_expr(ctx, x, from, ti);
        if (!converted)
            return std::nullopt;
        if (is_pointer_kind(ti))
            return converted;
        return fmt::format("(({}){{true, {}}})", c_type_name(to), *converted);
    }
    return std::nullopt;
}

std::optional<Type> join_types(const CodegenContext &ctx, const Type &a, const Type &b) {
    if (a == b)
        return a;
    if ((a.is<Type::Int>() && b.is<Type::Float>()) || (a.is<Type::Float>() && b.is<Type::Int>()))
        return Type::float_();
    if (a.is<Type::Class>() && b.is<Type::Class>()) {
        auto base = common_base_class(ctx, a.as<Type::Class>()->name, b.as<Type::Class>()->name);
        if (!base)
            return std::nullopt;
        return Type::class_(*base);
    }
    // An object joins None or an optional below, and nothing else.
    if (a.is<Type::Class>() && !b.is<Type::None>() && !b.is<Type::Optional>())
        return std::nullopt;
    if (a.is<Type::NoValue>() || b.is<Type::NoValue>())
        return std::nullopt;
    if (a.is<Type::None>())
        return make_optional(b);
    if (b.is<Type::None>())
        return make_optional(a);
    if (a.is<Type::Optional>()) {
        auto j = join_types(ctx, inner_of(a), b);
        if (!j)
            return std::nullopt;
        return make_optional(*j);
    }
    if (b.is<Type::Optional>()) {
        auto j = join_types(ctx, inner_of(b), a);
        if (!j)
            return std::nullopt;
        return make_optional(*j);
    }
    return std::nullopt;
}

std::string c_str_literal(std::string_view bytes) {
    return fmt::format("((ktl_str){{{}, {}}})", quoted(bytes, EscapeMode::C), bytes.size());
}

std::optional<int> dict_view_kind(std::string_view method) {
    if (method == "keys")
        return 0;
    if (method == "values")
        return 1;
    if (method == "items")
        return 2;
    return std::nullopt;
}

} // namespace kestal
