// The statement lowerings that the dispatch in stmt.cpp hands statements to;
// shared by the statement compiler's own files only.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>

namespace kestal {

void compile_if_stmt(CodegenContext &ctx, const Stmt::If &s);
void compile_while_stmt(CodegenContext &ctx, const Stmt::While &s);
void compile_for_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::For &s);
void compile_loop_exit(CodegenContext &ctx, const Stmt &stmt, bool is_break);
void compile_assign_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Assign &s);
void compile_unpack_stmt(CodegenContext &ctx, const Stmt::Unpack &s);
void compile_aug_assign(CodegenContext &ctx, const Expr &target, BinOp op, const Expr &value);

// `with`, `try` (try_with.cpp); `raise`, `assert`, `del` (raise_assert_del.cpp).
void compile_with_stmt(CodegenContext &ctx, const Stmt::With &s);
void compile_try_stmt(CodegenContext &ctx, const Stmt::Try &s);
void compile_raise_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Raise &s);
void compile_assert_stmt(CodegenContext &ctx, const Stmt &stmt, const Stmt::Assert &s);
void compile_del_stmt(CodegenContext &ctx, const Stmt::Del &s);

// Item and slice stores (stores.cpp).
std::optional<Type> infer_subscript_type(CodegenContext &ctx, const Expr &target);
void store_to_element(CodegenContext &ctx, const Expr &target, const CompiledExpr &value);
void store_to_slice(CodegenContext &ctx, const Expr &target, const CompiledExpr &value);
void aug_assign_element(CodegenContext &ctx, const Expr &target, BinOp op, const Expr &value);
// The in-place set update of `target op= value` on a set target, when the
// operator is one of `-`, `&`, `|`, `^`; none for other targets and operators.
std::optional<std::string> set_update_line(const std::string &target, const Type &target_type,
                                           BinOp op, const CompiledExpr &value,
                                           const Expr &value_expr);

// The element (text and Type) each of `count` targets receives from an
// unpacked value (a tuple's fields, or a list's items behind a run-time
// length check appended to `setup`); throws the unpacking errors.
std::vector<CompiledExpr> unpack_elements(const std::string &value, const Type &type, size_t count,
                                          std::string &setup, uint64_t line, uint64_t column);

} // namespace kestal
