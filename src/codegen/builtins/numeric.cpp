// The numeric and conversion built-ins and the math functions: compiled
// values in, one C expression out. Float-to-int conversions (int(), round(),
// ceil(), floor()) go through the runtime's checked conversions, so NaN, the
// infinities and values beyond 64 bits raise Python's ValueError or
// OverflowError instead of reaching C's undefined conversion.
#include "codegen/builtins/numeric.h"

#include "codegen/builtins/builtins.h"
#include "codegen/classes/classes.h"
#include "codegen/expr/expr.h"
#include "codegen/expr/strings.h"
#include "codegen/core/ctypes.h"

#include <algorithm>
#include <array>

namespace kestal {

namespace {

constexpr std::array<std::string_view, 15> kMathOne = {"sin",  "cos",  "tan",  "exp",  "log",
                                                       "sqrt", "asin", "acos", "atan", "log2",
                                                       "fabs", "sinh", "cosh", "tanh", "log10"};
constexpr std::array<std::string_view, 4> kMathTwo = {"pow", "fmod", "atan2", "hypot"};

bool is_number(const Type &t) { return t.is<Type::Int>() || t.is<Type::Float>(); }

void arity(const std::string &name, const std::vector<CompiledExpr> &args, size_t min, size_t max,
           const Expr &call) {
    check_builtin_arity(name, args.size(), min, max, call.line, call.column);
}

[[noreturn]] void fail(const std::string &message, const Expr &at) {
    throw_error(message, at.line, at.column);
}

CompiledExpr compile_len(CodegenContext &ctx, const std::vector<CompiledExpr> &args, const Expr &call) {
    arity("len", args, 1, 1, call);
    const CompiledExpr &x = args[0];
    switch (x.type.tag()) {
    case TypeKind::Str: return {fmt::format("({}).len", x.text), Type::int_()};
    case TypeKind::List:
    case TypeKind::Dict: return {fmt::format("({})->len", x.text), Type::int_()};
    case TypeKind::Set: return {fmt::format("({})->used", x.text), Type::int_()};
    case TypeKind::Tuple:
        return {fmt::format("((void)({}), INT64_C({}))", x.text, x.type.as<Type::Tuple>()->elements.size()),
                Type::int_()};
    case TypeKind::Range: return {fmt::format("ktl_range_len({})", x.text), Type::int_()};
    case TypeKind::Class: {
        const std::string &cls = x.type.as<Type::Class>()->name;
        auto r = call_dunder_if_defined(ctx, x.text, cls, "__len__", {}, call.line, call.column);
        if (!r) fail(fmt::format("object of type '{}' has no len() (define __len__)", cls), call);
        if (!r->type.is<Type::Int>())
            fail(fmt::format("__len__() should return an int, not {}", r->type), call);
        return {r->text, Type::int_()};
    }
    default: fail(fmt::format("{:#} has no len()", x.type), call);
    }
}

CompiledExpr compile_int(const std::vector<CompiledExpr> &args, const Expr &call) {
    arity("int", args, 1, 1, call);
    const CompiledExpr &x = args[0];
    switch (x.type.tag()) {
    case TypeKind::Int: return x;
    case TypeKind::Float: return {fmt::format("ktl_float_to_int({})", x.text), Type::int_()};
    case TypeKind::Bool: return {fmt::format("((int64_t)({}))", x.text), Type::int_()};
    case TypeKind::Str: return {fmt::format("ktl_parse_int({})", x.text), Type::int_()};
    default: fail(fmt::format("can't convert {:#} to int", x.type), call);
    }
}

CompiledExpr compile_float(const std::vector<CompiledExpr> &args, const Expr &call) {
    arity("float", args, 1, 1, call);
    const CompiledExpr &x = args[0];
    switch (x.type.tag()) {
    case TypeKind::Int:
    case TypeKind::Bool: return {fmt::format("((double)({}))", x.text), Type::float_()};
    case TypeKind::Float: return x;
    case TypeKind::Str: return {fmt::format("ktl_parse_float({})", x.text), Type::float_()};
    default: fail(fmt::format("can't convert {:#} to float", x.type), call);
    }
}

// ceil(), floor() and round(): an int stays itself (round() with digits
// rounds it as Python does, to an int); a float goes through the checked
// conversion.
CompiledExpr compile_rounding(const std::string &name, const std::vector<CompiledExpr> &args,
                              const Expr &call) {
    arity(name, args, 1, name == "round" ? 2 : 1, call);
    const CompiledExpr &x = args[0];
    if (!is_number(x.type)) fail(fmt::format("{}() needs a number, not {}", name, x.type), call);
    if (args.size() == 2) {
        const CompiledExpr &digits = args[1];
        if (!digits.type.is<Type::Int>()) fail("round() digits must be int", call);
        if (x.type.is<Type::Int>())
            return {fmt::format("ktl_iround_n({}, {})", x.text, digits.text), Type::int_()};
        return {fmt::format("ktl_round_n({}, {})", x.text, digits.text), Type::float_()};
    }
    if (x.type.is<Type::Int>()) return x;
    if (name == "round") return {fmt::format("ktl_round({})", x.text), Type::int_()};
    return {fmt::format("ktl_float_to_int({}({}))", name, x.text), Type::int_()};
}

CompiledExpr compile_str_like(CodegenContext &ctx, const std::string &name,
                              const std::vector<CompiledExpr> &args, const std::vector<Expr> &exprs,
                              const Expr &call) {
    bool repr = name == "repr";
    arity(name, args, repr ? 1 : 0, 1, call);
    if (args.empty()) return {"KTL_LIT(\"\")", Type::str()};
    return {compile_to_str(ctx, args[0], repr, exprs[0].line, exprs[0].column), Type::str()};
}

CompiledExpr compile_simple(const std::string &name, const std::vector<CompiledExpr> &args,
                            const Expr &call) {
    arity(name, args, name == "exit" ? 0 : 1, 1, call);
    if (name == "exit") {
        if (args.empty()) return {"ktl_sys_exit(0)", Type::no_value()};
        if (!args[0].type.is<Type::Int>()) fail("exit() code must be an int", call);
        return {fmt::format("ktl_sys_exit({})", args[0].text), Type::no_value()};
    }
    const CompiledExpr &x = args[0];
    if (name == "bool") {
        auto truth = truth_test_expr(fmt::format("({})", x.text), x.type);
        if (!truth) fail("bool() needs a value", call);
        return {fmt::format("((bool){})", *truth), Type::bool_()};
    }
    if (name == "abs") {
        if (x.type.is<Type::Int>()) return {fmt::format("ktl_iabs({})", x.text), Type::int_()};
        if (x.type.is<Type::Float>()) return {fmt::format("fabs({})", x.text), Type::float_()};
        fail(fmt::format("abs() needs a number, not {}", x.type), call);
    }
    if (name == "ord") {
        if (!x.type.is<Type::Str>()) fail("ord() needs a str", call);
        return {fmt::format("ktl_ord({})", x.text), Type::int_()};
    }
    if (!x.type.is<Type::Int>()) fail("chr() needs an int", call);
    return {fmt::format("ktl_chr({})", x.text), Type::str()};
}

std::string float_arg(const CompiledExpr &x) {
    return widen_to_float_text(fmt::format("({})", x.text), x.type);
}

} // namespace

std::optional<CompiledExpr> compile_value_builtin(CodegenContext &ctx, const std::string &name,
                                                  const std::vector<CompiledExpr> &args,
                                                  const std::vector<Expr> &exprs, const Expr &call) {
    if (name == "len") return compile_len(ctx, args, call);
    if (name == "str" || name == "repr") return compile_str_like(ctx, name, args, exprs, call);
    if (name == "int") return compile_int(args, call);
    if (name == "float") return compile_float(args, call);
    if (name == "ceil" || name == "floor" || name == "round") return compile_rounding(name, args, call);
    if (name == "bool" || name == "abs" || name == "ord" || name == "chr" || name == "exit")
        return compile_simple(name, args, call);
    return std::nullopt;
}

std::optional<CompiledExpr> compile_len_count(CodegenContext &ctx, const std::vector<Expr> &args) {
    if (args.size() != 1) return std::nullopt;
    const auto *m = args[0].as<Expr::MethodCall>();
    if (!m || m->method != "split" || !m->kwargs.empty() || m->args.size() > 1) return std::nullopt;
    // `len(lib.split(s))` calls the module's function.
    if (resolve_module_ref(ctx, *m->receiver)) return std::nullopt;
    CompiledExpr receiver = compile_expr(ctx, *m->receiver);
    if (!receiver.type.is<Type::Str>()) return std::nullopt;
    if (m->args.empty())
        return CompiledExpr{fmt::format("ktl_str_count_words({})", receiver.text), Type::int_()};
    CompiledExpr sep = compile_expr(ctx, m->args[0]);
    if (!sep.type.is<Type::Str>()) return std::nullopt;
    return CompiledExpr{fmt::format("ktl_str_split_count({}, {})", receiver.text, sep.text),
                        Type::int_()};
}

bool is_math_function_one(std::string_view name) {
    return std::find(kMathOne.begin(), kMathOne.end(), name) != kMathOne.end();
}

bool is_math_function_two(std::string_view name) {
    return std::find(kMathTwo.begin(), kMathTwo.end(), name) != kMathTwo.end();
}

CompiledExpr compile_math_function(CodegenContext &ctx, const std::string &name,
                                   const std::vector<Expr> &args, const Expr &call, bool int_pow) {
    // log(x, base) is log(x) / log(base), as Python computes it.
    if (name == "log" && args.size() == 2) {
        CompiledExpr x = compile_expr(ctx, args[0]);
        CompiledExpr base = compile_expr(ctx, args[1]);
        if (!is_number(x.type) || !is_number(base.type)) fail("log() needs numbers", call);
        return {fmt::format("(log({}) / log({}))", float_arg(x), float_arg(base)), Type::float_()};
    }
    if (is_math_function_one(name)) {
        check_builtin_arity(name, args.size(), 1, name == "log" ? 2 : 1, call.line, call.column);
        CompiledExpr x = compile_expr(ctx, args[0]);
        if (!is_number(x.type)) fail(fmt::format("{}() needs a number, not {}", name, x.type), args[0]);
        return {fmt::format("{}({})", name, float_arg(x)), Type::float_()};
    }
    check_builtin_arity(name, args.size(), 2, 2, call.line, call.column);
    CompiledExpr a = compile_expr(ctx, args[0]);
    CompiledExpr b = compile_expr(ctx, args[1]);
    if (!is_number(a.type) || !is_number(b.type)) fail(fmt::format("{}() needs numbers", name), call);
    if (int_pow && name == "pow" && a.type.is<Type::Int>() && b.type.is<Type::Int>())
        return compile_binary_op(ctx, BinOp::Pow, a, b, call);
    return {fmt::format("{}({}, {})", name, float_arg(a), float_arg(b)), Type::float_()};
}

} // namespace kestal
