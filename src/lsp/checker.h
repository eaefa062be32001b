// Checking one document: its text in, the parsed Program and either the
// lists of a successful code generation or the first compile error out. The
// same stages as `kestal check` run on a fresh thread with a big stack that
// the caller joins at once, so deep source cannot overflow the server's
// stack, and a fault inside the compiler becomes an error of the document
// instead of ending the server.
#pragma once

#include "ast/program.h"
#include "codegen/codegen.h"
#include "support/compile_error.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestal::lsp {

// What hover and definition read from a successful check: the lists of the
// code generator's output, the C text dropped. Empty lists when default-made.
struct DocumentAnalysis {
    std::vector<InstanceSummary> instances;
    std::vector<std::pair<std::string, Type>> variables;
    std::vector<ClassSummary> classes;
};

struct CheckOutcome {
    // Present when the parse succeeded.
    std::optional<Program> program;
    std::variant<DocumentAnalysis, CompileError> result;
};

// The message of a check that crashed inside the compiler, or whose thread
// could not start; it is placed at line 1, column 1.
inline constexpr std::string_view kInternalCheckError =
    "internal compiler error while checking this file (a Kestal bug; `kestal check` shows the "
    "details)";

// Parses and generates the text on the calling thread. The URI names the
// program in generated tracebacks. Compile errors come back in the outcome;
// faults of the compiler itself propagate.
CheckOutcome analysis_job(const std::string &text, const std::string &uri);

// Runs `analysis_job` on a 256 MiB-stack thread and waits for it. Never
// throws: a fault inside the checker, or a thread that cannot start, gives
// no program and the internal error.
CheckOutcome run_check(const std::string &text, const std::string &uri);

// The characters an error's diagnostic covers on one line of the text.
struct DiagnosticSpan {
    std::size_t line = 0;
    std::size_t start = 0;
    std::size_t end = 0;
};

// Where to mark a 1-based error position in the text: a line past the end
// goes to the last line and a column past the end of its line to that
// line's end; an identifier starting at the column is covered whole, any
// other character alone, and an error at the end of a non-empty line marks
// its last character.
DiagnosticSpan diagnostic_span(const CompileError &error, std::string_view text);

} // namespace kestal::lsp
