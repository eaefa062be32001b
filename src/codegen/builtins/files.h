// Text files and standard input (files.cpp): `open(...)`, `input(...)` and
// the methods of a file value.
#pragma once

#include "codegen/core/context.h"

#include <string>
#include <vector>

namespace kestal {

// `open(path, mode, file=, mode=, encoding=)`: a file value; a literal mode
// is checked here, a computed one by the runtime.
CompiledExpr compile_open_call(CodegenContext &ctx, const std::vector<Expr> &args,
                               const std::vector<Keyword> &kwargs, const Expr &call);
// `input()` or `input(prompt)` from its compiled arguments.
CompiledExpr compile_input_call(const std::vector<CompiledExpr> &args, const Expr &call);
// read, readline, readlines, write, writelines, flush and close; any other
// name or count is "file has no method '{}' taking {} argument(s)".
CompiledExpr compile_file_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call);

} // namespace kestal
