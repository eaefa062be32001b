// Objects of user classes: fields, construction, attribute reads and
// stores, and class-level constants.
//
// Fields are not declared in the source: a field comes into being at the
// first store `obj.f = v` through an object of the class, with the Type of
// that value, and keeps that Type for the whole compilation. An int field
// that later receives a float makes the whole program be generated again
// with the field a float from its creation (a Field widening request, owned
// by the code-generation entry). An `__init__` whose parameters are all
// annotated is compiled ahead of the first read or store of a field it may
// create, so its fields are known with their declared Types early. A
// class constant read through an object is chosen by the object's class id
// where a class below the static one defines it again.
//
// A field hides a class constant of its name, as an instance attribute
// hides a class attribute in Python: a read through an object whose class
// may hold such a field reads the field for those classes (by class id),
// and a new object starts with the field holding the constant its class
// sees, which a store then replaces. A field hiding a base class's
// constant must have the constant's Type, as a read through the base has
// one Type. Code compiled before the field's first store took the
// constant; the store then asks for a new attempt that creates the field
// first (an EarlyField request).
#include "codegen/classes/classes.h"

#include "codegen/core/ctypes.h"
#include "codegen/core/instances.h"
#include "codegen/core/widening.h"
#include "codegen/expr/expr.h"
#include "support/text.h"

#include <algorithm>

namespace kestal {

namespace {

const ClassDef &class_def(const CodegenContext &ctx, const std::string &name) {
    auto it = ctx.classes.find(name);
    if (it == ctx.classes.end())
        internal_fault("a class the context does not know");
    return *it->second;
}

const ClassField *find_own_field(const CodegenContext &ctx, const std::string &cls,
                                 const std::string &field) {
    auto it = ctx.class_attributes.find(cls);
    if (it == ctx.class_attributes.end())
        return nullptr;
    for (const ClassField &f : it->second)
        if (f.name == field)
            return &f;
    return nullptr;
}

bool holds_function(const Type &t) {
    if (t.is<Type::Function>())
        return true;
    if (const auto *tuple = t.as<Type::Tuple>())
        for (const Type &e : tuple->elements)
            if (e.is<Type::Function>())
                return true;
    return false;
}

// A class below `cls` may have created a field of the same name before the
// base did. The subclass's struct keeps the base's field only, so both must
// have one Type: int and float meet at float (the int one widens), any
// other difference is refused at the subclass's store.
void check_subclass_fields(CodegenContext &ctx, const std::string &cls, const std::string &field,
                           const Type &type, uint64_t line, uint64_t column) {
    for (const std::string &sub : subclasses_of(ctx, cls)) {
        if (sub == cls)
            continue;
        const ClassField *f = find_own_field(ctx, sub, field);
        if (!f || f->type == type)
            continue;
        if (f->type.is<Type::Int>() && type.is<Type::Float>())
            throw field_widening(sub, field, f->line, f->column);
        if (f->type.is<Type::Float>() && type.is<Type::Int>())
            throw field_widening(cls, field, line, column);
        throw_error(fmt::format("can't assign {:#} to '{}.{}', which holds {:#} (an attribute "
                                "keeps one type)",
                                f->type, sub, field, type),
                    f->line, f->column);
    }
}

const ClassConstant *first_constant_def(const CodegenContext &ctx,
                                        const std::vector<std::string> &chain,
                                        const std::string &name) {
    for (const std::string &c : chain)
        for (const ClassConstant &k : class_def(ctx, c).constants)
            if (k.name == name)
                return &k;
    return nullptr;
}

// The class of the chain whose body defines the constant, or none.
std::optional<std::string> constant_owner(const CodegenContext &ctx,
                                          const std::vector<std::string> &chain,
                                          const std::string &name) {
    for (const std::string &c : chain)
        for (const ClassConstant &k : class_def(ctx, c).constants)
            if (k.name == name)
                return c;
    return std::nullopt;
}

const Expr &own_constant(const CodegenContext &ctx, const std::string &cls,
                         const std::string &name) {
    for (const ClassConstant &k : class_def(ctx, cls).constants)
        if (k.name == name)
            return k.value;
    internal_fault("a constant owner without the constant");
}

std::string hidden_constant_message(const std::string &cls, const std::string &name,
                                    const Type &type, const std::string &owner,
                                    const Type &constant) {
    return fmt::format("'{}.{}' is {:#}, but '{}.{}' is {:#} (an attribute that hides a class "
                       "constant keeps its type)",
                       cls, name, type, owner, name, constant);
}

// The class nearest the root on the chain whose own fields hold the name:
// a subclass's struct holds that class's field only.
const ClassField *field_from_root(const CodegenContext &ctx, const std::vector<std::string> &chain,
                                  const std::string &name, std::string &owner) {
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (const ClassField *f = find_own_field(ctx, *it, name)) {
            owner = *it;
            return f;
        }
    return nullptr;
}

// A field `cls.field` of Type `type` hides the constant of its name that
// cls sees; one of a base class must have the same Type.
void check_hidden_constant_type(CodegenContext &ctx, const std::string &cls,
                                const std::string &field, const Type &type, uint64_t line,
                                uint64_t column) {
    auto owner = constant_owner(ctx, class_ancestors(ctx, cls), field);
    if (!owner || *owner == cls || !is_constant_expr(own_constant(ctx, *owner, field)))
        return;
    CompiledExpr constant = *compile_class_constant(ctx, *owner, field);
    if (!(constant.type == type))
        throw_error(hidden_constant_message(cls, field, type, *owner, constant.type), line, column);
}

// A new field `cls.field`: when code compiled before took the constant of
// its name for objects of cls or a class below it, the attempt is dropped
// and the field created first in the next.
void check_constant_taken(CodegenContext &ctx, const std::string &cls, const std::string &field,
                          const Type &type, uint64_t line, uint64_t column) {
    auto taken = ctx.constants_taken.find(field);
    if (taken == ctx.constants_taken.end())
        return;
    for (const std::string &k : subclasses_of(ctx, cls))
        if (taken->second.count(k))
            throw early_field(cls, field, type, line, column);
}

// A class constant read through an object of static class `cls`, whose
// chain holds no field of that name: the object may belong to a class
// below it that defines the constant again or holds a field of that name,
// so when one does, the value is chosen by the object's class id, one case
// per defining class or field (the group of the most classes the default),
// as a dispatched method call chooses. The object is evaluated once. Every
// constant and field chosen from must have the Type of the constant the
// static class sees, as the read has one Type.
CompiledExpr read_constant_through_object(CodegenContext &ctx, const std::string &object,
                                          const std::string &cls, const std::string &name) {
    std::string owner = *constant_owner(ctx, class_ancestors(ctx, cls), name);
    CompiledExpr seen = *compile_class_constant(ctx, owner, name);
    struct Group {
        std::string owner;
        std::optional<ClassField> field;
        std::vector<size_t> ids;
        std::string text;
    };
    std::vector<Group> groups;
    for (const std::string &k : subclasses_of(ctx, cls)) {
        std::vector<std::string> chain = class_ancestors(ctx, k);
        std::string owner_k;
        std::optional<ClassField> field;
        if (const ClassField *f = field_from_root(ctx, chain, name, owner_k)) {
            field = *f;
        } else {
            owner_k = *constant_owner(ctx, chain, name);
            ctx.constants_taken[name].insert(k);
        }
        auto same = std::find_if(groups.begin(), groups.end(), [&](const Group &g) {
            return g.owner == owner_k && g.field.has_value() == field.has_value();
        });
        if (same != groups.end())
            same->ids.push_back(class_id(ctx, k));
        else
            groups.push_back({owner_k, field, {class_id(ctx, k)}, {}});
    }
    if (groups.size() == 1)
        return {fmt::format("((void)({}), {})", object, seen.text), seen.type};
    std::string self = object;
    std::string decl;
    if (!is_plain_c_name(object)) {
        self = fresh_temp(ctx, "self");
        decl = fmt::format("C_{} *{} = {}; ", cls, self, object);
    }
    size_t largest = 0;
    for (size_t i = 0; i < groups.size(); ++i) {
        Group &g = groups[i];
        if (g.field) {
            if (!(g.field->type == seen.type))
                throw_error(hidden_constant_message(g.owner, name, g.field->type, owner, seen.type),
                            g.field->line, g.field->column);
            declare_class(ctx, g.owner);
            g.text = fmt::format("((C_{} *){})->f_{}", g.owner, self, name);
        } else {
            CompiledExpr c = *compile_class_constant(ctx, g.owner, name);
            if (!(c.type == seen.type)) {
                const Expr &at = own_constant(ctx, g.owner, name);
                throw_error(fmt::format("'{}.{}' is {:#}, but '{}.{}' is {:#} (a class constant "
                                        "overridden in a subclass keeps one type)",
                                        g.owner, name, c.type, owner, name, seen.type),
                            at.line, at.column);
            }
            g.text = c.text;
        }
        if (g.ids.size() > groups[largest].ids.size())
            largest = i;
    }
    std::string r = fresh_temp(ctx, "r");
    ensure_type_defined(ctx, seen.type);
    std::string cases;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (i == largest)
            continue;
        for (size_t id : groups[i].ids)
            cases += fmt::format("case {}: ", id);
        cases += fmt::format("{} = {}; break; ", r, groups[i].text);
    }
    cases += fmt::format("default: {} = {}; break; ", r, groups[largest].text);
    return {fmt::format("({{ {0}{1} {2}; switch ({3}->cls) {{ {4}}} {2}; }})", decl,
                        c_type_name(seen.type), r, self, cases),
            seen.type};
}

} // namespace

std::optional<Type> lookup_class_field_type(const CodegenContext &ctx, const std::string &cls,
                                            const std::string &field) {
    for (const std::string &c : class_ancestors(ctx, cls))
        if (const ClassField *f = find_own_field(ctx, c, field))
            return f->type;
    return std::nullopt;
}

std::optional<std::string> first_class_with_field(const CodegenContext &ctx,
                                                  const std::vector<std::string> &chain,
                                                  const std::string &field) {
    for (const std::string &c : chain)
        if (find_own_field(ctx, c, field))
            return c;
    return std::nullopt;
}

const Expr *first_class_constant(const CodegenContext &ctx, const std::vector<std::string> &chain,
                                 const std::string &name) {
    const ClassConstant *k = first_constant_def(ctx, chain, name);
    return k ? &k->value : nullptr;
}

std::optional<CompiledExpr> compile_class_constant(CodegenContext &ctx, const std::string &cls,
                                                   const std::string &name) {
    const ClassConstant *k = first_constant_def(ctx, class_ancestors(ctx, cls), name);
    if (!k)
        return std::nullopt;
    const Expr *value = &k->value;
    if (!is_constant_expr(*value))
        throw_error(fmt::format("class attributes must be constants (assign `self.{}` in "
                                "__init__ for anything else)",
                                name),
                    value->line, value->column);
    return compile_expr(ctx, *value);
}

bool ensure_init_compiled(CodegenContext &ctx, const std::string &cls, uint64_t line,
                          uint64_t column) {
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, cls), "__init__");
    if (!owner)
        return false;
    const FuncDef &init = *ctx.functions.at(*owner + ".__init__");
    std::vector<Type> types = {Type::class_(*owner)};
    for (size_t i = 1; i < init.params.size(); ++i) {
        if (!init.params[i].annotation)
            return false;
        types.push_back(*init.params[i].annotation);
    }
    if (ctx.instances.count(InstanceKey{*owner + ".__init__", types}))
        return false;
    declare_class(ctx, *owner);
    instantiate_function(ctx, *owner + ".__init__", types, {}, line, column);
    return true;
}

// One piece: the decision order (find, create, convert, widen, refuse) is
// the field rule itself.
Type declare_field(CodegenContext &ctx, const std::string &cls, const std::string &field,
                   const Type &value, uint64_t line, uint64_t column) {
    if (!lookup_class_field_type(ctx, cls, field))
        ensure_init_compiled(ctx, cls, line, column);
    std::optional<Type> held = lookup_class_field_type(ctx, cls, field);
    if (!held) {
        if (value.is<Type::NoValue>())
            throw_error("can't assign: the right-hand side has no value", line, column);
        if (holds_function(value))
            throw_error("functions can't be stored in lists, dicts or tuples (each function is "
                        "its own type in Kestal)",
                        line, column);
        Type type = value;
        auto widened = ctx.field_widenings.find({cls, field});
        if (widened != ctx.field_widenings.end() && coerce_expr(ctx, "", value, widened->second))
            type = widened->second;
        check_subclass_fields(ctx, cls, field, type, line, column);
        check_hidden_constant_type(ctx, cls, field, type, line, column);
        check_constant_taken(ctx, cls, field, type, line, column);
        ensure_type_defined(ctx, type);
        ctx.class_attributes[cls].push_back(ClassField{field, type, line, column});
        return type;
    }
    if (coerce_expr(ctx, "", value, *held))
        return *held;
    if (held->is<Type::Int>() && value.is<Type::Float>()) {
        auto owner = first_class_with_field(ctx, class_ancestors(ctx, cls), field);
        check_hidden_constant_type(ctx, *owner, field, Type::float_(), line, column);
        throw field_widening(*owner, field, line, column);
    }
    // A field first assigned None keeps the Type None: say where its
    // declaration goes.
    std::string hint;
    if (held->is<Type::None>())
        hint = fmt::format("; declare it in `__init__` as `self.{}: {}{} = None`", field, value,
                           value.is<Type::Optional>() ? "" : " | None");
    throw_error(fmt::format("can't assign {:#} to '{}.{}', which holds {:#} (an attribute keeps "
                            "one type){}",
                            value, cls, field, *held, hint),
                line, column);
}

CompiledExpr compile_constructor_call(CodegenContext &ctx, const std::string &cls,
                                      const std::vector<Expr> &args,
                                      const std::vector<Keyword> &kwargs, uint64_t line,
                                      uint64_t column) {
    declare_class(ctx, cls);
    std::string t = fresh_temp(ctx, "o");
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, cls), "__init__");
    std::string init;
    if (!owner) {
        if (!args.empty() || !kwargs.empty())
            throw_error(fmt::format("{}() takes no arguments (the class has no __init__)", cls),
                        line, column);
    } else {
        CompiledExpr call = call_resolved_method(
            ctx, *owner, "__init__", cast_to_owner(t, cls, *owner), args, kwargs, line, column);
        if (!call.type.is<Type::NoValue>())
            throw_error(fmt::format("__init__() should return None, not {}", call.type), line,
                        column);
        init = call.text + "; ";
    }
    // Allocate (zeroed, in the class's memory kind), store the class id,
    // give the fields that hide constants those constants, run __init__; the
    // object is the value.
    return {fmt::format("({{ C_{0} *{1} = (C_{0} *)ktl_obj_new_in(sizeof(C_{0}), KTL_MEM_C_{0}); "
                        "{1}->cls = {2}; "
                        "{3}{4}{1}; }})",
                        cls, t, class_id(ctx, cls), hidden_constant_defaults(ctx, t, cls), init),
            Type::class_(cls)};
}

void create_early_fields(CodegenContext &ctx,
                         const std::vector<std::pair<std::string, ClassField>> &fields) {
    for (auto [cls, field] : fields) {
        auto widened = ctx.field_widenings.find({cls, field.name});
        if (widened != ctx.field_widenings.end())
            field.type = widened->second;
        ensure_type_defined(ctx, field.type);
        ctx.class_attributes[cls].push_back(field);
    }
}

std::string hidden_constant_defaults(CodegenContext &ctx, const std::string &object,
                                     const std::string &cls) {
    std::vector<std::string> chain = class_ancestors(ctx, cls);
    std::string stores;
    for (const std::string &c : chain)
        for (const ClassConstant &k : class_def(ctx, c).constants) {
            std::string owner;
            const ClassField *field = field_from_root(ctx, chain, k.name, owner);
            if (!field) {
                ctx.constants_taken[k.name].insert(cls);
                continue;
            }
            // The constant cls sees: the first of the chain, once per name.
            if (constant_owner(ctx, chain, k.name) != c || !is_constant_expr(k.value))
                continue;
            CompiledExpr constant = *compile_class_constant(ctx, c, k.name);
            if (auto text = coerce_expr(ctx, constant.text, constant.type, field->type))
                stores += fmt::format("{}->f_{} = {}; ", object, k.name, *text);
        }
    return stores;
}

CompiledExpr compile_attribute_read(CodegenContext &ctx, const std::string &object,
                                    const std::string &cls, const std::string &attr, uint64_t line,
                                    uint64_t column) {
    std::vector<std::string> chain = class_ancestors(ctx, cls);
    // A dataclass field's default is a constant too, but the field it
    // belongs to is what an object holds.
    const ClassConstant *constant = first_constant_def(ctx, chain, attr);
    if (!lookup_class_field_type(ctx, cls, attr) && (!constant || constant->field_default) &&
        !first_class_defining_method(ctx, chain, attr))
        ensure_init_compiled(ctx, cls, line, column);
    if (auto field = lookup_class_field_type(ctx, cls, attr))
        return {fmt::format("({})->f_{}", object, attr), *field};
    if (first_class_constant(ctx, chain, attr))
        return read_constant_through_object(ctx, object, cls, attr);
    if (first_class_defining_method(ctx, chain, attr))
        throw_error(fmt::format("methods can't be used as values; call it: .{}(...)", attr), line,
                    column);
    if (is_exception_class(ctx, cls) && attr == "args")
        throw_error("e.args isn't supported; use str(e) for the message", line, column);
    std::string hint;
    auto owner = first_class_defining_method(ctx, chain, "__init__");
    if (!is_exception_class(ctx, cls) && owner) {
        bool any = false;
        for (const auto &[key, info] : ctx.instances)
            any = any || key.name == *owner + ".__init__";
        if (!any)
            hint = fmt::format("; if __init__ sets it, annotate {}.__init__'s parameters so its "
                               "fields are known before the first {}(...)",
                               *owner, cls);
    }
    throw_error(fmt::format("'{}' object has no attribute '{}' (or it isn't assigned before this "
                            "point){}",
                            cls, attr, hint),
                line, column);
}

} // namespace kestal
