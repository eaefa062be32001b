// Containers as values: the list, tuple, dict and set displays, subscripts
// and slices of str, list, tuple, dict and range values, and the static
// checks they share (one element Type per display, constant tuple indexes,
// slice bounds with their defaults, no function values inside containers).
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <vector>

namespace kestal {

// ---- Displays (displays.cpp) ----

CompiledExpr compile_list_display(CodegenContext &ctx, const Expr &expr, const Type *expected);
CompiledExpr compile_tuple_display(CodegenContext &ctx, const Expr &expr, const Type *expected);
CompiledExpr compile_dict_display(CodegenContext &ctx, const Expr &expr, const Type *expected);
CompiledExpr compile_set_display(CodegenContext &ctx, const Expr &expr, const Type *expected);

// The one element Type of a display's elements (or keys, or values) and the
// element texts converted to it. `what` names the elements ("list items"),
// `holder` what holds them ("the list holds"), `empty_message` is the error
// when every element is an empty display and nothing says the Type.
struct UnifiedElements {
    Type type;
    std::vector<std::string> texts;
};
UnifiedElements unify_element_types(CodegenContext &ctx, const std::vector<const Expr *> &elements,
                                    const Type *expected, std::string_view what,
                                    std::string_view holder, std::string_view empty_message,
                                    uint64_t line, uint64_t column);
// The items of a non-empty list display converted to its one item Type
// (`item` when given, else their join), and the list built from them.
UnifiedElements compile_list_items(CodegenContext &ctx, const Expr &expr, const Type *item);
CompiledExpr list_from_items(CodegenContext &ctx, const UnifiedElements &items);
// The items as a C array literal of their Type.
std::string items_array_text(const UnifiedElements &items);
// Throws "functions can't be stored in lists, dicts or tuples ..." for a
// function value or a tuple holding one.
void reject_function_element(const Type &type, uint64_t line, uint64_t column);

// ---- Subscripts and slices (subscripts.cpp) ----

CompiledExpr compile_index_expr(CodegenContext &ctx, const Expr &expr);
CompiledExpr compile_attribute_expr(CodegenContext &ctx, const Expr &expr);
CompiledExpr compile_slice_expr(CodegenContext &ctx, const Expr &expr);

// The field number of a constant tuple index (a negative one counts from
// the end); otherwise the error at the index.
size_t compile_tuple_index(const Expr &index, size_t length);

struct SliceBounds {
    std::string start;
    std::string stop;
    std::optional<std::string> step;
};
SliceBounds compile_slice_bounds(CodegenContext &ctx, const Expr::Slice &slice);

// ---- Iterable values (iterables.cpp) ----

// The items of a list, range, str, set, dict (its keys) or one-Type tuple
// value as a list (a list value unchanged); none for any other Type.
std::optional<CompiledExpr> collect_iterable(CodegenContext &ctx, const CompiledExpr &value);

} // namespace kestal
