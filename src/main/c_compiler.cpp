// The C-compiler driver: compiler choice, work folder, temporary file names,
// the compiler's argument list and the run that turns a C file into an
// executable. Only `build_executable` ends the process; everything else
// returns a value so the choices can be tested one by one.
#include "main/c_compiler.h"

#include "main/driver.h"
#include "main/runtime_object.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/utf8.h"
#include "runtime/runtime_text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fmt/format.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestal {
namespace {

// The version of an "llvm-<major>[.<minor>...]" folder name as numbers;
// nothing when the name has another shape.
std::optional<std::vector<unsigned long>> llvm_version(std::string_view name) {
    constexpr std::string_view prefix = "llvm-";
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size())
        return std::nullopt;
    std::vector<unsigned long> parts;
    unsigned long current = 0;
    bool digits = false;
    for (char c : name.substr(prefix.size())) {
        if (c >= '0' && c <= '9') {
            // Absurdly long numbers saturate instead of wrapping.
            current =
                current > 100000000ul ? current : current * 10 + static_cast<unsigned>(c - '0');
            digits = true;
        } else if (c == '.' && digits) {
            parts.push_back(current);
            current = 0;
            digits = false;
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    parts.push_back(current);
    return parts;
}

bool is_executable_file(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The clang of the newest llvm-* installation under the folder.
std::optional<std::string> newest_llvm_clang(const std::string &llvm_parent) {
    platform::Result<std::vector<std::string>> names = platform::list_dir(llvm_parent);
    if (!names)
        return std::nullopt;
    std::optional<std::string> best;
    std::vector<unsigned long> best_version;
    for (const std::string &name : *names) {
        std::optional<std::vector<unsigned long>> version = llvm_version(name);
        if (!version || (best && *version <= best_version))
            continue;
        std::string clang = fmt::format("{}/{}/bin/clang", llvm_parent, name);
        if (!is_executable_file(clang))
            continue;
        best = clang;
        best_version = *version;
    }
    return best;
}

// A path joined so that no argument we hand to the compiler can be taken
// for an option: a relative folder starting with '-' gets a "./" in front.
std::string join_path(std::string_view folder, std::string_view name) {
    std::string joined = folder.empty() ? "." : std::string(folder);
    if (joined[0] == '-')
        joined.insert(0, "./");
    if (joined.back() != '/')
        joined += '/';
    joined += name;
    return joined;
}

// Checks what already stands at the work folder's path.
platform::Result<void> check_existing_work_dir(const std::string &path) {
    platform::Result<platform::PathInfo> info = platform::path_info(path, false);
    if (!info)
        return platform::OsError{
            fmt::format("can't use the work folder {}: {}", path, info.error().text)};
    if (info->kind == platform::PathKind::Symlink)
        return platform::OsError{
            fmt::format("refusing the work folder {}: it is a symbolic link", path)};
    if (info->kind != platform::PathKind::Dir)
        return platform::OsError{
            fmt::format("refusing the work folder {}: it is not a folder", path)};
    std::uint32_t uid = platform::user_id();
    if (info->owner != uid)
        return platform::OsError{
            fmt::format("refusing the work folder {}: it belongs to user {}, not to you (user {})",
                        path, info->owner, uid)};
    // A folder of ours that others can read or enter is narrowed, so the
    // executables we build there cannot be swapped before they run.
    if ((info->mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return platform::OsError{fmt::format("can't make the work folder {} private: {}", path,
                                             platform::last_os_error().text)};
    return {};
}

// True when the compiler's output points into the generated C file
// ("<c file>:<line>:"): a diagnostic about the text Kestal wrote. A compiler
// that fails without one (a wrong KESTAL_CC, a linker without its
// libraries, a full disk, a killed process) failed on its own account.
bool names_generated_c(std::string_view output, std::string_view c_file) {
    for (std::size_t at = output.find(c_file); at != std::string_view::npos;
         at = output.find(c_file, at + 1)) {
        std::size_t after = at + c_file.size();
        if (after + 1 < output.size() && output[after] == ':' && output[after + 1] >= '0' &&
            output[after + 1] <= '9')
            return true;
    }
    return false;
}

// How linkers say that no library file matches a link name; the name
// follows each phrase.
constexpr std::array<std::string_view, 3> kMissingLibraryPhrases = {
    "cannot find -l", "unable to find library -l", "library not found: "};

bool is_link_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// True when the output says the link name (whole, not the start of a
// longer one) was not found.
bool linker_missed(std::string_view output, std::string_view link_name) {
    for (std::string_view phrase : kMissingLibraryPhrases) {
        std::string needle = fmt::format("{}{}", phrase, link_name);
        for (std::size_t at = output.find(needle); at != std::string_view::npos;
             at = output.find(needle, at + 1)) {
            std::size_t after = at + needle.size();
            if (after == output.size() || !is_link_name_char(output[after]))
                return true;
        }
    }
    return false;
}

// "a, b or c" for the folders a link name was looked for in.
std::string searched_folders(const std::vector<std::string> &dirs) {
    std::string text;
    for (const std::string &dir : dirs)
        text += dir + ", ";
    if (!text.empty())
        text.resize(text.size() - 2);
    return text + (text.empty() ? "" : " or ") + "the C compiler's own library folders";
}

// Raises this process's soft stack limit to kCompilerStackBytes (at most
// the hard limit) for the guard's life, so that a compiler started meanwhile
// inherits it; the old limit comes back before the program itself runs.
class CompilerStackLimit {
  public:
    CompilerStackLimit() {
        if (::getrlimit(RLIMIT_STACK, &saved_) != 0)
            return;
        struct rlimit raised = saved_;
        rlim_t wanted = kCompilerStackBytes;
        if (raised.rlim_max != RLIM_INFINITY && raised.rlim_max < wanted)
            wanted = raised.rlim_max;
        if (raised.rlim_cur != RLIM_INFINITY && raised.rlim_cur < wanted) {
            raised.rlim_cur = wanted;
            changed_ = ::setrlimit(RLIMIT_STACK, &raised) == 0;
        }
    }
    ~CompilerStackLimit() {
        if (changed_)
            (void)::setrlimit(RLIMIT_STACK, &saved_);
    }
    CompilerStackLimit(const CompilerStackLimit &) = delete;
    CompilerStackLimit &operator=(const CompilerStackLimit &) = delete;

  private:
    struct rlimit saved_ {};
    bool changed_ = false;
};

// Builds the executable from the program's C compiled against the cached
// runtime object. False, with nothing reported, when the text can't be
// split, the object can't be had, or the compile or link fails: the caller
// then builds the one-file form, which reports whatever is wrong with the
// program. An object the linker refuses is deleted, to be built again.
// A compiler that reports success must have written the executable.
void require_output(const std::string &compiler, const std::string &output_path) {
    if (platform::path_exists(output_path))
        return;
    fmt::print(stderr,
               "kestal: the C compiler '{}' reported success but wrote no executable at {}\n",
               compiler, output_path);
    exit_with_pause(1);
}

bool build_split(const std::string &work, const std::string &c_text, const std::string &output_path,
                 const BuildOptions &options, const std::string &compiler) {
    std::optional<SplitC> split = split_c_text(c_text, runtime_text());
    if (!split)
        return false;
    std::optional<std::string> object =
        runtime_object(work, split->object_text, compiler, options.portable);
    if (!object)
        return false;
    std::string c_file = c_file_path(work, output_path);
    if (!platform::write_file(c_file, split->program_text, 0600)) {
        (void)platform::remove_file(c_file);
        return false;
    }
    std::vector<std::string> argv = compiler_arguments(compiler, c_file, output_path, options);
    auto at = std::find(argv.begin(), argv.end(), c_file);
    argv.insert(at + 1, *object);
    platform::Result<platform::CapturedRun> run = run_compiler(argv);
    (void)platform::remove_file(c_file);
    if (run && run->status.success())
        return true;
    if (run && (run->err + run->out).find(*object) != std::string::npos)
        (void)platform::remove_file(*object);
    return false;
}

} // namespace

std::string choose_c_compiler() {
    return choose_c_compiler_in("/usr/lib");
}

std::string choose_c_compiler_in(const std::string &llvm_parent) {
    if (std::optional<std::string> chosen = platform::env_var("KESTAL_CC"))
        return *chosen;
    if (find_on_path("clang"))
        return "clang";
    if (std::optional<std::string> clang = newest_llvm_clang(llvm_parent))
        return *clang;
    if (find_on_path("gcc"))
        return "gcc";
    return "cc";
}

std::optional<std::string> find_on_path(const std::string &name) {
    return platform::find_program_on_path(name);
}

bool is_gcc_family(std::string_view compiler) {
    return compiler.find("gcc") != std::string_view::npos;
}

bool is_clang_family(std::string_view compiler) {
    return compiler.find("clang") != std::string_view::npos;
}

platform::Result<std::string> work_dir() {
    return work_dir_in(platform::temp_dir());
}

platform::Result<std::string> work_dir_in(const std::string &temp_root) {
    std::string path = join_path(temp_root, fmt::format("kestal-{}", platform::user_id()));
    // A missing temporary folder is created; when that fails the creation
    // below reports the reason.
    (void)platform::create_dirs(temp_root.empty() ? "." : temp_root);
    platform::Result<void> created = platform::create_dir(path, 0700);
    if (created) {
        // The umask may have narrowed the mode further than 0700.
        if (::chmod(path.c_str(), 0700) != 0)
            return platform::OsError{fmt::format("can't make the work folder {} private: {}", path,
                                                 platform::last_os_error().text)};
        return path;
    }
    if (created.error().code != EEXIST)
        return platform::OsError{
            fmt::format("can't create the work folder {}: {}", path, created.error().text)};
    platform::Result<void> usable = check_existing_work_dir(path);
    if (!usable)
        return usable.error();
    return path;
}

std::string path_stem(std::string_view path) {
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    std::size_t slash = path.rfind('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == ".." || name == "/" ||
        !platform::is_valid_utf8(name))
        return "prog";
    std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return std::string(name);
    return std::string(name.substr(0, dot));
}

std::string temp_name_stem(std::string_view path) {
    std::string stem = path_stem(path);
    if (stem.size() <= kTempStemBytes)
        return stem;
    // The stem is UTF-8: cut before a character, never inside one.
    std::size_t end = kTempStemBytes;
    while (end > 0 && (static_cast<unsigned char>(stem[end]) & 0xC0) == 0x80)
        --end;
    stem.resize(end);
    return stem;
}

std::string temp_exe_path(const std::string &work_folder, std::string_view source_path) {
    return join_path(work_folder,
                     fmt::format("{}-{}", temp_name_stem(source_path), platform::process_id()));
}

std::string c_file_path(const std::string &work_folder, std::string_view output_path) {
    return join_path(work_folder,
                     fmt::format("{}-{}.c", temp_name_stem(output_path), platform::process_id()));
}

std::vector<std::pair<std::string, std::string>>
missing_link_names(std::string_view output,
                   const std::vector<std::pair<std::string, std::string>> &link_owners) {
    std::vector<std::pair<std::string, std::string>> missing;
    for (const auto &owner : link_owners)
        if (linker_missed(output, owner.first))
            missing.push_back(owner);
    return missing;
}

std::vector<std::string> compile_flags(const std::string &compiler, bool portable) {
    std::vector<std::string> argv = {compiler};
    argv.insert(argv.end(), kFixedFlags.begin(), kFixedFlags.end());
    if (is_clang_family(compiler))
        argv.insert(argv.end(), kClangFlags.begin(), kClangFlags.end());
    else if (is_gcc_family(compiler))
        argv.insert(argv.end(), kGccFlags.begin(), kGccFlags.end());
    if (!portable)
        argv.emplace_back("-march=native");
    return argv;
}

platform::Result<platform::CapturedRun> run_compiler(const std::vector<std::string> &argv) {
    CompilerStackLimit stack;
    return platform::run_captured(argv);
}

std::vector<std::string> compiler_arguments(const std::string &compiler, const std::string &c_file,
                                            const std::string &output_path,
                                            const BuildOptions &options) {
    std::vector<std::string> argv = compile_flags(compiler, options.portable);
    argv.push_back(c_file);
    argv.emplace_back("-o");
    argv.push_back(output_path);
    for (const std::string &dir : options.library_dirs)
        argv.push_back("-L" + dir);
    for (const std::string &name : options.link_names)
        argv.push_back("-l" + name);
    argv.insert(argv.end(), kSystemLinkFlags.begin(), kSystemLinkFlags.end());
    // gcc and clang take the same flag here; `windowed` has no meaning on
    // this platform and adds nothing.
    if (options.static_link)
        argv.emplace_back("-static");
    return argv;
}

void build_executable(const std::string &c_text, const std::string &output_path,
                      const BuildOptions &options) {
    platform::Result<std::string> work = work_dir();
    if (!work) {
        std::fprintf(stderr, "kestal: %s\n", work.error().text.c_str());
        exit_with_pause(1);
    }
    std::string c_file = c_file_path(*work, output_path);
    std::string compiler = choose_c_compiler();
    if (options.split_runtime && build_split(*work, c_text, output_path, options, compiler)) {
        require_output(compiler, output_path);
        return;
    }
    if (platform::Result<void> written = platform::write_file(c_file, c_text, 0600); !written) {
        // A partly written file is of no use to anyone: don't leave it behind.
        (void)platform::remove_file(c_file);
        fmt::print(stderr, "kestal: can't write {}: {}\n", c_file, written.error().text);
        exit_with_pause(1);
    }
    platform::Result<platform::CapturedRun> run =
        run_compiler(compiler_arguments(compiler, c_file, output_path, options));
    if (!run) {
        (void)platform::remove_file(c_file);
        fmt::print(stderr,
                   "kestal: can't run '{}' ({}). Install clang or set KESTAL_CC. `kestal doctor` "
                   "checks the setup.\n",
                   compiler, run.error().text);
        exit_with_pause(1);
    }
    if (!run->status.success()) {
        std::string output =
            platform::decode_utf8_lossy(run->err) + platform::decode_utf8_lossy(run->out);
        while (!output.empty() &&
               std::string_view(" \t\n\r\f\v").find(output.back()) != std::string_view::npos)
            output.pop_back();
        if (!names_generated_c(output, c_file)) {
            if (!output.empty())
                fmt::print(stderr, "{}\n", output);
            // The generated C is not at fault: a library's archive is missing.
            auto missing = missing_link_names(output, options.link_owners);
            for (const auto &[link_name, library] : missing)
                fmt::print(stderr,
                           "kestal: library '{0}' can't be linked: no lib{1}.a or lib{1}.so for "
                           "its link name '{1}' in {2}\n",
                           library, link_name, searched_folders(options.library_dirs));
            if (!missing.empty()) {
                (void)platform::remove_file(c_file);
                exit_with_pause(1);
            }
            fmt::print(stderr,
                       "kestal: the C compiler '{}' failed ({}) without reporting an error in the "
                       "generated C; check its setup with `kestal doctor`. Generated C kept at "
                       "{}\n",
                       compiler, platform::describe_exit(run->status), c_file);
            exit_with_pause(1);
        }
        fmt::print(stderr, "{}\n", output);
        fmt::print(stderr, "kestal: the C compiler failed; {}. Generated C kept at {}\n",
                   options.imports_library
                       ? "a bug in Kestal or in a library this program imports (its .h file)"
                       : "this is a Kestal bug",
                   c_file);
        exit_with_pause(1);
    }
    (void)platform::remove_file(c_file);
    require_output(compiler, output_path);
}

} // namespace kestal
