// Files and folders by path, with failures returned as OsError texts
// ("{} (os error {})") that callers place in their own messages beside the
// path. Paths are plain byte strings as the kernel sees them.
#pragma once

#include "platform/result.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestal::platform {

// The whole file's bytes. A file (or a device such as /dev/zero) holding
// more than max_bytes fails with the code EFBIG and the text "file too
// large (more than 32 MiB)" (the limit in MiB when it is a whole number of
// them, else in bytes), having read at most one buffer past the limit.
Result<std::string> read_file(const std::string &path,
                              std::size_t max_bytes = static_cast<std::size_t>(-1));

// Creates or truncates the file and writes the bytes. A failure part-way
// leaves a partial file.
Result<void> write_file(const std::string &path, std::string_view bytes, unsigned mode = 0666);

// Writes the bytes to a fresh file beside the target and renames it into
// place, so readers see either the old file or the whole new one. On failure
// the temporary file is removed and the target is untouched.
Result<void> write_file_atomic(const std::string &path, std::string_view bytes,
                               unsigned mode = 0666);

// The names in a folder, without "." and "..", sorted by bytes.
Result<std::vector<std::string>> list_dir(const std::string &path);

Result<void> remove_file(const std::string &path);

// Removes an empty folder.
Result<void> remove_dir(const std::string &path);

// Removes whatever is at the path: a file, a symbolic link (the link itself,
// never what it points to), or a folder with everything in it. Links inside
// the folder are removed as links, so nothing outside it is ever touched.
// Nothing at the path is success; the first failure stops the removal.
Result<void> remove_tree(const std::string &path);

// Renames, replacing an existing file at the target.
Result<void> rename_path(const std::string &from, const std::string &to);

// Sets the file's modification time to now.
Result<void> mark_modified_now(const std::string &path);

// Creates one folder with the mode (less the umask); an existing path is an
// error ("File exists (os error 17)").
Result<void> create_dir(const std::string &path, unsigned mode = 0777);

// Creates the folder and any missing parents; an existing folder is success,
// an existing non-folder is an error.
Result<void> create_dirs(const std::string &path, unsigned mode = 0777);

enum class PathKind { File, Dir, Symlink, Other };

struct PathInfo {
    PathKind kind = PathKind::Other;
    std::uint32_t owner = 0;
    // The permission bits (07777).
    std::uint32_t mode = 0;
    std::uint64_t size = 0;
    // Last modification, in nanoseconds since 1970.
    std::int64_t modified_ns = 0;
};

// What is at the path. With follow_symlinks off, a symbolic link is reported
// as PathKind::Symlink with its own owner and times.
Result<PathInfo> path_info(const std::string &path, bool follow_symlinks = true);

// Whether anything is at the path (following links: a dangling link is false).
bool path_exists(const std::string &path);

} // namespace kestal::platform
