// Exception objects, the operand of `raise`, and the `except` clauses of a
// `try`. An exception object is a class object whose struct starts with the
// runtime's header (class id, str(e) text, repr(e) argument text), so the
// runtime raises, matches and reports it without knowing its class; the two
// texts are derived from the constructor arguments when it is built.
//
// Every function throws the first CompileError it meets.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

// A new object of exception class `cls` built from the arguments: each
// argument is evaluated once, in order, then the texts are set, then the
// class's own `__init__` (if its chain defines one) runs.
CompiledExpr compile_exception_construct(CodegenContext &ctx, const std::string &cls,
                                         const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, uint64_t line,
                                         uint64_t column);
// `BaseException.__init__(self, args...)` on the receiver text of class
// `cls`: sets the object's texts from the arguments. Its Type is no-value.
CompiledExpr compile_base_exception_init(CodegenContext &ctx, const std::string &cls,
                                         const std::string &receiver, const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, uint64_t line,
                                         uint64_t column);
// `super().__init__(...)` in a method of an exception class whose bases
// define no `__init__` of their own: BaseException's, on the method's
// receiver. None for any other `super()` call.
std::optional<CompiledExpr> compile_super_exception_init(CodegenContext &ctx,
                                                         const Expr::MethodCall &call,
                                                         const Expr &position);
// The exception object `raise E` (or `from E`) raises: a class name is
// instantiated with no arguments; any other expression must be an object of
// a class deriving from BaseException.
CompiledExpr compile_raise_operand(CodegenContext &ctx, const Expr &operand);
// The body, the `except` clauses and the `else` body of a `try`, at the
// current indentation; the `finally` body is the statement compiler's.
void compile_try_except(CodegenContext &ctx, const Stmt::Try &s);
// The name tracebacks show for the function being compiled.
std::string traceback_name(const CodegenContext &ctx);

} // namespace kestal
