// Binary operators over two compiled operands: the C text and Type of one
// operation, chosen from the operands' static Types alone. Numbers map to C
// operators or to the runtime's arithmetic (floor division, modulo, powers
// and shifts with Python's results), strings and containers to their
// runtime functions, class instances to their dunder methods; any other
// combination is the operand-type error.
//
// Each operand's text occurs exactly once in every result, so each operand
// is evaluated once. Where a result names the right operand first
// (repetition with the count first, membership), the hoisting of
// side-effecting operands keeps the source order.
#include "codegen/expr/expr.h"

#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/optional/narrowing.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace kestal {

namespace {

// Forward and reflected dunder names of `+` through `>=`, indexed by BinOp.
struct DunderPair {
    std::string_view forward;
    std::string_view reflected;
};
constexpr std::array<DunderPair, 18> kDunders = {{
    {"__add__", "__radd__"},
    {"__sub__", "__rsub__"},
    {"__mul__", "__rmul__"},
    {"__truediv__", "__rtruediv__"},
    {"__floordiv__", "__rfloordiv__"},
    {"__mod__", "__rmod__"},
    {"__pow__", "__rpow__"},
    {"__and__", "__rand__"},
    {"__or__", "__ror__"},
    {"__xor__", "__rxor__"},
    {"__lshift__", "__rlshift__"},
    {"__rshift__", "__rrshift__"},
    {"__eq__", "__eq__"},
    {"__ne__", "__ne__"},
    {"__lt__", "__gt__"},
    {"__le__", "__ge__"},
    {"__gt__", "__lt__"},
    {"__ge__", "__le__"},
}};

bool is_int(const Type &t) {
    return t.is<Type::Int>();
}
bool is_bool(const Type &t) {
    return t.is<Type::Bool>();
}
bool is_number(const Type &t) {
    return t.is<Type::Int>() || t.is<Type::Float>();
}
bool is_class(const Type &t) {
    return t.is<Type::Class>();
}
const std::string &class_name(const Type &t) {
    return t.as<Type::Class>()->name;
}
const Type &element_of(const Type &t) {
    if (const auto *l = t.as<Type::List>())
        return *l->element;
    return *t.as<Type::Set>()->element;
}

bool is_reference(const Type &t) {
    if (const auto *o = t.as<Type::Optional>())
        return is_pointer_kind(*o->inner);
    return is_pointer_kind(t);
}

std::string none_hint(const Type &t) {
    if (t.is<Type::None>())
        return " (it is always None here)";
    if (t.is<Type::Optional>())
        return " (it may be None; check `is not None` first)";
    return "";
}

std::string as_float(const CompiledExpr &c) {
    return widen_to_float_text(c.text, c.type);
}
std::string negated(bool negate, const std::string &text) {
    return negate ? fmt::format("(!{})", text) : text;
}

[[noreturn]] void fail(const Expr &e, const std::string &message) {
    throw_error(message, e.line, e.column);
}

CompiledExpr boolean(std::string text) {
    return {std::move(text), Type::bool_()};
}

// An int compared with a float, exactly: the runtime's int-float
// comparisons take the int first, so a float on the left turns the operator
// around (a < b is b > a).
std::string mixed_comparison(BinOp op, const CompiledExpr &l, const CompiledExpr &r) {
    bool int_left = is_int(l.type);
    const CompiledExpr &i = int_left ? l : r;
    const CompiledExpr &d = int_left ? r : l;
    std::string_view fn;
    switch (op) {
    case BinOp::Eq:
    case BinOp::Ne:
        fn = "eq";
        break;
    case BinOp::Lt:
        fn = int_left ? "lt" : "gt";
        break;
    case BinOp::Le:
        fn = int_left ? "le" : "ge";
        break;
    case BinOp::Gt:
        fn = int_left ? "gt" : "lt";
        break;
    case BinOp::Ge:
        fn = int_left ? "ge" : "le";
        break;
    case BinOp::Add:
    case BinOp::Sub:
    case BinOp::Mul:
    case BinOp::Div:
    case BinOp::FloorDiv:
    case BinOp::Mod:
    case BinOp::Pow:
    case BinOp::BitAnd:
    case BinOp::BitOr:
    case BinOp::BitXor:
    case BinOp::Shl:
    case BinOp::Shr:
    case BinOp::And:
    case BinOp::Or:
    case BinOp::In:
    case BinOp::NotIn:
    case BinOp::Is:
    case BinOp::IsNot:
        internal_fault("an int-float comparison with an operator that does not compare");
    }
    return negated(op == BinOp::Ne, fmt::format("ktl_if_{}({}, {})", fn, i.text, d.text));
}

// The value of an int literal's C text ("INT64_C(<digits>)") when it is
// positive.
std::optional<int64_t> positive_int_literal(const std::string &text) {
    constexpr std::string_view head = "INT64_C(";
    if (text.size() <= head.size() + 1 || text.compare(0, head.size(), head) != 0 ||
        text.back() != ')')
        return std::nullopt;
    std::string digits = text.substr(head.size(), text.size() - head.size() - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    unsigned long long v = std::strtoull(digits.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v == 0 || v > INT64_MAX)
        return std::nullopt;
    return static_cast<int64_t>(v);
}

// Floor `//` and `%` of ints by a positive literal divisor, without the
// general helpers' zero and sign checks: a power of two 2^k is an
// arithmetic shift by k and a mask of k bits (both exact under flooring,
// for every dividend), any other divisor goes to the runtime's
// constant-divisor forms, which the C compiler reduces to multiplications.
std::optional<std::string> floor_by_constant(BinOp op, const std::string &l, const std::string &r) {
    std::optional<int64_t> c = positive_int_literal(r);
    if (!c)
        return std::nullopt;
    uint64_t u = static_cast<uint64_t>(*c);
    bool div = op == BinOp::FloorDiv;
    if ((u & (u - 1)) == 0) {
        int shift = std::countr_zero(u);
        if (div)
            return fmt::format("(({}) >> {})", l, shift);
        return fmt::format("(({}) & INT64_C({}))", l, u - 1);
    }
    return fmt::format("{}({}, {})", div ? "ktl_floordiv_c" : "ktl_mod_c", l, r);
}

// The arithmetic and comparison rows of int, float and bool operands.
// Numeric means both operands are int or float and not both int; bool is
// never numeric.
// `nonzero`: the divisor is known not to be zero, so a division needs no
// zero check (KTL_NZ tells the C compiler so where the runtime checks).
std::optional<CompiledExpr> numeric_op(BinOp op, const CompiledExpr &l, const CompiledExpr &r,
                                       bool nonzero) {
    bool both_int = is_int(l.type) && is_int(r.type);
    auto divisor = [&](std::string text) {
        return nonzero ? fmt::format("KTL_NZ({})", text) : text;
    };
    bool numeric = is_number(l.type) && is_number(r.type) && !both_int;
    std::string sym(binop_symbol(op));
    auto int_result = [](std::string text) { return CompiledExpr{std::move(text), Type::int_()}; };
    auto float_result = [](std::string text) {
        return CompiledExpr{std::move(text), Type::float_()};
    };
    switch (op) {
    case BinOp::Add:
    case BinOp::Sub:
    case BinOp::Mul:
        if (both_int)
            return int_result(fmt::format("({} {} {})", l.text, sym, r.text));
        if (numeric)
            return float_result(fmt::format("({} {} {})", as_float(l), sym, as_float(r)));
        return std::nullopt;
    case BinOp::Div:
        if (!both_int && !numeric)
            return std::nullopt;
        if (both_int)
            return float_result(fmt::format("ktl_itruediv({}, {})", l.text, divisor(r.text)));
        // A non-zero divisor needs no zero check.
        if (nonzero || is_nonzero_literal(r.text))
            return float_result(fmt::format("(((double){}) / ((double){}))", l.text, r.text));
        return float_result(fmt::format("ktl_fdiv(((double){}), ((double){}))", l.text, r.text));
    case BinOp::FloorDiv:
        if (both_int) {
            if (auto lowered = floor_by_constant(op, l.text, r.text))
                return int_result(std::move(*lowered));
            return int_result(fmt::format("ktl_floordiv({}, {})", l.text, divisor(r.text)));
        }
        if (numeric)
            return float_result(
                fmt::format("ktl_ffloordiv({}, {})", as_float(l), divisor(as_float(r))));
        return std::nullopt;
    case BinOp::Mod:
        if (both_int) {
            if (auto lowered = floor_by_constant(op, l.text, r.text))
                return int_result(std::move(*lowered));
            return int_result(fmt::format("ktl_mod({}, {})", l.text, divisor(r.text)));
        }
        if (numeric)
            return float_result(fmt::format("ktl_fmod({}, {})", as_float(l), divisor(as_float(r))));
        return std::nullopt;
    case BinOp::Pow:
        if (both_int)
            return int_result(fmt::format("ktl_ipow({}, {})", l.text, r.text));
        // The runtime's float power raises where Python does instead of
        // giving C's inf or nan.
        if (numeric)
            return float_result(fmt::format("ktl_fpow({}, {})", as_float(l), as_float(r)));
        return std::nullopt;
    case BinOp::BitAnd:
    case BinOp::BitOr:
    case BinOp::BitXor:
        if (both_int)
            return int_result(fmt::format("({} {} {})", l.text, sym, r.text));
        if (is_bool(l.type) && is_bool(r.type))
            return boolean(fmt::format("({} {} {})", l.text, sym, r.text));
        return std::nullopt;
    // The runtime's shifts take the count as it is: a count of 64 or more
    // gives 0 (or -1 for a negative `>>`), a negative one raises ValueError.
    case BinOp::Shl:
        if (both_int)
            return int_result(fmt::format("ktl_shl({}, {})", l.text, r.text));
        return std::nullopt;
    case BinOp::Shr:
        if (both_int)
            return int_result(fmt::format("ktl_shr({}, {})", l.text, r.text));
        return std::nullopt;
    case BinOp::Eq:
    case BinOp::Ne:
    case BinOp::Lt:
    case BinOp::Le:
    case BinOp::Gt:
    case BinOp::Ge:
    case BinOp::And:
    case BinOp::Or:
    case BinOp::In:
    case BinOp::NotIn:
    case BinOp::Is:
    case BinOp::IsNot:
        break;
    }
    if (is_comparison(op)) {
        if (both_int || (is_bool(l.type) && is_bool(r.type)))
            return boolean(fmt::format("({} {} {})", l.text, sym, r.text));
        if (numeric && is_int(l.type) != is_int(r.type))
            return boolean(mixed_comparison(op, l, r));
        if (numeric)
            return boolean(fmt::format("({} {} {})", l.text, sym, r.text));
    }
    return std::nullopt;
}

std::optional<CompiledExpr> string_op(BinOp op, const CompiledExpr &l, const CompiledExpr &r) {
    bool ls = l.type.is<Type::Str>(), rs = r.type.is<Type::Str>();
    if (op == BinOp::Mul && ls && is_int(r.type))
        return CompiledExpr{fmt::format("ktl_str_rep({}, {})", l.text, r.text), Type::str()};
    if (op == BinOp::Mul && is_int(l.type) && rs)
        return CompiledExpr{fmt::format("ktl_str_rep({}, {})", r.text, l.text), Type::str()};
    if (!ls || !rs)
        return std::nullopt;
    switch (op) {
    case BinOp::Add:
        return CompiledExpr{fmt::format("ktl_str_cat({}, {})", l.text, r.text), Type::str()};
    case BinOp::Eq:
        return boolean(fmt::format("ktl_str_eq({}, {})", l.text, r.text));
    case BinOp::Ne:
        return boolean(fmt::format("(!ktl_str_eq({}, {}))", l.text, r.text));
    case BinOp::Lt:
    case BinOp::Le:
    case BinOp::Gt:
    case BinOp::Ge:
        return boolean(fmt::format("(ktl_str_cmp({}, {}) {} 0)", l.text, r.text, binop_symbol(op)));
    case BinOp::In:
    case BinOp::NotIn:
        return boolean(
            negated(op == BinOp::NotIn, fmt::format("ktl_str_contains({}, {})", r.text, l.text)));
    case BinOp::Sub:
    case BinOp::Mul:
    case BinOp::Div:
    case BinOp::FloorDiv:
    case BinOp::Mod:
    case BinOp::Pow:
    case BinOp::BitAnd:
    case BinOp::BitOr:
    case BinOp::BitXor:
    case BinOp::Shl:
    case BinOp::Shr:
    case BinOp::And:
    case BinOp::Or:
    case BinOp::Is:
    case BinOp::IsNot:
        break;
    }
    return std::nullopt;
}

// `a < b` and friends on two sets of one Type: subset tests, the strict
// forms comparing the sizes first.
CompiledExpr set_ordering(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                          const CompiledExpr &r) {
    std::string s = set_c_name(element_of(l.type));
    std::string a = fresh_temp(ctx, "a");
    std::string b = fresh_temp(ctx, "b");
    bool reversed = op == BinOp::Gt || op == BinOp::Ge;
    const std::string &x = reversed ? b : a;
    const std::string &y = reversed ? a : b;
    std::string strict = (op == BinOp::Lt || op == BinOp::Gt)
                             ? fmt::format("{}->used < {}->used && ", x, y)
                             : std::string();
    return boolean(fmt::format("({{ {0} *{1} = {2}; {0} *{3} = {4}; {5}{0}_issubset({6}, {7}); }})",
                               s, a, l.text, b, r.text, strict, x, y));
}

// Items of a class that can't be ordered by the operator raise TypeError
// only when the sequences reach them, as Python's do.
std::string item_ordering(CodegenContext &ctx, BinOp op, const std::string &x, const std::string &y,
                          const Type &item, const Expr &e) {
    if (const auto *cls = item.as<Type::Class>()) {
        const DunderPair &names = kDunders[static_cast<size_t>(op)];
        if (!subtree_defines(ctx, cls->name, std::string(names.forward)) &&
            !subtree_defines(ctx, cls->name, std::string(names.reflected)))
            return fmt::format("(ktl_panic(\"TypeError: '{}' not supported between instances of "
                               "'{}' and '{}'\"), false)",
                               binop_symbol(op), cls->name, cls->name);
    }
    CompiledExpr c = compile_binary_op(ctx, op, {x, item}, {y, item}, e);
    return truth_test_expr(c.text, c.type).value_or(c.text);
}

// `<`, `<=`, `>`, `>=` on lists or tuples holding objects, as Python asks
// the items: the first index whose items differ (the same object, else
// `==`), then the operator itself once on that pair, or on the lengths
// when one sequence ran out.
CompiledExpr object_sequence_ordering(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                      const CompiledExpr &r, const Expr &e) {
    std::string a = fresh_temp(ctx, "a"), b = fresh_temp(ctx, "b");
    std::string sym(binop_symbol(op));
    std::string decl = c_type_name(l.type);
    if (const auto *tuple = l.type.as<Type::Tuple>()) {
        std::string chain;
        for (size_t i = 0; i < tuple->elements.size(); ++i) {
            const Type &item = tuple->elements[i];
            std::string x = fmt::format("{}.f{}", a, i), y = fmt::format("{}.f{}", b, i);
            chain += fmt::format("!{}({}, {}) ? {} : ", item_eq_fn_name(item), x, y,
                                 item_ordering(ctx, op, x, y, item, e));
        }
        return boolean(fmt::format("({{ {0} {1} = {2}; {0} {3} = {4}; {5}(0 {6} 0); }})", decl, a,
                                   l.text, b, r.text, chain, sym));
    }
    const Type &item = *l.type.as<Type::List>()->element;
    std::string i = fresh_temp(ctx, "i"), n = fresh_temp(ctx, "n");
    std::string x = fmt::format("{}->data[{}]", a, i), y = fmt::format("{}->data[{}]", b, i);
    return boolean(fmt::format(
        "({{ {0} {1} = {2}; {0} {3} = {4}; int64_t {5} = {1}->len < {3}->len ? {1}->len : "
        "{3}->len; int64_t {6} = 0; while ({6} < {5} && {7}({8}, {9})) {6}++; {6} < {5} ? {10} : "
        "({1}->len {11} {3}->len); }})",
        decl, a, l.text, b, r.text, n, i, item_eq_fn_name(item), x, y,
        item_ordering(ctx, op, x, y, item, e), sym));
}

// The rows of list, dict, set, tuple and range operands.
// One piece: the container rows read best as one ordered list of cases.
std::optional<CompiledExpr> container_op(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                         const CompiledExpr &r, const Expr &e) {
    const Type &lt = l.type, &rt = r.type;
    bool same = lt == rt;
    std::string sym(binop_symbol(op));
    if (op == BinOp::Add && lt.is<Type::List>() && same) {
        ensure_type_defined(ctx, lt);
        return CompiledExpr{
            fmt::format("{}_cat({}, {})", list_c_name(element_of(lt)), l.text, r.text), lt};
    }
    if (op == BinOp::Mul && lt.is<Type::List>() && is_int(rt)) {
        ensure_type_defined(ctx, lt);
        return CompiledExpr{
            fmt::format("{}_rep({}, {})", list_c_name(element_of(lt)), l.text, r.text), lt};
    }
    if (op == BinOp::Mul && is_int(lt) && rt.is<Type::List>()) {
        ensure_type_defined(ctx, rt);
        return CompiledExpr{
            fmt::format("{}_rep({}, {})", list_c_name(element_of(rt)), r.text, l.text), rt};
    }
    if (same && lt.is<Type::Set>()) {
        std::string_view word;
        if (op == BinOp::Sub)
            word = "sub";
        if (op == BinOp::BitAnd)
            word = "and";
        if (op == BinOp::BitOr)
            word = "or";
        if (op == BinOp::BitXor)
            word = "xor";
        if (!word.empty()) {
            ensure_type_defined(ctx, lt);
            return CompiledExpr{
                fmt::format("{}_{}({}, {})", set_c_name(element_of(lt)), word, l.text, r.text), lt};
        }
        if (op == BinOp::Lt || op == BinOp::Le || op == BinOp::Gt || op == BinOp::Ge) {
            ensure_type_defined(ctx, lt);
            return set_ordering(ctx, op, l, r);
        }
    }
    bool container = lt.is<Type::List>() || lt.is<Type::Dict>() || lt.is<Type::Set>() ||
                     lt.is<Type::Tuple>() || lt.is<Type::Range>();
    if (same && container && (op == BinOp::Eq || op == BinOp::Ne)) {
        if (!supports_eq(lt))
            fail(e, fmt::format("comparing {} with {} isn't supported", lt, sym));
        ensure_type_defined(ctx, lt);
        return boolean(fmt::format("({}{}({}, {}))", op == BinOp::Ne ? "!" : "", eq_fn_name(lt),
                                   l.text, r.text));
    }
    bool ordering = op == BinOp::Lt || op == BinOp::Le || op == BinOp::Gt || op == BinOp::Ge;
    if (same && ordering && (lt.is<Type::Dict>() || lt.is<Type::Range>()))
        fail(e, fmt::format("'{}' isn't supported between instances of {}", sym, lt));
    if (same && ordering && (lt.is<Type::List>() || lt.is<Type::Tuple>())) {
        if (!is_orderable_type(lt))
            fail(e, fmt::format("comparing {} with {} isn't supported", lt, sym));
        ensure_type_defined(ctx, lt);
        if (may_be_unordered(lt))
            return object_sequence_ordering(ctx, op, l, r, e);
        return boolean(fmt::format("({} {} 0)", compare_expr(lt, l.text, r.text), sym));
    }
    return std::nullopt;
}

// Tuple membership: each element in turn compared with the left operand,
// the element on the left as Python asks it.
std::optional<CompiledExpr> tuple_membership(CodegenContext &ctx, const CompiledExpr &l,
                                             const CompiledExpr &r) {
    std::string x = fresh_temp(ctx, "x");
    std::string t = fresh_temp(ctx, "t");
    const auto &elements = r.type.as<Type::Tuple>()->elements;
    std::vector<std::string> tests;
    for (size_t i = 0; i < elements.size(); ++i) {
        auto eq = equality_text(fmt::format("{}.f{}", t, i), elements[i], x, l.type, true);
        if (!eq)
            return std::nullopt;
        tests.push_back(*eq);
    }
    if (tests.empty())
        tests.push_back(c_false_text());
    ensure_type_defined(ctx, l.type);
    ensure_type_defined(ctx, r.type);
    return boolean(fmt::format("({{ {} {} = {}; {} {} = {}; ({}); }})", c_type_name(l.type), x,
                               l.text, c_type_name(r.type), t, r.text, fmt::join(tests, " || ")));
}

// `in` and `not in` over strings, containers and ranges (not classes).
std::optional<CompiledExpr> membership(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                       const CompiledExpr &r, const Expr &e) {
    const Type &rt = r.type;
    std::optional<std::string> text;
    if (const auto *list = rt.as<Type::List>()) {
        if (!supports_eq(*list->element))
            return std::nullopt;
        auto converted = search_value_text(ctx, l.text, l.type, *list->element);
        if (!converted)
            return std::nullopt;
        ensure_type_defined(ctx, rt);
        text = fmt::format("{}_contains({}, {})", list_c_name(*list->element), r.text, *converted);
    } else if (const auto *dict = rt.as<Type::Dict>()) {
        if (!(l.type == *dict->key))
            return std::nullopt;
        ensure_type_defined(ctx, rt);
        text = fmt::format("{}_contains({}, {})", dict_c_name(*dict->key, *dict->value), r.text,
                           l.text);
    } else if (const auto *set = rt.as<Type::Set>()) {
        if (!(l.type == *set->element))
            return std::nullopt;
        ensure_type_defined(ctx, rt);
        text = fmt::format("{}_contains({}, {})", set_c_name(*set->element), r.text, l.text);
    } else if (rt.is<Type::Range>()) {
        if (!is_int(l.type) && !is_bool(l.type))
            return std::nullopt;
        text = fmt::format("ktl_range_contains({}, {})", r.text, l.text);
    } else if (rt.is<Type::Tuple>()) {
        auto found = tuple_membership(ctx, l, r);
        if (!found)
            return std::nullopt;
        text = found->text;
    }
    if (!text)
        return std::nullopt;
    return boolean(negated(op == BinOp::NotIn, *text));
}

// `==` and `!=` with one or both operands optional.
std::optional<CompiledExpr> optional_equality(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                              const CompiledExpr &r) {
    bool lo = l.type.is<Type::Optional>(), ro = r.type.is<Type::Optional>();
    const char *bang = op == BinOp::Ne ? "!" : "";
    if (lo && ro && l.type == r.type && supports_eq(l.type)) {
        ensure_type_defined(ctx, l.type);
        return boolean(fmt::format("({}{}({}, {}))", bang, eq_fn_name(l.type), l.text, r.text));
    }
    if (lo == ro)
        return std::nullopt;
    const CompiledExpr &opt = lo ? l : r;
    const CompiledExpr &plain = lo ? r : l;
    const Type &inner = *opt.type.as<Type::Optional>()->inner;
    std::string q = fresh_temp(ctx, "q");
    std::string x = fresh_temp(ctx, "x");
    std::string value = is_pointer_kind(inner) ? q : fmt::format("({}).v", q);
    auto eq = equality_text(value, inner, x, plain.type);
    if (!eq)
        return std::nullopt;
    ensure_type_defined(ctx, opt.type);
    ensure_type_defined(ctx, plain.type);
    std::string qdecl = fmt::format("{} {} = {};", c_type_name(opt.type), q, opt.text);
    std::string xdecl = fmt::format("{} {} = {};", c_type_name(plain.type), x, plain.text);
    std::string decls = lo ? qdecl + " " + xdecl : xdecl + " " + qdecl;
    return boolean(
        fmt::format("({}({{ {} !{} && {}; }}))", bang, decls, is_none_test_text(q, opt.type), *eq));
}

// The dunder call of one class operand, or none when no class on the
// chain defines the method.
std::optional<CompiledExpr> dunder_call(CodegenContext &ctx, const CompiledExpr &receiver,
                                        std::string_view method, const CompiledExpr &argument,
                                        const Expr &e) {
    return call_dunder_if_defined(ctx, receiver.text, class_name(receiver.type),
                                  std::string(method), {argument}, e.line, e.column);
}

// The Python type name of an operand for a TypeError: a class object's own
// class at run time.
std::string operand_class_name(const std::string &text, const Type &type) {
    if (is_class(type))
        return fmt::format("ktl_class_names[{}->cls]", text);
    return fmt::format("\"{}\"", type_display(type));
}

// A comparison where the left operand's static class lacks the forward
// method but a class below the left or right static class brings the
// forward or reflected one: each object's own class decides at run time,
// the left object's forward method first, then the right object's
// reflected one, then identity for `==` and `!=`, or the TypeError.
// None when no class below brings either method.
// One piece: the left dispatch, the right dispatch and the last resort nest.
std::optional<std::string> comparison_below(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                            const CompiledExpr &r) {
    const DunderPair &names = kDunders[static_cast<size_t>(op)];
    std::string forward(names.forward), reflected(names.reflected);
    bool lc = is_class(l.type), rc = is_class(r.type);
    if (lc && first_class_defining_method(ctx, class_ancestors(ctx, class_name(l.type)), forward))
        return std::nullopt;
    bool right_static =
        rc && first_class_defining_method(ctx, class_ancestors(ctx, class_name(r.type)), reflected);
    bool left_below = lc && subtree_defines(ctx, class_name(l.type), forward);
    bool right_below = rc && !right_static && subtree_defines(ctx, class_name(r.type), reflected);
    if (!left_below && !right_below)
        return std::nullopt;
    bool related = lc && rc && common_base_class(ctx, class_name(l.type), class_name(r.type));
    // Neither object has the method.
    auto last_resort = [&](const std::string &a, const std::string &b) {
        std::string same =
            related ? fmt::format("((void *){} == (void *){})", a, b) : std::string("false");
        if (op == BinOp::Eq)
            return same;
        if (op == BinOp::Ne)
            return fmt::format("(!{})", same);
        return fmt::format("(ktl_cmp_type_error(\"{}\", {}, {}), false)", binop_symbol(op),
                           operand_class_name(a, l.type), operand_class_name(b, r.type));
    };
    // The right object's reflected method, with the left one held.
    auto right_side = [&](const std::string &a, const std::string &b) {
        CompiledExpr held_left{a, l.type};
        if (right_static) {
            auto call =
                call_dunder_if_defined(ctx, b, class_name(r.type), reflected, {held_left}, 0, 0);
            return comparison_result_truth(op, *call).text;
        }
        if (!right_below)
            return last_resort(a, b);
        return dunder_truth_in_subtree(
            ctx, b, class_name(r.type), reflected, {held_left},
            [&](const std::string &self, const std::vector<CompiledExpr> &args) {
                return last_resort(args[0].text, self);
            },
            0, 0);
    };
    if (!left_below) {
        std::string a = fresh_temp(ctx, "cl");
        ensure_type_defined(ctx, l.type);
        return fmt::format("({{ {} {} = {}; {}; }})", c_type_name(l.type), a, l.text,
                           right_side(a, r.text));
    }
    return dunder_truth_in_subtree(
        ctx, l.text, class_name(l.type), forward, {r},
        [&](const std::string &self, const std::vector<CompiledExpr> &args) {
            return right_side(self, args[0].text);
        },
        0, 0);
}

// An operator from `+` to `>=` with a class instance on either side, the
// left operand asked first.
// One piece: forward, reflected and identity fall-backs decide in order.
CompiledExpr left_first_class_op(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                 const CompiledExpr &r, const Expr &e) {
    bool lc = is_class(l.type), rc = is_class(r.type);
    const DunderPair &names = kDunders[static_cast<size_t>(op)];
    if (is_comparison(op)) {
        if (auto below = comparison_below(ctx, op, l, r))
            return boolean(*below);
    }
    std::optional<CompiledExpr> found;
    if (lc)
        found = dunder_call(ctx, l, names.forward, r, e);
    if (!found && rc)
        found = dunder_call(ctx, r, names.reflected, l, e);
    if (found)
        return comparison_result_truth(op, *found);
    if (op != BinOp::Eq && op != BinOp::Ne)
        fail(e, fmt::format("unsupported operand types for {}: {} and {} (define {} to support it)",
                            binop_symbol(op), l.type, r.type, names.forward));
    std::string identity;
    if (lc && rc && common_base_class(ctx, class_name(l.type), class_name(r.type))) {
        identity = fmt::format("((void *)({}) == (void *)({}))", l.text, r.text);
    } else {
        identity = fmt::format("((void)({}), (void)({}), false)", l.text, r.text);
    }
    return boolean(op == BinOp::Ne ? fmt::format("(!{})", identity) : identity);
}

// Operators with a class instance on either side.
std::optional<CompiledExpr> class_op(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                                     const CompiledExpr &r, const Expr &e) {
    bool lc = is_class(l.type), rc = is_class(r.type);
    if (!lc && !rc)
        return std::nullopt;
    if (op == BinOp::In || op == BinOp::NotIn) {
        if (!rc)
            return std::nullopt;
        auto call = dunder_call(ctx, r, "__contains__", l, e);
        if (!call)
            fail(e, fmt::format("'{}' object has no __contains__, so `in` doesn't apply",
                                class_name(r.type)));
        std::string truth = truth_test_expr(call->text, call->type).value_or(c_false_text());
        return boolean(negated(op == BinOp::NotIn, truth));
    }
    auto index = static_cast<size_t>(op);
    if (index >= kDunders.size())
        return std::nullopt;
    const DunderPair &names = kDunders[index];
    // Without a __ne__ of its own, `!=` is exactly the negation of what
    // `==` gives: the forward __eq__, the reflected one, or identity.
    bool own_ne = (lc && first_class_defining_method(ctx, class_ancestors(ctx, class_name(l.type)),
                                                     "__ne__")) ||
                  (rc && first_class_defining_method(ctx, class_ancestors(ctx, class_name(r.type)),
                                                     "__ne__"));
    if (op == BinOp::Ne && !own_ne) {
        auto eq = class_op(ctx, BinOp::Eq, l, r, e);
        return boolean(fmt::format("(!{})", eq->text));
    }
    auto usual = [&](const CompiledExpr &a, const CompiledExpr &b) {
        return left_first_class_op(ctx, op, a, b, e);
    };
    if (auto first = reflected_first(ctx, l, r, std::string(names.reflected), is_comparison(op),
                                     usual, e.line, e.column))
        return first;
    return usual(l, r);
}

} // namespace

std::string c_false_text() {
    return "false";
}

bool is_nonzero_literal(const std::string &text) {
    std::string t = text;
    if (t.rfind("INT64_C(", 0) == 0 && t.back() == ')')
        t = t.substr(8, t.size() - 9);
    if (t == "INFINITY" || t == "(-INFINITY)" || t == "NAN")
        return true;
    if (t.empty())
        return false;
    char *end = nullptr;
    double v = std::strtod(t.c_str(), &end);
    return end && *end == '\0' && v != 0.0;
}

CompileError operand_type_error(const Type &l, const Type &r, const Expr &e,
                                const std::string &symbol) {
    std::string hint = none_hint(l);
    if (hint.empty())
        hint = none_hint(r);
    return error_at(
        fmt::format("unsupported operand types for {}: {} and {}{}", symbol, l, r, hint), e.line,
        e.column);
}

std::optional<std::string> equality_text(const std::string &a, const Type &at, const std::string &b,
                                         const Type &bt, bool items) {
    if (is_int(at) && is_int(bt))
        return fmt::format("({} == {})", a, b);
    if (!is_number(at) || !is_number(bt)) {
        if (at == bt && supports_eq(at))
            return fmt::format("{}({}, {})", items ? item_eq_fn_name(at) : eq_fn_name(at), a, b);
        return std::nullopt;
    }
    if (is_int(at))
        return fmt::format("ktl_if_eq({}, {})", a, b);
    if (is_int(bt))
        return fmt::format("ktl_if_eq({}, {})", b, a);
    return fmt::format("({} == {})", a, b);
}

CompiledExpr comparison_result_truth(BinOp op, const CompiledExpr &result) {
    if (!is_comparison(op))
        return result;
    return {truth_test_expr(result.text, result.type).value_or(result.text), Type::bool_()};
}

// One piece: the decision order is the operator's semantics.
CompiledExpr compile_binary_op(CodegenContext &ctx, BinOp op, const CompiledExpr &l,
                               const CompiledExpr &r, const Expr &e) {
    bool equality = op == BinOp::Eq || op == BinOp::Ne;
    bool identity = op == BinOp::Is || op == BinOp::IsNot;
    if (equality || identity) {
        // A call that gives nothing can't be compared: its None test would
        // be the constant answer for a plain value, the opposite of Python's.
        if (l.type.is<Type::NoValue>() || r.type.is<Type::NoValue>()) {
            const Expr *at = &e;
            if (const auto *b = e.as<Expr::BinaryOp>())
                at = l.type.is<Type::NoValue>() ? b->left.get() : b->right.get();
            throw_error("this expression has no value", at->line, at->column);
        }
        if (auto none_test = compile_static_is_none(op, l, r))
            return *none_test;
    }
    if (equality) {
        if (auto eq = optional_equality(ctx, op, l, r))
            return *eq;
    }
    if (identity) {
        if (!is_reference(l.type) || !is_reference(r.type))
            fail(e, fmt::format(
                        "'{}' compares objects, lists, dicts, sets and files by identity; use == "
                        "to compare {} and {}",
                        binop_symbol(op), l.type, r.type));
        return boolean(fmt::format("({}((void *)({}) == (void *)({})))",
                                   op == BinOp::IsNot ? "!" : "", l.text, r.text));
    }
    if (auto c = class_op(ctx, op, l, r, e))
        return *c;
    if (op == BinOp::And || op == BinOp::Or)
        throw operand_type_error(l.type, r.type, e, std::string(binop_symbol(op)));
    if (op == BinOp::Mod && l.type.is<Type::Str>())
        fail(e, "%-formatting isn't supported; use an f-string: f\"{x}\"");
    bool division = op == BinOp::Div || op == BinOp::FloorDiv || op == BinOp::Mod;
    FunctionFrame &frame = ctx.frame();
    bool nonzero =
        division && std::any_of(frame.nonzero_divisors.begin(), frame.nonzero_divisors.end(),
                                [&](const auto &fact) { return fact.second == r.text; });
    if (auto n = numeric_op(op, l, r, nonzero)) {
        if (division)
            frame.checked_divisions.insert(&e);
        // In a loop's unchecked copy a zero divisor sets the loop's flag and
        // the division goes on (inf or nan, never used: the loop runs again
        // with its checks).
        std::optional<DeferredChecks> &deferred = frame.deferred;
        if (deferred && op == BinOp::Div && n->text.rfind("ktl_fdiv(", 0) == 0) {
            n->text = fmt::format("ktl_fdiv_d({}, {}", deferred->flag, n->text.substr(9));
            ++deferred->divisions;
        }
        return *n;
    }
    if (auto s = string_op(op, l, r))
        return *s;
    if (op == BinOp::In || op == BinOp::NotIn) {
        if (auto m = membership(ctx, op, l, r, e))
            return *m;
    } else if (auto c = container_op(ctx, op, l, r, e)) {
        return *c;
    }
    throw operand_type_error(l.type, r.type, e, std::string(binop_symbol(op)));
}

std::string compile_dict_key(CodegenContext &ctx, const Expr &expr, const Type &key) {
    CompiledExpr c = compile_expr(ctx, expr, &key);
    if (!(c.type == key))
        throw_error(fmt::format("this dict's keys are {}, not {}", key, c.type), expr.line,
                    expr.column);
    return c.text;
}

std::pair<std::string, FunctionValue>
compile_function_operand(CodegenContext &ctx, const Expr &expr, const std::string &what) {
    CompiledExpr c = compile_transient_function(ctx, expr);
    const auto *f = c.type.as<Type::Function>();
    if (!f)
        throw_error(fmt::format("{} must be a function, not {}", what, c.type), expr.line,
                    expr.column);
    return {c.text, f->value};
}

std::string check_int_operand(CodegenContext &ctx, const Expr &expr, const std::string &what) {
    CompiledExpr c = compile_expr(ctx, expr);
    if (!c.type.is<Type::Int>())
        throw_error(fmt::format("{} must be int, not {}{}", what, c.type, none_hint(c.type)),
                    expr.line, expr.column);
    return c.text;
}

} // namespace kestal
