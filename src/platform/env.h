// The process's surroundings: environment variables, the well-known folders,
// the tool's own path and its ids. Environment values are handed out as UTF-8
// text; a value that is not valid UTF-8 counts as unset, so callers never see
// bytes they cannot print or put into a path they build.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kestal::platform {

// The variable's value; nothing when it is unset or not valid UTF-8. An
// empty value is a value.
std::optional<std::string> env_var(const std::string &name);

// The variable's raw bytes, valid UTF-8 or not; nothing when unset. For the
// few switches where any value counts.
std::optional<std::string> env_var_bytes(const std::string &name);

// The folder for temporary files: TMPDIR when set and non-empty, else "/tmp".
std::string temp_dir();

// The folder for per-user application data: LOCALAPPDATA, else
// XDG_DATA_HOME (only an absolute one), else HOME joined with
// ".local/share". Empty values count as unset; nothing when none applies.
std::optional<std::string> local_app_data_dir();

// The running executable's absolute path (from /proc/self/exe); nothing when
// it cannot be read.
std::optional<std::string> self_exe_path();

std::int64_t process_id();
std::uint32_t user_id();

} // namespace kestal::platform
