// The one error of the front end and the code generator. It is thrown from
// where the fault is found (through `error_at`) and caught only by the
// driver or by a retry loop that owns a widening. Positions are 1-based;
// line 0 means "no source position".
#pragma once

#include <cstdint>
#include <string>

namespace kestal {

struct CompileError {
    std::string message;
    uint64_t line = 0;
    uint64_t column = 0;
};

// Builds the error for a position; callers throw what it returns.
inline CompileError error_at(std::string message, uint64_t line, uint64_t column) {
    return CompileError{std::move(message), line, column};
}

// Throws the error for a position.
[[noreturn]] inline void throw_error(std::string message, uint64_t line, uint64_t column) {
    throw error_at(std::move(message), line, column);
}

} // namespace kestal
