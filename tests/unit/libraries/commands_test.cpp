// The pieces of the library commands that need no site: version order, the
// installed version of a folder, and the swap into place failing at each of
// its steps (the whole commands run end to end in tests/driver).
#include "../platform/test_support.h"
#include "libraries/commands.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace kestal {
namespace {

using platform::test_support::ScratchDir;

TEST(LibraryVersions, Order) {
    struct Row {
        const char *a;
        const char *b;
        int sign;
    };
    const Row rows[] = {
        {"1.10", "1.9", 1},
        {"2", "2.0", -1},
        {"1.x", "1.0", 0},
        {" 1.2 ", "1.2", 0},
        {"+1.2", "1.2", 0},
        {"1.3.1", "1.3.1.0", -1},
        {"", "0", 0},
        {"1.-1", "1.0", 0},
        {"18446744073709551616", "0", 0},
        {"1.2.0", "1.10.0", -1},
        {"18446744073709551615", "1", 1},
        {"1..2", "1.0.2", 0},
    };
    for (const Row &row : rows) {
        int got = compare_library_versions(row.a, row.b);
        EXPECT_EQ((got > 0) - (got < 0), row.sign) << row.a << " vs " << row.b;
        int back = compare_library_versions(row.b, row.a);
        EXPECT_EQ((back > 0) - (back < 0), -row.sign) << row.b << " vs " << row.a;
    }
}

TEST(LibraryVersions, InstalledVersionOfAFolder) {
    ScratchDir dir;
    struct Row {
        const char *manifest;
        std::optional<std::string> version;
    };
    const Row rows[] = {
        {R"({"name":"a","version":"1.2"})", "1.2"},
        {R"({"version":"x","version":"y"})", "x"},
        {R"({"version":1})", std::nullopt},
        {R"(["version"])", std::nullopt},
        {"{", std::nullopt},
    };
    for (const Row &row : rows) {
        dir.write("lib/library.json", row.manifest);
        EXPECT_EQ(installed_library_version(dir / "lib"), row.version) << row.manifest;
    }
    EXPECT_EQ(installed_library_version(dir / "none"), std::nullopt);
}

// A staging folder, an installed copy and the old-copy name in a scratch
// folder; renames can be made to fail from the n-th one on.
class LibrarySwap : public ::testing::Test {
  protected:
    void SetUp() override {
        dir.write("lib/.demo-1/library.json", "new");
        dir.write("lib/demo/library.json", "old");
    }
    std::optional<std::string> swap(int fail_from) {
        int calls = 0;
        return swap_into_place(
            dir / "lib/.demo-1", dir / "lib/demo", dir / "lib/.demo-old-1",
            [&](const std::string &from, const std::string &to) -> platform::Result<void> {
                if (++calls >= fail_from)
                    return platform::OsError{"Device or resource busy (os error 16)", 16};
                return platform::rename_path(from, to);
            });
    }
    std::vector<std::string> left() { return *platform::list_dir(dir / "lib"); }
    std::string installed() { return *platform::read_file(dir / "lib/demo/library.json"); }

    ScratchDir dir;
};

TEST_F(LibrarySwap, Succeeds) {
    EXPECT_EQ(swap(99), std::nullopt);
    EXPECT_EQ(installed(), "new");
    EXPECT_EQ(left(), std::vector<std::string>{"demo"});
}

TEST_F(LibrarySwap, OldCopyCannotMove) {
    EXPECT_EQ(swap(1), "can't replace " + (dir / "lib/demo") +
                           " (is a program using it?): Device or resource busy (os error 16)");
    EXPECT_EQ(installed(), "old");
    EXPECT_EQ(left(), std::vector<std::string>{"demo"});
}

TEST_F(LibrarySwap, NewCopyCannotMoveInAndTheOldOneComesBack) {
    // The put-back rename goes through the real call.
    int calls = 0;
    std::optional<std::string> error = swap_into_place(
        dir / "lib/.demo-1", dir / "lib/demo", dir / "lib/.demo-old-1",
        [&](const std::string &from, const std::string &to) -> platform::Result<void> {
            if (++calls == 2)
                return platform::OsError{"Device or resource busy (os error 16)", 16};
            return platform::rename_path(from, to);
        });
    EXPECT_EQ(error, "can't move the library into " + (dir / "lib/demo") +
                         ": Device or resource busy (os error 16)");
    EXPECT_EQ(installed(), "old");
    EXPECT_EQ(left(), std::vector<std::string>{"demo"});
}

TEST_F(LibrarySwap, ALinkInPlaceIsMovedAsALinkAndItsTargetKept) {
    dir.write("outside/library.json", "elsewhere");
    ASSERT_TRUE(platform::remove_tree(dir / "lib/demo").ok());
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "lib/demo").c_str()), 0);
    EXPECT_EQ(swap(99), std::nullopt);
    EXPECT_EQ(installed(), "new");
    EXPECT_EQ(*platform::read_file(dir / "outside/library.json"), "elsewhere");
    EXPECT_EQ(left(), std::vector<std::string>{"demo"});
}

} // namespace
} // namespace kestal
