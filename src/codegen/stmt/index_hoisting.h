// Index checks taken out of range loops. In `for v in range(a, b)` (a step
// that is an int literal, or none), a list item read or store `x[v]`,
// `x[v + c]`, `x[v - c]` or `x[c + v]` (c an int literal) of a local list x
// needs no check of its own when the body assigns neither v nor x and can't
// change the length of any list: one guard computed before the loop, true
// when every index the loop forms is in range, decides for all of them.
// Each such access becomes `guard ? fast : checked`, the body is compiled
// once, and the C compiler unswitches the loop on the guard; when the guard
// is false every access runs exactly as without it (negative indices wrap,
// the IndexError comes at the same iteration).
//
// A `while low < high` loop (or `high > low`) of two local int variables
// is covered the same way when its body raises `low` only by one
// unconditional `low += 1` and lowers `high` only by one `high -= 1` (either
// may be missing) and assigns neither otherwise: every `x[low]` and
// `x[high]` then lies between the values the two had before the loop (at
// the top of a turn low < high, so one step each keeps both inside), and
// the guard, computed before each entry to the loop, tests those two.
//
// Whether the body changes a list's length is known only after it is
// compiled (a call of a function that appends, a `del`, ...): every such
// lowering counts itself in the frame's `length_changes`, and the guard's
// line, written as a marker before the loop, is settled once the body is
// done: the guard, `false` when the body turned out to change a length, or
// nothing when no access used it.
#pragma once

#include "codegen/core/context.h"
#include "codegen/stmt/iteration_plans.h"

#include <optional>
#include <string>

namespace kestal {

// The hoisting of one range loop, from before its header to the end of its
// body. Ineligible loops (another plan, a target that is not a name, a body
// that assigns the loop variable) make every member a no-op.
class IndexHoisting {
  public:
    // Plans the guard and writes its marker line; call after the plan's
    // setup and before its header.
    IndexHoisting(CodegenContext &ctx, const Stmt::For &loop, const IterationPlan &plan);
    // For `while low < high`: call before the loop's line, then
    // target_bound() at once.
    IndexHoisting(CodegenContext &ctx, const Stmt::While &loop);
    // After the loop target is bound: from here on, accesses may use the
    // fast form.
    void target_bound();
    // After the body: settles the guard's line and ends the hoisting.
    void finish();
    // The loop's entry while it is being compiled: its guard and the
    // offsets its accesses used so far; none when it has no guard.
    const HoistedLoop *entry() const;
    ~IndexHoisting();
    IndexHoisting(const IndexHoisting &) = delete;
    IndexHoisting &operator=(const IndexHoisting &) = delete;

  private:
    CodegenContext &ctx_;
    FunctionFrame *frame_ = nullptr;
    size_t depth_ = 0;
    size_t marker_at_ = 0;
    std::optional<RangeBounds> range_;
    bool while_ = false;
};

// The fast form of the list item access `ix` whose object compiled to
// `list_text`, when a loop being compiled covers it: the guard's C name and
// the index's C text (in range whenever the guard is true). None otherwise.
struct HoistedIndex {
    std::string guard;
    std::string index;
};
std::optional<HoistedIndex> hoisted_list_index(CodegenContext &ctx, const Expr::Index &ix,
                                               const std::string &list_text);

} // namespace kestal
