// Functions on a cycle of the call graph: those whose instances check for a
// recursion too deep at their entry.
#pragma once

#include "codegen/core/context.h"

#include <string>

namespace kestal {

// True when a call of the function (by its function-table name, lambdas as
// "<lambdaN>") may reach the function again before returning. Errs towards
// true: a call of an unknown function value may reach every function used
// as a value, and every body may reach every special method.
bool may_recurse(CodegenContext &ctx, const std::string &name);

} // namespace kestal
