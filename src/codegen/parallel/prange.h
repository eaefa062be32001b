// Parallel loops: `for v in prange(...)` compiled into a body function run
// by the runtime's thread pool, with sum, min and max reductions.
#pragma once

#include "codegen/core/context.h"

namespace kestal {

// Writes the whole loop into the current frame: the checks of the call and
// the body, the hoisted environment type and body function, and the call
// site with the folding of the reductions and the else block. Throws the
// first CompileError (a refused body among them).
void compile_prange_loop(CodegenContext &ctx, const Stmt &stmt, const Stmt::For &loop,
                         const std::vector<Expr> &args, size_t keywords);

// `x = min(x, e)` or `x = max(x, e)` that a parallel loop's checker found
// to be a reduction: compiled as the update of the thread's own copy of
// `x`. False for any other assignment, which the caller compiles.
bool compile_reduction_update(CodegenContext &ctx, const Stmt::Assign &assign);

} // namespace kestal
