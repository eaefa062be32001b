// Import resolution: the names a program imports in, `Library` records in
// the Program's library map out. Each name is looked for as a folder
// `<folder>/<name>` holding `library.json`, in the folders of the search
// list in order; the first copy found is loaded and decides, so a broken
// manifest is never hidden by a good copy further down the list.
#pragma once

#include "ast/program.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kestal {

// The folder the `install` command keeps libraries in: `Kestal/libraries`
// under the per-user data folder (LOCALAPPDATA, else XDG_DATA_HOME, else
// ~/.local/share); nothing when none of these is known.
std::optional<std::filesystem::path> installed_library_dir();

// The folders searched for libraries, in order: each entry of KESTAL_LIBS
// (split on ':', an empty entry meaning the current folder), the folder
// `libraries` beside the source file (left out without a source path, as
// for an editor buffer that is no file), then the installed folder. Built
// afresh from the environment on every call.
std::vector<std::filesystem::path>
library_search_list(const std::optional<std::string> &source_path);

// Loads every library the program imports into `program.libraries`, each
// name once. A program without such imports touches neither the
// environment nor the file system. Throws a CompileError at the import's
// position for a library that is nowhere to be found or whose first copy
// doesn't load; the libraries loaded before it stay in the map.
void resolve_imports(Program &program, const std::optional<std::string> &source_path);

} // namespace kestal
