// The C-compiler driver: generated C text in, an executable out. It chooses
// the compiler command, owns the per-user work folder under the temporary
// folder, names the temporary files in it, writes the C file and runs the
// compiler with the fixed flags plus those the options call for.
//
// The work folder is shared by every compile of one user, so it is created
// with mode 0700 and refused when it is a symbolic link or belongs to
// someone else: another user must never be able to swap the C file or the
// executable between our write and our run. File names in it carry the
// process id, so concurrent compiles never meet.
#pragma once

#include "platform/process.h"
#include "platform/result.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestal {

// The flags every compile uses, in order.
inline constexpr std::array kFixedFlags = std::to_array<std::string_view>({
#include "main/fixed_c_flags.inc"
});

// Flags only clang takes (gcc rejects them), after the fixed flags. The
// parser lets brackets, operators and blocks nest 1000 deep and one source
// level becomes at most a few C levels (long operator runs none), so the
// generated C never reaches this bracket depth; clang's default of 256
// would refuse deep but legal programs.
inline constexpr std::array<std::string_view, 1> kClangFlags = {"-fbracket-depth=10000"};

// Flags only gcc takes, after the fixed flags. A range loop whose index
// checks a guard stands for is one loop body with a fast and a checked form
// of each access; gcc's default limit on the size of a loop it unswitches
// (50 of its instructions) leaves the bodies of real numeric loops (n-body's
// pair loop) with both forms, where clang's splits them.
inline constexpr std::array<std::string_view, 1> kGccFlags = {"--param=max-unswitch-insns=200"};

// The stack the C compiler runs with (the soft limit is raised to this, or
// to the hard limit when that is lower): C compilers parse nested brackets
// by recursion, about 4 KiB a level, and deep programs pass the usual 8 MiB.
inline constexpr std::size_t kCompilerStackBytes = std::size_t{1} << 30;

// What the runtime needs from the system libraries on Linux, after the
// program's own link names.
inline constexpr std::array<std::string_view, 2> kSystemLinkFlags = {"-lm", "-lpthread"};

struct BuildOptions {
    // Sorted by bytes, without duplicates.
    std::vector<std::string> link_names;
    bool portable = false;
    bool static_link = false;
    // Accepted for compatibility with other platforms; adds nothing here.
    bool windowed = false;
    // The program imports at least one library: only changes the wording of
    // the failure message.
    bool imports_library = false;
    // The folders the linker searches for the link names: each imported
    // library's folder and its `lib` subfolder, so a library can ship its
    // own archive.
    std::vector<std::string> library_dirs = {};
    // Each link name with the imported library that asks for it (the first
    // by library name), so a link name the linker can't find is reported
    // with its library rather than as a fault of the C compiler.
    std::vector<std::pair<std::string, std::string>> link_owners = {};
    // Compile the program against the cached runtime object (runtime_object)
    // when it can be had; the one-file form otherwise.
    bool split_runtime = false;
};

// The compiler command, first rule that applies: KESTAL_CC when set and
// valid UTF-8 (an empty value counts), "clang" when found on PATH, the
// newest /usr/lib/llvm-*/bin/clang, "gcc" when found on PATH, else "cc".
std::string choose_c_compiler();

// The same choice with the folder holding the llvm-* installations given
// (tests point it at a scratch folder).
std::string choose_c_compiler_in(const std::string &llvm_parent);

// The path at which a program name would be found: a name with a '/' when
// something exists there, a bare name by the PATH search; nothing otherwise.
std::optional<std::string> find_on_path(const std::string &name);

// True when the command is run with gcc's flags: "gcc" occurs in it.
bool is_gcc_family(std::string_view compiler);

// True when the command takes clang's own flags: "clang" occurs in it.
bool is_clang_family(std::string_view compiler);

// The work folder `kestal-<uid>` under the temporary folder, created with
// mode 0700 when missing (a folder of ours with a wider mode is narrowed).
// Fails, with a sentence ready for the user, when it cannot be created or
// when what is there is a symbolic link, not a folder, or not ours.
platform::Result<std::string> work_dir();

// The same under a given temporary folder.
platform::Result<std::string> work_dir_in(const std::string &temp_root);

// The file name without its last extension (".bashrc" keeps its name);
// "prog" when the path has no usable file name (empty, ".", ".." or a
// trailing slash).
std::string path_stem(std::string_view path);

// The longest stem a temporary name keeps, in bytes: with the process id
// and ".c" added, any file name the user can give (up to 255 bytes) still
// gives a legal temporary name.
inline constexpr std::size_t kTempStemBytes = 64;

// The path's stem (path_stem) cut to at most kTempStemBytes bytes, before a
// whole UTF-8 character.
std::string temp_name_stem(std::string_view path);

// The executable `run` builds: "<stem>-<pid>" in the work folder, from the
// source path's stem (temp_name_stem).
std::string temp_exe_path(const std::string &work_folder, std::string_view source_path);

// The C file a build writes: "<stem>-<pid>.c" in the work folder, from the
// output path's stem (temp_name_stem).
std::string c_file_path(const std::string &work_folder, std::string_view output_path);

// The link names of link_owners that the compiler's output says the linker
// found no library for ("cannot find -lNAME" of GNU ld and gold, "unable to
// find library -lNAME" of lld, "library not found: NAME" of mold), in
// link_owners order.
std::vector<std::pair<std::string, std::string>>
missing_link_names(std::string_view output,
                   const std::vector<std::pair<std::string, std::string>> &link_owners);

// The command and the flags of every compile, in order: the fixed flags,
// those of the compiler's family, and -march=native unless portable.
std::vector<std::string> compile_flags(const std::string &compiler, bool portable);

// Runs the compiler with its output captured, under the raised stack limit
// (kCompilerStackBytes).
platform::Result<platform::CapturedRun> run_compiler(const std::vector<std::string> &argv);

// The compiler's whole argument list, the command first.
std::vector<std::string> compiler_arguments(const std::string &compiler, const std::string &c_file,
                                            const std::string &output_path,
                                            const BuildOptions &options);

// Writes the C text into the work folder, compiles it to output_path and
// deletes the C file. On any failure (work folder refused, C file not
// written, compiler missing or failing) it writes the messages to standard
// error and ends the process with status 1 (through the pause); a failed
// compile keeps the C file and names it. A failure whose output holds no
// diagnostic about the C file is reported as the compiler's own, with its
// exit status, not as a fault of Kestal; when the linker found no archive
// for an imported library's link name, that library, its link name and the
// folders searched are named instead.
void build_executable(const std::string &c_text, const std::string &output_path,
                      const BuildOptions &options);

} // namespace kestal
