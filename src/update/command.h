// `kestal update`: reports whether the feed has a newer version, and in an
// installed copy downloads the release's installer, checks its size and
// SHA-256, moves the running executable aside and hands over to the
// installer, restoring the old executable when the installer fails without
// writing a new one. `--off` and `--on` switch the daily notice, and
// `--background` is the silent check the notice starts.
//
// An installed copy is one whose executable sits in a folder named `bin`
// whose parent (the install root) holds `install.json`.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestal::update {

// The usage text of the command, four lines without a final newline.
std::string update_usage_text();

// The command with the arguments after the word `update`; returns the exit
// status: 0, 1 for a failure (its message on standard error), 2 for wrong
// arguments (the usage text on standard error).
int update_command(const std::vector<std::string> &args);

// The install root of the running executable, or nothing.
std::optional<std::string> installed_root();

// The install root for an executable path: the parent of its folder when
// that folder is named exactly `bin` and the parent holds `install.json`.
std::optional<std::string> installed_root_of(const std::string &exe_path);

// Deletes `bin/kestal.old` under the root, ignoring failures.
void remove_old_exe(const std::string &root);

// Moves `bin/kestal` to `bin/kestal.old`, runs the installer with "--update",
// "--dir" and the root, sharing the terminal, and waits. On failure the old
// executable is put back when the installer left none; the message says
// which case happened.
std::optional<std::string> run_installer(const std::string &root, const std::string &installer);

} // namespace kestal::update
