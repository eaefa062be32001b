// The built-in modules at compile time: `module.function(...)` becomes a
// runtime call or a short C expression and `module.name` a constant. No
// module object exists at run time. The math module is complete: its
// functions share the lowerings of the built-in names (math.sqrt(x) compiles
// as sqrt(x) does), except that math.pow always gives a float and
// math.isqrt is the runtime's exact integer square root. The other modules
// are refused with a clear message until their lowerings exist.
#include "codegen/builtins/builtins.h"

#include "codegen/builtins/numeric.h"
#include "codegen/expr/expr.h"

namespace kestal {

namespace {

bool is_math_constant(const std::string &name) {
    return name == "e" || name == "pi" || name == "tau" || name == "inf" || name == "nan";
}

CompiledExpr compile_math_call(CodegenContext &ctx, const std::string &name,
                               const std::vector<Expr> &args, const Expr &call) {
    if (is_math_function_one(name) || is_math_function_two(name))
        return compile_math_function(ctx, name, args, call, false);
    if (name == "ceil" || name == "floor")
        return compile_builtin_call(ctx, name, args, {}, call, nullptr);
    if (name == "isqrt") {
        check_builtin_arity(name, args.size(), 1, 1, call.line, call.column);
        std::string n = check_int_operand(ctx, args[0], "isqrt() argument");
        return {fmt::format("ktl_isqrt({})", n), Type::int_()};
    }
    if (is_math_constant(name))
        throw_error(fmt::format("math.{} is a constant, not a function", name), call.line,
                    call.column);
    throw_error(fmt::format("math has no function '{}'", name), call.line, call.column);
}

} // namespace

CompiledExpr compile_module_call(CodegenContext &ctx, const std::string &module,
                                 const std::string &name, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call) {
    bool listdir = module == "os" && name == "listdir";
    if (!listdir && !kwargs.empty()) {
        const Keyword &k = kwargs.front();
        throw_error(fmt::format("{}() got an unexpected keyword argument '{}'", name, k.name),
                    k.value.line, k.value.column);
    }
    if (module == "math")
        return compile_math_call(ctx, name, args, call);
    throw_error(fmt::format("{}.{}() isn't supported yet", module, name), call.line, call.column);
}

CompiledExpr compile_module_attribute(CodegenContext &ctx, const std::string &module,
                                      const std::string &member, uint64_t line, uint64_t column) {
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
    throw_error(fmt::format("{}.{} isn't supported yet", module, member), line, column);
}

} // namespace kestal
