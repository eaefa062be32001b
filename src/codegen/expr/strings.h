// Values turned into text: the appending of one f-string segment to a string
// builder, str() and repr() of any value, and the appending of a value to a
// builder. Scalars use the runtime's number texts; every other value is
// printed by its print function into the builder through an output capture.
// A format spec is parsed at compile time: numbers are laid out by one printf
// format, text and bools are padded, and a separator groups digits. A width
// or precision beyond a C int raises ValueError when the field is formatted.
#pragma once

#include "codegen/core/context.h"

#include <optional>
#include <string>

namespace kestal {

// The C statements appending one f-string segment to the builder `sb`.
// Throws the errors of the field's expression, of an unsupported conversion
// and of a spec that is malformed or doesn't apply to the value's Type.
std::string compile_format_field(CodegenContext &ctx, const std::string &sb,
                                 const FStringSegment &segment);
// The C statement appending a value to the builder `sb` (its repr when
// `repr` is set). Throws "this expression has no value" at the given
// position for a value-less expression.
std::string append_to_builder(CodegenContext &ctx, const std::string &sb, const CompiledExpr &value,
                              bool repr, uint64_t line, uint64_t column);
// The C text of str(value), or repr(value) when `repr` is set; throws as
// append_to_builder does.
std::string compile_to_str(CodegenContext &ctx, const CompiledExpr &value, bool repr, uint64_t line,
                           uint64_t column);

// A run of `+` links holding an f-string or a str() call, or a str literal
// and two links or more, built with its str operands in one string builder;
// none for any other expression.
std::optional<CompiledExpr> compile_str_chain(CodegenContext &ctx, const Expr &expr);
// The new value of `target += value` for a str variable: the value built in
// one builder where it can be and appended to the target with room to grow.
// Other operand Types combine as `+` does, with its errors at `at`.
CompiledExpr compile_str_append(CodegenContext &ctx, const CompiledExpr &target, const Expr &value,
                                const Expr &at);

} // namespace kestal
