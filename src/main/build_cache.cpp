// The build cache: the key, the lookup with its pruning, and the rename
// that puts a freshly built executable in place.
#include "main/build_cache.h"

#include "main/c_compiler.h"
#include "platform/env.h"
#include "platform/files.h"
#include "platform/utf8.h"
#include "support/fnv1a.h"
#include "support/version.h"

#include <algorithm>
#include <filesystem>
#include <fmt/format.h>

namespace kestal {
namespace {

// Joins the texts with single spaces.
template <class Texts> void fnv1a_joined(std::uint64_t &hash, const Texts &texts) {
    bool first = true;
    for (std::string_view text : texts) {
        if (!first)
            fnv1a(hash, " ");
        fnv1a(hash, text);
        first = false;
    }
}

} // namespace

std::uint64_t cache_key(const CacheKeyInputs &inputs) {
    std::uint64_t hash = kFnvOffsetBasis;
    fnv1a(hash, inputs.c_text);
    fnv1a_joined(hash, inputs.link_names);
    fnv1a(hash, inputs.library_stamp);
    fnv1a(hash, kVersion);
    fnv1a(hash, inputs.compiler);
    fnv1a_joined(hash, kFixedFlags);
    fnv1a(hash, inputs.portable ? "portable" : "native");
    return hash;
}

std::string library_files_stamp(const std::vector<std::string> &library_dirs,
                                const std::vector<std::string> &link_names) {
    std::string stamp;
    for (const std::string &dir : library_dirs) {
        std::error_code ignored;
        std::string absolute = std::filesystem::absolute(dir, ignored).string();
        for (const std::string &name : link_names) {
            for (std::string_view suffix : {".a", ".so"}) {
                std::string file = fmt::format("{}/lib{}{}", absolute, name, suffix);
                platform::Result<platform::PathInfo> info = platform::path_info(file);
                if (info && info->kind == platform::PathKind::File)
                    stamp += fmt::format("{} {} {}\n", file, info->size, info->modified_ns);
            }
        }
    }
    return stamp;
}

std::string cache_key_text(std::uint64_t key) {
    return fmt::format("{:016x}", key);
}

std::string cache_dir(const std::string &work_folder) {
    return work_folder + "/cache";
}

CacheLookup lookup_build_cache(const std::string &work_folder, const CacheKeyInputs &inputs) {
    std::string folder = cache_dir(work_folder);
    std::string key = cache_key_text(cache_key(inputs));
    (void)platform::create_dirs(folder, 0700);
    CacheLookup lookup;
    lookup.temp_path = fmt::format("{}/{}-{}", folder, key, platform::process_id());
    std::string cached = folder + "/" + key;
    platform::Result<platform::PathInfo> info = platform::path_info(cached);
    if (info && info->kind == platform::PathKind::File) {
        // A hit is a use: pruning deletes the entries used least recently.
        (void)platform::mark_modified_now(cached);
        lookup.path = cached;
        lookup.built = true;
        return lookup;
    }
    prune_cache(folder);
    lookup.path = lookup.temp_path;
    return lookup;
}

void prune_cache(const std::string &folder, std::size_t max_entries) {
    platform::Result<std::vector<std::string>> names = platform::list_dir(folder);
    if (!names)
        return;
    struct Entry {
        std::int64_t modified_ns;
        std::string path;
    };
    std::vector<Entry> entries;
    for (const std::string &name : *names) {
        std::string path = folder + "/" + name;
        if (platform::Result<platform::PathInfo> info = platform::path_info(path, false))
            entries.push_back({info->modified_ns, std::move(path)});
    }
    if (entries.size() <= max_entries)
        return;
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.modified_ns != b.modified_ns ? a.modified_ns < b.modified_ns : a.path < b.path;
    });
    for (std::size_t i = 0; i < entries.size() / 2; ++i)
        (void)platform::remove_file(entries[i].path);
}

platform::Result<std::string> store_in_cache(const std::string &temp_path) {
    std::size_t slash = temp_path.rfind('/');
    std::string folder = slash == std::string::npos ? "." : temp_path.substr(0, slash);
    std::string name = slash == std::string::npos ? temp_path : temp_path.substr(slash + 1);
    std::string stem = platform::is_valid_utf8(name) ? name.substr(0, name.find('-')) : "prog";
    std::string final_path = folder + "/" + stem;
    if (platform::rename_path(temp_path, final_path))
        return final_path;
    (void)platform::remove_file(temp_path);
    if (platform::path_exists(final_path))
        return final_path;
    return platform::OsError{final_path};
}

} // namespace kestal
