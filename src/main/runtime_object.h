// The precompiled runtime object of `build` and `run`: the out-of-line,
// program-independent part of the runtime (start-up, the collector's slow
// paths, output flushing, failure reports) compiled once and kept in the
// build cache, so that a program's own compile leaves it out and links with
// the object instead. The runtime text holds both forms (see its header):
// KTL_SPLIT_RUNTIME compiles the object, KTL_SPLIT_PROGRAM a program
// against it.
//
// The object is an optimisation only: when it can't be found, built,
// written or linked, the caller builds the one-file form as before, and the
// user sees nothing of the attempt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestal {

// A program's C text cut into the two split texts.
struct SplitC {
    // The lines the program writes before the runtime (its switches), the
    // object's own switch, then the runtime text.
    std::string object_text;
    // The program's whole C text behind the program-side switch.
    std::string program_text;
};

// Splits a generated C text: nothing when the runtime text is not in it
// whole, after nothing but preprocessor lines.
std::optional<SplitC> split_c_text(std::string_view c_text, std::string_view runtime);

// "<resolved path> <size> <modification ns>" of the compiler command (a
// wrapper script is stamped itself); the command alone when it can't be
// found.
std::string compiler_stamp(const std::string &compiler);

// What decides the bytes of a runtime object.
struct RuntimeObjectKeyInputs {
    std::string_view object_text;
    // The compiler command (choose_c_compiler) and its compiler_stamp.
    std::string_view compiler;
    std::string_view compiler_stamp;
    bool portable = false;
};

// The 64-bit FNV-1a hash over the object text, the tool's version, the
// compiler command and stamp, every flag the object's compile adds for the
// compiler, and "portable" or "native".
std::uint64_t runtime_object_key(const RuntimeObjectKeyInputs &inputs);

// The folder of runtime objects inside the build cache of a work folder.
std::string runtime_object_dir(const std::string &work_folder);

// The cache holds at most this many runtime objects; more are pruned on a
// miss.
inline constexpr std::size_t kRuntimeObjectMaxEntries = 16;

// True when the file at the path starts like an object file (ELF).
bool looks_like_object(const std::string &path);

// The runtime object for the text, compiler and target: the cached one, or
// one built now (into a temporary name, then renamed into place). Nothing
// when it can't be had; the compiler's messages are then dropped.
std::optional<std::string> runtime_object(const std::string &work_folder,
                                          const std::string &object_text,
                                          const std::string &compiler, bool portable);

} // namespace kestal
