// The built-ins that consume a whole iterable: list(), dict(), set(),
// sorted(), any(), all(), sum(), min() and max(), and min() and max() of
// several values. compile_builtin_call (builtins.cpp) reaches each one after
// its argument-count and keyword rules; every function throws the first
// CompileError of the call.
#pragma once

#include "codegen/core/context.h"

#include <string>
#include <vector>

namespace kestal {

CompiledExpr compile_list_call(CodegenContext &ctx, const Expr &arg, const Expr &call,
                               const Type *expected);
// `dict()` (arg null) or `dict(x)`.
CompiledExpr compile_dict_constructor(CodegenContext &ctx, const Expr *arg, const Expr &call,
                                      const Type *expected);
CompiledExpr compile_set_call(CodegenContext &ctx, const std::vector<Expr> &args,
                              const std::vector<Keyword> &kwargs, const Expr &call,
                              const Type *expected);
CompiledExpr compile_sorted_call(CodegenContext &ctx, const Expr &arg,
                                 const std::vector<Keyword> &kwargs, const Expr &call,
                                 const Type *expected);
CompiledExpr compile_any_all(CodegenContext &ctx, bool any, const Expr &arg, const Expr &call);
// `sum(x)` or `sum(x, start)`.
CompiledExpr compile_sum_call(CodegenContext &ctx, const std::vector<Expr> &args, const Expr &call);
// `min`/`max` of one iterable, or with `key=` or `default=`; the keywords
// are already known to be among those allowed.
CompiledExpr compile_min_max_call(CodegenContext &ctx, const std::string &name,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  const Expr &call);
// `min`/`max` of the values, already compiled in order.
CompiledExpr compile_min_max_values(CodegenContext &ctx, const std::string &name,
                                    const std::vector<CompiledExpr> &values, const Expr &call);

} // namespace kestal
