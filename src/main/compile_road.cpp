// The compile road: read the source, parse it and generate C on a big-stack
// thread, then finish by command (emit, check, build, run). Every failure
// ends the process through the pausing exit with status 1; `run` ends with
// the status of the program it ran.
//
// `run` keeps its executables in the build cache, so an unchanged program
// runs again without the C compiler; with --no-cache it builds into the
// work folder, runs the executable and deletes it again. `build` and `run`
// both link the program with the cached runtime object (runtime_object.h),
// which --no-cache reuses too.
#include "main/compile_road.h"

#include "codegen/codegen.h"
#include "lexer/lexer.h"
#include "libraries/resolve.h"
#include "main/build_cache.h"
#include "main/c_compiler.h"
#include "parser/parser.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/utf8.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fcntl.h>
#include <fmt/format.h>
#include <linux/magic.h>
#include <set>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace kestal {
namespace {

using Clock = std::chrono::steady_clock;

// What the front end and the code generator hand back: the C text and what
// the C compiler needs to know about the imported libraries, or the first
// compile error.
struct GeneratedC {
    std::string c_text;
    std::vector<std::string> link_names;
    // Each library's folder and its `lib` subfolder, in library-name order.
    std::vector<std::string> library_dirs;
    // Each link name with the first library (by name) that asks for it.
    std::vector<std::pair<std::string, std::string>> link_owners;
    bool imports_library = false;
    std::optional<CompileError> error;
};

// Written with its length: a message or a source excerpt may hold a NUL
// byte, which must not cut the rest of it off.
void write_stderr(std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
}

[[noreturn]] void fail(const std::string &message) {
    write_stderr(message);
    std::fputc('\n', stderr);
    exit_with_pause(1);
}

// No real program comes near this size; the cap keeps a device or a
// runaway generated file from exhausting the memory before parsing starts.
constexpr std::size_t kMaxSourceBytes = std::size_t{32} << 20;

std::string read_source(const std::string &path) {
    platform::Result<std::string> bytes = platform::read_file(path, kMaxSourceBytes);
    if (!bytes)
        fail(fmt::format("kestal: can't read {}: {}", path, bytes.error().text));
    if (!platform::is_valid_utf8(*bytes))
        fail(fmt::format("kestal: can't read {}: stream did not contain valid UTF-8", path));
    return std::move(*bytes);
}

// The link names of every imported library, sorted and without duplicates.
std::vector<std::string> gather_link_names(const Program &program) {
    std::set<std::string> names;
    for (const auto &[name, library] : program.libraries)
        names.insert(library.links.begin(), library.links.end());
    return {names.begin(), names.end()};
}

std::vector<std::string> gather_library_dirs(const Program &program) {
    std::vector<std::string> dirs;
    for (const auto &[name, library] : program.libraries) {
        dirs.push_back(library.folder.string());
        dirs.push_back((library.folder / "lib").string());
    }
    return dirs;
}

std::vector<std::pair<std::string, std::string>> gather_link_owners(const Program &program) {
    std::vector<std::pair<std::string, std::string>> owners;
    std::set<std::string> seen;
    for (const auto &[name, library] : program.libraries)
        for (const std::string &link : library.links)
            if (seen.insert(link).second)
                owners.emplace_back(link, name);
    return owners;
}

// Parses and generates; runs on the big-stack thread. The Program lives
// only inside this call.
GeneratedC generate(const std::string &source_text, const CodegenOptions &codegen_options) {
    GeneratedC result;
    try {
        Program program = parse_module(source_text);
        resolve_imports(program, codegen_options.source_path);
        result.c_text = compile_to_c(program, codegen_options);
        result.link_names = gather_link_names(program);
        result.library_dirs = gather_library_dirs(program);
        result.link_owners = gather_link_owners(program);
        result.imports_library = !program.libraries.empty();
    } catch (const CompileError &error) {
        result.error = error;
    }
    return result;
}

GeneratedC generate_on_big_stack(const DriverOptions &options, const std::string &source_text) {
    CodegenOptions codegen_options{*options.source_path, !options.checked};
    try {
        platform::Result<GeneratedC> generated = platform::run_on_thread(
            platform::kBigStackBytes, [&] { return generate(source_text, codegen_options); });
        if (!generated)
            fail(
                fmt::format("kestal: can't start the compiler thread: {}", generated.error().text));
        return std::move(*generated);
    } catch (const std::bad_alloc &) {
        fail("kestal: out of memory while compiling");
    } catch (const std::exception &fault) {
        // A fault of the compiler itself: reported as such, never as a
        // successful compile and never as a crash without a word.
        fail(fmt::format("kestal: internal compiler error: {}", fault.what()));
    }
}

// The line-th line of the text (1-based): lines end at line feeds, a
// carriage return before the line feed is not part of the line, and nothing
// follows the final line feed. A byte-order mark opening the text is no part
// of line 1, as the lexer skips it.
std::optional<std::string_view> source_line(std::string_view text, std::uint64_t line) {
    if (line == 0)
        return std::nullopt;
    if (text.starts_with(kByteOrderMark))
        text.remove_prefix(kByteOrderMark.size());
    std::size_t start = 0;
    for (std::uint64_t n = 1; n < line; ++n) {
        std::size_t newline = text.find('\n', start);
        if (newline == std::string_view::npos)
            return std::nullopt;
        start = newline + 1;
    }
    if (start >= text.size())
        return std::nullopt;
    std::size_t end = text.find('\n', start);
    std::string_view found = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (end != std::string_view::npos && !found.empty() && found.back() == '\r')
        found.remove_suffix(1);
    return found;
}

// The program's run: the executable inherits our standard streams. While it
// runs, an interrupt from the terminal reaches it (it shares our process
// group) and ends it; we only note the signal, so the executable is still
// deleted and the status reported. The program itself starts with the
// default actions, since caught signals are reset by exec.
platform::Result<platform::ExitStatus> run_program(const std::string &exe,
                                                   const DriverOptions &options) {
    struct sigaction note = {};
    struct sigaction old_int = {}, old_quit = {};
    note.sa_handler = [](int) {};
    sigemptyset(&note.sa_mask);
    sigaction(SIGINT, &note, &old_int);
    sigaction(SIGQUIT, &note, &old_quit);
    std::vector<std::string> argv = {exe};
    argv.insert(argv.end(), options.program_arguments.begin(), options.program_arguments.end());
    std::fflush(stdout);
    std::fflush(stderr);
    platform::Result<platform::ExitStatus> status =
        platform::run_inherited(argv, {{"KESTAL_ARGV0", *options.source_path}});
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    return status;
}

double milliseconds_between(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// Builds the program into the cache's temporary path and renames it into
// place; returns the cached executable.
std::string build_into_cache(const CacheLookup &lookup, const GeneratedC &generated,
                             const BuildOptions &build) {
    build_executable(generated.c_text, lookup.temp_path, build);
    platform::Result<std::string> stored = store_in_cache(lookup.temp_path);
    if (!stored)
        fail(fmt::format("kestal: can't write {}", stored.error().text));
    return *stored;
}

[[noreturn]] void run_command(const DriverOptions &options, const GeneratedC &generated,
                              Clock::time_point compile_start) {
    platform::Result<std::string> work = work_dir();
    if (!work)
        fail(fmt::format("kestal: {}", work.error().text));
    BuildOptions build{
        generated.link_names,   options.portable,      false, false, generated.imports_library,
        generated.library_dirs, generated.link_owners, true};
    std::string exe;
    bool cached = false;
    Clock::time_point run_start;
    std::optional<platform::Result<platform::ExitStatus>> status;
    if (options.use_cache) {
        std::string compiler = choose_c_compiler();
        std::string stamp = library_files_stamp(generated.library_dirs, generated.link_names);
        CacheLookup lookup = lookup_build_cache(
            *work, {generated.c_text, generated.link_names, compiler, options.portable, stamp});
        if (lookup.built) {
            run_start = Clock::now();
            status = run_program(lookup.path, options);
            exe = lookup.path;
            cached = true;
            // A hit that can't be started (another run pruned it between
            // our lookup and the start, or the file was damaged) is built
            // again rather than reported.
            if (!*status) {
                status.reset();
                cached = false;
            }
        }
        if (!status) {
            exe = build_into_cache(lookup, generated, build);
            run_start = Clock::now();
            status = run_program(exe, options);
        }
    } else {
        exe = temp_exe_path(*work, *options.source_path);
        build_executable(generated.c_text, exe, build);
        run_start = Clock::now();
        status = run_program(exe, options);
        (void)platform::remove_file(exe);
    }
    if (!*status)
        fail_run_program(exe, status->error());
    Clock::time_point run_end = Clock::now();
    if (options.time)
        fmt::print(stderr, "kestal: compile {:.0f} ms{}, run {:.0f} ms\n",
                   milliseconds_between(compile_start, run_start), cached ? " (cached)" : "",
                   milliseconds_between(run_start, run_end));
    exit_with_pause((*status)->code);
}

// A C text cut short by a full disk or a closed pipe is a failure, not a
// successful emit. SIGPIPE is ignored (see run_main), so a reader that
// goes away shows up here as EPIPE.
void emit_command(const std::string &c_text) {
    errno = 0;
    bool written = std::fwrite(c_text.data(), 1, c_text.size(), stdout) == c_text.size() &&
                   std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!written) {
        int errnum = errno != 0 ? errno : EIO;
        fail(fmt::format("kestal: can't write the C text: {}", platform::os_error(errnum).text));
    }
}

// Refuses an output path that names the source file itself: the compiler
// would replace the program with its executable.
void check_output_is_not_source(const std::string &output, const std::string &source) {
    struct stat a, b;
    if (::stat(output.c_str(), &a) == 0 && ::stat(source.c_str(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino)
        fail(fmt::format("kestal: the output path {} is the source file itself; choose another "
                         "with -o",
                         output));
}

// True for a regular file on a kernel's pseudo file system (/proc, /sys):
// it opens for writing even where nothing can be written to it.
bool on_pseudo_file_system(const std::string &path) {
    struct statfs fs;
    return ::statfs(path.c_str(), &fs) == 0 &&
           (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC);
}

// True for the null device, which takes any output.
bool is_null_device(const struct stat &st) {
    struct stat null;
    return S_ISCHR(st.st_mode) && ::stat("/dev/null", &null) == 0 && st.st_rdev == null.st_rdev;
}

// Creates the missing folders of the output path, as build tools do, with
// the user's umask; a folder that can't be created is named with the reason.
void create_output_folder(const std::string &folder) {
    if (platform::Result<void> made = platform::create_dirs(folder, 0777); !made)
        fail(fmt::format("kestal: can't create the folder {}: {}", folder, made.error().text));
}

// Creates the new output file and removes it again: the one test that
// knows what the linker will meet (a kernel's file system that takes no new
// files, a read-only or full disk, a folder whose permissions the user's
// own checks would pass as root). Returns the errno of a failure, or 0.
int probe_new_file(const std::string &output) {
    int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == EEXIST ? 0 : errno;
    ::close(fd);
    (void)::unlink(output.c_str());
    return 0;
}

// Refuses an output path the linker could not write: an empty path, a
// folder that is a file, a folder, a device or pipe (the null device
// excepted), a file of the kernel's, or a place we may not write; missing
// folders are created. The C compiler's failure would otherwise be
// reported as a fault of Kestal.
void check_output_is_writable(const std::string &output) {
    std::string folder = output;
    size_t slash = folder.find_last_of('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    auto refuse = [&](const std::string &reason) {
        fail(fmt::format("kestal: can't write {}: {}", output, reason));
    };
    struct stat st;
    if (output.empty())
        refuse(platform::os_error(ENOENT).text);
    if (::stat(folder.c_str(), &st) != 0) {
        if (errno != ENOENT)
            refuse(platform::last_os_error().text);
        create_output_folder(folder);
        if (::stat(folder.c_str(), &st) != 0)
            refuse(platform::last_os_error().text);
    }
    if (!S_ISDIR(st.st_mode))
        refuse(platform::os_error(ENOTDIR).text);
    if (::stat(output.c_str(), &st) != 0) {
        // A new file: the folder must take it, and the name must be legal.
        if (errno != ENOENT)
            refuse(platform::last_os_error().text);
        if (int errnum = probe_new_file(output); errnum != 0)
            refuse(platform::os_error(errnum).text);
        return;
    }
    if (S_ISDIR(st.st_mode))
        refuse(platform::os_error(EISDIR).text);
    if (!S_ISREG(st.st_mode)) {
        if (!is_null_device(st))
            refuse("it is not a regular file");
        return;
    }
    if (on_pseudo_file_system(output))
        refuse(platform::os_error(EACCES).text);
    // The linker replaces a file it can't open when the folder lets it.
    int fd = ::open(output.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    int errnum = errno;
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        refuse(platform::os_error(errnum).text);
}

// The executable being built beside the output path, removed if the build
// ends in a failure (every failure path exits).
std::string g_partial_output;

void remove_partial_output() {
    if (!g_partial_output.empty())
        (void)::unlink(g_partial_output.c_str());
}

// Where the C compiler writes: a new name in the output's folder, renamed
// over the output once the build has succeeded, so a failed build (a link
// error, an interrupted compiler) leaves the previous executable as it was.
// The output itself when it is a device or the folder takes no new file.
std::string build_target(const std::string &output) {
    struct stat st;
    if (::stat(output.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return output;
    std::string temp = fmt::format("{}.kestal-{}", output, platform::process_id());
    if (probe_new_file(temp) != 0)
        return output;
    static bool registered = false;
    if (!registered && std::atexit(remove_partial_output) == 0)
        registered = true;
    if (registered)
        g_partial_output = temp;
    return registered ? temp : output;
}

void build_command(const DriverOptions &options, const GeneratedC &generated) {
    std::string output;
    if (options.output_path) {
        output = *options.output_path;
    } else {
        platform::Result<std::string> default_output = default_build_output(*options.source_path);
        if (!default_output)
            fail(fmt::format("kestal: {}", default_output.error().text));
        output = *default_output;
    }
    check_output_is_not_source(output, *options.source_path);
    check_output_is_writable(output);
    BuildOptions build{
        generated.link_names,      options.portable,       options.static_link,   options.windowed,
        generated.imports_library, generated.library_dirs, generated.link_owners, true};
    std::string target = build_target(output);
    build_executable(generated.c_text, target, build);
    if (target == output)
        return;
    if (platform::Result<void> moved = platform::rename_path(target, output); !moved)
        fail(fmt::format("kestal: can't write {}: {}", output, moved.error().text));
    g_partial_output.clear();
}

} // namespace

std::string render_diagnostic(const CompileError &error, std::string_view source_path,
                              std::string_view source_text) {
    std::string text =
        fmt::format("{}:{}:{}: error: {}\n", source_path, error.line, error.column, error.message);
    if (std::optional<std::string_view> line = source_line(source_text, error.line)) {
        std::string indent(error.column > 0 ? error.column - 1 : 0, ' ');
        text += fmt::format("{:>5} | {}\n      | {}^\n", error.line, *line, indent);
    }
    return text;
}

platform::Result<std::string> default_build_output(std::string_view source_path) {
    std::size_t slash = source_path.rfind('/');
    std::size_t name_start = slash == std::string_view::npos ? 0 : slash + 1;
    std::size_t dot = source_path.rfind('.');
    // A dot that starts the file name (".ktl") marks a hidden file, not an
    // extension; "." and ".." are no file names at all.
    std::string_view name = source_path.substr(name_start);
    if (dot == std::string_view::npos || dot <= name_start || name == "..")
        return platform::OsError{fmt::format(
            "{} has no extension, so the executable would overwrite it; give the output path "
            "with -o",
            source_path)};
    return std::string(source_path.substr(0, dot));
}

void fail_run_program(const std::string &exe_path, const platform::OsError &error) {
    fail(fmt::format("kestal: can't run {}: {}", exe_path, error.text));
}

int run_compile_command(const DriverOptions &options) {
    Clock::time_point compile_start = Clock::now();
    const std::string &source_path = *options.source_path;
    std::string source_text = read_source(source_path);
    GeneratedC generated = generate_on_big_stack(options, source_text);
    if (generated.error) {
        std::string shown = render_diagnostic(*generated.error, source_path, source_text);
        write_stderr(shown);
        exit_with_pause(1);
    }
    if (options.command == "emit")
        emit_command(generated.c_text);
    else if (options.command == "build")
        build_command(options, generated);
    else if (options.command == "run")
        run_command(options, generated, compile_start);
    return 0;
}

} // namespace kestal
