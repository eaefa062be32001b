// Calls of the built-in functions, and the entries through which the
// expression compiler reaches methods of built-in values and the built-in
// modules. Built-ins, methods and modules without a lowering yet are refused
// with a clear message.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

// A call of a built-in function by name. Throws "unknown function '{}'" for
// a name that is no built-in, and every error of the call's checks.
CompiledExpr compile_builtin_call(CodegenContext &ctx, const std::string &name,
                                  const std::vector<Expr> &args, const std::vector<Keyword> &kwargs,
                                  const Expr &call, const Type *expected);
// Throws "{}() takes {} argument(s), got {}" unless min <= count <= max.
void check_builtin_arity(const std::string &name, size_t count, size_t min, size_t max,
                         uint64_t line, uint64_t column);
// Stores the value in a `_pv` temporary declared in `pre` and returns the
// statement printing it (its repr form when `repr` is set).
std::string compile_print_value(CodegenContext &ctx, std::string &pre, const CompiledExpr &value,
                                bool repr);
// Compiles each argument, which must be a str.
std::vector<std::string> compile_str_args(CodegenContext &ctx, const std::string &name,
                                          const std::vector<Expr> &args);
bool type_contains_class(const Type &type);
// True when str() of the value (repr() with `repr`) may call a user
// __str__ or __repr__: a class whose subtree has one written, or a
// dataclass field or container item (shown by repr) that may. A field
// whose Type is not known yet counts as one that may.
bool text_runs_user_code(CodegenContext &ctx, const Type &type, bool repr);
// True when some class of the program has a written __str__ or __repr__:
// without one, no text runs user code.
bool program_has_text_methods(CodegenContext &ctx);

CompiledExpr compile_method_call(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call);
CompiledExpr compile_module_call(CodegenContext &ctx, const std::string &module,
                                 const std::string &name, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call);
// `os.environ.get(name[, default])`, the one use of os.environ.
CompiledExpr compile_environ_method(CodegenContext &ctx, const std::string &method,
                                    const std::vector<Expr> &args,
                                    const std::vector<Keyword> &kwargs, const Expr &call);
CompiledExpr compile_module_attribute(CodegenContext &ctx, const std::string &module,
                                      const std::string &member, uint64_t line, uint64_t column);

} // namespace kestal
