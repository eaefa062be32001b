// Zero-divisor facts along a straight-line run of statements. A statement
// that completes has evaluated every division outside its lazy parts (the
// right side of `and`/`or`, the branches of a conditional expression,
// comprehensions and lambdas), and a checked division by a variable raises
// when the variable is zero; so after it, until the variable is assigned
// again, a division by that variable needs no check of its own.
//
// Facts live in the function frame for one run of statements: a nested
// block starts without them and gives them back when it ends, and a
// compound statement (whose parts may run many times or not at all) ends
// every fact of its run. Only variables that no call can assign behind the
// run's back qualify: locals, and module globals that no function declares
// `global`.
#pragma once

#include "codegen/core/context.h"

namespace kestal {

// The facts of the run being compiled are put aside and restored at the end
// of the scope; the scope starts with none.
class DivisorFactsScope {
  public:
    explicit DivisorFactsScope(CodegenContext &ctx);
    ~DivisorFactsScope();
    DivisorFactsScope(const DivisorFactsScope &) = delete;
    DivisorFactsScope &operator=(const DivisorFactsScope &) = delete;

  private:
    FunctionFrame &frame_;
    std::vector<std::pair<std::string, std::string>> saved_;
};

// Before a statement is compiled: a compound statement ends every fact.
void begin_divisor_facts(CodegenContext &ctx, const Stmt &stmt);
// After a statement is compiled: the facts its checked divisions give, less
// the variables it assigns.
void end_divisor_facts(CodegenContext &ctx, const Stmt &stmt);

} // namespace kestal
