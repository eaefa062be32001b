// Widening: the signal by which a lowering that finds a Type too narrow asks
// the owner of the code being compiled to compile it again with a wider
// Type fixed in advance. Types are inferred while C text is written, so a
// variable's first store or a function's first `return` can fix a Type that
// a later one outgrows.
//
// A request is its own exception type, never a CompileError: the handlers
// of user errors let it pass, and only the loop that owns it catches it: a
// function instance for its variables and its return Type, the main body for
// its variables. A request that reaches no owner is a fault of the compiler.
#pragma once

#include "codegen/core/context.h"

#include <functional>
#include <string>
#include <unordered_map>

namespace kestal {

struct WideningRequest {
    // Field: an int field of a class received a float; the whole program
    // is generated again from an empty context with the field a float.
    // EarlyField: a field was created that hides a class constant some
    // code compiled before it already read for an object that may hold the
    // field; the program is generated again with the field created first.
    enum class Kind { Variable, Return, Field, EarlyField };
    Kind kind;
    // Variable: the variable's name. Return: empty. Field, EarlyField: the
    // field's name.
    std::string name;
    // The Type to compile with next time (EarlyField: the field's Type).
    Type wider;
    // The store or `return` that asked, for the error that ends the retries.
    uint64_t line = 0;
    uint64_t column = 0;
    // Field, EarlyField: the class that owns the field.
    std::string owner = {};
};

// The requests the lowerings throw: a variable of the current frame, or the
// current instance's return Type, must take the wider Type.
WideningRequest variable_widening(const std::string &name, const Type &wider, uint64_t line,
                                  uint64_t column);
WideningRequest return_widening(const Type &wider, uint64_t line, uint64_t column);
WideningRequest field_widening(const std::string &owner, const std::string &field, uint64_t line,
                               uint64_t column);
WideningRequest early_field(const std::string &owner, const std::string &field, const Type &type,
                            uint64_t line, uint64_t column);

// At most this many variables of one frame are forced to a wider Type; the
// store that would force one more is refused with a message naming the
// limit.
constexpr size_t kMaxForcedVariables = 64;

using ForcedTypes = std::unordered_map<std::string, Type>;

// Calls `attempt` with the forced variable Types (none at first) until it
// returns. Each variable widening it throws is recorded in the map, `undo`
// drops what the failed attempt left behind, and the attempt runs again.
// Other requests and every CompileError pass through unchanged. A request
// beyond the limit throws a CompileError at the store that asked; a request
// that repeats a forced Type is a fault of the compiler (the forced Type was
// not applied).
FunctionFrame
compile_with_forced_variables(const std::function<FunctionFrame(const ForcedTypes &)> &attempt,
                              const std::function<void()> &undo);

} // namespace kestal
