// The built-in modules at compile time: `module.function(...)` becomes a
// runtime call or a short C expression and `module.name` a constant. No
// module object exists at run time. The math functions share the lowerings
// of the built-in names (math.sqrt(x) compiles as sqrt(x) does), except that
// math.pow always gives a float and math.isqrt is the runtime's exact
// integer square root. os, os.path and sys follow Python on a POSIX system;
// time.monotonic and time.perf_counter read a clock that never goes back;
// random is the runtime's own generator (its sequence differs from
// CPython's). `os.environ` exists only as `os.environ.get(...)`. A module
// name that is an imported C library goes to libraries.cpp first.
#include "codegen/builtins/builtins.h"

#include "codegen/builtins/builtin_methods.h"
#include "codegen/builtins/libraries.h"

#include "codegen/builtins/numeric.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"

#include <optional>

namespace kestal {

namespace {

// The row of a member the lowerings below reach: every one has a row.
const ModuleMember &member_row(std::string_view module, const std::string &name) {
    const ModuleMember *m = find_module_member(module, name);
    if (!m)
        internal_fault("a module member the lowering knows has a row in module_members.def");
    return *m;
}

// The member's argument count against its row's range.
void check_member_arity(std::string_view module, const std::string &name, size_t count,
                        const Expr &call) {
    const ModuleMember &m = member_row(module, name);
    check_builtin_arity(name, count, m.min_args, m.max_args, call.line, call.column);
}

bool is_math_constant(const std::string &name) {
    const ModuleMember *m = find_module_member("math", name);
    return m && m->kind == ModuleMemberKind::Constant;
}

CompiledExpr compile_math_call(CodegenContext &ctx, const std::string &name,
                               const std::vector<Expr> &args, const Expr &call) {
    if (is_math_function_one(name) || is_math_function_two(name))
        return compile_math_function(ctx, name, args, call, false);
    if (name == "ceil" || name == "floor")
        return compile_builtin_call(ctx, name, args, {}, call, nullptr);
    if (name == "isqrt") {
        check_member_arity("math", name, args.size(), call);
        std::string n = check_int_operand(ctx, args[0], "isqrt() argument");
        return {fmt::format("ktl_isqrt({})", n), Type::int_()};
    }
    if (is_math_constant(name))
        throw_error(fmt::format("math.{} is a constant, not a function", name), call.line,
                    call.column);
    throw_error(fmt::format("math has no function '{}'", name), call.line, call.column);
}

[[noreturn]] void no_function(const std::string &message, const Expr &call) {
    throw_error(message, call.line, call.column);
}

// Compiles every argument as a str, after the arity check.
std::vector<std::string> str_args(CodegenContext &ctx, const std::string &name,
                                  const std::vector<Expr> &args, size_t min, size_t max,
                                  const Expr &call) {
    check_builtin_arity(name, args.size(), min, max, call.line, call.column);
    return compile_str_args(ctx, name, args);
}

// Compiles every argument as a str, after the arity check of the member's row.
std::vector<std::string> member_str_args(CodegenContext &ctx, std::string_view module,
                                         const std::string &name, const std::vector<Expr> &args,
                                         const Expr &call) {
    check_member_arity(module, name, args.size(), call);
    return compile_str_args(ctx, name, args);
}

// os.getenv(name) and os.environ.get(name): None for an unset variable.
CompiledExpr optional_getenv(CodegenContext &ctx, const std::string &name) {
    Type opt = make_optional(Type::str());
    ensure_type_defined(ctx, opt);
    std::string v = fresh_temp(ctx, "v");
    return {fmt::format("({{ ktl_str {0} = ktl_os_getenv({1}, ktl_mkstr(NULL, 0)); "
                        "({2}){{{0}.p != NULL, {0}}}; }})",
                        v, name, c_type_name(opt)),
            opt};
}

// getenv with one argument (optional str) or two (str, with the default).
CompiledExpr compile_getenv(CodegenContext &ctx, const std::string &name,
                            const std::vector<Expr> &args, const Expr &call) {
    if (args.size() == 1)
        return optional_getenv(ctx, str_args(ctx, name, args, 1, 1, call)[0]);
    auto a = str_args(ctx, name, args, 2, 2, call);
    return {fmt::format("ktl_os_getenv({}, {})", a[0], a[1]), Type::str()};
}

CompiledExpr compile_os_call(CodegenContext &ctx, const std::string &name,
                             const std::vector<Expr> &args, const Expr &call) {
    if (name == "mkdir" || name == "rmdir" || name == "remove" || name == "unlink") {
        auto a = member_str_args(ctx, "os", name, args, call);
        return {fmt::format("ktl_os_{}({})", name == "unlink" ? "remove" : name, a[0]),
                Type::no_value()};
    }
    if (name == "rename" || name == "replace") {
        auto a = member_str_args(ctx, "os", name, args, call);
        return {fmt::format("ktl_os_rename({}, {})", a[0], a[1]), Type::no_value()};
    }
    if (name == "getcwd") {
        check_member_arity("os", name, args.size(), call);
        return {"ktl_os_getcwd()", Type::str()};
    }
    if (name == "getenv")
        return compile_getenv(ctx, name, args, call);
    no_function(fmt::format("os has no function '{}' (or it isn't supported yet)", name), call);
}

CompiledExpr compile_os_path_call(CodegenContext &ctx, const std::string &name,
                                  const std::vector<Expr> &args, const Expr &call) {
    if (name == "join") {
        if (args.empty())
            throw_error("join() takes 1 or more argument(s), got 0", call.line, call.column);
        auto a = compile_str_args(ctx, name, args);
        std::string text = a[0];
        for (size_t i = 1; i < a.size(); ++i)
            text = fmt::format("ktl_path_join({}, {})", text, a[i]);
        return {text, Type::str()};
    }
    if (name == "exists" || name == "isfile" || name == "isdir") {
        auto a = member_str_args(ctx, "os.path", name, args, call);
        int kind = name == "exists" ? 0 : name == "isfile" ? 1 : 2;
        return {fmt::format("ktl_path_exists({}, {})", a[0], kind), Type::bool_()};
    }
    if (name == "dirname" || name == "basename") {
        auto a = member_str_args(ctx, "os.path", name, args, call);
        return {fmt::format("ktl_path_{}({})", name, a[0]), Type::str()};
    }
    if (name == "isabs") {
        auto a = member_str_args(ctx, "os.path", name, args, call);
        return {fmt::format("ktl_path_absolute({})", a[0]), Type::bool_()};
    }
    if (name == "split") {
        // (dirname, basename), the path evaluated once.
        auto a = member_str_args(ctx, "os.path", name, args, call);
        std::vector<Type> pair{Type::str(), Type::str()};
        define_tuple_type(ctx, pair);
        std::string p = fresh_temp(ctx, "p");
        return {fmt::format("({{ ktl_str {0} = {1}; (({2}){{ktl_path_dirname({0}), "
                            "ktl_path_basename({0})}}); }})",
                            p, a[0], tuple_c_name(pair)),
                Type::tuple(pair)};
    }
    if (name == "getsize") {
        auto a = member_str_args(ctx, "os.path", name, args, call);
        return {fmt::format("ktl_path_getsize({})", a[0]), Type::int_()};
    }
    if (name == "getmtime") {
        auto a = member_str_args(ctx, "os.path", name, args, call);
        return {fmt::format("ktl_path_getmtime({})", a[0]), Type::float_()};
    }
    if (name == "splitext") {
        auto a = member_str_args(ctx, "os.path", name, args, call);
        std::vector<Type> pair{Type::str(), Type::str()};
        define_tuple_type(ctx, pair);
        std::string parts = fresh_temp(ctx, "parts");
        return {fmt::format("({{ ktl_str {0}[2]; ktl_path_splitext({1}, {0}); "
                            "(({2}){{{0}[0], {0}[1]}}); }})",
                            parts, a[0], tuple_c_name(pair)),
                Type::tuple(pair)};
    }
    no_function(fmt::format("os.path has no function '{}' (or it isn't supported yet)", name),
                call);
}

CompiledExpr compile_sys_call(CodegenContext &ctx, const std::string &name,
                              const std::vector<Expr> &args, const Expr &call) {
    if (name != "exit")
        no_function(fmt::format("sys has no function '{}'", name), call);
    check_member_arity("sys", name, args.size(), call);
    if (args.empty())
        return {"ktl_sys_exit(0)", Type::no_value()};
    CompiledExpr code = compile_expr(ctx, args[0]);
    if (code.type.is<Type::Int>())
        return {fmt::format("ktl_sys_exit({})", code.text), Type::no_value()};
    if (code.type.is<Type::Str>())
        return {fmt::format("ktl_sys_exit_s({})", code.text), Type::no_value()};
    throw_error(fmt::format("sys.exit() takes an int or a str, not {}", code.type), args[0].line,
                args[0].column);
}

// A number widened to a C double; none when it is neither int nor float.
std::optional<std::string> number_text(CodegenContext &ctx, const Expr &arg) {
    CompiledExpr c = compile_expr(ctx, arg);
    if (!c.type.is<Type::Int>() && !c.type.is<Type::Float>())
        return std::nullopt;
    return widen_to_float_text(c.text, c.type);
}

CompiledExpr compile_time_call(CodegenContext &ctx, const std::string &name,
                               const std::vector<Expr> &args, const Expr &call) {
    if (name == "time" || name == "monotonic" || name == "perf_counter") {
        check_member_arity("time", name, args.size(), call);
        return {name == "time" ? "ktl_time()" : "ktl_monotonic()", Type::float_()};
    }
    if (name == "sleep") {
        check_member_arity("time", name, args.size(), call);
        auto s = number_text(ctx, args[0]);
        if (!s)
            throw_error("sleep() needs a number of seconds", call.line, call.column);
        return {fmt::format("ktl_sleep({})", *s), Type::no_value()};
    }
    if (name == "strftime") {
        check_member_arity("time", name, args.size(), call);
        CompiledExpr format = compile_expr(ctx, args[0]);
        if (!format.type.is<Type::Str>())
            throw_error("strftime() needs a format string first", call.line, call.column);
        std::string when = "ktl_time()";
        if (args.size() == 2) {
            auto t = number_text(ctx, args[1]);
            if (!t)
                throw_error("strftime() needs a number of seconds", args[1].line, args[1].column);
            when = *t;
        }
        return {fmt::format("ktl_time_strftime({}, {})", format.text, when), Type::str()};
    }
    no_function(fmt::format("time has no function '{}'", name), call);
}

CompiledExpr compile_random_call(CodegenContext &ctx, const std::string &name,
                                 const std::vector<Expr> &args, const Expr &call) {
    if (name == "random") {
        check_member_arity("random", name, args.size(), call);
        return {"ktl_random()", Type::float_()};
    }
    if (name == "seed") {
        check_member_arity("random", name, args.size(), call);
        std::string s = check_int_operand(ctx, args[0], "seed()");
        return {fmt::format("ktl_seed({})", s), Type::no_value()};
    }
    if (name == "randint") {
        check_member_arity("random", name, args.size(), call);
        std::string a = check_int_operand(ctx, args[0], "randint() bound");
        std::string b = check_int_operand(ctx, args[1], "randint() bound");
        return {fmt::format("ktl_randint({}, {})", a, b), Type::int_()};
    }
    if (name == "uniform") {
        check_member_arity("random", name, args.size(), call);
        auto a = number_text(ctx, args[0]);
        auto b = number_text(ctx, args[1]);
        if (!a || !b)
            throw_error("uniform() needs numbers", call.line, call.column);
        std::string t = fresh_temp(ctx, "a");
        return {
            fmt::format("({{ double {0} = {1}; {0} + ({2} - {0}) * ktl_random(); }})", t, *a, *b),
            Type::float_()};
    }
    if (name == "choice" || name == "shuffle") {
        check_member_arity("random", name, args.size(), call);
        CompiledExpr xs = compile_expr(ctx, args[0]);
        const auto *list = xs.type.as<Type::List>();
        if (!list)
            throw_error(fmt::format("{}() needs a list", name), call.line, call.column);
        std::string l = fresh_temp(ctx, "l");
        if (name == "choice")
            return {fmt::format("({{ {0} {1} = {2}; {1}->data[ktl_choice_index({1}->len)]; }})",
                                c_type_name(xs.type), l, xs.text),
                    *list->element};
        // Fisher-Yates from the end, as Python shuffles.
        std::string i = fresh_temp(ctx, "i"), j = fresh_temp(ctx, "j"), t = fresh_temp(ctx, "t");
        return {fmt::format("({{ {0} {1} = {2}; for (int64_t {3} = {1}->len - 1; {3} > 0; {3}--) "
                            "{{ int64_t {4} = ktl_randint(0, {3}); {5} {6} = {1}->data[{3}]; "
                            "{1}->data[{3}] = {1}->data[{4}]; {1}->data[{4}] = {6}; }} }})",
                            c_type_name(xs.type), l, xs.text, i, j, c_type_name(*list->element), t),
                Type::no_value()};
    }
    no_function(fmt::format("random has no function '{}'", name), call);
}

constexpr const char *kPrangeOutsideLoop =
    "prange() can only be the iterable of a for loop: `for i in prange(n):`";

} // namespace

CompiledExpr compile_module_call(CodegenContext &ctx, const std::string &module,
                                 const std::string &name, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call) {
    if (const Library *library = find_library(ctx, module))
        return compile_library_call(ctx, *library, name, args, kwargs, call);
    bool listdir = module == "os" && name == "listdir";
    if (!listdir && !kwargs.empty()) {
        const Keyword &k = kwargs.front();
        throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", name, k.name),
                    k.value.line, k.value.column);
    }
    if (listdir) {
        std::vector<const Expr *> given;
        for (const Expr &a : args)
            given.push_back(&a);
        for (const Keyword &k : kwargs) {
            if (k.name != "path")
                throw_error(
                    fmt::format("listdir() got an unexpected keyword argument '{}'", k.name),
                    k.value.line, k.value.column);
            given.push_back(&k.value);
        }
        if (given.size() > 1)
            throw_error("listdir() takes at most one argument", call.line, call.column);
        std::string path = "KTL_LIT(\".\")";
        if (!given.empty()) {
            CompiledExpr p = compile_expr(ctx, *given[0]);
            if (!p.type.is<Type::Str>())
                throw_error(fmt::format("listdir() needs a str, not {}", p.type), given[0]->line,
                            given[0]->column);
            path = p.text;
        }
        return {fmt::format("ktl_os_listdir({})", path), Type::list(Type::str())};
    }
    if (module == "math")
        return compile_math_call(ctx, name, args, call);
    if (module == "os")
        return compile_os_call(ctx, name, args, call);
    if (module == "os.path")
        return compile_os_path_call(ctx, name, args, call);
    if (module == "sys")
        return compile_sys_call(ctx, name, args, call);
    if (module == "time")
        return compile_time_call(ctx, name, args, call);
    if (module == "random")
        return compile_random_call(ctx, name, args, call);
    if (module == "parallel") {
        if (name == "prange")
            throw_error(kPrangeOutsideLoop, call.line, call.column);
        throw_error(fmt::format("module 'parallel' has no function '{}' (it has prange)", name),
                    call.line, call.column);
    }
    throw_error(fmt::format("{} has no function '{}'", module, name), call.line, call.column);
}

CompiledExpr compile_environ_method(CodegenContext &ctx, const std::string &method,
                                    const std::vector<Expr> &args,
                                    const std::vector<Keyword> &kwargs, const Expr &call) {
    if (method != "get")
        throw_error(fmt::format("os.environ.{}() isn't supported; use os.environ.get(name) or "
                                "os.getenv(name)",
                                method),
                    call.line, call.column);
    if (!kwargs.empty()) {
        const Keyword &k = kwargs.front();
        throw_error(fmt::format("get() got an unexpected keyword argument '{}'", k.name),
                    k.value.line, k.value.column);
    }
    return compile_getenv(ctx, "get", args, call);
}

CompiledExpr compile_module_attribute(CodegenContext &ctx, const std::string &module,
                                      const std::string &member, uint64_t line, uint64_t column) {
    if (const Library *library = find_library(ctx, module))
        return compile_library_attribute(ctx, *library, member, line, column);
    if (module == "math") {
        if (member == "e")
            return {"KTL_E", Type::float_()};
        if (member == "pi")
            return {"KTL_PI", Type::float_()};
        if (member == "tau")
            return {"KTL_TAU", Type::float_()};
        if (member == "inf")
            return {"INFINITY", Type::float_()};
        if (member == "nan")
            return {"NAN", Type::float_()};
        throw_error(fmt::format("math has no constant '{}'", member), line, column);
    }
    auto str_constant = [](std::string_view text) {
        return CompiledExpr{c_str_literal(text), Type::str()};
    };
    if ((module == "os" || module == "os.path") && member == "sep")
        return {"ktl_mkstr(ktl_sep_s, 1)", Type::str()};
    if (module == "os" && member == "linesep")
        return str_constant("\n");
    if (module == "os" && member == "name")
        return str_constant("posix");
    if (module == "os" && member == "environ")
        throw_error("os.environ is only supported as os.environ.get(name) or "
                    "os.environ.get(name, default)",
                    line, column);
    if (module == "sys" && member == "argv")
        return {"ktl_argv", Type::list(Type::str())};
    if (module == "sys" && (member == "stdin" || member == "stdout" || member == "stderr"))
        return {"ktl_" + member, Type::file()};
    if (module == "sys" && member == "platform")
        return str_constant("linux");
    if (module == "parallel" && member == "prange")
        throw_error(kPrangeOutsideLoop, line, column);
    throw_error(fmt::format("module '{}' has no attribute '{}' (or it isn't supported yet)", module,
                            member),
                line, column);
}

} // namespace kestal
