// Exception objects and the except clauses of `try`.
//
// Construction allocates the object, stores its class id, evaluates the
// arguments once into temporaries, derives str(e) and the repr argument
// text from them by Python's rules, and only then runs a user `__init__`,
// which may replace the texts through `super().__init__(...)`.
//
// A `try` with clauses is a handler pushed on the runtime's chain and a
// setjmp: the normal path runs the body and pops the handler; the landing
// path tests the caught object's class id against each clause in source
// order and re-raises when none matches.
#include "codegen/classes/exceptions.h"

#include "analysis/analyses.h"
#include "ast/python_exceptions.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/expr/strings.h"
#include "codegen/optional/narrowing.h"
#include "codegen/stmt/stmt.h"

#include <memory>

namespace kestal {

namespace {

// The constructor arguments, each compiled once into a temporary whose
// declaration is appended to `decls`.
std::vector<CompiledExpr> compile_ctor_args(CodegenContext &ctx, const std::vector<Expr> &args,
                                            std::string &decls) {
    std::vector<CompiledExpr> out;
    for (const Expr &a : args) {
        CompiledExpr c = compile_expr(ctx, a);
        if (c.type.is<Type::NoValue>())
            throw_error("this expression has no value", a.line, a.column);
        ensure_type_defined(ctx, c.type);
        std::string t = fresh_temp(ctx, "a");
        decls += fmt::format("{} {} = {}; ", c_type_name(c.type), t, c.text);
        out.push_back({t, c.type});
    }
    return out;
}

// The statements setting the object's str(e) text and its repr argument
// text from the compiled arguments.
std::string exception_text_fields(CodegenContext &ctx, const std::string &object,
                                  const std::string &cls, const std::vector<CompiledExpr> &args,
                                  uint64_t line, uint64_t column) {
    for (const CompiledExpr &a : args)
        if (a.type.is<Type::File>() || a.type.is<Type::Function>() || a.type.is<Type::NoValue>())
            throw_error(fmt::format("{:#} can't be an exception argument", a.type), line, column);
    std::vector<std::string> reprs;
    for (const CompiledExpr &a : args)
        reprs.push_back(compile_to_str(ctx, a, true, line, column));
    std::string str_text, args_text;
    if (args.empty()) {
        str_text = args_text = "KTL_LIT(\"\")";
    } else if (args.size() == 1) {
        str_text = is_subclass_of(ctx, cls, "KeyError")
                       ? reprs[0]
                       : compile_to_str(ctx, args[0], false, line, column);
        args_text = reprs[0];
    } else {
        std::string sb = fresh_temp(ctx, "sb");
        std::string text = fmt::format(
            "({{ ktl_sb {0}; ktl_sb_init(&{0}); ktl_sb_add(&{0}, KTL_LIT(\"(\")); ", sb);
        for (size_t i = 0; i < reprs.size(); ++i) {
            if (i)
                text += fmt::format("ktl_sb_add(&{}, KTL_LIT(\", \")); ", sb);
            text += fmt::format("ktl_sb_add(&{}, {}); ", sb, reprs[i]);
        }
        text += fmt::format("ktl_sb_add(&{0}, KTL_LIT(\")\")); ktl_sb_done(&{0}); }})", sb);
        str_text = text;
        // The argument text is the str text without its parentheses, cut
        // from the text just stored, so the reprs are built once.
        args_text = fmt::format(
            "({{ ktl_str _s = {}->exc_str; ktl_mkstr(_s.p + 1, _s.len - 2); }})", object);
    }
    return fmt::format("{0}->exc_str = {1}; {0}->exc_args = {2}; ", object, str_text, args_text);
}

// Internal names that stand for already evaluated values while a method is
// called with them as argument expressions.
struct Aliases {
    std::vector<std::unique_ptr<ScopedBinding>> bindings;
    std::vector<Expr> names;
    void add(CodegenContext &ctx, const CompiledExpr &value, uint64_t line, uint64_t column) {
        std::string name = fmt::format("%{}", fresh_temp(ctx, "al"));
        bindings.push_back(
            std::make_unique<ScopedBinding>(ctx, name, Variable{value.type, value.text}));
        names.push_back(Expr{Expr::Name{name}, line, column});
    }
};

std::string init_call_text(CodegenContext &ctx, const std::string &owner, const std::string &object,
                           const std::vector<CompiledExpr> &args,
                           const std::vector<Keyword> &kwargs, uint64_t line, uint64_t column) {
    Aliases aliases;
    aliases.add(ctx, CompiledExpr{fmt::format("((C_{} *){})", owner, object), Type::class_(owner)},
                line, column);
    for (const CompiledExpr &a : args)
        aliases.add(ctx, a, line, column);
    CompiledExpr call =
        compile_user_function_call(ctx, owner + ".__init__", aliases.names, kwargs, line, column);
    if (!call.type.is<Type::NoValue>())
        throw_error(fmt::format("__init__() should return None, not {}", call.type), line, column);
    return call.text + "; ";
}

// The class an except clause's type expression names.
std::string except_clause_class(CodegenContext &ctx, const Expr &type) {
    const auto *name = type.as<Expr::Name>();
    if (!name)
        throw_error("an except clause needs an exception class (or a tuple of them)", type.line,
                    type.column);
    bool bound = lookup_var(ctx, name->name).has_value();
    if (!bound && !ctx.classes.count(name->name)) {
        if (auto python = missing_python_exception_message(name->name))
            throw_error(*python, type.line, type.column);
    }
    if (bound || !ctx.classes.count(name->name))
        throw_error(fmt::format("'{}' isn't an exception class", name->name), type.line,
                    type.column);
    if (!is_exception_class(ctx, name->name))
        throw_error(fmt::format("catching classes that do not inherit from BaseException is not "
                                "allowed ('{}')",
                                name->name),
                    type.line, type.column);
    declare_class(ctx, name->name);
    return name->name;
}

void compile_handler_body(CodegenContext &ctx, const ExceptHandler &h,
                          const std::vector<std::string> &classes, const std::string &caught) {
    FunctionFrame &frame = ctx.frame();
    std::optional<Variable> earlier;
    if (h.name) {
        std::string bound = classes.empty() ? "BaseException" : classes[0];
        for (size_t i = 1; i < classes.size(); ++i)
            bound = common_base_class(ctx, bound, classes[i]).value_or("BaseException");
        Type type = Type::class_(bound);
        ensure_type_defined(ctx, type);
        std::string local = fresh_temp(ctx, "e");
        frame.declared_locals.emplace_back(type, local);
        emit_line(ctx, "    {} = (C_{} *){};", local, bound, caught);
        if (auto it = frame.locals.find(*h.name); it != frame.locals.end())
            earlier = it->second;
        frame.locals[*h.name] = Variable{type, local};
        forget_facts_under(ctx, *h.name);
    }
    frame.handled_exceptions.push_back(caught);
    auto restore = [&] {
        frame.handled_exceptions.pop_back();
        if (!h.name)
            return;
        if (earlier) {
            frame.locals[*h.name] = *earlier;
        } else {
            frame.locals.erase(*h.name);
        }
        forget_facts_under(ctx, *h.name);
    };
    try {
        compile_block(ctx, h.body);
    } catch (...) {
        restore();
        throw;
    }
    restore();
}

} // namespace

CompiledExpr compile_exception_construct(CodegenContext &ctx, const std::string &cls,
                                         const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, uint64_t line,
                                         uint64_t column) {
    declare_class(ctx, cls);
    std::string object = fresh_temp(ctx, "o");
    std::string decls;
    std::vector<CompiledExpr> compiled = compile_ctor_args(ctx, args, decls);
    std::string fields = exception_text_fields(ctx, object, cls, compiled, line, column);
    std::string init;
    auto owner = first_class_defining_method(ctx, class_ancestors(ctx, cls), "__init__");
    if (!owner) {
        if (!kwargs.empty())
            throw_error(fmt::format("{}() takes no keyword arguments", cls), kwargs[0].value.line,
                        kwargs[0].value.column);
    } else {
        init = init_call_text(ctx, *owner, object, compiled, kwargs, line, column);
    }
    return {fmt::format("({{ C_{0} *{1} = (C_{0} *)ktl_obj_new(sizeof(C_{0})); {1}->cls = {2}; "
                        "{3}{4}{5}{6}{1}; }})",
                        cls, object, class_id(ctx, cls), decls, fields,
                        hidden_constant_defaults(ctx, object, cls), init),
            Type::class_(cls)};
}

CompiledExpr compile_base_exception_init(CodegenContext &ctx, const std::string &cls,
                                         const std::string &receiver, const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, uint64_t line,
                                         uint64_t column) {
    if (!kwargs.empty())
        throw_error("BaseException.__init__() takes no keyword arguments", kwargs[0].value.line,
                    kwargs[0].value.column);
    std::string s = fresh_temp(ctx, "s");
    std::string decls;
    std::vector<CompiledExpr> compiled = compile_ctor_args(ctx, args, decls);
    std::string fields = exception_text_fields(ctx, s, cls, compiled, line, column);
    return {fmt::format("({{ C_{} *{} = {}; {}{}}})", cls, s, receiver, decls, fields),
            Type::no_value()};
}

std::optional<CompiledExpr> compile_super_exception_init(CodegenContext &ctx,
                                                         const Expr::MethodCall &call,
                                                         const Expr &position) {
    const std::string *function = frame_function_name(ctx.frame());
    if (call.method != "__init__" || !function)
        return std::nullopt;
    const std::string &method = *function;
    size_t dot = method.rfind('.');
    if (dot == std::string::npos)
        return std::nullopt;
    std::string cls = method.substr(0, dot);
    auto chain = class_ancestors(ctx, cls);
    if (chain.size() < 2 || !is_exception_class(ctx, cls))
        return std::nullopt;
    if (first_class_defining_method(ctx, {chain.begin() + 1, chain.end()}, "__init__"))
        return std::nullopt;
    const FuncDef &def = *ctx.functions.at(method);
    if (def.params.empty())
        return std::nullopt;
    auto self = lookup_var(ctx, def.params[0].name);
    if (!self || !(self->type == Type::class_(cls)))
        return std::nullopt;
    return compile_base_exception_init(ctx, cls, self->text, call.args, call.kwargs, position.line,
                                       position.column);
}

CompiledExpr compile_raise_operand(CodegenContext &ctx, const Expr &operand) {
    if (const auto *name = operand.as<Expr::Name>()) {
        if (!lookup_var(ctx, name->name) && ctx.classes.count(name->name)) {
            if (!is_exception_class(ctx, name->name))
                throw_error(fmt::format("exceptions must derive from BaseException ('{}' doesn't)",
                                        name->name),
                            operand.line, operand.column);
            return compile_exception_construct(ctx, name->name, {}, {}, operand.line,
                                               operand.column);
        }
    }
    CompiledExpr e = compile_expr(ctx, operand);
    const auto *c = e.type.as<Type::Class>();
    if (!c || !is_exception_class(ctx, c->name))
        throw_error(fmt::format("exceptions must derive from BaseException, not {}", e.type),
                    operand.line, operand.column);
    return e;
}

// One piece: the emitted lines follow the handler protocol step by step,
// and the narrowing facts are saved and reset at fixed points of it.
void compile_try_except(CodegenContext &ctx, const Stmt::Try &s) {
    FunctionFrame &frame = ctx.frame();
    if (s.handlers.empty()) {
        for (const Stmt &stmt : s.body)
            compile_stmt(ctx, stmt);
        return;
    }
    auto saved_facts = frame.narrowed_paths;
    std::string h = fresh_temp(ctx, "h");
    emit_line(ctx, "ktl_handler {0}; ktl_try_enter(&{0});", h);
    emit_line(ctx, "if (ktl_setjmp({}.jb) == 0) {{", h);
    {
        CleanupScope scope(ctx, Cleanup{fmt::format("ktl_htop = {}.prev;", h)});
        compile_block(ctx, s.body);
    }
    emit_line(ctx, "    ktl_htop = {}.prev;", h);
    if (s.else_body)
        compile_block(ctx, *s.else_body);
    emit_line(ctx, "} else {");
    std::string caught = fresh_temp(ctx, "ex");
    PathSet assigned;
    collect_assigned_names(s.body, assigned);
    {
        IndentGuard indent(ctx);
        emit_line(ctx, "void *{} = ktl_try_land(&{});", caught, h);
        frame.narrowed_paths = saved_facts;
        for (const std::string &p : assigned)
            forget_facts_under(ctx, p);
        auto start_facts = frame.narrowed_paths;
        for (size_t i = 0; i < s.handlers.size(); ++i) {
            const ExceptHandler &handler = s.handlers[i];
            std::vector<std::string> classes, tests;
            for (const Expr &t : handler.types) {
                classes.push_back(except_clause_class(ctx, t));
                tests.push_back(fmt::format("ktl_isa(((ktl_exc *){})->cls, {})", caught,
                                            class_id(ctx, classes.back())));
            }
            std::string cond = tests.empty() ? "1" : fmt::format("{}", fmt::join(tests, " || "));
            emit_line(ctx, "{} ({}) {{", i == 0 ? "if" : "} else if", cond);
            frame.narrowed_paths = start_facts;
            compile_handler_body(ctx, handler, classes, caught);
        }
        emit_line(ctx, "} else {");
        emit_line(ctx, "    ktl_reraise({});", caught);
        emit_line(ctx, "}");
    }
    emit_line(ctx, "}");
}

std::string traceback_name(const CodegenContext &ctx) {
    const std::string *function = frame_function_name(*ctx.frames.back());
    if (!function)
        return "<module>";
    const std::string &name = *function;
    if (name.rfind("<lambda", 0) == 0)
        return "<lambda>";
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
}

} // namespace kestal
