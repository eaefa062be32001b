// Subscripts and slices as values: `xs[i]`, `d[k]`, `t[0]`, `s[i]`,
// `range(...)[i]`, `obj[k]` through `__getitem__`, and `xs[a:b:c]` on str
// and list values. A tuple element is reached only through a constant
// index, because each element may have its own Type. The runtime checks
// every index (IndexError, KeyError with Python's messages); a slice clamps
// its bounds as Python does.
#include "codegen/expr/containers.h"

#include "analysis/analyses.h"

#include "codegen/builtins/builtin_methods.h"
#include "codegen/builtins/builtins.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/index_hoisting.h"

namespace kestal {

namespace {

std::string none_hint(const Type &t) {
    if (t.is<Type::None>())
        return " (it is always None here)";
    if (t.is<Type::Optional>())
        return " (it may be None; check `is not None` first)";
    return "";
}

bool is_int_literal(const Expr &e, int64_t value) {
    const auto *k = e.as<Expr::Int>();
    return k && k->value == value;
}

} // namespace

size_t compile_tuple_index(const Expr &index, size_t length) {
    std::optional<int64_t> value;
    if (const auto *k = index.as<Expr::Int>())
        value = k->value;
    if (const auto *u = index.as<Expr::Unary>(); u && u->op == UnaryOp::Neg)
        if (const auto *k = u->operand->as<Expr::Int>())
            value = -k->value;
    if (!value)
        throw_error("tuple indices must be integer constants (each element can have its own type)",
                    index.line, index.column);
    int64_t i = *value < 0 ? *value + static_cast<int64_t>(length) : *value;
    if (i < 0 || i >= static_cast<int64_t>(length))
        throw_error(fmt::format("tuple index out of range (the tuple has {} elements)", length),
                    index.line, index.column);
    return static_cast<size_t>(i);
}

SliceBounds compile_slice_bounds(CodegenContext &ctx, const Expr::Slice &s) {
    SliceBounds out{"0", "INT64_MAX", std::nullopt};
    if (s.step && !is_int_literal(**s.step, 1)) {
        const Expr &step = **s.step;
        if (is_int_literal(step, 0))
            throw_error("slice step cannot be zero", step.line, step.column);
        out.step = check_int_operand(ctx, step, "a slice step");
        out.start = out.stop = "KTL_NOIDX";
    }
    if (s.lower)
        out.start = check_int_operand(ctx, **s.lower, "a slice bound");
    if (s.upper)
        out.stop = check_int_operand(ctx, **s.upper, "a slice bound");
    return out;
}

CompiledExpr compile_index_expr(CodegenContext &ctx, const Expr &e) {
    const auto &ix = *e.as<Expr::Index>();
    CompiledExpr o = compile_expr(ctx, *ix.object);
    if (const auto *d = o.type.as<Type::Dict>()) {
        std::string key = compile_dict_key(ctx, *ix.index, *d->key);
        return {fmt::format("(*{}_at({}, {}))", dict_c_name(*d->key, *d->value), o.text, key),
                *d->value};
    }
    if (const auto *t = o.type.as<Type::Tuple>()) {
        size_t p = compile_tuple_index(*ix.index, t->elements.size());
        return {fmt::format("({}).f{}", o.text, p), t->elements[p]};
    }
    if (const auto *c = o.type.as<Type::Class>()) {
        CompiledExpr key = compile_expr(ctx, *ix.index);
        auto r =
            call_dunder_if_defined(ctx, o.text, c->name, "__getitem__", {key}, e.line, e.column);
        if (!r)
            throw_error(
                fmt::format("'{}' object isn't subscriptable (define __getitem__)", c->name),
                e.line, e.column);
        return *r;
    }
    std::string index = check_int_operand(ctx, *ix.index, "an index");
    if (o.type.is<Type::Str>())
        return {fmt::format("ktl_str_at({}, {})", o.text, index), Type::str()};
    if (const auto *l = o.type.as<Type::List>()) {
        std::string name = list_c_name(*l->element);
        // Inside a range loop whose guard covers this item, the guard
        // stands for the check.
        auto fast = hoisted_list_index(ctx, ix, o.text);
        // In a loop's unchecked copy an index the guard doesn't cover sets
        // the loop's flag instead of raising.
        std::optional<DeferredChecks> &deferred = ctx.frame().deferred;
        if (fast && deferred &&
            (l->element->is<Type::Int>() || l->element->is<Type::Float>() ||
             l->element->is<Type::Bool>())) {
            if (deferred->guards.count(fast->guard))
                deferred->used_guards.insert(fast->guard);
            return {fmt::format("({} ? {}->data[{}] : ({})ktl_dz_flag({}))", fast->guard, o.text,
                                fast->index, c_type_name(*l->element), deferred->flag),
                    *l->element};
        }
        if (fast)
            return {fmt::format("(*({} ? &{}->data[{}] : {}_at({}, {})))", fast->guard, o.text,
                                fast->index, name, o.text, index),
                    *l->element};
        return {fmt::format("(*{}_at({}, {}))", name, o.text, index), *l->element};
    }
    if (o.type.is<Type::Range>())
        return {fmt::format("ktl_range_at({}, {})", o.text, index), Type::int_()};
    throw_error(fmt::format("{:#} can't be indexed{}", o.type, none_hint(o.type)), e.line,
                e.column);
}

CompiledExpr compile_slice_expr(CodegenContext &ctx, const Expr &e) {
    const auto &s = *e.as<Expr::Slice>();
    CompiledExpr o = compile_expr(ctx, *s.object);
    const auto *list = o.type.as<Type::List>();
    if (!o.type.is<Type::Str>() && !list)
        throw_error(fmt::format("{:#} can't be sliced", o.type), e.line, e.column);
    SliceBounds b = compile_slice_bounds(ctx, s);
    std::string prefix = list ? list_c_name(*list->element) + "_slice" : "ktl_str_slice";
    if (b.step)
        return {fmt::format("{}_step({}, {}, {}, {})", prefix, o.text, b.start, b.stop, *b.step),
                o.type};
    return {fmt::format("{}({}, {}, {})", prefix, o.text, b.start, b.stop), o.type};
}

} // namespace kestal

namespace kestal {

// `type(x).__name__` names x's type; `C.m` is a class's method as a
// function value and `C.X` its constant; `str.name` is the str method as a
// function value; a module's member comes from the module; a built-in
// value has the attributes of the method table (a file's `name` and
// `closed`); an object has its fields and its class's constants.
CompiledExpr compile_attribute_expr(CodegenContext &ctx, const Expr &e) {
    const auto &a = *e.as<Expr::Attribute>();
    const auto *name = a.object->as<Expr::Name>();
    if (const auto *call = a.object->as<Expr::Call>();
        call && a.name == "__name__" && call->name == "type" && call->args.size() == 1 &&
        call->kwargs.empty() && is_builtin_name(ctx, "type"))
        return compile_type_name(ctx, call->args[0]);
    if (name && name->name == "str" && is_builtin_name(ctx, "str"))
        return {"((uint8_t)0)", Type::function(FunctionValue{FunctionValue::StrMethod{a.name}})};
    if (auto module = resolve_module_ref(ctx, *a.object))
        return compile_module_attribute(ctx, *module, a.name, e.line, e.column);
    if (name && !lookup_var(ctx, name->name) && ctx.classes.count(name->name)) {
        if (first_class_defining_method(ctx, class_ancestors(ctx, name->name), a.name))
            return {"((uint8_t)0)",
                    Type::function(FunctionValue{FunctionValue::ClassMethod{name->name, a.name}})};
        if (auto constant = compile_class_constant(ctx, name->name, a.name))
            return *constant;
        throw_error(fmt::format("class {} has no constant or method '{}'", name->name, a.name),
                    e.line, e.column);
    }
    CompiledExpr o = compile_expr(ctx, *a.object);
    if (std::optional<MethodReceiver> kind = method_receiver_of(o.type))
        if (const BuiltinAttribute *attribute = find_builtin_attribute(*kind, a.name))
            return {fmt::format("({}){}", o.text, attribute->field),
                    method_result_type(attribute->result, o.type)};
    if (const auto *c = o.type.as<Type::Class>()) {
        CompiledExpr r = compile_attribute_read(ctx, o.text, c->name, a.name, e.line, e.column);
        const auto *opt = r.type.as<Type::Optional>();
        if (!opt)
            return r;
        auto path = access_path_of(e);
        if (path && is_known_non_none(ctx, *path))
            return {unwrap_optional_text(r.text, *opt->inner), *opt->inner};
        return r;
    }
    throw_error(fmt::format("{:#} has no attribute '{}'{}", o.type, a.name, none_hint(o.type)),
                e.line, e.column);
}

} // namespace kestal
