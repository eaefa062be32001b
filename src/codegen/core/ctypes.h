// Per-type C support: the C definitions every container, tuple, optional and
// closure Type needs in the generated file (written once each into the
// context's types text, element Types first), and the per-type names and
// texts the lowerings share: equality, comparison, hashing and printing
// function names, implicit conversions, type joins, truth tests and string
// literals. The naming functions only produce text; none of them fails.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// ---- Definitions ----

// Writes the C definition of the Type (and of every Type it contains) the
// first time it is asked for; scalar Types need nothing.
void ensure_type_defined(CodegenContext &ctx, const Type &type);
void define_list_type(CodegenContext &ctx, const Type &element);
void define_dict_type(CodegenContext &ctx, const Type &key, const Type &value);
void define_set_type(CodegenContext &ctx, const Type &element);
void define_tuple_type(CodegenContext &ctx, const std::vector<Type> &elements);

// ---- Names and texts by Type ----

bool is_pointer_kind(const Type &type);
std::string widen_to_float_text(const std::string &text, const Type &type);
std::string eq_fn_name(const Type &type);
// The equality of items inside containers and tuples: the same object is
// equal to itself whatever its __eq__ says, as Python tests `x is e or
// x == e`; for every other Type the same as eq_fn_name. Floats have no
// identity here, so a NaN item stays unequal to itself.
std::string item_eq_fn_name(const Type &type);
std::string compare_expr(const Type &type, const std::string &a, const std::string &b);
std::string hash_fn_name(const Type &type);
std::string pyhash_fn_name(const Type &type);
std::string print_fn_name(const Type &type);
std::string repr_fn_name(const Type &type);
// The C truth value, or none for a Type without one.
std::optional<std::string> truth_test_expr(const std::string &text, const Type &type);
// An object, or a list or tuple holding objects: ordered by user methods.
bool may_be_unordered(const Type &t);
// The text converted to `to`, or none when no implicit conversion exists.
// A class converts to its ancestors, as the context's class table says.
std::optional<std::string> coerce_expr(const CodegenContext &ctx, const std::string &text,
                                       const Type &from, const Type &to);
// A value searched for among items of Type `item` (`in`, index, count,
// remove), as coerce_expr converts it, except that an int searched among
// floats matches only a float equal to it exactly.
std::optional<std::string> search_value_text(const CodegenContext &ctx, const std::string &text,
                                             const Type &from, const Type &item);
// The narrowest Type holding values of both, or none.
std::optional<Type> join_types(const CodegenContext &ctx, const Type &a, const Type &b);
// The `ktl_str` literal of the bytes.
std::string c_str_literal(std::string_view bytes);
std::optional<int> dict_view_kind(std::string_view method);

} // namespace kestal
