// The expression compiler: one Expr in, its C text and static Type out
// (a CompiledExpr), keeping the language's left-to-right evaluation order.
// `compile_expr` is the one entry for every other lowering; it hoists
// side-effecting operands into variables where C would leave the order
// open, then hands the node to the per-kind compiler.
//
// Every function here throws the first CompileError it meets; nothing
// partial is returned. `expected` is an optional hint (may be null) of the
// Type the caller wants; it never causes an error by itself.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

CompiledExpr compile_expr(CodegenContext &ctx, const Expr &expr, const Type *expected = nullptr);
CompiledExpr compile_expr_node(CodegenContext &ctx, const Expr &expr, const Type *expected);

// ---- Literals and shared texts ----

std::string float_literal_text(double value);
std::string unwrap_optional_text(const std::string &text, const Type &inner);
// The value of a variable whose optional Type a None test has narrowed; for a
// module global, checked again at run time (TypeError when it is None).
std::string narrowed_read_text(CodegenContext &ctx, const std::string &name, const Variable &var);
std::string is_none_test_text(const std::string &text, const Type &type);
// Literals, negated literals, None and tuples of those.
bool is_constant_expr(const Expr &expr);

// ---- Evaluation-order hoisting ----

// The direct operands that hoisting may evaluate first, in evaluation order.
std::vector<const Expr *> expr_children(const Expr &expr);
// Conservative: true when evaluating the expression may have a side effect
// (a call of a user function or method, a built-in that is not pure, a
// pure built-in's name that a user function or variable takes over).
bool may_have_side_effects(CodegenContext &ctx, const Expr &expr);
// Whether some function or method declares `name` global, so that a call
// may assign the module variable.
bool call_may_assign_global(CodegenContext &ctx, const std::string &name);
// The names of every method of every class, built once per context.
const std::unordered_set<std::string> &program_method_names(CodegenContext &ctx);

// ---- Operators, conditions and conditional expressions ----

CompiledExpr compile_binary_expr(CodegenContext &ctx, const Expr &expr, const Type *expected);
CompiledExpr compile_unary_expr(CodegenContext &ctx, const Expr &expr);
// A long left-leaning run of operators other than `and`/`or`, compiled link
// by link into temporaries of one statement expression (left to right, so
// no operand needs hoisting); none when the run is short.
std::optional<CompiledExpr> compile_operator_run(CodegenContext &ctx, const Expr &expr,
                                                 const Type *expected);
CompiledExpr compile_if_expr(CodegenContext &ctx, const Expr &expr, const Type *expected);
// Combines two compiled operands of a binary operator (not `and`/`or`).
CompiledExpr compile_binary_op(CodegenContext &ctx, BinOp op, const CompiledExpr &left,
                               const CompiledExpr &right, const Expr &expr);
// The operand's text when it is an int (not a bool); otherwise the error
// "{what} must be int, not {Type}" at the operand.
std::string check_int_operand(CodegenContext &ctx, const Expr &expr, const std::string &what);
// The key's text when its Type is the dict's key Type exactly; otherwise
// "this dict's keys are {}, not {}" at the key.
std::string compile_dict_key(CodegenContext &ctx, const Expr &expr, const Type &key);
// The operand's text and function value; otherwise "{what} must be a
// function, not {Type}" at the operand.
std::pair<std::string, FunctionValue>
compile_function_operand(CodegenContext &ctx, const Expr &expr, const std::string &what);
// "unsupported operand types for {symbol}: {l} and {r}" with a None hint.
CompileError operand_type_error(const Type &left, const Type &right, const Expr &expr,
                                const std::string &symbol);
// The C equality of two values (ints, numbers mixed with float, or two
// values of one Type supporting ==), or none. As `items`, the values are
// items of containers: the same object is equal to itself first.
std::optional<std::string> equality_text(const std::string &a, const Type &a_type,
                                         const std::string &b, const Type &b_type,
                                         bool items = false);
// A comparison dunder's result as a C truth value typed bool; other
// operators' results unchanged.
CompiledExpr comparison_result_truth(BinOp op, const CompiledExpr &result);
// True for a literal divisor text that is not zero ("INT64_C(2)", "0.5").
bool is_nonzero_literal(const std::string &text);
std::string c_false_text();

std::string compile_condition(CodegenContext &ctx, const Expr &expr);
// A long left-leaning run of one `and` or `or` (comparison chains included)
// as a balanced tree of the same operands in the same order; none when the
// expression is no such run or a short one.
std::optional<Expr> regrouped_bool_run(const Expr &expr);
std::string compile_bool_condition(CodegenContext &ctx, BinOp op, const Expr &left,
                                   const Expr &right);
CompiledExpr compile_and_or(CodegenContext &ctx, BinOp op, const Expr &left, const Expr &right,
                            const Type *expected, uint64_t line, uint64_t column);
// The module an expression names ("os", "os.path", a loaded library...).
std::optional<std::string> resolve_module_ref(CodegenContext &ctx, const Expr &expr);

// ---- Lambdas (lambdas.cpp) ----

// A lambda as a function value holding copies of the local variables it
// reads; refuses a copy that could go stale.
CompiledExpr compile_lambda_expr(CodegenContext &ctx, const Expr &expr);
// Compiles `expr`, a lambda among them, as a function the caller calls and
// drops before it returns.
CompiledExpr compile_transient_function(CodegenContext &ctx, const Expr &expr);

// ---- Calls ----

CompiledExpr compile_call_expr(CodegenContext &ctx, const Expr &expr, const Type *expected);

// One bound expression per parameter: the argument, the keyword's value or
// the parameter's default.
std::vector<const Expr *> bind_call_arguments(const FuncDef &def, const std::vector<Expr> &args,
                                              const std::vector<Keyword> &kwargs, uint64_t line,
                                              uint64_t column);
CompiledExpr compile_user_function_call(CodegenContext &ctx, const std::string &name,
                                        const std::vector<Expr> &args,
                                        const std::vector<Keyword> &kwargs, uint64_t line,
                                        uint64_t column);
CompiledExpr compile_function_value_call(CodegenContext &ctx, const std::string &callee_text,
                                         const FunctionValue &value, const std::vector<Expr> &args,
                                         const std::vector<Keyword> &kwargs, const Expr &callee);
CompiledExpr compile_call_with_arg_texts(CodegenContext &ctx, const std::string &callee_text,
                                         const FunctionValue &value,
                                         const std::vector<CompiledExpr> &args,
                                         const Expr &position);
bool is_builtin_name(CodegenContext &ctx, const std::string &name);
std::optional<std::pair<std::string, std::string>> split_module_member(CodegenContext &ctx,
                                                                       const std::string &dotted);

} // namespace kestal
