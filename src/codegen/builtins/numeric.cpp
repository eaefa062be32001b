// The numeric and conversion built-ins and the math functions: compiled
// values in, one C expression out. Float-to-int conversions (int(), round(),
// ceil(), floor()) go through the runtime's checked conversions, so NaN, the
// infinities and values beyond 64 bits raise Python's ValueError or
// OverflowError instead of reaching C's undefined conversion. The math
// functions go through the runtime's `ktl_math_*` wrappers, which raise
// Python's math errors instead of returning a NaN or an infinity.
#include "codegen/builtins/numeric.h"

#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtins.h"
#include "codegen/classes/classes.h"
#include "codegen/core/ctypes.h"
#include "codegen/expr/expr.h"
#include "codegen/expr/strings.h"

#include <algorithm>
#include <array>

namespace kestal {

namespace {

bool is_number(const Type &t) {
    return t.is<Type::Int>() || t.is<Type::Float>();
}

// The argument-count check of a built-in, with the counts of its table row.
void arity(const std::string &name, size_t count, const Expr &call) {
    const BuiltinFunction *b = find_builtin(name);
    if (!b)
        internal_fault(fmt::format("'{}' has no row in the built-in table", name));
    check_builtin_arity(name, count, b->min_args, b->max_args, call.line, call.column);
}

[[noreturn]] void fail(const std::string &message, const Expr &at) {
    throw_error(message, at.line, at.column);
}

std::string float_arg(const CompiledExpr &x) {
    return widen_to_float_text(fmt::format("({})", x.text), x.type);
}

CompiledExpr compile_len(CodegenContext &ctx, const std::vector<CompiledExpr> &args,
                         const Expr &call) {
    arity("len", args.size(), call);
    const CompiledExpr &x = args[0];
    switch (x.type.tag()) {
    case TypeKind::Str:
        return {fmt::format("({}).len", x.text), Type::int_()};
    case TypeKind::List:
    case TypeKind::Dict:
        return {fmt::format("({})->len", x.text), Type::int_()};
    case TypeKind::Set:
        return {fmt::format("({})->used", x.text), Type::int_()};
    case TypeKind::Tuple:
        return {fmt::format("((void)({}), INT64_C({}))", x.text,
                            x.type.as<Type::Tuple>()->elements.size()),
                Type::int_()};
    case TypeKind::Range:
        return {fmt::format("ktl_range_len({})", x.text), Type::int_()};
    case TypeKind::Class: {
        const std::string &cls = x.type.as<Type::Class>()->name;
        auto r = call_dunder_if_defined(ctx, x.text, cls, "__len__", {}, call.line, call.column);
        if (!r)
            fail(fmt::format("object of type '{}' has no len() (define __len__)", cls), call);
        if (!r->type.is<Type::Int>())
            fail(fmt::format("__len__() should return an int, not {}", r->type), call);
        return {r->text, Type::int_()};
    }
    case TypeKind::Int:
    case TypeKind::Float:
    case TypeKind::Bool:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    fail(fmt::format("{:#} has no len()", x.type), call);
}

CompiledExpr compile_int(const std::vector<CompiledExpr> &args, const Expr &call) {
    arity("int", args.size(), call);
    const CompiledExpr &x = args[0];
    switch (x.type.tag()) {
    case TypeKind::Int:
        return x;
    case TypeKind::Float:
        return {fmt::format("ktl_float_to_int({})", x.text), Type::int_()};
    case TypeKind::Bool:
        return {fmt::format("((int64_t)({}))", x.text), Type::int_()};
    case TypeKind::Str:
        return {fmt::format("ktl_parse_int({})", x.text), Type::int_()};
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::Class:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    fail(fmt::format("can't convert {:#} to int", x.type), call);
}

CompiledExpr compile_float(const std::vector<CompiledExpr> &args, const Expr &call) {
    arity("float", args.size(), call);
    const CompiledExpr &x = args[0];
    switch (x.type.tag()) {
    case TypeKind::Int:
    case TypeKind::Bool:
        return {fmt::format("((double)({}))", x.text), Type::float_()};
    case TypeKind::Float:
        return x;
    case TypeKind::Str:
        return {fmt::format("ktl_parse_float({})", x.text), Type::float_()};
    case TypeKind::List:
    case TypeKind::Dict:
    case TypeKind::Set:
    case TypeKind::Tuple:
    case TypeKind::Range:
    case TypeKind::File:
    case TypeKind::Function:
    case TypeKind::Class:
    case TypeKind::None:
    case TypeKind::Optional:
    case TypeKind::NoValue:
        break;
    }
    fail(fmt::format("can't convert {:#} to float", x.type), call);
}

// ceil(), floor() and round(): an int stays itself; round() with digits
// gives a float for an int as for a float (`round(7, 1)` is 7.0); a float
// goes through the checked conversion.
CompiledExpr compile_rounding(const std::string &name, const std::vector<CompiledExpr> &args,
                              const Expr &call) {
    arity(name, args.size(), call);
    const CompiledExpr &x = args[0];
    if (!is_number(x.type))
        fail(fmt::format("{}() needs a number, not {}", name, x.type), call);
    if (args.size() == 2) {
        const CompiledExpr &digits = args[1];
        if (!digits.type.is<Type::Int>())
            fail("round() digits must be int", call);
        return {fmt::format("ktl_round_n({}, {})", float_arg(x), digits.text), Type::float_()};
    }
    if (x.type.is<Type::Int>())
        return x;
    if (name == "round")
        return {fmt::format("ktl_round({})", x.text), Type::int_()};
    return {fmt::format("ktl_float_to_int({}({}))", name, x.text), Type::int_()};
}

CompiledExpr compile_str_like(CodegenContext &ctx, const std::string &name,
                              const std::vector<CompiledExpr> &args, const std::vector<Expr> &exprs,
                              const Expr &call) {
    bool repr = name == "repr";
    arity(name, args.size(), call);
    if (args.empty())
        return {"KTL_LIT(\"\")", Type::str()};
    return {compile_to_str(ctx, args[0], repr, call.line, call.column), Type::str()};
}

CompiledExpr compile_simple(const std::string &name, const std::vector<CompiledExpr> &args,
                            const Expr &call) {
    arity(name, args.size(), call);
    if (name == "exit") {
        if (args.empty())
            return {"ktl_sys_exit(0)", Type::no_value()};
        if (!args[0].type.is<Type::Int>())
            fail("exit() code must be an int", call);
        return {fmt::format("ktl_sys_exit({})", args[0].text), Type::no_value()};
    }
    const CompiledExpr &x = args[0];
    if (name == "bool") {
        auto truth = truth_test_expr(fmt::format("({})", x.text), x.type);
        if (!truth)
            fail("bool() needs a value", call);
        return {fmt::format("((bool){})", *truth), Type::bool_()};
    }
    if (name == "abs") {
        if (x.type.is<Type::Int>())
            return {fmt::format("ktl_iabs({})", x.text), Type::int_()};
        if (x.type.is<Type::Float>())
            return {fmt::format("fabs({})", x.text), Type::float_()};
        fail(fmt::format("abs() needs a number, not {}", x.type), call);
    }
    if (name == "ord") {
        if (!x.type.is<Type::Str>())
            fail("ord() needs a str", call);
        return {fmt::format("ktl_ord({})", x.text), Type::int_()};
    }
    if (!x.type.is<Type::Int>())
        fail("chr() needs an int", call);
    return {fmt::format("ktl_chr({})", x.text), Type::str()};
}

} // namespace

std::optional<CompiledExpr> compile_value_builtin(CodegenContext &ctx, const std::string &name,
                                                  const std::vector<CompiledExpr> &args,
                                                  const std::vector<Expr> &exprs,
                                                  const Expr &call) {
    if (name == "len")
        return compile_len(ctx, args, call);
    if (name == "str" || name == "repr")
        return compile_str_like(ctx, name, args, exprs, call);
    if (name == "int")
        return compile_int(args, call);
    if (name == "float")
        return compile_float(args, call);
    if (name == "ceil" || name == "floor" || name == "round")
        return compile_rounding(name, args, call);
    if (name == "bool" || name == "abs" || name == "ord" || name == "chr" || name == "exit")
        return compile_simple(name, args, call);
    return std::nullopt;
}

std::optional<CompiledExpr> compile_len_count(CodegenContext &ctx, const std::vector<Expr> &args) {
    if (args.size() != 1)
        return std::nullopt;
    const auto *m = args[0].as<Expr::MethodCall>();
    if (!m || m->method != "split" || !m->kwargs.empty() || m->args.size() > 1)
        return std::nullopt;
    // `len(lib.split(s))` calls the module's function.
    if (resolve_module_ref(ctx, *m->receiver))
        return std::nullopt;
    CompiledExpr receiver = compile_expr(ctx, *m->receiver);
    if (!receiver.type.is<Type::Str>())
        return std::nullopt;
    if (m->args.empty())
        return CompiledExpr{fmt::format("ktl_str_count_words({})", receiver.text), Type::int_()};
    CompiledExpr sep = compile_expr(ctx, m->args[0]);
    if (!sep.type.is<Type::Str>())
        return std::nullopt;
    return CompiledExpr{fmt::format("ktl_str_split_count({}, {})", receiver.text, sep.text),
                        Type::int_()};
}

bool is_math_function_one(std::string_view name) {
    const BuiltinFunction *b = find_builtin(name);
    return b && b->has(kBuiltinMath) && b->min_args == 1;
}

bool is_math_function_two(std::string_view name) {
    const BuiltinFunction *b = find_builtin(name);
    return b && b->has(kBuiltinMath) && b->min_args == 2;
}

CompiledExpr compile_math_function(CodegenContext &ctx, const std::string &name,
                                   const std::vector<Expr> &args, const Expr &call,
                                   bool builtin_pow) {
    if (name == "log" && args.size() == 2) {
        CompiledExpr x = compile_expr(ctx, args[0]);
        CompiledExpr base = compile_expr(ctx, args[1]);
        if (!is_number(x.type) || !is_number(base.type))
            fail("log() needs numbers", call);
        return {fmt::format("ktl_math_log_base({}, {})", float_arg(x), float_arg(base)),
                Type::float_()};
    }
    if (is_math_function_one(name)) {
        arity(name, args.size(), call);
        CompiledExpr x = compile_expr(ctx, args[0]);
        if (!is_number(x.type))
            fail(fmt::format("{}() needs a number, not {}", name, x.type), args[0]);
        return {fmt::format("ktl_math_{}({})", name, float_arg(x)), Type::float_()};
    }
    arity(name, args.size(), call);
    CompiledExpr a = compile_expr(ctx, args[0]);
    CompiledExpr b = compile_expr(ctx, args[1]);
    if (!is_number(a.type) || !is_number(b.type))
        fail(fmt::format("{}() needs numbers", name), call);
    // The built-in pow() is the float power `**`, with its errors; its
    // result is a float for ints too (`pow(2, -1)` is 0.5).
    if (builtin_pow && name == "pow")
        return {fmt::format("ktl_fpow({}, {})", float_arg(a), float_arg(b)), Type::float_()};
    return {fmt::format("ktl_math_{}({}, {})", name, float_arg(a), float_arg(b)), Type::float_()};
}

} // namespace kestal
