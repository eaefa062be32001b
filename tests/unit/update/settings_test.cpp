// Version texts, allowed addresses, installer names, the message filler, and
// update.json: its text form, its reading with missing and wrong-kind
// members, and its place under the per-user data folder.
#include "../platform/test_support.h"
#include "update/settings.h"

#include <gtest/gtest.h>

namespace kestal::update {
namespace {

using platform::test_support::ScopedEnv;
using platform::test_support::ScratchDir;

TEST(UpdateVersions, NewerThanTheRunningVersion) {
    struct Row {
        std::string text;
        bool newer;
    };
    const Row rows[] = {
        {"1.3.2", true},
        {"1.4.0", true},
        {"2.0.0", true},
        {"+1.3.2", true},
        {"1.+3.+2", true},
        {"01.03.02", true},
        {"1.3.18446744073709551615", true},
        {"1.3.1", false},
        {"1.2.99", false},
        {"0.9.9", false},
        {"1.3", false},
        {"1.3.1.0", false},
        {"1.3.1-beta", false},
        {"1.3.x", false},
        {" 1.3.2", false},
        {"1.3.2 ", false},
        {"1..2", false},
        {"1.3.", false},
        {".1.3", false},
        {"-1.3.2", false},
        {"1.3.+", false},
        {"1.3.++2", false},
        {"", false},
        // 2 to the 64th and above make the text invalid.
        {"1.3.18446744073709551616", false},
        {"1.3.99999999999999999999", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(is_newer_version(row.text), row.newer) << "'" << row.text << "'";
}

TEST(UpdateVersions, PartsCompareFromTheLeft) {
    EXPECT_LT(*parse_version("1.9.9"), *parse_version("2.0.0"));
    EXPECT_LT(*parse_version("1.3.9"), *parse_version("1.10.0"));
    EXPECT_EQ(*parse_version("+1.03.1"), (Version{1, 3, 1}));
}

TEST(UpdateAddresses, AllowedSchemes) {
    struct Row {
        std::string url;
        bool allow_file;
        bool allowed;
    };
    const Row rows[] = {
        {"https://kestal.example/update.json", false, true},
        {"https://", false, true},
        {"http://kestal.example/update.json", false, false},
        {"HTTPS://kestal.example/update.json", false, false},
        {"Https://kestal.example", true, false},
        {"file:///tmp/feed.json", false, false},
        {"file:///tmp/feed.json", true, true},
        {"FILE:///tmp/feed.json", true, false},
        {"ftp://kestal.example", true, false},
        {"", true, false},
        {" https://kestal.example", false, false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(is_allowed_url(row.url, row.allow_file), row.allowed)
            << row.url << " allow_file=" << row.allow_file;
}

TEST(UpdateAddresses, FeedAddressFromTheEnvironment) {
    ScopedEnv env;
    env.unset("KESTAL_UPDATE_URL");
    EXPECT_EQ(update_feed_url(), "https://kestal.example/update.json");
    env.set("KESTAL_UPDATE_URL", "");
    EXPECT_EQ(update_feed_url(), "https://kestal.example/update.json");
    env.set("KESTAL_UPDATE_URL", "\xff\xfe");
    EXPECT_EQ(update_feed_url(), "https://kestal.example/update.json");
    env.set("KESTAL_UPDATE_URL", "file:///srv/feed.json");
    EXPECT_EQ(update_feed_url(), "file:///srv/feed.json");
}

TEST(UpdateNames, InstallerNames) {
    for (const char *name : {"kestal-setup", "kestal_1.4.0-linux.run", "a", "0"})
        EXPECT_TRUE(is_installer_name(name)) << name;
    for (const char *name :
         {"Kestal-setup", "setup.EXE", "../setup", "a/b", "a b", "a\\b", "\xc3\xa9", "a\n"})
        EXPECT_FALSE(is_installer_name(name)) << name;
}

TEST(UpdateMessages, FillPlaceholders) {
    struct Row {
        std::string message;
        std::vector<std::string> values;
        std::string filled;
    };
    const Row rows[] = {
        {"{0} and {1}", {"{1}", "x"}, "x and x"},
        {"{1} then {0}", {"a", "b"}, "b then a"},
        {"{0}{0}{0}", {"ab"}, "ababab"},
        {"no value for {1}", {"x"}, "no value for {1}"},
        {"{0}", {}, "{0}"},
        {"{ 0} {00} {0", {"x"}, "{ 0} {00} {0"},
        {"{10} {1}", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}, "k b"},
        // A value holding its own placeholder is not filled again.
        {"{0}", {"{0}"}, "{0}"},
    };
    for (const Row &row : rows)
        EXPECT_EQ(fill_placeholders(row.message, row.values), row.filled) << row.message;
}

TEST(UpdateState, TextFormHasTheFixedKeyOrder) {
    UpdateState state{false, 1765000000, "1.3.2", 20428};
    EXPECT_EQ(update_state_text(state),
              R"({"off":false,"checked":1765000000,"latest":"1.3.2","told":20428})");
    EXPECT_EQ(update_state_text(UpdateState{}),
              R"({"off":false,"checked":0,"latest":"","told":0})");
    UpdateState odd{true, 5, "quote\" and \\", 7};
    EXPECT_EQ(parse_update_state(update_state_text(odd)), odd);
}

TEST(UpdateState, ReadingKeepsDefaultsForMissingAndWrongKinds) {
    const UpdateState defaults;
    struct Row {
        std::string text;
        UpdateState expected;
    };
    const Row rows[] = {
        {"", defaults},
        {"not json", defaults},
        {"[1,2]", defaults},
        {"\"text\"", defaults},
        {"{\"off\":true", defaults},
        {"{}", defaults},
        {R"({"off":true,"checked":12,"latest":"1.4.0","told":3})", {true, 12, "1.4.0", 3}},
        {R"({"off":"yes","checked":-5,"latest":7,"told":1.5})", defaults},
        {R"({"checked":0.5,"told":-1})", defaults},
        {R"({"checked":1e300,"told":9223372036854775808})",
         {false, 9223372036854775807u, "", 9223372036854775807u}},
        {R"({"checked":9223372036854774784})", {false, 9223372036854774784u, "", 0}},
        {R"({"checked":1e400})", defaults},
        {R"({"off":null,"checked":null,"latest":null,"told":null})", defaults},
        // The first pair of a key counts.
        {R"({"latest":"1.4.0","latest":"9.9.9","off":true,"off":false})", {true, 0, "1.4.0", 0}},
    };
    for (const Row &row : rows)
        EXPECT_EQ(parse_update_state(row.text), row.expected) << row.text;
}

class UpdateStateFile : public ::testing::Test {
  protected:
    void SetUp() override {
        env.unset("LOCALAPPDATA");
        env.unset("XDG_DATA_HOME");
        env.unset("HOME");
    }
    ScopedEnv env;
    ScratchDir dir;
};

TEST_F(UpdateStateFile, LivesUnderTheDataFolder) {
    EXPECT_EQ(update_state_path(), std::nullopt);
    env.set("HOME", dir.path());
    EXPECT_EQ(update_state_path(), dir.path() + "/.local/share/Kestal/update.json");
    env.set("XDG_DATA_HOME", dir / "xdg");
    EXPECT_EQ(update_state_path(), dir.path() + "/xdg/Kestal/update.json");
    env.set("LOCALAPPDATA", dir / "local");
    EXPECT_EQ(update_state_path(), dir.path() + "/local/Kestal/update.json");
}

TEST_F(UpdateStateFile, WithoutAFolderLoadingGivesDefaultsAndSavingWritesNothing) {
    EXPECT_EQ(load_update_state(), UpdateState{});
    save_update_state(UpdateState{true, 1, "2.0.0", 1});
    EXPECT_EQ(load_update_state(), UpdateState{});
}

TEST_F(UpdateStateFile, SaveCreatesTheFolderAndLoadReadsItBack) {
    env.set("LOCALAPPDATA", dir / "a/b");
    UpdateState state{true, 1765000000, "1.3.2", 20428};
    save_update_state(state);
    platform::Result<std::string> text = platform::read_file(dir / "a/b/Kestal/update.json");
    ASSERT_TRUE(text.ok()) << text.error().text;
    EXPECT_EQ(*text, R"({"off":true,"checked":1765000000,"latest":"1.3.2","told":20428})");
    EXPECT_EQ(load_update_state(), state);
    // A broken file reads as fresh and is replaced by the next save.
    dir.write("a/b/Kestal/update.json", "{\"off\":tru");
    EXPECT_EQ(load_update_state(), UpdateState{});
    save_update_state(state);
    EXPECT_EQ(load_update_state(), state);
}

TEST_F(UpdateStateFile, SavingIntoAnUnusableFolderIsSilent) {
    // The data folder is a file: nothing can be created, nothing is thrown.
    env.set("LOCALAPPDATA", dir.write("plain-file", "x"));
    save_update_state(UpdateState{true, 1, "2.0.0", 1});
    EXPECT_EQ(load_update_state(), UpdateState{});
    platform::Result<std::string> text = platform::read_file(dir / "plain-file");
    EXPECT_EQ(*text, "x");
}

} // namespace
} // namespace kestal::update
