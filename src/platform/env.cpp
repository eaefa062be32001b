// Environment and identity of the running process, the POSIX way: getenv for
// variables, /proc/self/exe for the tool's own path, getpid/getuid for ids.
// The folder rules follow the desktop conventions (TMPDIR, XDG_DATA_HOME), with
// LOCALAPPDATA first so that one variable works on every platform.
#include "platform/env.h"

#include "platform/utf8.h"

#include <cstdlib>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace kestal::platform {

namespace {

// A value that is set, valid UTF-8 and not empty.
std::optional<std::string> non_empty_env_var(const std::string &name) {
    auto value = env_var(name);
    if (value && value->empty())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::string> env_var_bytes(const std::string &name) {
    const char *value = std::getenv(name.c_str());
    if (!value)
        return std::nullopt;
    return std::string(value);
}

std::optional<std::string> env_var(const std::string &name) {
    auto value = env_var_bytes(name);
    if (value && !is_valid_utf8(*value))
        return std::nullopt;
    return value;
}

std::string temp_dir() {
    return non_empty_env_var("TMPDIR").value_or("/tmp");
}

std::optional<std::string> local_app_data_dir() {
    if (auto dir = non_empty_env_var("LOCALAPPDATA"))
        return dir;
    // A relative XDG_DATA_HOME is invalid by the XDG rules and is ignored.
    if (auto dir = non_empty_env_var("XDG_DATA_HOME"); dir && dir->front() == '/')
        return dir;
    if (auto home = non_empty_env_var("HOME"))
        return *home + (home->back() == '/' ? "" : "/") + ".local/share";
    return std::nullopt;
}

std::optional<std::string> self_exe_path() {
    // The link's length is not known in advance; grow until it fits.
    std::vector<char> buffer(256);
    for (;;) {
        ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return std::nullopt;
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        buffer.resize(buffer.size() * 2);
    }
}

std::int64_t process_id() {
    return static_cast<std::int64_t>(getpid());
}

std::uint32_t user_id() {
    return static_cast<std::uint32_t>(getuid());
}

} // namespace kestal::platform
