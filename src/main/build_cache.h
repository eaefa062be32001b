// The build cache of `run`: executables filed under a 64-bit key of
// everything that decides their bytes, in the folder `cache` inside the
// work folder, so an unchanged program runs again without the C compiler.
//
// Several `run` commands may fill the cache at once, with no lock: each
// builds into a temporary name of its own (key, hyphen, process id) and
// renames it into place, so the name of a cached executable only ever
// stands for a whole file. Lookup and pruning never fail; only putting a
// file in place can, and that is returned as an error text.
#pragma once

#include "platform/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// A cache holding more entries than this is pruned on a miss.
inline constexpr std::size_t kCacheMaxEntries = 100;

// What decides the bytes of a cached executable.
struct CacheKeyInputs {
    std::string_view c_text;
    // The link names of the imported libraries, sorted, without duplicates.
    const std::vector<std::string> &link_names;
    // The C compiler command (choose_c_compiler).
    std::string_view compiler;
    bool portable = false;
    // What the link names stand for in the libraries' own folders
    // (library_files_stamp); empty when they find nothing there.
    std::string_view library_stamp = {};
};

// The 64-bit FNV-1a hash over, in order and with nothing between them: the
// C text, the link names joined with spaces (nothing when there are none),
// the library stamp, the tool's version, the compiler command, the fixed C
// flags joined with spaces, and "portable" or "native".
std::uint64_t cache_key(const CacheKeyInputs &inputs);

// One line "<absolute path> <size> <modification ns>" for each archive or
// shared object `lib<name>.a` / `lib<name>.so` of a link name found in the
// library folders, in folder order. A library reinstalled with a new
// archive but the same header and link names thus gets a new key instead
// of the executable linked against its old archive. Unreadable folders and
// missing files add nothing.
std::string library_files_stamp(const std::vector<std::string> &library_dirs,
                                const std::vector<std::string> &link_names);

// The key as 16 lowercase hexadecimal digits.
std::string cache_key_text(std::uint64_t key);

// The cache folder inside a work folder.
std::string cache_dir(const std::string &work_folder);

struct CacheLookup {
    // The cached executable on a hit; the temporary path to build on a miss.
    std::string path;
    bool built = false;
    // The temporary path for this key and process, also on a hit (for the
    // build that replaces a hit which vanished before it could start).
    std::string temp_path;
};

// Creates the cache folder when missing and looks the key up. A hit does
// nothing more; a miss first prunes the folder (prune_cache). File-system
// errors are ignored: a folder that can't be made or listed finds nothing.
CacheLookup lookup_build_cache(const std::string &work_folder, const CacheKeyInputs &inputs);

// When the folder holds more than max_entries entries (of any name or
// kind), deletes the older half of them (the count divided by two), oldest
// first by last-write time and then by path. Failures are ignored.
void prune_cache(const std::string &folder, std::size_t max_entries = kCacheMaxEntries);

// Moves a freshly built temporary executable ("<key>-<pid>") to its final
// name ("<key>") in the same folder, replacing a file there, and returns
// the final path. When the rename fails the temporary file is deleted; if
// another run placed the final file first, that is returned; otherwise the
// error is the final path, for "kestal: can't write {}".
platform::Result<std::string> store_in_cache(const std::string &temp_path);

} // namespace kestal
