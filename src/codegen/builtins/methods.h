// Methods of built-in values: str (methods_str.cpp), list, dict and set
// (methods_containers.cpp). Each handler takes the compiled receiver, the
// method name and the call's arguments and returns one C expression with
// its Type, or throws the first CompileError; `compile_method_call`
// (builtins.cpp) chooses the handler by the receiver's Type.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <utility>
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

// ---- Sorting (methods_containers.cpp), shared with sorted() ----

// The sort keywords: `key` (a function value; the literal None is no key)
// and `reverse` (the C truth value of any value that has one).
struct SortKeywords {
    std::optional<std::pair<std::string, FunctionValue>> key;
    std::optional<std::string> reverse;
};
// Reads `key=` and `reverse=`; any other keyword is "{name}() got an
// unexpected keyword argument '{}'".
SortKeywords parse_sort_keywords(CodegenContext &ctx, const std::string &name,
                                 const std::vector<Keyword> &kwargs);
// Instantiates the sort, min and max of a list of `element` once; false when
// its items can't be ordered with <.
bool define_list_algos(CodegenContext &ctx, const Type &element);
// One C expression of type void that sorts the list `list` (a variable or
// temporary: it is read several times). A keyed sort computes each key once,
// in list order, and breaks ties by the item's index, so it is stable both
// ways.
std::string compile_sort_call(CodegenContext &ctx, const std::string &list, const Type &element,
                              const SortKeywords &kw, const Expr &position);

// `range(...)` as a value, from its compiled arguments.
CompiledExpr compile_range_value(const std::vector<CompiledExpr> &args, const Expr &call);

// Compiles the argument with `expected` as its hint and converts it to that
// Type; otherwise "expected {:#}, got {:#}" at the argument.
CompiledExpr compile_method_arg(CodegenContext &ctx, const Expr &arg, const Type &expected);
// The argument of a search among items of Type `item` (search_value_text).
CompiledExpr compile_search_value(CodegenContext &ctx, const Expr &arg, const Type &item);
// "{}() got an unexpected keyword argument '{}'" for the first keyword.
void refuse_method_keywords(const std::string &method, const std::vector<Keyword> &kwargs);

} // namespace kestal
