// List, tuple, dict and set displays. Every element of a list, set or dict
// has one static Type: the expected one when the context gives it, else the
// join of the elements' Types; an empty display takes its Type from the
// context alone. A list or set is built from a C array literal of its
// elements, a dict by a run of `_set` calls on a fresh dict (so a repeated
// key keeps its first position and its last value, as in Python), a tuple
// as a compound literal of its struct.
#include "codegen/expr/containers.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

#include <algorithm>

namespace kestal {

namespace {

constexpr std::string_view kFunctionElement =
    "functions can't be stored in lists, dicts or tuples (each function is its own type in Kestal)";

bool is_empty_list_or_dict_display(const Expr &e) {
    if (const auto *l = e.as<Expr::List>())
        return l->elements.empty();
    if (const auto *d = e.as<Expr::Dict>())
        return d->entries.empty();
    return false;
}

std::string joined(const std::vector<std::string> &texts) {
    return fmt::format("{}", fmt::join(texts, ", "));
}

} // namespace

void reject_function_element(const Type &type, uint64_t line, uint64_t column) {
    bool function = type.is<Type::Function>();
    if (const auto *t = type.as<Type::Tuple>())
        for (const Type &e : t->elements)
            function = function || e.is<Type::Function>();
    if (function)
        throw_error(std::string(kFunctionElement), line, column);
}

UnifiedElements unify_element_types(CodegenContext &ctx, const std::vector<const Expr *> &elements,
                                    const Type *expected, std::string_view what,
                                    std::string_view holder, std::string_view empty_message,
                                    uint64_t line, uint64_t column) {
    std::vector<std::optional<CompiledExpr>> compiled(elements.size());
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!expected && is_empty_list_or_dict_display(*elements[i]))
            continue;
        compiled[i] = compile_expr(ctx, *elements[i], expected);
    }
    std::optional<Type> type;
    if (expected) {
        type = *expected;
    } else {
        for (const auto &c : compiled) {
            if (!c)
                continue;
            if (!type) {
                type = c->type;
                continue;
            }
            auto joined_type = join_types(ctx, *type, c->type);
            if (!joined_type) {
                // Two different functions: each is its own Type.
                reject_function_element(*type, line, column);
                reject_function_element(c->type, line, column);
                throw_error(fmt::format("{} must all have the same type (found {} and {})", what,
                                        *type, c->type),
                            line, column);
            }
            type = *joined_type;
        }
        if (!type)
            throw_error(std::string(empty_message), line, column);
    }
    if (type->is<Type::NoValue>())
        throw_error(fmt::format("{} must have a value", what), line, column);
    reject_function_element(*type, line, column);
    UnifiedElements out{*type, {}};
    for (size_t i = 0; i < elements.size(); ++i) {
        if (!compiled[i])
            compiled[i] = compile_expr(ctx, *elements[i], &out.type);
        auto converted = coerce_expr(ctx, compiled[i]->text, compiled[i]->type, out.type);
        if (!converted)
            throw_error(
                fmt::format("this item is {:#}, but {} {}", compiled[i]->type, holder, out.type),
                elements[i]->line, elements[i]->column);
        out.texts.push_back(*converted);
    }
    return out;
}

CompiledExpr compile_list_display(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &elements = e.as<Expr::List>()->elements;
    const Type *item = nullptr;
    if (expected)
        if (const auto *l = expected->as<Type::List>())
            item = &*l->element;
    if (elements.empty()) {
        if (!item)
            throw_error("an empty list needs a type, e.g. `xs: list[int] = []`", e.line, e.column);
        define_list_type(ctx, *item);
        return {fmt::format("{}_new(0)", list_c_name(*item)), Type::list(*item)};
    }
    return list_from_items(ctx, compile_list_items(ctx, e, item));
}

UnifiedElements compile_list_items(CodegenContext &ctx, const Expr &e, const Type *item) {
    std::vector<const Expr *> pointers;
    for (const Expr &x : e.as<Expr::List>()->elements)
        pointers.push_back(&x);
    UnifiedElements u = unify_element_types(
        ctx, pointers, item, "list items", "the list holds",
        "a list of empty lists needs a type, e.g. `xs: list[list[int]] = [[]]`", e.line, e.column);
    define_list_type(ctx, u.type);
    return u;
}

CompiledExpr list_from_items(CodegenContext &ctx, const UnifiedElements &items) {
    return {fmt::format("{0}_from({1}, {2})", list_c_name(items.type), items.texts.size(),
                        items_array_text(items)),
            Type::list(items.type)};
}

std::string items_array_text(const UnifiedElements &items) {
    return fmt::format("({}[]){{{}}}", c_type_name(items.type), joined(items.texts));
}

CompiledExpr compile_tuple_display(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &elements = e.as<Expr::Tuple>()->elements;
    const Type::Tuple *want = expected ? expected->as<Type::Tuple>() : nullptr;
    if (want && want->elements.size() != elements.size())
        want = nullptr;
    std::vector<Type> types;
    std::vector<std::string> texts;
    for (size_t i = 0; i < elements.size(); ++i) {
        const Expr &x = elements[i];
        const Type *hint = want ? &want->elements[i] : nullptr;
        CompiledExpr c = compile_expr(ctx, x, hint);
        if (c.type.is<Type::NoValue>())
            throw_error("tuple items must have a value", x.line, x.column);
        reject_function_element(c.type, x.line, x.column);
        if (hint) {
            if (auto converted = coerce_expr(ctx, c.text, c.type, *hint)) {
                c.text = *converted;
                c.type = *hint;
            }
        }
        types.push_back(c.type);
        texts.push_back(c.text);
    }
    define_tuple_type(ctx, types);
    return {fmt::format("(({0}){{{1}}})", tuple_c_name(types), joined(texts)), Type::tuple(types)};
}

CompiledExpr compile_dict_display(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &entries = e.as<Expr::Dict>()->entries;
    const Type::Dict *want = expected ? expected->as<Type::Dict>() : nullptr;
    if (entries.empty()) {
        if (!want)
            throw_error("an empty dict needs a type, e.g. `d: dict[str, int] = {}`", e.line,
                        e.column);
        define_dict_type(ctx, *want->key, *want->value);
        return {fmt::format("{}_new(0)", dict_c_name(*want->key, *want->value)), *expected};
    }
    std::vector<const Expr *> keys, values;
    for (const DictEntry &en : entries) {
        keys.push_back(&en.key);
        values.push_back(&en.value);
    }
    UnifiedElements k = unify_element_types(ctx, keys, want ? &*want->key : nullptr, "dict keys",
                                            "the dict's keys are", "dict keys can't be empty lists",
                                            e.line, e.column);
    if (!is_hashable_type(k.type))
        throw_error(
            fmt::format("dict keys must be int, str, bool or a tuple of those, not {}", k.type),
            e.line, e.column);
    UnifiedElements v = unify_element_types(ctx, values, want ? &*want->value : nullptr,
                                            "dict values", "the dict's values are",
                                            "a dict whose values are all empty needs a type, e.g. "
                                            "`d: dict[str, list[int]] = {\"a\": []}`",
                                            e.line, e.column);
    define_dict_type(ctx, k.type, v.type);
    std::string d_name = dict_c_name(k.type, v.type);
    std::string d = fresh_temp(ctx, "d");
    std::string text = fmt::format("({{ {0} *{1} = {0}_new({2}); ", d_name, d, entries.size());
    for (size_t i = 0; i < entries.size(); ++i)
        text += fmt::format("{}_set({}, {}, {}); ", d_name, d, k.texts[i], v.texts[i]);
    text += fmt::format("{}; }})", d);
    return {text, Type::dict(k.type, v.type)};
}

namespace {

// A constant, or arithmetic on constants that Python computes before the
// program runs: such elements make the set display a constant one, whose
// items are added in the order a constant set gives.
bool is_folded_constant(const Expr &e) {
    if (const auto *b = e.as<Expr::BinaryOp>())
        return !b->chain && static_cast<int>(b->op) < kAugAssignOpCount &&
               is_folded_constant(*b->left) && is_folded_constant(*b->right);
    if (const auto *u = e.as<Expr::Unary>())
        return is_folded_constant(*u->operand);
    if (const auto *t = e.as<Expr::Tuple>())
        return std::all_of(t->elements.begin(), t->elements.end(),
                           [](const Expr &x) { return is_folded_constant(x); });
    return is_constant_expr(e);
}

} // namespace

CompiledExpr compile_set_display(CodegenContext &ctx, const Expr &e, const Type *expected) {
    const auto &elements = e.as<Expr::Set>()->elements;
    const Type *item = nullptr;
    if (expected)
        if (const auto *s = expected->as<Type::Set>())
            item = &*s->element;
    std::vector<const Expr *> pointers;
    bool constant = elements.size() >= 3;
    for (const Expr &x : elements) {
        pointers.push_back(&x);
        constant = constant && is_folded_constant(x);
    }
    UnifiedElements u = unify_element_types(ctx, pointers, item, "set items", "the set holds",
                                            "set items can't be empty lists", e.line, e.column);
    if (!is_hashable_type(u.type))
        throw_error(
            fmt::format("set items must be int, str, bool or a tuple of those, not {}", u.type),
            e.line, e.column);
    define_set_type(ctx, u.type);
    return {fmt::format("{0}_{1}({2}, ({3}[]){{{4}}})", set_c_name(u.type),
                        constant ? "from_consts" : "from", u.texts.size(), c_type_name(u.type),
                        joined(u.texts)),
            Type::set(u.type)};
}

} // namespace kestal
