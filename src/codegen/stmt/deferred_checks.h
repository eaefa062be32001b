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

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// True when the loop's body is built only of statements the unchecked copy
// can hold (local assignments, `if`, nested range loops, `pass`, and item
// stores when it holds a nested loop) and divides or calls a user
// function: worth the attempt. `nest` tells whether it stores items.
bool deferral_candidate(const CodegenContext &ctx, const Stmt::For &loop, bool &nest);

// True when C text has no effect but assignments of locals, the flag's
// updates and item stores `x->data[...] = ...` into the lists named in
// `stored`, and can't raise or trap. `function_body` allows `return`.
bool effect_free_c(const CodegenContext &ctx, std::string_view text, bool function_body,
                   const std::set<std::string> &stored);

// The unchecked copy of a loop nest that stores items, moved into a
// function of its own (a loop in the same function as its lists' objects
// isn't vectorized across rows: the compiler can't rule out that a store
// changes what is read). The function takes the lists' data as `restrict`
// pointers with their lengths, and the scalars by value (those the copy
// assigns through pointers, written back when the flag stays clear). A
// list stored into (those the nest may store) are kept aside before the
// call and put back when the flag is set, so the checked copy starts from the same state. `call` is
// the C statement that replaces the copy; `distinct` what must hold for
// the pointers to be `restrict` (every list stored into is another object
// than every other list), empty when nothing needs it. None when the copy
// holds anything else than scalars and lists of scalars read or stored.
// `stored` gives per list stored into the items that may be stored: the
// first index and the count, as C text.
struct LiftedNest {
    std::string call;
    std::string distinct;
};
struct StoredSpan {
    std::string first;
    std::string count;
};
std::optional<LiftedNest> lift_nest(CodegenContext &ctx, std::string_view copy,
                                    const std::string &flag,
                                    const std::map<std::string, StoredSpan> &stored,
                                    std::string_view before);

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
