// Module constants: the module-level names whose value is known before the
// program runs. A name qualifies when the module binds it exactly once, by a
// plain assignment standing directly in the top-level statement list (not in
// a loop, branch, `try` or `with`), from a constant expression: int, float,
// bool and str literals, earlier module constants, and arithmetic on them
// that cannot fail (no division by zero, no int overflow, no infinite or NaN
// float). Nothing else may bind it: no other assignment, loop or
// comprehension target, `with` or `except` name, `del`, augmented
// assignment, import, and no function, method or lambda declares it
// `global`.
//
// The code generator reads such a name as its value. The global keeps its
// storage and its one store, so the only reads that could see anything else
// are reads before the assignment has run, and those are refused at compile
// time as reads of an undefined name.
#pragma once

#include "ast/program.h"

#include <map>
#include <string>

namespace kestal {

// Each module constant with its value as a literal expression (Int, Float,
// Str or Bool).
std::map<std::string, Expr> find_module_constants(const Program &program);

} // namespace kestal
