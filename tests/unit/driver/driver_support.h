// Shared pieces of the driver tests: a scratch folder removed afterwards,
// environment changes undone at the end of a test, and a runner for the
// built `kestal` tool with a private temporary folder.
#pragma once

#include "platform/files.h"
#include "platform/process.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestal::driver_test {

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = std::filesystem::temp_directory_path() / "kestal-driver-XXXXXX";
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir &) = delete;
    ScratchDir &operator=(const ScratchDir &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

    // Writes a file in the folder and returns its path.
    std::string write(const std::string &name, const std::string &text,
                      unsigned mode = 0644) const {
        std::string file = *this / name;
        EXPECT_TRUE(platform::write_file(file, text, mode).ok()) << file;
        return file;
    }

  private:
    std::string path_;
};

// Sets or unsets variables; restores every touched variable when destroyed.
class ScopedEnv {
  public:
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second)
                setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                unsetenv(it->first.c_str());
        }
    }
    void set(const std::string &name, const std::string &value) {
        save(name);
        setenv(name.c_str(), value.c_str(), 1);
    }
    void unset(const std::string &name) {
        save(name);
        unsetenv(name.c_str());
    }

  private:
    void save(const std::string &name) {
        const char *old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

inline std::string kestal_binary() {
    return std::string(KESTAL_TEST_BIN_DIR) + "/kestal";
}

// Runs the built tool with the arguments; its temporary folder (and so its
// work folder) is `temp_root`, and the variables in `env` are added.
inline platform::CapturedRun run_kestal(const std::vector<std::string> &args,
                                        const std::string &temp_root, platform::EnvVars env = {},
                                        std::string_view input = {}) {
    std::vector<std::string> argv = {kestal_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    env.emplace_back("TMPDIR", temp_root);
    platform::Result<platform::CapturedRun> run = platform::run_captured(argv, env, input);
    EXPECT_TRUE(run.ok()) << (run.ok() ? "" : run.error().text);
    return run.ok() ? *run : platform::CapturedRun{};
}

} // namespace kestal::driver_test
