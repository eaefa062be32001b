// Environment values as UTF-8, the folder rules, and the process identity.
#include "platform/env.h"
#include "platform/files.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kestal::platform {
namespace {

using test_support::ScopedEnv;

TEST(PlatformEnv, ValuesMustBeUtf8) {
    ScopedEnv env;
    env.set("KESTAL_TEST_BAD", "ab\xff");
    env.set("KESTAL_TEST_SURROGATE", "\xed\xa0\x80");
    env.set("KESTAL_TEST_GOOD", "caf\xc3\xa9 \xf0\x9f\x98\x80");
    env.set("KESTAL_TEST_EMPTY", "");
    env.unset("KESTAL_TEST_UNSET");
    EXPECT_EQ(env_var("KESTAL_TEST_BAD"), std::nullopt);
    EXPECT_EQ(env_var("KESTAL_TEST_SURROGATE"), std::nullopt);
    EXPECT_EQ(env_var("KESTAL_TEST_GOOD"), "caf\xc3\xa9 \xf0\x9f\x98\x80");
    EXPECT_EQ(env_var("KESTAL_TEST_EMPTY"), "");
    EXPECT_EQ(env_var("KESTAL_TEST_UNSET"), std::nullopt);
    // The raw form sees every set value.
    EXPECT_EQ(env_var_bytes("KESTAL_TEST_BAD"), "ab\xff");
    EXPECT_EQ(env_var_bytes("KESTAL_TEST_UNSET"), std::nullopt);
}

TEST(PlatformEnv, TempDirFollowsTmpdir) {
    struct Row {
        std::optional<std::string> tmpdir;
        std::string expected;
    };
    const Row rows[] = {
        {std::nullopt, "/tmp"},
        {"", "/tmp"},
        {"/var/scratch", "/var/scratch"},
        {"/bad\xff", "/tmp"},
    };
    for (const Row &row : rows) {
        ScopedEnv env;
        env.put("TMPDIR", row.tmpdir);
        EXPECT_EQ(temp_dir(), row.expected) << row.tmpdir.value_or("(unset)");
    }
}

TEST(PlatformEnv, LocalAppDataFallsBackInOrder) {
    struct Row {
        std::optional<std::string> local_app_data, xdg_data_home, home;
        std::optional<std::string> expected;
    };
    const std::nullopt_t unset = std::nullopt;
    const Row rows[] = {
        {"/lad", "/xdg", "/home/u", "/lad"},
        {unset, "/xdg", "/home/u", "/xdg"},
        {unset, unset, "/home/u", "/home/u/.local/share"},
        {unset, unset, "/home/u/", "/home/u/.local/share"},
        {"", "", "/home/u", "/home/u/.local/share"},
        // A relative XDG_DATA_HOME is not a usable data folder.
        {unset, "relative/xdg", "/home/u", "/home/u/.local/share"},
        {"\xff", "/xdg", "/home/u", "/xdg"},
        {unset, unset, unset, unset},
        {unset, unset, "", unset},
    };
    for (const Row &row : rows) {
        ScopedEnv env;
        env.put("LOCALAPPDATA", row.local_app_data);
        env.put("XDG_DATA_HOME", row.xdg_data_home);
        env.put("HOME", row.home);
        EXPECT_EQ(local_app_data_dir(), row.expected)
            << row.local_app_data.value_or("-") << " " << row.xdg_data_home.value_or("-") << " "
            << row.home.value_or("-");
    }
}

TEST(PlatformEnv, SelfPathAndIds) {
    std::optional<std::string> self = self_exe_path();
    ASSERT_TRUE(self.has_value());
    EXPECT_TRUE(self->ends_with("/unit_platform")) << *self;
    EXPECT_TRUE(path_exists(*self));
    EXPECT_EQ(process_id(), static_cast<std::int64_t>(getpid()));
    EXPECT_EQ(user_id(), static_cast<std::uint32_t>(getuid()));
}

} // namespace
} // namespace kestal::platform
