// Whole-program emission: one generation attempt inside a fresh context,
// from the top-level statements to the assembled C file and the lists of
// instances, variables and classes that come with it.
#pragma once

#include "codegen/codegen.h"
#include "codegen/core/context.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// Runs one generation attempt. Throws the first CompileError; widenings are
// settled inside (by the main body and the function instances).
CodegenOutput emit_program(CodegenContext &ctx, const Program &program,
                           const CodegenOptions &options);

// Orders instances by name, then by the displays of their argument Types
// (element by element, a prefix first), then by the Types' codes: two Types
// may share a display, never a code.
bool instance_order_less(const InstanceSummary &a, const InstanceSummary &b);

// " {type} {field};" per module global (the field is the storage text after
// "ktl_G.").
std::string global_field_decls(const std::vector<Variable> &globals);

// The path as the inside of a C string literal: quotes and backslashes
// escaped, control and non-ASCII bytes written as three octal digits, so any
// file name yields valid C.
std::string escape_src_path(std::string_view path);

} // namespace kestal
