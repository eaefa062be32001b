// The compile road of `run`, `build`, `check` and `emit`: accepted options
// in, the source read, parsed and turned into C, then by command the C text
// printed, nothing, an executable built, or one built and run. Every compile
// error is shown in one form, "path:line:col: error: message" with an
// excerpt of the source line and a caret under the column.
//
// Parsing and code generation run on a thread with a big stack, so source
// nested deeply enough to exhaust the normal stack is compiled (or rejected)
// rather than crashing the tool. Only that work runs there; reading files,
// the C compiler and the program run on the main thread.
#pragma once

#include "main/driver.h"
#include "platform/result.h"
#include "support/compile_error.h"

#include <string>
#include <string_view>

namespace kestal {

// The display of a compile error: the header line, then, when the line
// exists in the source, the line (without a carriage return before its line
// feed) and a caret line. Every line ends in a newline.
std::string render_diagnostic(const CompileError &error, std::string_view source_path,
                              std::string_view source_text);

// Where `build` writes without -o: the source path with its extension
// dropped (prog.ktl gives prog). A source whose file name has no extension
// is an error (the executable would overwrite the source), as the message
// to show.
platform::Result<std::string> default_build_output(std::string_view source_path);

// Writes "kestal: can't run {path}: {error}" and ends with status 1.
[[noreturn]] void fail_run_program(const std::string &exe_path, const platform::OsError &error);

// Runs the command's road. Returns only for the normal ends of `build`,
// `check` and `emit` (status 0); every failure, and the end of `run`, leaves
// through `exit_with_pause`.
int run_compile_command(const DriverOptions &options);

} // namespace kestal
