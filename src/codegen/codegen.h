// Code generation: a parsed Program (its imports resolved) in, the one C file
// of the program out, together with the lists an editor shows in hover texts
// (function instances, program variables and classes with their fields).
//
// Types are inferred while the C text is written: a function instance or the
// top-level code whose Type guess proves too narrow is compiled again with
// the wider Type, and only the final text of each is kept.
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

// A class and the fields stored through objects of it, as the language
// server shows them.
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
    // Classes with recorded fields, in class-id order.
    std::vector<ClassSummary> classes;
};

// Generates the program. Throws the first CompileError (message, line,
// column); no partial output is returned.
CodegenOutput generate_program(const Program &program, const CodegenOptions &options);

// The C text of `generate_program`; the other lists are dropped. Throws the
// same CompileError.
std::string compile_to_c(const Program &program, const CodegenOptions &options);

} // namespace kestal
