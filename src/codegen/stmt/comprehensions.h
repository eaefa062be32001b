// Comprehension loops: list, set and dict comprehensions and generator
// expressions share one way of producing their loops. Each `for` clause
// becomes the C loop of its iterable's plan, each clause target is bound to
// fresh C variables, each `if` clause becomes a `continue`, and the element
// (a dict comprehension's key and value) is compiled once, at the innermost
// level, where every loop variable is bound and every condition holds.
//
// The clause targets are names of the current frame only while the loops
// are compiled: they hide variables (and `global` declarations) of the same
// name, start without any None-narrowing fact, and everything they changed
// is put back afterwards, whether compiling succeeded or not.
#pragma once

#include "codegen/core/context.h"
#include "codegen/stmt/iteration_plans.h"

#include <functional>
#include <string>
#include <vector>

namespace kestal {

// The nested loops of a comprehension, shaped like an IterationPlan, and the
// compiled elements the element step returned (one, or a key and a value).
struct ComprehensionLoops {
    std::vector<CompiledExpr> elements;
    std::string setup;
    std::string header;
    std::string close;
    // Known only for one clause without conditions, else "0".
    std::string length = "0";
    std::string cleanup;
    int loop_count = 0;
};

// Compiles the element (or the key and the value) at the innermost level.
using ComprehensionElementStep = std::function<std::vector<CompiledExpr>()>;

ComprehensionLoops compile_comprehension_loops(CodegenContext &ctx,
                                               const std::vector<ComprehensionClause> &clauses,
                                               const ComprehensionElementStep &step);

// The values of list, set and dict comprehensions.
CompiledExpr compile_list_comprehension(CodegenContext &ctx, const Expr &expr,
                                        const Type *expected);
CompiledExpr compile_set_comprehension(CodegenContext &ctx, const Expr &expr, const Type *expected);
CompiledExpr compile_dict_comprehension(CodegenContext &ctx, const Expr &expr,
                                        const Type *expected);

// An argument that a method collects into a list: a generator expression
// or a call of zip, map, filter, reversed or enumerate runs its loops
// straight into the new list; any other expression is compiled as usual
// with the hint.
CompiledExpr compile_collected_argument(CodegenContext &ctx, const Expr &expr, const Type *hint);

} // namespace kestal
