// The one child traversal of each tree. Every walk that needs the children
// of an expression or a statement (the name walkers, the statement analyses,
// evaluation-order hoisting) gets them here, so a node kind added to the
// tree is handled once, in traverse.cpp, whose visits have no catch-all arm:
// the build stops there until the new kind's children are listed.
//
// Each function visits only the direct children, in the order they stand
// in the source text; callers recurse themselves. Visiting never fails.
#pragma once

#include "ast/expr.h"
#include "ast/program.h"

#include <cstdint>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestal {

// A borrowed callable: cheap to pass by value, valid only while the callable
// it was made from lives (for the length of one traversal call).
template <class Sig> class FunctionRef;
template <class R, class... Args> class FunctionRef<R(Args...)> {
  public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> &&
             std::is_invocable_r_v<R, F &, Args...>) FunctionRef(F &&f)
        : object_(const_cast<void *>(static_cast<const void *>(std::addressof(f)))),
          call_([](void *object, Args... args) -> R {
              return (*static_cast<std::remove_reference_t<F> *>(object))(
                  std::forward<Args>(args)...);
          }) {}
    R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

  private:
    void *object_;
    R (*call_)(void *, Args...);
};

// What a child expression does where it stands.
enum class ExprRole : uint8_t {
    // Evaluated for its value.
    Read,
    // An assignment or `with` target: bound once.
    Bind,
    // A loop or comprehension target: bound again on every iteration.
    LoopBind,
    // The target of an augmented assignment: read, then bound.
    Update,
    // A `del` target.
    Delete,
};

// What a child statement list does where it stands.
enum class BlockRole : uint8_t {
    // Runs at most once each time its statement runs: an `if` branch, an
    // `else`, a `with` body, a `try` body, handler or `finally`.
    Once,
    // The body of a `while` or `for`: may run many times, and a `break` or
    // `continue` in it belongs to that loop.
    LoopBody,
};

using ExprVisit = FunctionRef<void(const Expr &, ExprRole)>;
using ExprOnlyVisit = FunctionRef<void(const Expr &)>;
using BlockVisit = FunctionRef<void(const std::vector<Stmt> &, BlockRole)>;
using StmtVisit = FunctionRef<void(const Stmt &)>;

// Every direct child expression of `expr`: operands, arguments, keyword
// values, elements, dict keys and values, optional slice bounds, f-string
// field expressions, comprehension elements and, per clause, target
// (LoopBind), iterable and conditions. A lambda has none: its body is the
// lifted FuncDef it refers to.
void for_each_child_expr(const Expr &expr, ExprVisit visit);
void for_each_child_expr(const Expr &expr, ExprOnlyVisit visit);

// Every expression that stands directly in `stmt` (not in its nested
// statements): values, conditions, targets with their roles, iterables,
// `with` contexts and targets, handler types, raise and assert operands.
void for_each_stmt_expr(const Stmt &stmt, ExprVisit visit);

// Every statement list nested directly in `stmt`: branch bodies, loop bodies
// and their `else`, `with` bodies, and a `try`'s body, handlers, `else` and
// `finally`.
void for_each_child_block(const Stmt &stmt, BlockVisit visit);

// Every statement of the lists nested directly in `stmt`.
void for_each_child_stmt(const Stmt &stmt, StmtVisit visit);

} // namespace kestal
