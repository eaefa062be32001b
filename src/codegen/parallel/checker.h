// The prange body checker: walks a parallel loop's body before it is
// compiled and refuses everything whose result would depend on how the
// iterations are spread over threads: assigning a variable from outside the
// loop (except the reduction forms, which it records), changing an object
// that may come from outside, leaving the loop early, a second parallel
// loop, and calls that touch state every thread shares. User functions,
// methods and constructors the body calls are walked too, with what the
// call passes in.
//
// Every check throws the first violation as a CompileError at its
// position; in the body its message starts "inside a prange loop, ".
#pragma once

#include "codegen/core/context.h"

#include <map>
#include <set>
#include <string>
#include <vector>

namespace kestal {

enum class ReductionKind { Sum, Min, Max };

// One reducing statement of the body, in the order met.
struct Reduction {
    std::string name;
    ReductionKind kind;
    uint64_t line = 0;
    uint64_t column = 0;
};

// What a call of a function value runs, when the checker can tell: a user
// function or method by its table name ("f", "Point.move"), a lifted lambda
// ("<lambdaN>"), or a built-in function by its name.
struct KnownCallee {
    enum class Kind { User, Lambda, Builtin, Harmless };
    Kind kind = Kind::Harmless;
    std::string name;
    uint64_t lambda_index = 0;
};

struct PrangeChecker {
    // Empty in the checker of a called function.
    std::string loop_var;
    std::vector<Reduction> reductions;
    CodegenContext &ctx;
    // Names whose values come from outside the loop.
    std::set<std::string> outside;
    // Names bound inside to values that may come from outside (only grows).
    std::set<std::string> aliased;
    // Names bound inside to new containers whose elements may come from
    // outside (`ys = xs[:]`): the container may change, its elements not.
    std::set<std::string> element_aliased;
    // First read of each outside name in the body.
    std::map<std::string, std::pair<uint64_t, uint64_t>> reads;
    // (function name, argument signature) pairs already walked; shared by
    // all checkers of one loop.
    std::set<std::string> visited;
    // Names that are variables of the code being walked (a called
    // function's parameters and the names it assigns): a call of one that
    // holds no known function can't be checked.
    std::set<std::string> variables;
    // Types known before compiling: a called function's annotated
    // parameters.
    std::map<std::string, Type> known_types;
    // Names known to hold a given function value.
    std::map<std::string, KnownCallee> callees;
    bool in_body = true;
    // The called function being walked ("" for the loop body).
    std::string function_name = {};
    // Names bound inside to new objects whose attributes or items are new
    // containers of outside objects (`own = Node([shared])`): `own.back`
    // may change, `own.back[0]` not.
    std::set<std::string> deep_aliased = {};
    // Constructor calls whose __init__ stores outside objects into the new
    // object, and
    std::set<const Expr *> holding_calls = {};
    // Those whose __init__ stores new containers of outside objects.
    std::set<const Expr *> deep_calls = {};
    // Per walked (function, signature) key: the parameters the function
    // stores outside objects into (2), or new containers of them (1);
    // shared like `visited`.
    std::map<std::string, std::map<std::string, int>> fills = {};
    // The names the walked code stored such objects into, with the same
    // levels.
    std::map<std::string, int> filled = {};
};

// Walks the loop body (depth 0) and returns the checker with its
// reductions and reads; throws the first violation.
void check_prange_body(PrangeChecker &checker, const std::vector<Stmt> &body);

// `for v in prange(...)`: the call's positional and keyword arguments when
// the expression calls the parallel module's prange (as `prange(...)` after
// `from parallel import prange`, or `parallel.prange(...)`).
struct PrangeCall {
    const std::vector<Expr> *args;
    const std::vector<Keyword> *kwargs;
};
std::optional<PrangeCall> match_prange_call(CodegenContext &ctx, const Expr &expr);

// "inside a prange loop, " + message at the position when `in_body`.
CompileError wrap_prange_message(bool in_body, uint64_t line, uint64_t column,
                                 const std::string &message);

} // namespace kestal
