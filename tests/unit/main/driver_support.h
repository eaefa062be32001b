// Shared pieces of the driver tests: the scratch folder and environment
// helpers of the platform tests, and a runner for the built `kestal` tool
// with a private temporary folder and the daily update check switched off.
#pragma once

#include "../platform/test_support.h"
#include "platform/process.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestal::driver_test {

using platform::test_support::ScopedEnv;
using platform::test_support::ScratchDir;

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
    // The tool under test never looks for updates, wherever it is placed.
    env.emplace_back("KESTAL_NO_UPDATE_CHECK", "1");
    platform::Result<platform::CapturedRun> run = platform::run_captured(argv, env, input);
    EXPECT_TRUE(run.ok()) << (run.ok() ? "" : run.error().text);
    return run.ok() ? *run : platform::CapturedRun{};
}

} // namespace kestal::driver_test
