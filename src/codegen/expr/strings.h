// Values turned into text: the appending of one f-string segment to a string
// builder, str() and repr() of any value, and the appending of a value to a
// builder. Scalars use the runtime's number texts; every other value is
// printed by its print function into the builder through an output capture.
#pragma once

#include "codegen/mod/context.h"

#include <string>

namespace kestal {

// The C statements appending one f-string segment to the builder `sb`.
// Throws for format specifications and conversions not supported yet.
std::string compile_format_field(CodegenContext &ctx, const std::string &sb,
                                 const FStringSegment &segment);
// The C statement appending a value to the builder `sb`.
std::string append_to_builder(CodegenContext &ctx, const std::string &sb, const CompiledExpr &value,
                              bool repr);
// The C text of str(value), or repr(value) when `repr` is set.
std::string compile_to_str(CodegenContext &ctx, const CompiledExpr &value, bool repr);

} // namespace kestal
