// Child processes, started from an argument list (never through a shell; a
// bare program name is looked up on PATH). Three forms: captured standard
// output and error with a wait, shared console with a wait, and detached.
// A program that cannot be started is an OsError, never an exit status, and
// a child ended by a signal is never reported as a success.
#pragma once

#include "platform/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestal::platform {

// Variables added to the inherited environment; each replaces an inherited
// variable of the same name.
using EnvVars = std::vector<std::pair<std::string, std::string>>;

struct ExitStatus {
    // The child's exit code; for a child ended by a signal, 128 plus the
    // signal number, as shells report it, so it is never 0.
    int code = 0;
    // The signal that ended the child; 0 when the child exited by itself.
    int signal = 0;

    bool success() const { return signal == 0 && code == 0; }
};

struct CapturedRun {
    ExitStatus status;
    std::string out;
    std::string err;
    // The child wrote more than the run's output limit to its standard
    // output and was killed; `out` then holds only the first bytes.
    bool out_limit_hit = false;
    // The watched file grew beyond its limit and the child was killed.
    bool file_limit_hit = false;
};

// A file the child of a captured run writes (curl's -o), watched while it
// runs: its size is looked at whenever the child's pipes have news and at
// least every kFileWatchMilliseconds, and the child is killed once the file
// holds more than max_bytes. Between two looks the child may write on, so
// the file can end up to one interval's writing past the limit.
struct WatchedFile {
    std::string path;
    std::uint64_t max_bytes = 0;
};

inline constexpr int kFileWatchMilliseconds = 10;

inline constexpr std::size_t kNoOutputLimit = static_cast<std::size_t>(-1);

// "exit status 3" or "killed by signal 9 (SIGKILL)".
std::string describe_exit(ExitStatus status);

// Runs argv[0] with the arguments, its standard output and error captured in
// full (both pipes are drained together, so no output size can deadlock it),
// its standard input fed with stdin_bytes and then closed (empty: the null
// device). Waits for it. Fails with the OS error when the program cannot be
// started, e.g. "No such file or directory (os error 2)". When standard
// output grows beyond max_out bytes the child is killed at once (so a child
// that writes without end cannot exhaust memory) and out_limit_hit is set;
// a watched file that passes its limit kills it the same way and sets
// file_limit_hit.
Result<CapturedRun> run_captured(const std::vector<std::string> &argv,
                                 const EnvVars &extra_env = {}, std::string_view stdin_bytes = {},
                                 std::size_t max_out = kNoOutputLimit,
                                 const std::optional<WatchedFile> &watched = std::nullopt);

// Runs argv[0] sharing this process's standard input, output and error, and
// waits for it. Fails with the OS error when the program cannot be started.
Result<ExitStatus> run_inherited(const std::vector<std::string> &argv,
                                 const EnvVars &extra_env = {});

// Starts argv[0] in a session of its own with all three standard streams on
// the null device and returns at once; the child is reaped in the background
// so it never lingers as a zombie. Fails when the program cannot be started.
Result<void> spawn_detached(const std::vector<std::string> &argv);

// The path at which exec would find the program: a name holding a '/' is
// returned when something exists there; a bare name is searched in the PATH
// folders in order (an empty entry is the current folder) for an executable
// regular file. Nothing when PATH is unset or nothing matches.
std::optional<std::string> find_program_on_path(const std::string &name);

} // namespace kestal::platform
