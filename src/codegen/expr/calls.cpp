// Calls: the resolution order of a called name, calls of function values,
// and calls of user functions with Python's argument binding and messages.
// Keyword arguments may reorder the arguments; they are then evaluated into
// temporaries in the order they are written, and the instance is called
// with the temporaries in parameter order.
#include "codegen/expr/expr.h"

#include "ast/builtin_modules.h"
#include "ast/python_exceptions.h"

#include "codegen/builtins/builtins.h"
#include "codegen/classes/classes.h"
#include "codegen/classes/exceptions.h"
#include "codegen/core/ctypes.h"
#include "codegen/core/instances.h"
#include "codegen/expr/containers.h"
#include "codegen/stmt/deferred_checks.h"

#include <algorithm>

namespace kestal {

namespace {

std::string shown_name(const std::string &name) {
    return name.rfind("<lambda", 0) == 0 ? "<lambda>" : name;
}

bool is_c_identifier(const std::string &text) {
    if (text.empty())
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
}

CompiledExpr call_user_function(CodegenContext &ctx, const std::string &name,
                                const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                uint64_t line, uint64_t column, bool runs_once);

std::vector<CompiledExpr> convert_args(const CodegenContext &ctx,
                                       const std::vector<CompiledExpr> &args,
                                       const std::vector<Type> &keys) {
    std::vector<CompiledExpr> out;
    for (size_t i = 0; i < args.size(); ++i) {
        auto converted = coerce_expr(ctx, args[i].text, args[i].type, keys[i]);
        if (!converted)
            internal_fault("an argument does not convert to its key Type");
        out.push_back({*converted, keys[i]});
    }
    return out;
}

std::string join_texts(const std::vector<CompiledExpr> &list) {
    std::string out;
    for (size_t i = 0; i < list.size(); ++i) {
        if (i)
            out += ", ";
        out += list[i].text;
    }
    return out;
}

CompiledExpr compile_lambda_value_call(CodegenContext &ctx, const std::string &callee_text,
                                       const FunctionValue::Lambda &lambda,
                                       const std::vector<Expr> &args,
                                       const std::vector<Keyword> &kwargs, const Expr &callee) {
    const FuncDef &def = (*ctx.lambdas)[lambda.index];
    std::vector<const Expr *> bound =
        bind_call_arguments(def, args, kwargs, callee.line, callee.column);
    std::vector<CompiledExpr> compiled;
    std::vector<Type> types;
    for (const Expr *b : bound) {
        compiled.push_back(compile_expr(ctx, *b));
        types.push_back(compiled.back().type);
    }
    InstanceResult inst =
        instantiate_function(ctx, def.name, types, lambda.captures, callee.line, callee.column);
    std::vector<CompiledExpr> converted = convert_args(ctx, compiled, inst.key_types);
    if (lambda.captures.empty())
        return {fmt::format("{}({})", inst.c_name, join_texts(converted)), inst.return_type};
    // The instance takes the captured values as trailing parameters: the
    // closure's fields follow the arguments.
    auto call_with = [&](const std::string &closure) {
        std::string text = inst.c_name + "(" + join_texts(converted);
        for (size_t i = 0; i < lambda.captures.size(); ++i)
            text += fmt::format("{}{}.c{}", i || !converted.empty() ? ", " : "", closure, i);
        return text + ")";
    };
    if (is_c_identifier(callee_text))
        return {call_with(callee_text), inst.return_type};
    Type fn_type = Type::function(FunctionValue{lambda});
    std::string fv = fresh_temp(ctx, "fv");
    return {fmt::format("({{ {} {} = {}; {}; }})", c_type_name(fn_type), fv, callee_text,
                        call_with(fv)),
            inst.return_type};
}

CompiledExpr compile_plain_call(CodegenContext &ctx, const Expr &e, const Expr::Call &c,
                                const Type *expected) {
    if (auto var = lookup_var(ctx, c.name)) {
        if (var->type.is<Type::Function>())
            return compile_function_value_call(
                ctx, var->text, var->type.as<Type::Function>()->value, c.args, c.kwargs, e);
        throw_error(fmt::format("'{}' is {:#}, which can't be called", c.name, var->type), e.line,
                    e.column);
    }
    if (ctx.classes.count(c.name) && !ctx.functions.count(c.name)) {
        if (is_exception_class(ctx, c.name))
            return compile_exception_construct(ctx, c.name, c.args, c.kwargs, e.line, e.column);
        return compile_constructor_call(ctx, c.name, c.args, c.kwargs, e.line, e.column);
    }
    if (c.name == "isinstance" && c.kwargs.empty() && !ctx.functions.count(c.name))
        return compile_isinstance(ctx, c.args, e.line, e.column);
    if (ctx.functions.count(c.name)) {
        // A call written in the module body outside loops and
        // comprehensions runs at most once (see `once_called_instances`).
        const FunctionFrame &frame = ctx.frame();
        bool runs_once = frame.is_module_level && frame.repeated_depth == 0;
        return call_user_function(ctx, c.name, c.args, c.kwargs, e.line, e.column, runs_once);
    }
    auto alias = ctx.aliases->find(c.name);
    if (alias != ctx.aliases->end()) {
        if (auto split = split_module_member(ctx, alias->second))
            return compile_module_call(ctx, split->first, split->second, c.args, c.kwargs, e);
    }
    // Named before its arguments are compiled, whatever they hold.
    if (auto python = missing_python_exception_message(c.name))
        throw_error(*python, e.line, e.column);
    return compile_builtin_call(ctx, c.name, c.args, c.kwargs, e, expected);
}

CompiledExpr compile_expr_call(CodegenContext &ctx, const Expr &e, const Expr::CallExpr &c) {
    CompiledExpr f = compile_transient_function(ctx, *c.callee);
    if (!f.type.is<Type::Function>())
        throw_error(fmt::format("{:#} can't be called", f.type), c.callee->line, c.callee->column);
    return compile_function_value_call(ctx, f.text, f.type.as<Type::Function>()->value, c.args,
                                       c.kwargs, *c.callee);
}

// `Exception.__init__(self, args...)`: the built-in exceptions' own
// `__init__`, which sets the texts of str(e), on an object of a subclass.
CompiledExpr compile_builtin_exception_init_call(CodegenContext &ctx, const std::string &cls,
                                                 const Expr::MethodCall &m, const Expr &e) {
    if (m.args.empty())
        throw_error(fmt::format("{}.__init__() needs an object as its first argument", cls), e.line,
                    e.column);
    CompiledExpr recv = compile_expr(ctx, m.args[0]);
    const auto *object = recv.type.as<Type::Class>();
    if (!object || !is_subclass_of(ctx, object->name, cls))
        throw_error(fmt::format("{}.__init__() needs a {} object, not {}", cls, cls, recv.type),
                    m.args[0].line, m.args[0].column);
    std::vector<Expr> rest(m.args.begin() + 1, m.args.end());
    return compile_base_exception_init(ctx, object->name, recv.text, rest, m.kwargs, e.line,
                                       e.column);
}

CompiledExpr compile_method_call_expr(CodegenContext &ctx, const Expr &e,
                                      const Expr::MethodCall &m) {
    if (auto module = resolve_module_ref(ctx, *m.receiver))
        return compile_module_call(ctx, *module, m.method, m.args, m.kwargs, e);
    if (const auto *a = m.receiver->as<Expr::Attribute>(); a && a->name == "environ") {
        auto module = resolve_module_ref(ctx, *a->object);
        if (module && *module == "os")
            return compile_environ_method(ctx, m.method, m.args, m.kwargs, e);
    }
    // `Base.m(obj, ...)` is the call of the class-method value `Base.m`:
    // Base's own resolution of m, with obj as the receiver and no dispatch.
    if (const auto *cls = m.receiver->as<Expr::Name>();
        cls && !lookup_var(ctx, cls->name) && ctx.classes.count(cls->name)) {
        if (m.method == "__init__" && is_exception_class(ctx, cls->name) &&
            !first_class_defining_method(ctx, class_ancestors(ctx, cls->name), "__init__"))
            return compile_builtin_exception_init_call(ctx, cls->name, m, e);
        Expr callee{Expr::Attribute{*m.receiver, m.method}, e.line, e.column};
        CompiledExpr f = compile_attribute_expr(ctx, callee);
        if (!f.type.is<Type::Function>())
            throw_error(fmt::format("{:#} can't be called", f.type), e.line, e.column);
        return compile_function_value_call(ctx, f.text, f.type.as<Type::Function>()->value, m.args,
                                           m.kwargs, callee);
    }
    const auto *recv_call = m.receiver->as<Expr::Call>();
    if (recv_call && recv_call->name == "super" && recv_call->args.empty() &&
        recv_call->kwargs.empty() && is_builtin_name(ctx, "super")) {
        if (auto init = compile_super_exception_init(ctx, m, e))
            return *init;
        return compile_super_call(ctx, m.method, m.args, m.kwargs, e.line, e.column);
    }
    CompiledExpr o = compile_expr(ctx, *m.receiver);
    if (o.type.is<Type::File>() && recv_call && recv_call->name == "open" &&
        is_builtin_name(ctx, "open") && m.method != "close") {
        std::string f = fresh_temp(ctx, "f");
        CompiledExpr call =
            compile_method_call(ctx, CompiledExpr{f, Type::file()}, m.method, m.args, m.kwargs, e);
        std::string t = fresh_temp(ctx, "r");
        if (call.type.is<Type::NoValue>())
            return {fmt::format("({{ ktl_file *{0} = {1}; {2}; ktl_file_close({0}); }})", f, o.text,
                                call.text),
                    call.type};
        return {fmt::format("({{ ktl_file *{0} = {1}; {2} {3} = {4}; ktl_file_close({0}); {3}; }})",
                            f, o.text, c_type_name(call.type), t, call.text),
                call.type};
    }
    return compile_method_call(ctx, o, m.method, m.args, m.kwargs, e);
}

} // namespace

CompiledExpr compile_call_expr(CodegenContext &ctx, const Expr &e, const Type *expected) {
    if (const auto *c = e.as<Expr::Call>())
        return compile_plain_call(ctx, e, *c, expected);
    if (const auto *c = e.as<Expr::CallExpr>())
        return compile_expr_call(ctx, e, *c);
    return compile_method_call_expr(ctx, e, *e.as<Expr::MethodCall>());
}

std::vector<const Expr *> bind_call_arguments(const FuncDef &def, const std::vector<Expr> &args,
                                              const std::vector<Keyword> &kwargs, uint64_t line,
                                              uint64_t column) {
    std::string shown = shown_name(def.name);
    size_t n = def.params.size();
    if (args.size() > n)
        throw_error(fmt::format("{}() takes {} argument{} but {} were given", shown, n,
                                n == 1 ? "" : "s", args.size()),
                    line, column);
    std::vector<const Expr *> bound(n, nullptr);
    for (size_t i = 0; i < args.size(); ++i)
        bound[i] = &args[i];
    for (const Keyword &k : kwargs) {
        auto it = std::find_if(def.params.begin(), def.params.end(),
                               [&](const Param &p) { return p.name == k.name; });
        if (it == def.params.end())
            throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", shown, k.name),
                        k.value.line, k.value.column);
        size_t index = static_cast<size_t>(it - def.params.begin());
        if (bound[index])
            throw_error(fmt::format("{}() got multiple values for argument '{}'", shown, k.name),
                        k.value.line, k.value.column);
        bound[index] = &k.value;
    }
    std::vector<std::string> missing;
    for (size_t i = 0; i < n; ++i) {
        if (bound[i])
            continue;
        if (def.params[i].default_value) {
            bound[i] = &*def.params[i].default_value;
        } else {
            missing.push_back(fmt::format("'{}'", def.params[i].name));
        }
    }
    if (!missing.empty())
        throw_error(fmt::format("{}() missing {} required argument{}: {}", shown, missing.size(),
                                missing.size() == 1 ? "" : "s", fmt::join(missing, " and ")),
                    line, column);
    return bound;
}

CompiledExpr compile_user_function_call(CodegenContext &ctx, const std::string &name,
                                        const std::vector<Expr> &args,
                                        const std::vector<Keyword> &kwargs, uint64_t line,
                                        uint64_t column) {
    return call_user_function(ctx, name, args, kwargs, line, column, false);
}

namespace {

CompiledExpr call_user_function(CodegenContext &ctx, const std::string &name,
                                const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                uint64_t line, uint64_t column, bool runs_once) {
    const FuncDef &def = *ctx.functions.at(name);
    std::vector<const Expr *> bound = bind_call_arguments(def, args, kwargs, line, column);
    std::vector<CompiledExpr> compiled;
    std::vector<Type> types;
    for (size_t i = 0; i < bound.size(); ++i) {
        const auto &annotation = def.params[i].annotation;
        compiled.push_back(compile_expr(ctx, *bound[i], annotation ? &*annotation : nullptr));
        types.push_back(compiled.back().type);
    }
    InstanceResult inst = instantiate_function(ctx, name, types, {}, line, column);
    auto [once, first] = ctx.once_called_instances.try_emplace(inst.c_name, runs_once);
    if (!first)
        once->second = once->second && runs_once;
    std::vector<CompiledExpr> converted = convert_args(ctx, compiled, inst.key_types);
    // In a loop's unchecked copy, the variant that flags a zero divisor.
    if (std::optional<DeferredChecks> &deferred = ctx.frame().deferred; deferred && kwargs.empty())
        if (auto variant = deferred_variant(ctx, name, inst.key_types, inst.c_name)) {
            if (variant->divides)
                ++deferred->divisions;
            std::string rest = join_texts(converted);
            return {fmt::format("{}({}{}{})", variant->c_name, deferred->flag,
                                rest.empty() ? "" : ", ", rest),
                    inst.return_type};
        }
    if (kwargs.empty() || bound.size() < 2)
        return {fmt::format("{}({})", inst.c_name, join_texts(converted)), inst.return_type};
    std::vector<std::string> temps;
    for (size_t i = 0; i < bound.size(); ++i)
        temps.push_back(fresh_temp(ctx, "a"));
    std::vector<size_t> order(bound.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const Expr *x = bound[a], *y = bound[b];
        return x->line != y->line ? x->line < y->line : x->column < y->column;
    });
    std::string decls;
    for (size_t i : order) {
        ensure_type_defined(ctx, inst.key_types[i]);
        decls += fmt::format("{} {} = {}; ", c_type_name(inst.key_types[i]), temps[i],
                             converted[i].text);
    }
    return {fmt::format("({{ {}{}({}); }})", decls, inst.c_name, fmt::join(temps, ", ")),
            inst.return_type};
}

} // namespace

CompiledExpr compile_function_value_call(CodegenContext &ctx, const std::string &callee_text,
                                         const FunctionValue &value, const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, const Expr &callee) {
    if (const auto *u = std::get_if<FunctionValue::UserFunction>(&value.kind))
        return compile_user_function_call(ctx, u->name, args, kwargs, callee.line, callee.column);
    if (const auto *l = std::get_if<FunctionValue::Lambda>(&value.kind))
        return compile_lambda_value_call(ctx, callee_text, *l, args, kwargs, callee);
    if (const auto *b = std::get_if<FunctionValue::Builtin>(&value.kind))
        return compile_builtin_call(ctx, b->name, args, kwargs, callee, nullptr);
    if (const auto *s = std::get_if<FunctionValue::StrMethod>(&value.kind)) {
        if (args.empty())
            throw_error(fmt::format("str.{}() needs a string as its first argument", s->name),
                        callee.line, callee.column);
        CompiledExpr recv = compile_expr(ctx, args[0]);
        if (!recv.type.is<Type::Str>())
            throw_error(fmt::format("str.{}() needs a str, not {}", s->name, recv.type),
                        args[0].line, args[0].column);
        std::vector<Expr> rest(args.begin() + 1, args.end());
        return compile_method_call(ctx, recv, s->name, rest, kwargs, callee);
    }
    const auto &m = std::get<FunctionValue::ClassMethod>(value.kind);
    if (args.empty())
        throw_error(fmt::format("{}.{}() needs an object as its first argument", m.class_name,
                                m.method_name),
                    callee.line, callee.column);
    CompiledExpr recv = compile_expr(ctx, args[0]);
    auto self = coerce_expr(ctx, recv.text, recv.type, Type::class_(m.class_name));
    if (!self)
        throw_error(fmt::format("{}.{}() needs a {} object, not {}", m.class_name, m.method_name,
                                m.class_name, recv.type),
                    args[0].line, args[0].column);
    // `C.m(obj)` calls the method C resolves, whatever obj's own class
    // overrides, as Python does.
    std::vector<Expr> rest(args.begin() + 1, args.end());
    auto owner =
        first_class_defining_method(ctx, class_ancestors(ctx, m.class_name), m.method_name);
    if (!owner)
        internal_fault("a class-method value of a method no class defines");
    return call_resolved_method(ctx, *owner, m.method_name,
                                cast_to_owner(*self, m.class_name, *owner), rest, kwargs,
                                callee.line, callee.column);
}

CompiledExpr compile_call_with_arg_texts(CodegenContext &ctx, const std::string &callee_text,
                                         const FunctionValue &value,
                                         const std::vector<CompiledExpr> &args,
                                         const Expr &position) {
    std::vector<std::unique_ptr<ScopedBinding>> bindings;
    std::vector<Expr> names;
    for (const CompiledExpr &a : args) {
        std::string name = fmt::format("%{}", fresh_temp(ctx, "arg"));
        bindings.push_back(std::make_unique<ScopedBinding>(ctx, name, Variable{a.type, a.text}));
        names.push_back(Expr{Expr::Name{name}, position.line, position.column});
    }
    return compile_function_value_call(ctx, callee_text, value, names, {}, position);
}

bool is_builtin_name(CodegenContext &ctx, const std::string &name) {
    return !ctx.functions.count(name) && !lookup_var(ctx, name);
}

std::optional<std::pair<std::string, std::string>> split_module_member(CodegenContext &ctx,
                                                                       const std::string &dotted) {
    auto is_module = [&](const std::string &n) {
        return builtin_module_has(n, kModuleHasMembers) || ctx.libraries->count(n) > 0;
    };
    if (is_module(dotted))
        return std::nullopt;
    size_t dot = dotted.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    std::string module = dotted.substr(0, dot);
    if (!is_module(module))
        return std::nullopt;
    return std::make_pair(module, dotted.substr(dot + 1));
}

} // namespace kestal
