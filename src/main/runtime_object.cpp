// The runtime object: the split of a generated C text, the key, and the
// lookup that builds a missing object into a temporary name and renames it
// into place, as the build cache does with executables.
#include "main/runtime_object.h"

#include "main/build_cache.h"
#include "main/c_compiler.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/fnv1a.h"
#include "support/version.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <unistd.h>

namespace kestal {
namespace {

// Each text followed by a NUL, so that no two lists of texts hash alike by
// moving bytes from one text to the next.
void fnv1a_field(std::uint64_t &hash, std::string_view bytes) {
    fnv1a(hash, bytes);
    hash *= kFnvPrime;
}

constexpr std::string_view kObjectSwitch = "#define KTL_SPLIT_RUNTIME 1\n";
constexpr std::string_view kProgramSwitch = "#define KTL_SPLIT_PROGRAM 1\n";

// True when every line of the text is a preprocessor line.
bool only_directives(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            return false;
        if (text[at] != '#')
            return false;
        at = end + 1;
    }
    return true;
}

} // namespace

std::optional<SplitC> split_c_text(std::string_view c_text, std::string_view runtime) {
    if (runtime.empty())
        return std::nullopt;
    std::size_t at = c_text.find(runtime.substr(0, std::min<std::size_t>(runtime.size(), 256)));
    if (at == std::string_view::npos || c_text.compare(at, runtime.size(), runtime) != 0 ||
        !only_directives(c_text.substr(0, at)))
        return std::nullopt;
    SplitC split;
    split.object_text.reserve(at + kObjectSwitch.size() + runtime.size());
    split.object_text += c_text.substr(0, at);
    split.object_text += kObjectSwitch;
    split.object_text += runtime;
    split.program_text.reserve(kProgramSwitch.size() + c_text.size());
    split.program_text += kProgramSwitch;
    split.program_text += c_text;
    return split;
}

std::string compiler_stamp(const std::string &compiler) {
    std::optional<std::string> path = find_on_path(compiler);
    if (!path)
        return compiler;
    std::error_code ignored;
    std::string resolved = std::filesystem::weakly_canonical(*path, ignored).string();
    if (resolved.empty())
        resolved = *path;
    platform::Result<platform::PathInfo> info = platform::path_info(resolved);
    if (!info)
        return resolved;
    return fmt::format("{} {} {}", resolved, info->size, info->modified_ns);
}

std::uint64_t runtime_object_key(const RuntimeObjectKeyInputs &inputs) {
    std::uint64_t hash = kFnvOffsetBasis;
    fnv1a_field(hash, inputs.object_text);
    fnv1a_field(hash, kVersion);
    fnv1a_field(hash, inputs.compiler);
    fnv1a_field(hash, inputs.compiler_stamp);
    // A new fixed flag or a flag of the compiler's family is a new key.
    for (const std::string &arg : compile_flags(std::string(inputs.compiler), inputs.portable))
        fnv1a_field(hash, arg);
    fnv1a_field(hash, inputs.portable ? "portable" : "native");
    return hash;
}

std::string runtime_object_dir(const std::string &work_folder) {
    return cache_dir(work_folder) + "/runtime";
}

bool looks_like_object(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char head[4] = {};
    bool read_whole = ::read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head);
    ::close(fd);
    return read_whole && std::string_view(head, sizeof head) == "\x7f"
                                                                "ELF";
}

std::optional<std::string> runtime_object(const std::string &work_folder,
                                          const std::string &object_text,
                                          const std::string &compiler, bool portable) {
    std::string folder = runtime_object_dir(work_folder);
    std::string stamp = compiler_stamp(compiler);
    std::string key = cache_key_text(runtime_object_key({object_text, compiler, stamp, portable}));
    std::string cached = fmt::format("{}/{}.o", folder, key);
    platform::Result<platform::PathInfo> info = platform::path_info(cached);
    if (info && info->kind == platform::PathKind::File && looks_like_object(cached))
        return cached;
    if (!platform::create_dirs(folder, 0700))
        return std::nullopt;
    prune_cache(folder, kRuntimeObjectMaxEntries);
    std::string pid = std::to_string(platform::process_id());
    std::string c_file = fmt::format("{}/{}-{}.c", folder, key, pid);
    std::string temp = fmt::format("{}/{}-{}.o", folder, key, pid);
    if (!platform::write_file(c_file, object_text, 0600)) {
        (void)platform::remove_file(c_file);
        return std::nullopt;
    }
    std::vector<std::string> argv = compile_flags(compiler, portable);
    argv.insert(argv.end(), {"-c", c_file, "-o", temp});
    platform::Result<platform::CapturedRun> run = run_compiler(argv);
    (void)platform::remove_file(c_file);
    if (!run || !run->status.success() || !looks_like_object(temp)) {
        (void)platform::remove_file(temp);
        return std::nullopt;
    }
    if (!platform::rename_path(temp, cached)) {
        (void)platform::remove_file(temp);
        if (!looks_like_object(cached))
            return std::nullopt;
    }
    return cached;
}

} // namespace kestal
