// Code generation: a parsed Program in, the one C file of the program out,
// together with the lists that describe it (function instances, program
// variables, classes with their attributes) for tests and tools.
//
// Types are inferred while the C text is written, so generation may run
// several attempts: a variable found too narrow (an int that later receives
// a float) makes its function, or the whole program, be generated again with
// that variable widened. Only the final attempt's text is returned.
#pragma once

#include "ast/program.h"
#include "types/type.h"

#include <string>
#include <utility>
#include <vector>

namespace kestal {

struct CodegenOptions {
    // The source path as the driver received it; written into the C file
    // for tracebacks.
    std::string source_path;
    // Turns off the runtime's index and division checks.
    bool unchecked = false;
};

// One compiled function instance (lambda instances are not listed).
struct InstanceSummary {
    // NoValue when the instance's return Type was never settled.
    Type return_type;
    // The function's name; a method as "Class.method".
    std::string name;
    // The instance's key: one Type per parameter.
    std::vector<Type> argument_types;
    // The instance's variables sorted by name.
    std::vector<std::pair<std::string, Type>> locals;
};

struct ClassSummary {
    std::string name;
    // Fields in creation order.
    std::vector<std::pair<std::string, Type>> attributes;
};

struct CodegenOutput {
    // The complete C file: switches, runtime text, program section.
    std::string c_text;
    // Sorted by name, then by the argument Types' displays, then by their
    // type codes, so the order never depends on hashing.
    std::vector<InstanceSummary> instances;
    // The top-level code's variables and every module global, sorted by name.
    std::vector<std::pair<std::string, Type>> variables;
    // Classes with recorded attributes, in class-id order.
    std::vector<ClassSummary> classes;
};

// Generates the program. Throws the first CompileError (message, line,
// column); no partial output is returned.
CodegenOutput generate_program(const Program &program, const CodegenOptions &options);

// The C text of `generate_program`; the other lists are dropped. Throws the
// same CompileError.
std::string compile_to_c(const Program &program, const CodegenOptions &options);

} // namespace kestal
