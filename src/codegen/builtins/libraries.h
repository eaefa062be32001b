// Calls of the functions of imported C libraries and reads of their
// constants, reached through the module entries of the built-ins.
#pragma once

#include "codegen/core/context.h"

#include <string>
#include <vector>

namespace kestal {

// The imported library of that exact name, or null.
const Library *find_library(const CodegenContext &ctx, const std::string &module);

// `lib.name(args, kwargs)`: binds and checks the arguments against the
// manifest and returns the direct C call with the declared return Type.
// Throws the first problem of the call (unknown function, argument count,
// keyword, missing argument, argument Type) at the call, the argument or
// the keyword's value.
CompiledExpr compile_library_call(CodegenContext &ctx, const Library &library,
                                  const std::string &name, const std::vector<Expr> &args,
                                  const std::vector<Keyword> &kwargs, const Expr &call);

// `lib.name` as a value: a constant's C expression with its Type. Throws
// at the position given for a function (it can only be called) and for a
// name the library doesn't have.
CompiledExpr compile_library_attribute(CodegenContext &ctx, const Library &library,
                                       const std::string &name, uint64_t line, uint64_t column);

} // namespace kestal
