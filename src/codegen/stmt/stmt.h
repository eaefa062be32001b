// The statement compiler: statements in, lines of C out, written into the
// current frame at its indentation. Return-Type inference is a protocol with
// function instantiation: the first `return` fixes the Type, a later one
// that does not fit asks for a wider Type, and the instance is compiled again.
//
// Every function throws the first CompileError it meets.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

void compile_stmt(CodegenContext &ctx, const Stmt &stmt);
// One level deeper; an empty list emits nothing.
void compile_block(CodegenContext &ctx, const std::vector<Stmt> &body);
// The C `return` of a value already in final form.
void emit_return(CodegenContext &ctx, const std::optional<CompiledExpr> &value);

// ---- Assignments ----

void store_to_target(CodegenContext &ctx, const Expr &target, const std::optional<Type> &annotation,
                     const CompiledExpr &value);
// The Type an existing target already holds, or none.
std::optional<Type> infer_declared_type(CodegenContext &ctx, const Expr &target);
// Stores the elements of a tuple or list value into the targets, one by
// one; a wrong count or a value that can't be unpacked is an error at the
// given position.
void assign_unpacked(CodegenContext &ctx, const std::vector<Expr> &targets,
                     const std::string &value, const Type &type, uint64_t line, uint64_t column);

// ---- Cleanup entries ----

// Pushes a cleanup entry on the current frame for the lifetime of the scope
// (an entry with no text and no `finally` body is not pushed) and drops it,
// with any entry above it, when the scope ends.
class CleanupScope {
  public:
    CleanupScope(CodegenContext &ctx, Cleanup entry);
    ~CleanupScope();
    CleanupScope(const CleanupScope &) = delete;
    CleanupScope &operator=(const CleanupScope &) = delete;

  private:
    FunctionFrame &frame_;
    size_t saved_;
};

// Emits the frame's cleanup entries from the innermost down to index
// `down_to`, for an early way out of their blocks.
void emit_cleanups(CodegenContext &ctx, size_t down_to);

// ---- Loops ----

// `cleanup`: the C statements a `return` inside the body runs before it
// leaves (the loop's own resources), empty for most loops.
void compile_loop_body(CodegenContext &ctx, const std::vector<Stmt> &body,
                       const std::optional<std::string> &label, const std::string &cleanup = {});
void compile_loop_else(CodegenContext &ctx, const std::optional<std::vector<Stmt>> &else_body,
                       const std::optional<std::string> &label);
std::string fresh_break_label(CodegenContext &ctx);
// The C text of loop variable `name` and the element converted to its Type;
// declares the variable on first use. An existing variable of another Type
// is an error at the position.
std::pair<std::string, std::string>
declare_loop_variable(CodegenContext &ctx, const std::string &name, const std::string &element,
                      const Type &type, uint64_t line, uint64_t column);

} // namespace kestal
