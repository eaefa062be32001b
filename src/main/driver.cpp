// The command line: dispatch on the first argument, the options of the four
// compile commands and their combination checks, the usage text, and the two
// ways the driver ends the process on its own account (usage errors, and
// the pausing exit of the compile road).
#include "main/driver.h"

#include "libraries/commands.h"
#include "lsp/server.h"
#include "main/compile_road.h"
#include "main/doctor.h"
#include "platform/result.h"
#include "support/addresses.h"
#include "support/version.h"
#include "update/command.h"
#include "update/notice.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fmt/format.h>

namespace kestal {
namespace {

// Switched on by `--pause`; read only by exit_with_pause.
bool g_pause_on_exit = false;

// The command lines of the four compile commands: the usage text lists
// them, and a compile command without a source file shows its own.
struct CommandUsage {
    std::string_view command;
    std::string_view syntax;
    std::string_view description;
};

constexpr std::array<CommandUsage, 4> kCompileCommands = {{
    {"run", "kestal run <file.ktl> [options] [-- program args]", "compile and run"},
    {"build", "kestal build <file.ktl> [-o <exe>] [options]", "compile to an executable"},
    {"check", "kestal check <file.ktl>", "type-check only (no C compiler)"},
    {"emit", "kestal emit <file.ktl> [options]", "print the generated C"},
}};

const CommandUsage *find_compile_command(std::string_view word) {
    for (const CommandUsage &usage : kCompileCommands)
        if (usage.command == word)
            return &usage;
    return nullptr;
}

bool is_compile_command(std::string_view word) {
    return find_compile_command(word) != nullptr;
}

// A usage line of the command list: the description starts in the 55th
// column.
std::string command_line(std::string_view syntax, std::string_view description) {
    return fmt::format("  {:<52}{}", syntax, description);
}

// Switches the flag an option names; false when the text is no flag option.
bool apply_flag(DriverOptions &options, std::string_view arg) {
    if (arg == "--time")
        options.time = true;
    else if (arg == "--static")
        options.static_link = true;
    else if (arg == "--portable")
        options.portable = true;
    else if (arg == "--windowed")
        options.windowed = true;
    else if (arg == "--no-cache")
        options.use_cache = false;
    else if (arg == "--unchecked")
        options.checked = false;
    else if (arg == "--pause")
        options.pause = true;
    else
        return false;
    return true;
}

// The options that only some commands take, checked in this order.
std::optional<OptionError> check_combinations(const DriverOptions &options) {
    if (options.pause && options.command != "run")
        return OptionError{"kestal: --pause only works with 'kestal run'"};
    if (options.static_link && options.command != "build")
        return OptionError{"kestal: --static only works with 'kestal build'"};
    if (options.windowed && options.command != "build")
        return OptionError{"kestal: --windowed only works with 'kestal build'"};
    return std::nullopt;
}

[[noreturn]] void exit_with_message(const std::string &message, int status) {
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
    std::exit(status);
}

} // namespace

std::variant<DriverOptions, OptionError>
parse_driver_options(std::string command, const std::vector<std::string> &args) {
    DriverOptions options;
    options.command = std::move(command);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "-o") {
            // A trailing -o forgets an earlier value: the default applies.
            if (i + 1 == args.size()) {
                options.output_path.reset();
                break;
            }
            options.output_path = args[++i];
        } else if (arg == "--") {
            options.program_arguments.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                             args.end());
            break;
        } else if (apply_flag(options, arg)) {
            continue;
        } else if (!options.source_path && (arg.empty() || arg[0] != '-')) {
            options.source_path = arg;
        } else {
            return OptionError{fmt::format("kestal: unexpected argument '{}'", arg)};
        }
    }
    if (!options.source_path) {
        const CommandUsage *usage = find_compile_command(options.command);
        return OptionError{fmt::format("kestal: no source file given\nusage: {}",
                                       usage ? usage->syntax : "kestal <command> <file.ktl>")};
    }
    if (std::optional<OptionError> error = check_combinations(options))
        return *error;
    return options;
}

std::string usage_text() {
    // Descriptions of the command lines start in the 55th column.
    const std::array<std::string, 29> lines = {
        "Kestal: Python syntax, native speed.",
        "",
        "usage:",
        command_line(kCompileCommands[0].syntax, kCompileCommands[0].description),
        command_line(kCompileCommands[1].syntax, kCompileCommands[1].description),
        command_line(kCompileCommands[2].syntax, kCompileCommands[2].description),
        command_line(kCompileCommands[3].syntax, kCompileCommands[3].description),
        "  kestal lsp                                          language server over stdio (for "
        "editors)",
        "  kestal doctor                                       check that the C compiler and "
        "linker work",
        fmt::format("  kestal install <library>...                         download libraries "
                    "from {}",
                    without_scheme(kLibrarySiteUrl)),
        "  kestal uninstall <library>...                       remove installed libraries",
        "  kestal libraries [--offline]                        installed libraries, and what the "
        "site has",
        fmt::format("  kestal update [--check | --off | --on]              install the newest "
                    "Kestal (from {})",
                    without_scheme(kHomePageUrl)),
        "  kestal version",
        "",
        "options:",
        "  --unchecked   drop bounds and division-by-zero checks (fastest, unsafe)",
        "  --portable    don't tune for this CPU (-march=native off)",
        "  --static      fully static executable (build only; Linux and Windows)",
        "  --windowed    no console window, for GUI programs (build only; Windows)",
        "  --time        print compile and run times to stderr (run only)",
        "  --no-cache    always recompile (run only)",
        "  --pause       wait for Enter before exiting (run only; for double-clicked .ktl files)",
        "",
        "environment:",
        "  KESTAL_CC     C compiler to use (default: clang on PATH, then "
        "/usr/lib/llvm-*/bin/clang, then gcc)",
        "  KESTAL_LIBS   more folders to find libraries in, searched before the installed ones",
        fmt::format("  KESTAL_LIBRARY_URL   where `kestal install` downloads from (default {})",
                    kLibrarySiteUrl),
        "  KESTAL_NO_UPDATE_CHECK=1   skip the once-a-day check for a newer Kestal (or: kestal "
        "update --off)",
    };
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += lines[i];
    }
    return text;
}

void exit_usage() {
    exit_with_message(usage_text(), 2);
}

void set_pause_on_exit() {
    g_pause_on_exit = true;
}

void exit_with_pause(int status) {
    if (g_pause_on_exit) {
        std::fflush(stdout);
        std::fputs("\nPress Enter to close", stderr);
        std::fflush(stderr);
        // One line, up to a newline or the end of input; a read error ends
        // the wait like the end of input does.
        for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
        }
    }
    std::exit(status);
}

namespace {

// A command that ends by printing: output it couldn't write (a full disk, a
// closed pipe) is a failure, not success.
int with_output_written(int status) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return status;
    int errnum = errno != 0 ? errno : EIO;
    std::fputs(fmt::format("kestal: can't write the output: {}\n", platform::os_error(errnum).text)
                   .c_str(),
               stderr);
    return 1;
}

} // namespace

int run_main(int argc, char **argv) {
    // A closed pipe on our output is reported as a failed write (status 1),
    // not by a silent death; children get the default action back.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2)
        exit_usage();
    std::string_view command = argv[1];
    if (command == "-h" || command == "--help" || command == "help") {
        std::fputs(usage_text().c_str(), stdout);
        std::fputc('\n', stdout);
        return with_output_written(0);
    }
    if (command == "-V" || command == "--version" || command == "version") {
        std::printf("kestal %s\n", kVersion);
        return with_output_written(0);
    }
    if (command == "doctor")
        return with_output_written(doctor_command());
    if (command == "lsp")
        return lsp::run_lsp_server();
    if (command == "update")
        return update::update_command(std::vector<std::string>(argv + 2, argv + argc));
    if (command == "install")
        return install_command(std::vector<std::string>(argv + 2, argv + argc));
    if (command == "uninstall")
        return uninstall_command(std::vector<std::string>(argv + 2, argv + argc));
    if (command == "libraries") {
        bool offline = argc == 3 && std::string_view(argv[2]) == "--offline";
        if (argc > 3 || (argc == 3 && !offline)) {
            std::fputs("usage: kestal libraries [--offline]\n", stderr);
            return 2;
        }
        return with_output_written(libraries_command(offline));
    }
    if (!is_compile_command(command)) {
        std::fputs(fmt::format("kestal: unknown command '{}'\n\n", command).c_str(), stderr);
        exit_usage();
    }
    update::daily_update_check();
    std::vector<std::string> args(argv + 2, argv + argc);
    std::variant<DriverOptions, OptionError> parsed =
        parse_driver_options(std::string(command), args);
    if (const OptionError *error = std::get_if<OptionError>(&parsed))
        exit_with_message(error->message, 2);
    const DriverOptions &options = std::get<DriverOptions>(parsed);
    if (options.pause)
        set_pause_on_exit();
    return run_compile_command(options);
}

} // namespace kestal
