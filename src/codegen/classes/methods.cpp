// Method calls on objects, dispatch by class id, super(), isinstance() and
// type(x).__name__.
//
// A method is resolved at compile time along the receiver's static class
// chain. When no class below the static class resolves it differently the
// call is a direct C call; otherwise it is one `switch` on the object's
// class id with a direct call per method the classes of the static class's
// subtree resolve to (the classes sharing one resolution share its case,
// the largest such group being the default), the arguments evaluated once,
// in order, before the switch. Objects carry no table of function pointers.
//
// Already compiled texts reach the call machinery as alias names: internal
// "%" names bound in the current frame to the text, which compile to
// exactly that text, so each is evaluated once, where the call puts it.
#include "codegen/classes/classes.h"

#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "support/text.h"

#include <algorithm>
#include <memory>

namespace kestal {

namespace {

// The alias names of a call, bound for the aliases' lifetime.
struct Aliases {
    std::vector<std::unique_ptr<ScopedBinding>> bindings;
    std::vector<Expr> names;

    void add(CodegenContext &ctx, const std::string &text, const Type &type, uint64_t line,
             uint64_t column) {
        std::string name = "%" + fresh_temp(ctx, "p");
        bindings.push_back(std::make_unique<ScopedBinding>(ctx, name, Variable{type, text}));
        names.push_back(Expr{Expr::Name{name}, line, column});
    }
};

const char *ordering_operator(const std::string &method) {
    if (method == "__lt__")
        return "<";
    if (method == "__le__")
        return "<=";
    if (method == "__gt__")
        return ">";
    if (method == "__ge__")
        return ">=";
    return nullptr;
}

std::string truth_of(const CompiledExpr &call) {
    if (call.type.is<Type::NoValue>())
        return call.text;
    return truth_test_expr(call.text, call.type).value_or(call.text);
}

// A comparison the dataclass decorator wrote compares objects of one class
// only: another class is unequal, and ordering it raises TypeError.
CompiledExpr guarded_comparison(CodegenContext &ctx, const std::string &owner,
                                const std::string &method, const std::string &receiver,
                                const Expr &argument, uint64_t line, uint64_t column) {
    CompiledExpr a = compile_expr(ctx, argument);
    std::string s = fresh_temp(ctx, "s");
    std::string b = fresh_temp(ctx, "b");
    const char *op = ordering_operator(method);
    const auto *y = a.type.as<Type::Class>();
    if (y && common_base_class(ctx, y->name, owner)) {
        std::string passed = y->name == owner ? b : fmt::format("((C_{} *)({}))", owner, b);
        Aliases alias;
        alias.add(ctx, passed, Type::class_(owner), line, column);
        std::string call = truth_of(call_method_function(
            ctx, owner, method, s, {std::move(alias.names[0])}, {}, line, column));
        bool only_class = y->name == owner && subclasses_of(ctx, owner).size() == 1;
        if (only_class)
            return {fmt::format("({{ C_{0} *{1} = {2}; C_{3} *{4} = {5}; {6}; }})", owner, s,
                                receiver, y->name, b, a.text, call),
                    Type::bool_()};
        std::string fallback =
            op ? fmt::format("(ktl_cmp_type_error(\"{}\", ktl_class_names[{}->cls], "
                             "ktl_class_names[{}->cls]), false)",
                             op, s, b)
               : "false";
        return {fmt::format("({{ C_{0} *{1} = {2}; C_{3} *{4} = {5}; {1}->cls == {4}->cls ? {6} "
                            ": {7}; }})",
                            owner, s, receiver, y->name, b, a.text, call, fallback),
                Type::bool_()};
    }
    std::string fallback =
        op ? fmt::format("(ktl_cmp_type_error(\"{}\", ktl_class_names[{}->cls], \"{}\"), false)",
                         op, s, type_display(a.type))
           : "false";
    return {
        fmt::format("({{ C_{} *{} = {}; (void)({}); {}; }})", owner, s, receiver, a.text, fallback),
        Type::bool_()};
}

bool is_synthesized_comparison(const CodegenContext &ctx, const std::string &owner,
                               const std::string &method) {
    const auto &names = ctx.classes.at(owner)->synthesized_comparisons;
    return std::find(names.begin(), names.end(), method) != names.end();
}

// The classes of `classes` other than the static class whose owner of the
// method differs from the static owner.
std::vector<std::string> filter_overriding_classes(CodegenContext &ctx,
                                                   const std::vector<std::string> &classes,
                                                   const std::string &static_class,
                                                   const std::string &method,
                                                   const std::string &static_owner) {
    std::vector<std::string> out;
    for (const std::string &k : classes) {
        if (k == static_class)
            continue;
        auto owner = first_class_defining_method(ctx, class_ancestors(ctx, k), method);
        if (!owner || *owner != static_owner)
            out.push_back(k);
    }
    return out;
}

// One piece: binding, evaluation once, the cases and the join are the
// dispatch protocol and read best together.
CompiledExpr dispatched_call(CodegenContext &ctx, const std::string &receiver,
                             const std::string &cls, const std::string &owner,
                             const std::string &method, const std::vector<Expr> &args,
                             const std::vector<Keyword> &kwargs, uint64_t line, uint64_t column) {
    const FuncDef &def = *ctx.functions.at(owner + "." + method);
    std::vector<Expr> with_placeholder;
    with_placeholder.push_back(Expr{Expr::None{}, line, column});
    for (const Expr &a : args)
        with_placeholder.push_back(a);
    std::vector<const Expr *> bound =
        bind_call_arguments(def, with_placeholder, kwargs, line, column);
    // Only the arguments the call gives are evaluated (once, in order,
    // before the switch); an omitted one takes each override's own default.
    std::string decls;
    std::vector<std::optional<CompiledExpr>> temps;
    for (size_t i = 1; i < bound.size(); ++i) {
        const Param &param = def.params[i];
        if (param.default_value && bound[i] == &*param.default_value) {
            temps.push_back(std::nullopt);
            continue;
        }
        const auto &annotation = param.annotation;
        CompiledExpr c = compile_expr(ctx, *bound[i], annotation ? &*annotation : nullptr);
        if (c.type.is<Type::NoValue>())
            throw_error(fmt::format("argument '{}' of {}() has no value", param.name, method), line,
                        column);
        std::string t = fresh_temp(ctx, "a");
        ensure_type_defined(ctx, c.type);
        decls += fmt::format("{} {} = {}; ", c_type_name(c.type), t, c.text);
        temps.push_back(CompiledExpr{t, c.type});
    }
    std::string self = receiver;
    if (!is_plain_c_name(receiver)) {
        self = fresh_temp(ctx, "self");
        decls = fmt::format("C_{} *{} = {}; {}", cls, self, receiver, decls);
    }
    // The classes of the subtree grouped by the method they resolve to: one
    // call per group, in order of first appearance.
    struct Group {
        std::string owner;
        std::vector<size_t> ids;
        CompiledExpr call;
    };
    std::vector<Group> groups;
    for (const std::string &k : subclasses_of(ctx, cls)) {
        auto owner_k = first_class_defining_method(ctx, class_ancestors(ctx, k), method);
        if (!owner_k)
            internal_fault("a subclass without the method its base defines");
        auto same = std::find_if(groups.begin(), groups.end(),
                                 [&](const Group &g) { return g.owner == *owner_k; });
        if (same != groups.end())
            same->ids.push_back(class_id(ctx, k));
        else
            groups.push_back({*owner_k, {class_id(ctx, k)}, {}});
    }
    std::optional<Type> joined;
    for (Group &g : groups) {
        // Given arguments go by position up to the first omitted one, and
        // by the static owner's parameter names after it.
        Aliases aliases;
        std::vector<Keyword> keywords;
        bool gap = false;
        for (size_t i = 0; i < temps.size(); ++i) {
            if (!temps[i]) {
                gap = true;
                continue;
            }
            aliases.add(ctx, temps[i]->text, temps[i]->type, line, column);
            if (gap) {
                keywords.push_back(
                    Keyword{def.params[i + 1].name, std::move(aliases.names.back())});
                aliases.names.pop_back();
            }
        }
        // The group's classes are all known to be at least its owner, so
        // the object is passed as the owner, which may stand below the
        // static class.
        g.call = call_resolved_method(ctx, g.owner, method, cast_to_owner(self, cls, g.owner),
                                      aliases.names, keywords, line, column);
        if (!joined) {
            joined = g.call.type;
        } else {
            auto j = join_types(ctx, *joined, g.call.type);
            if (!j)
                throw_error(fmt::format("the overrides of {}() return different types ({} and {})",
                                        method, *joined, g.call.type),
                            line, column);
            joined = *j;
        }
    }
    // The group of the most classes takes the default: the other groups'
    // labels are few, so the C compiler tests them with compares rather
    // than an indirect jump through a table, which mispredicts often when
    // the classes of a list's objects alternate at random.
    size_t largest = 0;
    for (size_t i = 1; i < groups.size(); ++i)
        if (groups[i].ids.size() > groups[largest].ids.size())
            largest = i;
    std::optional<std::string> r;
    if (!joined->is<Type::NoValue>()) {
        ensure_type_defined(ctx, *joined);
        r = fresh_temp(ctx, "r");
    }
    std::string case_text;
    std::string default_text;
    for (size_t i = 0; i < groups.size(); ++i) {
        const Group &g = groups[i];
        std::string body = g.call.text;
        if (r) {
            auto converted = coerce_expr(ctx, g.call.text, g.call.type, *joined);
            if (!converted)
                internal_fault("an override's result does not convert to the joined Type");
            body = fmt::format("{} = {}", *r, *converted);
        }
        if (i == largest) {
            default_text = fmt::format("default: {}; break; ", body);
            continue;
        }
        for (size_t id : g.ids)
            case_text += fmt::format("case {}: ", id);
        case_text += fmt::format("{}; break; ", body);
    }
    case_text += default_text;
    if (!r)
        return {fmt::format("({{ {}switch ({}->cls) {{ {}}} }})", decls, self, case_text),
                Type::no_value()};
    return {fmt::format("({{ {0}{1} {2} = ({1}){{0}}; switch ({3}->cls) {{ {4}}} {2}; }})", decls,
                        c_type_name(*joined), *r, self, case_text),
            *joined};
}

} // namespace

std::string cast_to_owner(const std::string &text, const std::string &cls,
                          const std::string &owner) {
    if (cls == owner)
        return text;
    return fmt::format("((C_{} *)({}))", owner, text);
}

CompiledExpr call_method_function(CodegenContext &ctx, const std::string &owner,
                                  const std::string &method, const std::string &receiver,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  uint64_t line, uint64_t column) {
    Aliases self;
    self.add(ctx, receiver, Type::class_(owner), line, column);
    std::vector<Expr> all;
    all.push_back(std::move(self.names[0]));
    for (const Expr &a : args)
        all.push_back(a);
    return compile_user_function_call(ctx, owner + "." + method, all, kwargs, line, column);
}

CompiledExpr call_resolved_method(CodegenContext &ctx, const std::string &owner,
                                  const std::string &method, const std::string &receiver,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  uint64_t line, uint64_t column) {
    if (args.size() == 1 && kwargs.empty() && is_synthesized_comparison(ctx, owner, method))
        return guarded_comparison(ctx, owner, method, receiver, args[0], line, column);
    return call_method_function(ctx, owner, method, receiver, args, kwargs, line, column);
}

CompiledExpr compile_object_method_call(CodegenContext &ctx, const std::string &receiver,
                                        const std::string &cls, const std::string &method,
                                        const std::vector<Expr> &args,
                                        const std::vector<Keyword> &kwargs, uint64_t line,
                                        uint64_t column) {
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, cls), method);
    if (!owner) {
        if (lookup_class_field_type(ctx, cls, method))
            throw_error("calling a function stored in an attribute isn't supported", line, column);
        throw_error(fmt::format("'{}' object has no method '{}'", cls, method), line, column);
    }
    if (filter_overriding_classes(ctx, subclasses_of(ctx, cls), cls, method, *owner).empty())
        return call_resolved_method(ctx, *owner, method, cast_to_owner(receiver, cls, *owner), args,
                                    kwargs, line, column);
    return dispatched_call(ctx, receiver, cls, *owner, method, args, kwargs, line, column);
}

CompiledExpr compile_super_call(CodegenContext &ctx, const std::string &method,
                                const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                uint64_t line, uint64_t column) {
    const FunctionFrame &frame = ctx.frame();
    const std::string *function = frame_function_name(frame);
    if (frame.method_class.empty() || !function)
        throw_error("super() can only be used in a method", line, column);
    const std::string &cls = frame.method_class;
    const ClassDef &def = *ctx.classes.at(cls);
    if (!def.base)
        throw_error(fmt::format("class {} has no base class", cls), line, column);
    const FuncDef &current = *ctx.functions.at(*function);
    if (current.params.empty())
        throw_error("super() can only be used in a method", line, column);
    auto self = lookup_var(ctx, current.params[0].name);
    if (!self || !self->type.is<Type::Class>())
        throw_error("super() can only be used in a method", line, column);
    auto receiver = coerce_expr(ctx, self->text, self->type, Type::class_(cls));
    if (!receiver)
        throw_error("super() can only be used in a method", line, column);
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, *def.base), method);
    if (owner)
        return call_resolved_method(ctx, *owner, method, cast_to_owner(*receiver, cls, *owner),
                                    args, kwargs, line, column);
    if (method == "__init__" && is_exception_class(ctx, *def.base))
        throw_error("super().__init__() of an exception class isn't supported yet", line, column);
    throw_error(fmt::format("'super' object has no method '{}'", method), line, column);
}

bool subtree_defines(CodegenContext &ctx, const std::string &cls, const std::string &method) {
    for (const std::string &k : subclasses_of(ctx, cls))
        if (first_class_defining_method(ctx, class_ancestors(ctx, k), method))
            return true;
    return false;
}

// One piece: the receiver and arguments are held once, then each class of
// the subtree either calls its own method or takes the fallback.
std::string dunder_truth_in_subtree(CodegenContext &ctx, const std::string &receiver,
                                    const std::string &cls, const std::string &method,
                                    const std::vector<CompiledExpr> &args,
                                    const DunderFallback &fallback, uint64_t line,
                                    uint64_t column) {
    std::string self = fresh_temp(ctx, "self");
    std::string decls = fmt::format("C_{} *{} = {}; ", cls, self, receiver);
    std::vector<CompiledExpr> temps;
    for (const CompiledExpr &a : args) {
        std::string t = fresh_temp(ctx, "a");
        ensure_type_defined(ctx, a.type);
        decls += fmt::format("{} {} = {}; ", c_type_name(a.type), t, a.text);
        temps.push_back({t, a.type});
    }
    std::string r = fresh_temp(ctx, "r");
    std::string cases;
    for (const std::string &k : subclasses_of(ctx, cls)) {
        auto owner = first_class_defining_method(ctx, class_ancestors(ctx, k), method);
        std::string value;
        if (owner) {
            if (line == 0)
                std::tie(line, column) = special_method_position(ctx, k, method);
            Aliases aliases;
            for (const CompiledExpr &t : temps)
                aliases.add(ctx, t.text, t.type, line, column);
            CompiledExpr call =
                call_resolved_method(ctx, *owner, method, cast_to_owner(self, cls, *owner),
                                     aliases.names, {}, line, column);
            value = call.type.is<Type::NoValue>() ? fmt::format("({}, false)", call.text)
                                                  : truth_of(call);
        } else {
            value = fallback(self, temps);
        }
        cases += fmt::format("case {}: {} = {}; break; ", class_id(ctx, k), r, value);
    }
    return fmt::format("({{ {}bool {} = false; switch ({}->cls) {{ {}}} {}; }})", decls, r, self,
                       cases, r);
}

namespace {

// The classes of the right operand's subtree that can take priority,
// grouped by the owner of their reflected method. A class R counts when a
// class of the left operand's subtree stands strictly above its bar: R
// itself for a comparison (Python asks any proper subclass on the right
// first), the owner of R's method for an arithmetic operator (only a
// subclass that overrides the left class's reflected method is asked
// first). A comparison the dataclass decorator wrote never counts: it
// declines objects of another class, and priority only applies to two
// different classes.
struct PriorityGroup {
    std::string owner;
    std::vector<size_t> ids;
};

std::vector<PriorityGroup> priority_groups(CodegenContext &ctx, const std::string &left,
                                           const std::string &right, const std::string &reflected,
                                           bool comparison) {
    std::vector<PriorityGroup> groups;
    for (const std::string &k : subclasses_of(ctx, right)) {
        auto owner = first_class_defining_method(ctx, class_ancestors(ctx, k), reflected);
        if (!owner || is_synthesized_comparison(ctx, *owner, reflected))
            continue;
        std::vector<std::string> above = class_ancestors(ctx, comparison ? k : *owner);
        bool possible = std::any_of(above.begin() + 1, above.end(), [&](const std::string &c) {
            return is_subclass_of(ctx, c, left);
        });
        if (!possible)
            continue;
        auto same = std::find_if(groups.begin(), groups.end(),
                                 [&](const PriorityGroup &g) { return g.owner == *owner; });
        if (same != groups.end())
            same->ids.push_back(class_id(ctx, k));
        else
            groups.push_back({*owner, {class_id(ctx, k)}});
    }
    return groups;
}

} // namespace

// One piece: the operands are held once, then the switch picks the
// reflected call of the group whose bar the left object stands above, and
// every other pair takes the usual order.
std::optional<CompiledExpr> reflected_first(CodegenContext &ctx, const CompiledExpr &left,
                                            const CompiledExpr &right, const std::string &reflected,
                                            bool comparison, const OperandsLowering &usual,
                                            uint64_t line, uint64_t column) {
    const auto *lc = left.type.as<Type::Class>();
    const auto *rc = right.type.as<Type::Class>();
    if (!lc || !rc)
        return std::nullopt;
    std::vector<PriorityGroup> groups =
        priority_groups(ctx, lc->name, rc->name, reflected, comparison);
    if (groups.empty())
        return std::nullopt;
    std::string pl = fresh_temp(ctx, "pl"), pr = fresh_temp(ctx, "pr");
    ensure_type_defined(ctx, left.type);
    ensure_type_defined(ctx, right.type);
    std::string decls = fmt::format("{} {} = {}; {} {} = {}; ", c_type_name(left.type), pl,
                                    left.text, c_type_name(right.type), pr, right.text);
    CompiledExpr held_left{pl, left.type}, held_right{pr, right.type};
    CompiledExpr fallback = usual(held_left, held_right);
    std::vector<CompiledExpr> calls;
    for (const PriorityGroup &g : groups) {
        auto [at_line, at_column] = line == 0 ? special_method_position(ctx, g.owner, reflected)
                                              : std::pair<uint64_t, uint64_t>{line, column};
        Aliases alias;
        alias.add(ctx, pl, left.type, at_line, at_column);
        CompiledExpr call =
            call_resolved_method(ctx, g.owner, reflected, cast_to_owner(pr, rc->name, g.owner),
                                 alias.names, {}, at_line, at_column);
        if (comparison)
            call = {call.type.is<Type::NoValue>() ? fmt::format("({}, false)", call.text)
                                                  : truth_of(call),
                    Type::bool_()};
        calls.push_back(std::move(call));
    }
    Type joined = fallback.type;
    for (const CompiledExpr &c : calls) {
        auto j = join_types(ctx, joined, c.type);
        if (!j)
            throw_error(fmt::format("the reflected {}() returns a different type ({} and {})",
                                    reflected, joined, c.type),
                        line, column);
        joined = *j;
    }
    std::string r, taken = fresh_temp(ctx, "rv");
    if (!joined.is<Type::NoValue>()) {
        ensure_type_defined(ctx, joined);
        r = fresh_temp(ctx, "r");
        decls += fmt::format("{0} {1} = ({0}){{0}}; ", c_type_name(joined), r);
    }
    auto store = [&](const CompiledExpr &value) {
        if (r.empty())
            return value.text;
        auto converted = coerce_expr(ctx, value.text, value.type, joined);
        if (!converted)
            internal_fault("an operator's result does not convert to the joined Type");
        return fmt::format("{} = {}", r, *converted);
    };
    std::string cases;
    for (size_t i = 0; i < groups.size(); ++i) {
        for (size_t id : groups[i].ids)
            cases += fmt::format("case {}: ", id);
        std::string bar = comparison ? fmt::format("{}->cls", pr)
                                     : fmt::format("{}", class_id(ctx, groups[i].owner));
        cases +=
            fmt::format("if ({0}->cls != {1} && ktl_isa({1}, {0}->cls)) {{ {2}; {3} = true; }} "
                        "break; ",
                        pl, bar, store(calls[i]), taken);
    }
    return CompiledExpr{fmt::format("({{ {}bool {} = false; switch ({}->cls) {{ {}default: break; "
                                    "}} if (!{}) {}; {}}})",
                                    decls, taken, pr, cases, taken, store(fallback),
                                    r.empty() ? "" : r + "; "),
                        joined};
}

std::optional<CompiledExpr> call_dunder_if_defined(CodegenContext &ctx, const std::string &receiver,
                                                   const std::string &cls,
                                                   const std::string &method,
                                                   const std::vector<CompiledExpr> &args,
                                                   uint64_t line, uint64_t column) {
    if (!first_class_defining_method(ctx, class_ancestors(ctx, cls), method))
        return std::nullopt;
    if (line == 0)
        std::tie(line, column) = special_method_position(ctx, cls, method);
    Aliases aliases;
    for (const CompiledExpr &a : args)
        aliases.add(ctx, a.text, a.type, line, column);
    return compile_object_method_call(ctx, receiver, cls, method, aliases.names, {}, line, column);
}

} // namespace kestal
