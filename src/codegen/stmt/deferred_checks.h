// Zero-divisor checks deferred to the end of a range loop. A branch out of a
// loop (the ZeroDivisionError of `x / d`) keeps C compilers from
// vectorizing it. A `for v in range(...)` loop whose body has no effect a
// handler or a later statement could see before the exception (it only
// assigns local scalars, reads list items under the loop's index guard and
// calls functions that do no more) is compiled twice:
//
//     bool flag = !(guards it used);  saved = locals it assigns;
//     if (!flag) { the loop, where d == 0 sets flag and x / d goes on }
//     if (flag) { locals = saved; the loop with every check }
//
// The unchecked copy has no effect, so on a failure the checked copy runs
// the loop again from the same state and raises at the same iteration, with
// the same traceback and the same values in the loop's variables; without
// one it stands for the loop. Whether a copy qualifies is read from its C
// text: only local variables may be assigned, and the only calls are the
// flagging division, constant-divisor arithmetic and the variants of such
// functions; anything else drops the copy and leaves the loop as it was.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// True when the loop's body is built only of statements the unchecked copy
// can hold (local assignments, `if`, nested range loops, `pass`) and
// divides or calls a user function: worth the attempt.
bool deferral_candidate(const CodegenContext &ctx, const Stmt::For &loop);

// True when C text has no effect but assignments of locals and the flag's
// updates, and can't raise or trap. `function_body` allows `return`.
bool effect_free_c(const CodegenContext &ctx, std::string_view text, bool function_body);

// The variant of a finished instance for unchecked loop copies (its C name
// takes the flag first), made once per instance; none when the instance
// does more than compute.
std::optional<CodegenContext::DeferredVariant> deferred_variant(CodegenContext &ctx,
                                                                const std::string &name,
                                                                const std::vector<Type> &key_types,
                                                                const std::string &c_name);

// Sets the frame's deferral state for a scope.
class DeferredScope {
  public:
    DeferredScope(FunctionFrame &frame, DeferredChecks state);
    ~DeferredScope();
    DeferredScope(const DeferredScope &) = delete;
    DeferredScope &operator=(const DeferredScope &) = delete;

  private:
    FunctionFrame &frame_;
};

} // namespace kestal
