// The statement lowerings that the dispatch in stmt.cpp hands statements to;
// shared by the statement compiler's own files only.
#pragma once

#include "codegen/core/context.h"

namespace kestal {

void compile_if_stmt(CodegenContext &ctx, const Stmt::If &s);
void compile_while_stmt(CodegenContext &ctx, const Stmt::While &s);
void compile_loop_exit(CodegenContext &ctx, const Stmt &stmt, bool is_break);
void compile_assign_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Assign &s);
void compile_unpack_stmt(CodegenContext &ctx, const Stmt::Unpack &s);
void compile_aug_assign(CodegenContext &ctx, const Expr &target, BinOp op, const Expr &value);

} // namespace kestal
