// Function instantiation: a user function gets one C function per
// combination of argument Types, compiled the first time a call needs it.
// An attempt that finds a Type too narrow (a local that later receives a
// float or None, a return Type that a later `return` or the end of the body
// widens) is thrown away and the instance compiled again with the wider Type
// fixed in advance; recursion before the return Type is known is resolved
// by retrying with guessed return Types. Limits bound the retries.
//
// The lowerings below call it through this header; its definition
// (codegen/program/instances.cpp) compiles the function's body with the
// statement compiler, above them.
#pragma once

#include "codegen/core/context.h"

#include <string>
#include <vector>

namespace kestal {

struct InstanceResult {
    Type return_type;
    std::string c_name;
    // Per parameter: its annotation, else the argument's Type.
    std::vector<Type> key_types;
};

// Compiles (or reuses) the instance of `name` for the argument Types and a
// lambda's captured variables. Throws the CompileError of the call's checks
// or of the body, positioned at the call unless the body's error says
// otherwise.
InstanceResult instantiate_function(CodegenContext &ctx, const std::string &name,
                                    const std::vector<Type> &arg_types,
                                    const NameTypeList &captures, uint64_t line, uint64_t column);

// The name messages use: "<lambda>" for a lambda, else the part after the
// last dot.
std::string function_display_name(const std::string &name);

} // namespace kestal
