// Shared helpers of the parser tests: parse a text and show the result (the
// printed tree, or the first error as "line:column: message").
#pragma once

#include "ast/printer.h"
#include "parser/parser.h"

#include <fmt/format.h>

#include <string>

namespace kestal::testing {

inline std::string error_text(const CompileError &error) {
    return fmt::format("{}:{}: {}", error.line, error.column, error.message);
}

// The program's dump, or its first error.
inline std::string parse_result(const std::string &source, PrintOptions options = {}) {
    try {
        return print_program(parse_module(source), options);
    } catch (const CompileError &error) {
        return error_text(error);
    }
}

// The one expression of `source`, or its first error.
inline std::string expr_result(const std::string &source, PrintOptions options = {}) {
    try {
        return print_expr(parse_expression_text(source), options);
    } catch (const CompileError &error) {
        return error_text(error);
    }
}

// The first error of a source, or "no error".
inline std::string first_error(const std::string &source) {
    try {
        parse_module(source);
        return "no error";
    } catch (const CompileError &error) {
        return error_text(error);
    }
}

struct Case {
    std::string source;
    std::string expected;
};

} // namespace kestal::testing
