// Iteration plans: how any construct that walks over an iterable (the for
// statement, and later the comprehensions and the built-ins that consume an
// iterable) runs a body once per element. No iterator objects exist in the
// generated program; a plan is a handful of C fragments that open an inline
// loop over the iterable's storage and name the current element.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestal {

// The bounds of a `range(...)` plan whose step is an int literal (or
// absent): C names of the start and the stop, the step, and for a step other
// than 1 and -1 the C name of the element count.
struct RangeBounds {
    std::string start;
    std::string stop;
    int64_t step = 1;
    std::string count = {};
};

struct IterationPlan {
    Type element_type;
    // Statements run once before the loop (the held iterable, counters).
    std::string setup = {};
    // Opens the loop or loops, then runs the per-iteration checks; after
    // it `element` is valid.
    std::string header = {};
    // The current element; evaluated once per iteration right after the
    // header.
    std::string element = {};
    // Closes every loop the header opened.
    std::string close = "}";
    // The element count when known before the loop, else "0".
    std::string length = "0";
    // Runs once after the loop and on every early exit (closes the file of
    // `for line in open(...)`); empty for every other plan.
    std::string cleanup = {};
    // The number of C loops the header opens.
    int loop_count = 1;
    // Set for a range plan with a literal step.
    std::optional<RangeBounds> range = std::nullopt;
};

// Which element a dict plan gives; other Types ignore it.
enum class DictIterationMode { Keys, Values, Items };

// The plan for any iterable expression.
IterationPlan plan_for_iteration(CodegenContext &ctx, const Expr &iterable);
// The plan for an already compiled value; (line, column) is where its
// error is reported.
IterationPlan plan_typed_iteration(CodegenContext &ctx, const std::string &value, const Type &type,
                                   DictIterationMode mode, uint64_t line, uint64_t column);
// The plan for `range(args...)`; (line, column) is the call's.
IterationPlan plan_range_loop(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                              uint64_t column);
// The plan of a generator expression (`(f(x) for x in xs if x)`): its
// comprehension loops, with the element as the plan's element; no list is
// built.
IterationPlan plan_generator_expression(CodegenContext &ctx, const Expr &generator);
// A statement expression building a new list of the plan's elements.
CompiledExpr compile_iteration_to_list(CodegenContext &ctx, const IterationPlan &plan);

// ---- The iteration-only built-ins (iteration_sources.cpp) ----
// Each takes the call's arguments and its position; the caller has made
// sure the name means the built-in and, except for enumerate, that there are
// no keyword arguments.

IterationPlan plan_zip_loop(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                            uint64_t column);
IterationPlan plan_map_loop(CodegenContext &ctx, const std::vector<Expr> &args, const Expr &call);
IterationPlan plan_filter_loop(CodegenContext &ctx, const std::vector<Expr> &args,
                               const Expr &call);
IterationPlan plan_reversed_loop(CodegenContext &ctx, const std::vector<Expr> &args, uint64_t line,
                                 uint64_t column);
IterationPlan plan_enumerate_loop(CodegenContext &ctx, const std::vector<Expr> &args,
                                  const std::vector<Keyword> &kwargs, uint64_t line,
                                  uint64_t column);

// ---- Iterable arguments of the built-ins that consume them ----

// True for the arguments that are planned, never evaluated as values: a
// generator expression, an argument-less `keys()`, `values()`, `items()` or
// `split()`, and a call of zip, map, filter, reversed or enumerate.
bool is_lazy_iterable(CodegenContext &ctx, const Expr &expr);
// A lazy argument's plan, or any other argument's compiled value.
using IterableArg = std::variant<IterationPlan, CompiledExpr>;
IterableArg compile_iterable_arg(CodegenContext &ctx, const Expr &expr, const Type *expected);
// The plan of an argument; a value is planned by its Type, and (line,
// column) is where "can't iterate over ..." is reported.
IterationPlan iteration_plan_from_arg(CodegenContext &ctx, IterableArg arg, uint64_t line,
                                      uint64_t column);

} // namespace kestal
