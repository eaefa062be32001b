// Plain, unpacking and augmented assignments. A name takes a Type at its
// first store and keeps it: a later store converts to it, or asks the owner
// of the frame to compile again with a wider Type, or fails. A parallel
// assignment `a, b = b, a` evaluates every value into a temporary before
// the first store, so it swaps.
#include "analysis/analyses.h"
#include "ast/python_exceptions.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/core/widening.h"
#include "codegen/expr/expr.h"
#include "codegen/expr/strings.h"
#include "codegen/optional/narrowing.h"
#include "codegen/parallel/prange.h"
#include "codegen/stmt/lowerings.h"
#include "codegen/stmt/stmt.h"
#include "support/text.h"

#include <algorithm>

namespace kestal {

namespace {

// The object of an attribute target, evaluated into a temporary line so the
// store and a read of the old value name it once.
struct AttributeTarget {
    std::string object;
    std::string cls;
    const std::string *field;
};

AttributeTarget attribute_target(CodegenContext &ctx, const Expr &target) {
    const auto &a = *target.as<Expr::Attribute>();
    if (const auto *cls = a.object->as<Expr::Name>();
        cls && !lookup_var(ctx, cls->name) && ctx.classes.count(cls->name))
        throw_error("class attributes are constants and can't be assigned (keep the value in an "
                    "object field or a global)",
                    target.line, target.column);
    CompiledExpr o = compile_expr(ctx, *a.object);
    const auto *c = o.type.as<Type::Class>();
    if (!c)
        throw_error(fmt::format("can't set attribute '{}' on {:#}{}", a.name, o.type,
                                o.type.is<Type::Optional>()
                                    ? " (it may be None; check `is not None` first)"
                                    : (o.type.is<Type::None>() ? " (it is always None here)" : "")),
                    target.line, target.column);
    std::string held = o.text;
    if (!is_plain_c_name(o.text)) {
        held = fresh_temp(ctx, "ob");
        emit_line(ctx, "C_{} *{} = {};", c->name, held, o.text);
    }
    return {held, c->name, &a.name};
}

// A store into a field may make any path through that field stale, also
// through another name for the same object.
void forget_field_facts(CodegenContext &ctx, const std::string &field) {
    auto &paths = ctx.frame().narrowed_paths;
    std::string part = "." + field;
    for (auto it = paths.begin(); it != paths.end();) {
        size_t at = it->find(part);
        bool hit = false;
        while (at != std::string::npos) {
            size_t end = at + part.size();
            if (end == it->size() || (*it)[end] == '.') {
                hit = true;
                break;
            }
            at = it->find(part, at + 1);
        }
        it = hit ? paths.erase(it) : std::next(it);
    }
}

void write_field(CodegenContext &ctx, const Expr &target, const AttributeTarget &t,
                 const CompiledExpr &value) {
    Type field = declare_field(ctx, t.cls, *t.field, value.type, target.line, target.column);
    auto converted = coerce_expr(ctx, value.text, value.type, field);
    if (!converted)
        internal_fault("a stored value does not convert to its field's Type");
    emit_line(ctx, "({})->f_{} = {};", t.object, *t.field, *converted);
    forget_field_facts(ctx, *t.field);
    update_facts_on_assign(ctx, target, field, value.type);
}

// The value is computed before the object is, as Python does.
// An annotation (`self.next: Node | None = None`) gives the value, and so
// a field it creates, its Type.
void store_to_attribute(CodegenContext &ctx, const Expr &target,
                        const std::optional<Type> &annotation, const CompiledExpr &value) {
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        CompiledExpr stored = value;
        if (annotation) {
            auto converted = coerce_expr(ctx, value.text, value.type, *annotation);
            if (!converted)
                throw_error(fmt::format("can't assign {:#} to an attribute declared as {}",
                                        value.type, *annotation),
                            target.line, target.column);
            stored = {*converted, *annotation};
        }
        std::string v = fresh_temp(ctx, "v");
        ensure_type_defined(ctx, stored.type);
        emit_line(ctx, "{} {} = {};", c_type_name(stored.type), v, stored.text);
        AttributeTarget t = attribute_target(ctx, target);
        write_field(ctx, target, t, CompiledExpr{v, stored.type});
    }
    emit_line(ctx, "}");
}

// `obj.f op= v`: the object, then the old value, then v.
void aug_assign_attribute(CodegenContext &ctx, const Expr &target, BinOp op,
                          const Expr &value_expr) {
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        AttributeTarget t = attribute_target(ctx, target);
        CompiledExpr old =
            compile_attribute_read(ctx, t.object, t.cls, *t.field, target.line, target.column);
        std::string held = fresh_temp(ctx, "old");
        emit_line(ctx, "{} {} = {};", c_type_name(old.type), held, old.text);
        CompiledExpr left{held, old.type};
        auto store = [&](const CompiledExpr &r) {
            if (!coerce_expr(ctx, "", r.type, old.type) &&
                !(old.type.is<Type::Int>() && r.type.is<Type::Float>()))
                throw_error(fmt::format("'{}.{}' holds {:#}, but `{}=` here would produce {:#}",
                                        t.cls, *t.field, old.type, binop_symbol(op), r.type),
                            target.line, target.column);
            write_field(ctx, target, t, r);
        };
        if (old.type.is<Type::Str>() && op == BinOp::Add) {
            store(compile_str_append(ctx, left, value_expr, target));
        } else {
            CompiledExpr value = compile_expr(ctx, value_expr, &old.type);
            if (const auto *list = old.type.as<Type::List>(); list && op == BinOp::Add) {
                if (!(value.type == old.type))
                    throw_error(fmt::format("can't extend {:#} with {:#}", old.type, value.type),
                                value_expr.line, value_expr.column);
                note_list_length_change(ctx);
                emit_line(ctx, "{}_extend({}, {});", list_c_name(*list->element), held, value.text);
            } else if (auto line = set_update_line(held, old.type, op, value, value_expr)) {
                emit_line(ctx, *line);
            } else {
                store(compile_binary_op(ctx, op, left, value, target));
            }
        }
    }
    emit_line(ctx, "}");
}

void store_to_name(CodegenContext &ctx, const Expr &target, const std::string &n,
                   const std::optional<Type> &annotation, const CompiledExpr &value) {
    FunctionFrame &frame = ctx.frame();
    std::optional<Variable> existing = lookup_local(ctx, n);
    Type held;
    if (!existing) {
        Type d = value.type;
        if (annotation) {
            d = *annotation;
        } else if (auto forced = frame.forced_types.find(n); forced != frame.forced_types.end()) {
            d = forced->second;
        }
        auto converted = coerce_expr(ctx, value.text, value.type, d);
        if (!converted)
            throw_error(fmt::format("can't assign {:#} to '{}', declared as {}", value.type, n, d),
                        target.line, target.column);
        Variable var = declare_var(ctx, n, d);
        if (annotation)
            frame.annotated_names.insert(n);
        emit_line(ctx, "{} = {};", var.text, *converted);
        held = d;
    } else {
        const Type &l = existing->type;
        if (annotation && !(*annotation == l))
            throw_error(fmt::format("'{}' is already {:#}; it can't be redeclared as {}", n, l,
                                    *annotation),
                        target.line, target.column);
        if (auto converted = coerce_expr(ctx, value.text, value.type, l)) {
            emit_line(ctx, "{} = {};", existing->text, *converted);
        } else if (auto wider = assign_local_type(ctx, n, l, value.type)) {
            throw variable_widening(n, *wider, target.line, target.column);
        } else if (frame.annotated_names.count(n)) {
            throw_error(fmt::format("can't assign {:#} to '{}', declared as {}", value.type, n, l),
                        target.line, target.column);
        } else {
            throw_error(fmt::format("can't assign {:#} to '{}', which holds {:#} (a variable keeps "
                                    "one type)",
                                    value.type, n, l),
                        target.line, target.column);
        }
        held = l;
    }
    update_facts_on_assign(ctx, target, held, value.type);
}

} // namespace

// The element (text and Type) each of `count` targets receives from an
// unpacked value; a list value also gives its run-time length check.
std::vector<CompiledExpr> unpack_elements(const std::string &value, const Type &type, size_t count,
                                          std::string &setup, uint64_t line, uint64_t column) {
    std::vector<CompiledExpr> out;
    if (const auto *list = type.as<Type::List>()) {
        setup += fmt::format("ktl_unpack_check({}->len, {}); ", value, count);
        for (size_t i = 0; i < count; ++i)
            out.push_back({fmt::format("{}->data[{}]", value, i), *list->element});
        return out;
    }
    if (const auto *tuple = type.as<Type::Tuple>()) {
        if (tuple->elements.size() != count)
            throw_error(fmt::format("can't unpack {} values into {} targets",
                                    tuple->elements.size(), count),
                        line, column);
        for (size_t i = 0; i < count; ++i)
            out.push_back({fmt::format("{}.f{}", value, i), tuple->elements[i]});
        return out;
    }
    throw_error(fmt::format("can't unpack {:#} into {} targets", type, count), line, column);
}

void assign_unpacked(CodegenContext &ctx, const std::vector<Expr> &targets,
                     const std::string &value, const Type &type, uint64_t line, uint64_t column) {
    std::string t = fresh_temp(ctx, "t");
    ensure_type_defined(ctx, type);
    emit_line(ctx, "{} {} = {};", c_type_name(type), t, value);
    std::string setup;
    std::vector<CompiledExpr> elements =
        unpack_elements(t, type, targets.size(), setup, line, column);
    if (!setup.empty())
        emit_line(ctx, setup.substr(0, setup.size() - 1));
    // The items of a list are copied out before the first store, which may
    // write into that same list (`xs[1], xs[0] = xs`).
    if (type.is<Type::List>()) {
        for (CompiledExpr &element : elements) {
            std::string held = fresh_temp(ctx, "t");
            emit_line(ctx, "{} {} = {};", c_type_name(element.type), held, element.text);
            element.text = held;
        }
    }
    for (size_t i = 0; i < targets.size(); ++i)
        store_to_target(ctx, targets[i], std::nullopt, elements[i]);
}

void compile_unpack_stmt(CodegenContext &ctx, const Stmt::Unpack &s) {
    emit_line(ctx, "{");
    {
        IndentGuard indent(ctx);
        const auto *display = s.value.as<Expr::Tuple>();
        if (display && display->elements.size() == s.targets.size()) {
            std::vector<CompiledExpr> held;
            for (size_t i = 0; i < s.targets.size(); ++i) {
                const Expr &element = display->elements[i];
                std::optional<Type> expected = infer_declared_type(ctx, s.targets[i]);
                CompiledExpr c = compile_expr(ctx, element, expected ? &*expected : nullptr);
                if (c.type.is<Type::NoValue>())
                    throw_error("this expression has no value", element.line, element.column);
                std::string t = fresh_temp(ctx, "t");
                ensure_type_defined(ctx, c.type);
                emit_line(ctx, "{} {} = {};", c_type_name(c.type), t, c.text);
                held.push_back({t, c.type});
            }
            for (size_t i = 0; i < s.targets.size(); ++i)
                store_to_target(ctx, s.targets[i], std::nullopt, held[i]);
        } else if (display) {
            throw_error(fmt::format("can't unpack {} values into {} targets",
                                    display->elements.size(), s.targets.size()),
                        s.value.line, s.value.column);
        } else {
            CompiledExpr value = compile_expr(ctx, s.value);
            if (value.type.is<Type::NoValue>())
                throw_error("this expression has no value", s.value.line, s.value.column);
            assign_unpacked(ctx, s.targets, value.text, value.type, s.value.line, s.value.column);
        }
    }
    emit_line(ctx, "}");
}

void compile_assign_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Assign &s) {
    if (compile_reduction_update(ctx, s))
        return;
    if (s.annotation)
        check_annotation_classes(ctx.classes, *s.annotation, stmt.line, stmt.column);
    std::optional<Type> expected = s.annotation ? s.annotation : infer_declared_type(ctx, s.target);
    CompiledExpr value = compile_expr(ctx, s.value, expected ? &*expected : nullptr);
    store_to_target(ctx, s.target, s.annotation, value);
}

std::optional<Type> infer_declared_type(CodegenContext &ctx, const Expr &target) {
    if (const auto *n = target.as<Expr::Name>()) {
        if (auto var = lookup_local(ctx, n->name))
            return var->type;
        return std::nullopt;
    }
    return infer_subscript_type(ctx, target);
}

void store_to_target(CodegenContext &ctx, const Expr &target, const std::optional<Type> &annotation,
                     const CompiledExpr &value) {
    if (value.type.is<Type::NoValue>())
        throw_error("can't assign: the right-hand side has no value", target.line, target.column);
    if (const auto *n = target.as<Expr::Name>()) {
        store_to_name(ctx, target, n->name, annotation, value);
        return;
    }
    if (const auto *t = target.as<Expr::Tuple>()) {
        assign_unpacked(ctx, t->elements, value.text, value.type, target.line, target.column);
        return;
    }
    if (target.is<Expr::Attribute>()) {
        store_to_attribute(ctx, target, annotation, value);
        return;
    }
    if (target.is<Expr::Index>()) {
        store_to_element(ctx, target, value);
        return;
    }
    if (target.is<Expr::Slice>()) {
        store_to_slice(ctx, target, value);
        return;
    }
    throw_error("can't assign to this expression", target.line, target.column);
}

namespace {} // namespace

std::optional<std::string> set_update_line(const std::string &target, const Type &target_type,
                                           BinOp op, const CompiledExpr &value,
                                           const Expr &value_expr) {
    const auto *set = target_type.as<Type::Set>();
    if (!set)
        return std::nullopt;
    std::string_view word;
    if (op == BinOp::Sub)
        word = "diff_update";
    if (op == BinOp::BitAnd)
        word = "and_update";
    if (op == BinOp::BitOr)
        word = "merge";
    if (op == BinOp::BitXor)
        word = "xor_update";
    if (word.empty())
        return std::nullopt;
    if (!(value.type == target_type))
        throw_error(fmt::format("unsupported operand types for {}=: {} and {}", binop_symbol(op),
                                target_type, value.type),
                    value_expr.line, value_expr.column);
    return fmt::format("{}_{}({}, {});", set_c_name(*set->element), word, target, value.text);
}

namespace {

[[noreturn]] void aug_result_error(const std::string &name, const Type &held, BinOp op,
                                   const Type &result, const Expr &target) {
    throw_error(fmt::format("'{}' holds {:#}, but `{}=` here would produce {:#}", name, held,
                            binop_symbol(op), result),
                target.line, target.column);
}

// One piece: the variable form's steps share the variable and its Type.
void aug_assign_name(CodegenContext &ctx, const Expr &target, const std::string &name, BinOp op,
                     const Expr &value_expr) {
    std::optional<Variable> var = lookup_local(ctx, name);
    if (!var) {
        // A module variable that no function reads freely lives in the
        // module's own frame rather than among the globals; it is a global
        // all the same.
        const FunctionFrame &module = *ctx.frames.front();
        bool module_variable = module.is_module_level && module.locals.count(name);
        if (lookup_var(ctx, name) || module_variable)
            throw_error(
                fmt::format("can't modify global '{}' inside a function without `global {}`", name,
                            name),
                target.line, target.column);
        if (auto python = missing_python_exception_message(name))
            throw_error(*python, target.line, target.column);
        throw_error(fmt::format("name '{}' is not defined", name), target.line, target.column);
    }
    const Type &held = var->type;
    if (const auto *opt = held.as<Type::Optional>(); opt && is_known_non_none(ctx, name)) {
        const Type &inner = *opt->inner;
        CompiledExpr value = compile_expr(ctx, value_expr, &inner);
        CompiledExpr left{narrowed_read_text(ctx, name, *var), inner};
        CompiledExpr r = compile_binary_op(ctx, op, left, value, target);
        auto converted = coerce_expr(ctx, r.text, r.type, held);
        if (!converted)
            aug_result_error(name, held, op, r.type, target);
        emit_line(ctx, "{} = {};", var->text, *converted);
        return;
    }
    auto store = [&](const CompiledExpr &r) {
        if (auto converted = coerce_expr(ctx, r.text, r.type, held)) {
            emit_line(ctx, "{} = {};", var->text, *converted);
            return;
        }
        auto wider = assign_local_type(ctx, name, held, r.type);
        if (!wider)
            aug_result_error(name, held, op, r.type, target);
        throw variable_widening(name, *wider, target.line, target.column);
    };
    if (held.is<Type::Str>() && op == BinOp::Add) {
        store(compile_str_append(ctx, CompiledExpr{var->text, held}, value_expr, target));
        return;
    }
    CompiledExpr value = compile_expr(ctx, value_expr, &held);
    // A parallel loop's checker marks the updates whose target may be
    // shared with other iterations; changing a list or set in place there
    // would race.
    if ((held.is<Type::List>() && op == BinOp::Add) || held.is<Type::Set>())
        if (auto refusal = ctx.prange_in_place_refusals.find({target.line, target.column});
            refusal != ctx.prange_in_place_refusals.end())
            throw_error(refusal->second, target.line, target.column);
    if (const auto *list = held.as<Type::List>(); list && op == BinOp::Add) {
        if (!(value.type == held))
            throw_error(fmt::format("can't extend {:#} with {:#}", held, value.type),
                        value_expr.line, value_expr.column);
        note_list_length_change(ctx);
        emit_line(ctx, "{}_extend({}, {});", list_c_name(*list->element), var->text, value.text);
        return;
    }
    if (auto line = set_update_line(var->text, held, op, value, value_expr)) {
        emit_line(ctx, *line);
        return;
    }
    store(compile_binary_op(ctx, op, CompiledExpr{var->text, held}, value, target));
}

} // namespace

void compile_aug_assign(CodegenContext &ctx, const Expr &target, BinOp op, const Expr &value) {
    if (const auto *n = target.as<Expr::Name>()) {
        aug_assign_name(ctx, target, n->name, op, value);
        return;
    }
    if (target.is<Expr::Attribute>()) {
        aug_assign_attribute(ctx, target, op, value);
        return;
    }
    if (target.is<Expr::Index>()) {
        aug_assign_element(ctx, target, op, value);
        return;
    }
    throw_error("can't assign to this expression", target.line, target.column);
}

} // namespace kestal
