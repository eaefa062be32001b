// `kestal install`, `uninstall` and `libraries`: the installed libraries
// folder managed from the library site. `install` downloads every file of a
// library into a fresh private staging folder beside the installed copy,
// checks each against the index's SHA-256, loads the result as a library and
// only then swaps it into place, so a failure at any step leaves the
// previous copy as it was and nothing half-written behind. Files are
// written, renamed and removed only inside the installed libraries folder,
// and no symbolic link in it is ever followed to remove or write anything.
#pragma once

#include "platform/result.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestal {

// The "version" text of folder/library.json; nothing when the file cannot
// be read, is not JSON, is not an object or has no string "version".
std::optional<std::string> installed_library_version(const std::string &folder);

// Compares two version texts as lists of numbers (trimmed, split at '.',
// each part an unsigned decimal with an optional '+', anything else 0; a
// list that is a prefix of the other is the smaller). Negative, 0 or
// positive like strcmp.
int compare_library_versions(std::string_view a, std::string_view b);

// Moves `target` (when anything is there) aside to `old_copy`, then
// `staging` to `target`, then removes `old_copy`. A failure of the first
// move removes the staging folder and gives "can't replace {} (is a program
// using it?): {}"; of the second, it puts the old copy back, removes the
// staging folder and gives "can't move the library into {}: {}". Renames go
// through `rename` so tests can fail them at will.
using RenameFunction =
    std::function<platform::Result<void>(const std::string &from, const std::string &to)>;
std::optional<std::string> swap_into_place(const std::string &staging, const std::string &target,
                                           const std::string &old_copy,
                                           const RenameFunction &rename);

// The commands; each writes its results to standard output and its failures
// as "kestal: {}" lines to standard error, and returns the exit status (2
// for a usage error, 1 when any name failed).
int install_command(const std::vector<std::string> &names);
int uninstall_command(const std::vector<std::string> &names);
int libraries_command(bool offline);

} // namespace kestal
