// None-narrowing facts: the access paths (`x`, `self.a.b`) known not to be
// None at the current point of the function being written, kept in the
// current frame's `narrowed_paths`. A read of a narrowed optional takes its
// inner Type without a run-time check. This file gives the facts a
// condition proves, the static decision of None tests the Types answer
// alone, and the bookkeeping around assignments and sub-expressions.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

struct NarrowingFacts {
    std::vector<std::string> when_true;
    std::vector<std::string> when_false;
};

enum class StaticTruth { True, False, Undecided };

NarrowingFacts non_none_paths_if_true(const Expr &condition);
StaticTruth none_test_fact(CodegenContext &ctx, const Expr &condition);
StaticTruth static_truth_with_paths(CodegenContext &ctx, const std::vector<std::string> &paths,
                                    const Expr &condition);
CompiledExpr compile_expr_with_paths(CodegenContext &ctx, const std::vector<std::string> &paths,
                                     const Expr &expr, const Type *expected);
std::vector<std::string> new_paths_only(CodegenContext &ctx, const std::vector<std::string> &paths);
bool is_known_non_none(CodegenContext &ctx, const std::string &path);
void update_facts_on_assign(CodegenContext &ctx, const Expr &target, const Type &target_type,
                            const Type &value_type);
void forget_facts_under(CodegenContext &ctx, const std::string &path);
// A call of the user function `callee` may store into fields: the facts
// about attribute paths through any field it (or anything it may call)
// stores into end there (`if self.next is not None: self.advance()` drops
// `self.next` when advance may store a `next`).
void forget_attribute_facts(CodegenContext &ctx, const std::string &callee);
void forget_facts_for_names(CodegenContext &ctx, const std::unordered_set<std::string> &names);
// A comparison against the None literal, decided by the operand Types; none
// when neither operand has the Type None.
std::optional<CompiledExpr> compile_static_is_none(BinOp op, const CompiledExpr &left,
                                                   const CompiledExpr &right);

// Adds the paths that are new to the current frame for the guard's life and
// removes exactly those again, also when an error unwinds.
class NarrowingScope {
  public:
    NarrowingScope(CodegenContext &ctx, const std::vector<std::string> &paths);
    ~NarrowingScope();
    NarrowingScope(const NarrowingScope &) = delete;
    NarrowingScope &operator=(const NarrowingScope &) = delete;

  private:
    FunctionFrame *frame_;
    std::vector<std::string> added_;
};

} // namespace kestal
