// Stores into items and slices: `xs[i] = v`, `d[k] = v`, `obj[k] = v`
// through `__setitem__`, `xs[a:b:c] = ys`, and the augmented form
// `xs[i] op= v` / `d[k] op= v`.
//
// A slot pointer (`L_at`, `D_at`) is valid only until the container grows or
// rehashes, so it is never taken before the value is evaluated: the value
// goes into a temporary first, and the slot is fetched after it. For the
// augmented form Python's order holds: the object and the index are
// evaluated once, the old item is read, then the value is evaluated, and
// the result is stored through a slot fetched afterwards (a list item at the
// position checked before, found again only when the value may have changed
// the list's length).
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/containers.h"
#include "codegen/expr/expr.h"
#include "codegen/expr/strings.h"
#include "codegen/stmt/index_hoisting.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"

namespace kestal {

namespace {

// The list index's text; "list indices must be int, not {}" at the index.
std::string compile_list_index(CodegenContext &ctx, const Expr &index) {
    CompiledExpr c = compile_expr(ctx, index);
    if (!c.type.is<Type::Int>())
        throw_error(fmt::format("list indices must be int, not {}", c.type), index.line,
                    index.column);
    return c.text;
}

// The value, held in a fresh temporary declared by an emitted line.
std::string hold_value(CodegenContext &ctx, const std::string &text, const Type &type) {
    std::string v = fresh_temp(ctx, "v");
    ensure_type_defined(ctx, type);
    emit_line(ctx, "{} {} = {};", c_type_name(type), v, text);
    return v;
}

[[noreturn]] void store_type_error(const Type &value, const Type &container, const Expr &target) {
    throw_error(fmt::format("can't store {:#} in {:#}", value, container), target.line,
                target.column);
}

} // namespace

std::optional<Type> infer_subscript_type(CodegenContext &ctx, const Expr &target) {
    if (const auto *ix = target.as<Expr::Index>()) {
        CompiledExpr o = compile_expr(ctx, *ix->object);
        if (const auto *l = o.type.as<Type::List>())
            return *l->element;
        if (const auto *d = o.type.as<Type::Dict>())
            return *d->value;
        return std::nullopt;
    }
    if (const auto *s = target.as<Expr::Slice>()) {
        CompiledExpr o = compile_expr(ctx, *s->object);
        if (o.type.is<Type::List>())
            return o.type;
    }
    return std::nullopt;
}

void store_to_element(CodegenContext &ctx, const Expr &target, const CompiledExpr &value) {
    const auto &ix = *target.as<Expr::Index>();
    // The value first: Python evaluates the right-hand side before the
    // target's object and index, and no slot may be taken before it.
    std::string v = hold_value(ctx, value.text, value.type);
    CompiledExpr o = compile_expr(ctx, *ix.object);
    if (const auto *c = o.type.as<Type::Class>()) {
        CompiledExpr key = compile_expr(ctx, *ix.index);
        auto r = call_dunder_if_defined(ctx, o.text, c->name, "__setitem__", {key, {v, value.type}},
                                        target.line, target.column);
        if (!r)
            throw_error(
                fmt::format("'{}' object doesn't support item assignment (define __setitem__)",
                            c->name),
                target.line, target.column);
        emit_line(ctx, "{};", r->text);
        return;
    }
    if (const auto *d = o.type.as<Type::Dict>()) {
        std::string key = compile_dict_key(ctx, *ix.index, *d->key);
        auto converted = coerce_expr(ctx, v, value.type, *d->value);
        if (!converted)
            store_type_error(value.type, o.type, target);
        // The dict before the key, as Python evaluates them.
        std::string name = dict_c_name(*d->key, *d->value), obj = fresh_temp(ctx, "o");
        emit_line(ctx, "{{ {0} *{1} = {2}; {0}_set({1}, {3}, {4}); }}", name, obj, o.text, key,
                  *converted);
        return;
    }
    std::string index = compile_list_index(ctx, *ix.index);
    if (o.type.is<Type::Str>())
        throw_error("strings are immutable; build a new string instead", target.line,
                    target.column);
    if (const auto *l = o.type.as<Type::List>()) {
        const Type &element = *l->element;
        auto converted = coerce_expr(ctx, v, value.type, element);
        if (!converted && element.is<Type::None>())
            throw_error(fmt::format("can't store {0:#} in a list[None]; give the list a type, e.g. "
                                    "`xs: list[{0} | None] = [None] * n`",
                                    value.type),
                        target.line, target.column);
        if (!converted)
            store_type_error(value.type, o.type, target);
        // Python names the store in its IndexError; the runtime's check macro
        // leaves it out of unchecked builds like every other index check.
        std::string obj = fresh_temp(ctx, "o");
        std::string at = fresh_temp(ctx, "k");
        // The shared list of a parallel loop, written at the loop variable:
        // a negative index is refused rather than counted from the end,
        // where it would reach the item of another iteration.
        if (ctx.prange_strict_stores.count({target.line, target.column})) {
            emit_line(
                ctx,
                "{{ {0} *{1} = {2}; int64_t {3} = {4}; "
                "if (KTL_UNLIKELY({3} < 0 || {3} >= {1}->len)) "
                "ktl_index_error(\"list assignment\", {3}, {1}->len); {1}->data[{3}] = {5}; }}",
                list_c_name(element), obj, o.text, at, index, *converted);
            return;
        }
        if (auto fast = hoisted_list_index(ctx, ix, o.text)) {
            // In the unchecked copy of a loop nest, an item store the
            // nest's guard covers (it holds whenever the copy runs).
            std::optional<DeferredChecks> &deferred = ctx.frame().deferred;
            if (deferred && !deferred->store_guard.empty() &&
                fast->guard == deferred->store_guard && o.text.rfind("v_", 0) == 0 &&
                o.text.find_first_of(".-> ") == std::string::npos &&
                (element.is<Type::Int>() || element.is<Type::Float>() ||
                 element.is<Type::Bool>())) {
                deferred->used_guards.insert(fast->guard);
                deferred->stored_lists.insert(o.text);
                emit_line(ctx, "{}->data[{}] = {};", o.text, fast->index, *converted);
                return;
            }
            emit_line(ctx,
                      "{{ {0} *{1} = {2}; int64_t {3}; if ({6}) {3} = {7}; else {{ {3} = {4}; "
                      "if ({3} < 0) {3} += {1}->len; KTL_CHECK(\"list assignment\", {3}, "
                      "{1}->len); }} {1}->data[{3}] = {5}; }}",
                      list_c_name(element), obj, o.text, at, index, *converted, fast->guard,
                      fast->index);
            return;
        }
        emit_line(ctx,
                  "{{ {0} *{1} = {2}; int64_t {3} = {4}; if ({3} < 0) {3} += {1}->len; "
                  "KTL_CHECK(\"list assignment\", {3}, {1}->len); {1}->data[{3}] = {5}; }}",
                  list_c_name(element), obj, o.text, at, index, *converted);
        return;
    }
    if (o.type.is<Type::Tuple>())
        throw_error("tuples are immutable; build a new tuple instead", target.line, target.column);
    throw_error(fmt::format("{:#} can't be indexed", o.type), target.line, target.column);
}

void store_to_slice(CodegenContext &ctx, const Expr &target, const CompiledExpr &assigned) {
    const auto &s = *target.as<Expr::Slice>();
    // Any iterable value becomes a new list first (`xs[1:3] = range(4, 6)`).
    CompiledExpr value = collect_iterable(ctx, assigned).value_or(assigned);
    std::string v = hold_value(ctx, value.text, value.type);
    CompiledExpr o = compile_expr(ctx, *s.object);
    if (o.type.is<Type::Str>())
        throw_error("strings are immutable; build a new string instead", target.line,
                    target.column);
    const auto *l = o.type.as<Type::List>();
    if (!l)
        throw_error(fmt::format("{:#} doesn't support slice assignment", o.type), target.line,
                    target.column);
    if (!(value.type == o.type))
        throw_error(fmt::format("can't assign {:#} to a slice of {:#}", value.type, o.type),
                    target.line, target.column);
    SliceBounds b = compile_slice_bounds(ctx, s);
    std::string name = list_c_name(*l->element);
    note_list_length_change(ctx);
    if (b.step)
        emit_line(ctx, "{}_setslice_step({}, {}, {}, {}, {});", name, o.text, b.start, b.stop,
                  *b.step, v);
    else
        emit_line(ctx, "{}_setslice({}, {}, {}, {});", name, o.text, b.start, b.stop, v);
}

void aug_assign_element(CodegenContext &ctx, const Expr &target, BinOp op, const Expr &value_expr) {
    const auto &ix = *target.as<Expr::Index>();
    CompiledExpr o = compile_expr(ctx, *ix.object);
    std::string container_name, key_line;
    Type element;
    std::string obj = fresh_temp(ctx, "o");
    std::string key = fresh_temp(ctx, "k");
    bool is_dict = false;
    // For a list: the item's position, checked once, and the guard of a
    // range loop that covers the item.
    std::string at = fresh_temp(ctx, "at");
    std::optional<HoistedIndex> fast;
    if (const auto *l = o.type.as<Type::List>()) {
        std::string index = compile_list_index(ctx, *ix.index);
        container_name = list_c_name(*l->element);
        element = *l->element;
        fast = hoisted_list_index(ctx, ix, o.text);
        key_line = fast && fast->index != index ? fmt::format("int64_t {} = {} ? {} : ({});", key,
                                                              fast->guard, fast->index, index)
                                                : fmt::format("int64_t {} = {};", key, index);
    } else if (const auto *d = o.type.as<Type::Dict>()) {
        std::string k = compile_dict_key(ctx, *ix.index, *d->key);
        container_name = dict_c_name(*d->key, *d->value);
        element = *d->value;
        key_line = fmt::format("{} {} = {};", c_type_name(*d->key), key, k);
        is_dict = true;
    } else {
        throw_error(fmt::format("{:#} can't be modified by index", o.type), target.line,
                    target.column);
    }
    // The object, the index and the old item, in Python's order, before the
    // value. A list item's index is checked once, unless the value may have
    // changed the list's length.
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        emit_line(ctx, "{} *{} = {};", container_name, obj, o.text);
        emit_line(ctx, key_line);
        std::string old = fresh_temp(ctx, "old");
        ensure_type_defined(ctx, element);
        // The list item's position, counted from the end when negative and
        // checked with Python's message for a read or a store.
        auto position = [&](const char *what) {
            return fmt::format("{{ {0} = {1}; if ({0} < 0) {0} += {2}->len; "
                               "KTL_CHECK(\"{3}\", {0}, {2}->len); }}",
                               at, key, obj, what);
        };
        std::string slot = fmt::format("{}->data[{}]", obj, at);
        if (is_dict)
            slot = fmt::format("*{}_at({}, {})", container_name, obj, key);
        else if (fast)
            emit_line(ctx, "int64_t {}; if ({}) {} = {}; else {}", at, fast->guard, at, key,
                      position("list"));
        else
            emit_line(ctx, "int64_t {}; {}", at, position("list"));
        emit_line(ctx, "{} {} = {};", c_type_name(element), old, slot);
        uint64_t changes = ctx.frame().length_changes;
        auto store_result = [&](const CompiledExpr &r) {
            auto converted = coerce_expr(ctx, r.text, r.type, element);
            if (!converted)
                store_type_error(r.type, o.type, target);
            // A value or an operator that may change the list's length (a
            // call that pops from it) makes the store find its item again
            // once the result is computed, as Python's does.
            if (is_dict) {
                emit_line(ctx, "{}_set({}, {}, {});", container_name, obj, key, *converted);
            } else if (ctx.frame().length_changes != changes) {
                std::string result = hold_value(ctx, *converted, element);
                emit_line(ctx, "{} {} = {};", position("list assignment"), slot, result);
            } else {
                emit_line(ctx, "{} = {};", slot, *converted);
            }
        };
        if (element.is<Type::Str>() && op == BinOp::Add) {
            store_result(compile_str_append(ctx, CompiledExpr{old, element}, value_expr, target));
        } else {
            CompiledExpr value = compile_expr(ctx, value_expr, &element);
            if (auto line = set_update_line(old, element, op, value, value_expr)) {
                emit_line(ctx, *line);
            } else if (const auto *inner = element.as<Type::List>(); inner && op == BinOp::Add) {
                if (!(value.type == element))
                    throw_error(fmt::format("can't extend {:#} with {:#}", element, value.type),
                                value_expr.line, value_expr.column);
                note_list_length_change(ctx);
                emit_line(ctx, "{}_extend({}, {});", list_c_name(*inner->element), old, value.text);
            } else {
                std::string v = hold_value(ctx, value.text, value.type);
                store_result(compile_binary_op(ctx, op, CompiledExpr{old, element},
                                               CompiledExpr{v, value.type}, target));
            }
        }
    }
    emit_line(ctx, "}");
}

} // namespace kestal
