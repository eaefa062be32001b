// An imported C library as its manifest describes it: the record kept in
// `Program::libraries`, which the code generator reads to paste the header,
// type-check calls and pass link names to the C compiler.
//
// The records are plain data; every map is ordered by name (byte order)
// because the generated C file lists functions and constants in that order.
// `load_library` (libraries/manifest.h) builds them; import resolution
// (libraries/resolve.h) fills `Program::libraries`. The syntax tree owns the
// record, so the Program needs nothing from the stages above it.
#pragma once

#include "ast/expr.h"
#include "types/type.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestal {

// A parameter default as the manifest writes it, with the literal parsed.
struct LibraryDefault {
    std::string text;
    Expr expr;
};

struct LibraryParam {
    // Unique within its function.
    std::string name;
    // Never NoValue.
    Type type;
    std::optional<LibraryDefault> default_value;
};

struct LibraryFunction {
    // The C function's name, a C identifier.
    std::string c;
    std::vector<LibraryParam> params;
    // NoValue when the function returns nothing.
    Type returns;
    // True when parallel loop bodies may call the function.
    bool thread_safe = false;
};

struct LibraryConstant {
    Type type;
    // The manifest's C expression wrapped in parentheses.
    std::string expr;
};

struct Library {
    // The name the library was asked for.
    std::string name;
    std::string version;
    std::filesystem::path folder;
    // The whole text of the library's header, never parsed.
    std::string header;
    // Link names in manifest order, duplicates kept.
    std::vector<std::string> links;
    std::map<std::string, LibraryFunction> functions;
    std::map<std::string, LibraryConstant> constants;
};

} // namespace kestal
