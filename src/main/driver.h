// The command-line driver: the process arguments in, one command chosen by
// the first argument, the process ended with that command's status (0
// success, 1 a failure after the options were accepted, 2 a usage error;
// `run` ends with its program's status).
//
// Option parsing is a pure function so it can be tested as a table; the
// functions that end the process are kept apart from it. The only
// process-wide state is the pause flag set by `--pause`, read by
// `exit_with_pause` alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestal {

// The parsed options of `run`, `build`, `check` and `emit`.
struct DriverOptions {
    std::string command;
    std::optional<std::string> source_path;
    std::optional<std::string> output_path;
    // Everything after "--", uninterpreted.
    std::vector<std::string> program_arguments;
    bool time = false;
    bool static_link = false;
    bool portable = false;
    bool windowed = false;
    // False with --no-cache: `run` builds outside the build cache.
    bool use_cache = true;
    bool checked = true;
    // `--pause` was given; the caller turns the process-wide flag on.
    bool pause = false;
};

// An option error: the whole text to write (for a missing source path,
// "kestal: no source file given" and the command's usage line). Status 2
// always.
struct OptionError {
    std::string message;
};

// Parses the arguments after a compile command's word and checks the
// combinations (`--pause` only with run, `--static` and `--windowed` only
// with build).
std::variant<DriverOptions, OptionError> parse_driver_options(std::string command,
                                                              const std::vector<std::string> &args);

// The 29 lines of the usage text, without a newline after the last.
std::string usage_text();

// Writes the usage text and a newline to standard error; status 2.
[[noreturn]] void exit_usage();

// Turns the pause flag on: from now on `exit_with_pause` waits for Enter.
void set_pause_on_exit();

// Ends the process with the status; when the pause flag is on, first
// writes "\nPress Enter to close" to standard error and reads one line.
[[noreturn]] void exit_with_pause(int status);

// The whole tool: dispatches on argv[1]. Returns the status of a command
// that ends normally; every other end leaves through std::exit.
int run_main(int argc, char **argv);

} // namespace kestal
