// Methods of built-in values: str (methods_str.cpp), list, dict and set
// (methods_containers.cpp). Each handler takes the compiled receiver, the
// method name and the call's arguments and returns one C expression with
// its Type, or throws the first CompileError; `compile_method_call`
// (builtins.cpp) chooses the handler by the receiver's Type.
#pragma once

#include "codegen/core/context.h"

#include <string>
#include <vector>

namespace kestal {

CompiledExpr compile_str_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                const std::string &method, const std::vector<Expr> &args,
                                const std::vector<Keyword> &kwargs, const Expr &call);
CompiledExpr compile_list_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call);
CompiledExpr compile_dict_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                 const std::string &method, const std::vector<Expr> &args,
                                 const std::vector<Keyword> &kwargs, const Expr &call);
CompiledExpr compile_set_method(CodegenContext &ctx, const CompiledExpr &receiver,
                                const std::string &method, const std::vector<Expr> &args,
                                const std::vector<Keyword> &kwargs, const Expr &call);

// `range(...)` as a value, from its compiled arguments.
CompiledExpr compile_range_value(const std::vector<CompiledExpr> &args, const Expr &call);

// Compiles the argument with `expected` as its hint and converts it to that
// Type; otherwise "expected {:#}, got {:#}" at the argument.
CompiledExpr compile_method_arg(CodegenContext &ctx, const Expr &arg, const Type &expected);
// "{}() got an unexpected keyword argument '{}'" for the first keyword.
void refuse_method_keywords(const std::string &method, const std::vector<Keyword> &kwargs);

} // namespace kestal
