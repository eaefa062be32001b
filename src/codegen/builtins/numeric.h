// The numeric and conversion built-ins (len, str, repr, int, float, bool,
// abs, round, ceil, floor, ord, chr, exit) and the math functions, shared by
// the built-in call dispatch and the `math` module. Each maps a few values
// onto one runtime function, C library function or C expression.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// One of the value built-ins above, its arguments already compiled in order
// (`exprs` are their expressions, for positions). Throws the arity and Type
// errors of the built-in; none when `name` is not one of them.
std::optional<CompiledExpr> compile_value_builtin(CodegenContext &ctx, const std::string &name,
                                                  const std::vector<CompiledExpr> &args,
                                                  const std::vector<Expr> &exprs, const Expr &call);

// `len(s.split())` and `len(s.split(sep))` of a str s, counted without
// building the list; none when the call has another shape or the receiver
// or the separator is not a str.
std::optional<CompiledExpr> compile_len_count(CodegenContext &ctx, const std::vector<Expr> &args);

// The math function names: one-argument (sin, sqrt, ...) and two-argument
// (pow, fmod, atan2, hypot) C library functions of doubles.
bool is_math_function_one(std::string_view name);
bool is_math_function_two(std::string_view name);
// A call of a math function of either list; compiles its arguments. Every
// math function gives a float and raises Python's math errors at run time;
// with `builtin_pow`, pow() is the float power `**` (Python's built-in pow
// and its errors) rather than math.pow. Throws the arity and Type errors.
CompiledExpr compile_math_function(CodegenContext &ctx, const std::string &name,
                                   const std::vector<Expr> &args, const Expr &call,
                                   bool builtin_pow);

} // namespace kestal
