// Test fixture of the code generator: parses a source, generates its C,
// builds it with gcc and the fixed flags, runs it and hands back its output
// and exit status. Each program costs one C compile, so tests group several
// cases into one program.
#pragma once

#include "codegen/codegen.h"
#include "parser/parser.h"
#include "support/compile_error.h"

#include <gtest/gtest.h>

#include <string>

namespace kestal::testing {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;
    // Empty when the source was accepted and the C compiler accepted the
    // generated file; else the compile error or the C compiler's output.
    std::string cc_errors;
};

// Generates the program's C, or throws the CompileError.
CodegenOutput generate(const std::string &source, const std::string &path = "prog.ktl");

// The program section of the generated C: the text after the runtime.
std::string program_c(const std::string &source);

// Compiles the C text with gcc and runs the executable; `name` keeps the
// files of concurrently running tests apart.
RunResult build_and_run(const std::string &c_text, const std::string &name);

// generate + build_and_run; a rejected source is reported in `cc_errors`.
RunResult run_source(const std::string &source, const std::string &name);

// The error a rejected source produces, as "line:column: message"; "(none)"
// when the source compiles.
std::string rejection(const std::string &source);

} // namespace kestal::testing
