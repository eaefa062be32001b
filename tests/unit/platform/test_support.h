// Shared pieces of the unit tests that touch the system (platform, driver):
// a scratch folder removed afterwards, environment changes undone at the end
// of a test, and a stand-in curl.
#pragma once

#include "platform/files.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestal::platform::test_support {

class ScratchDir {
  public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestal-test-XXXXXX");
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

    // Writes a file in the folder (creating the folders a name such as
    // "a/b/c" needs) and returns its path.
    std::string write(const std::string &name, const std::string &text,
                      unsigned mode = 0644) const {
        std::string file = *this / name;
        std::error_code ignored;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ignored);
        EXPECT_TRUE(write_file(file, text, mode).ok()) << file;
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
    // Sets the variable when a value is given, unsets it otherwise.
    void put(const std::string &name, const std::optional<std::string> &value) {
        if (value)
            set(name, *value);
        else
            unset(name);
    }

  private:
    void save(const std::string &name) {
        const char *old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Puts a stand-in curl first on PATH, in dir/bin: each run appends its
// arguments to dir/log and then runs the shell text in FAKE_CURL, with the
// PATH the test started with.
inline void install_fake_curl(const ScratchDir &dir, ScopedEnv &env) {
    dir.write("bin/curl",
              "#!/bin/sh\n"
              "PATH=\"$FAKE_PATH\"\n"
              "printf '%s\\n' \"$@\" >> \"$FAKE_LOG\"\n"
              "eval \"$FAKE_CURL\"\n",
              0755);
    const char *path = std::getenv("PATH");
    env.set("FAKE_PATH", path ? path : "/usr/bin:/bin");
    env.set("PATH", dir / "bin");
    env.set("FAKE_LOG", dir / "log");
}

} // namespace kestal::platform::test_support
