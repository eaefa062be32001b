// The build cache's pieces that need no compiler: the key and its text,
// and the rename that puts a built executable in place. Lookups, pruning
// and concurrent runs are tested end to end in tests/driver.
#include "../platform/test_support.h"
#include "main/build_cache.h"
#include "main/c_compiler.h"
#include "platform/files.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kestal {
namespace {

using platform::test_support::ScratchDir;

// The plain FNV-1a hash of a whole text, for comparison.
std::uint64_t fnv1a(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (char c : bytes)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    return hash;
}

TEST(BuildCache, ReferenceHashMatchesThePublishedValues) {
    EXPECT_EQ(fnv1a(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(fnv1a("a"), 0xaf63dc4c8601ec8cull);
    EXPECT_EQ(fnv1a("foobar"), 0x85944171f73967e8ull);
}

// The key hashes its parts one after another with nothing between them:
// the same as one hash over their concatenation.
TEST(BuildCache, KeyHashesItsPartsInOrder) {
    std::string flags;
    for (std::string_view flag : kFixedFlags)
        flags += (flags.empty() ? "" : " ") + std::string(flag);
    struct Case {
        std::vector<std::string> link_names;
        bool portable;
        std::string hashed_links;
    } cases[] = {
        {{}, false, ""},
        {{}, true, ""},
        {{"m"}, false, "m"},
        {{"SDL2", "m", "z"}, true, "SDL2 m z"},
    };
    for (const Case &c : cases) {
        std::uint64_t key = cache_key({"int main;", c.link_names, "clang-14", c.portable});
        EXPECT_EQ(key, fnv1a("int main;" + c.hashed_links + "1.3.1" + "clang-14" + flags +
                             (c.portable ? "portable" : "native")))
            << c.hashed_links;
    }
    // Every part reaches the key.
    std::vector<std::string> none;
    std::uint64_t base = cache_key({"x", none, "gcc", false});
    EXPECT_NE(cache_key({"y", none, "gcc", false}), base);
    EXPECT_NE(cache_key({"x", none, "clang", false}), base);
    EXPECT_NE(cache_key({"x", none, "gcc", true}), base);
    EXPECT_NE(cache_key({"x", none, "gcc", false, "/l/libm.a 1 2\n"}), base);
}

// The stamp names each archive or shared object a link name finds in the
// library folders, so a library rebuilt in place gets a new key.
TEST(BuildCache, LibraryStampFollowsTheArchives) {
    platform::test_support::ScratchDir scratch;
    std::string demo = scratch / "demo";
    scratch.write("demo/lib/libdemo.a", "one");
    scratch.write("demo/libz.so", "zz");
    scratch.write("demo/lib/libother.a", "not linked");
    std::vector<std::string> dirs{demo, demo + "/lib"};
    std::vector<std::string> links{"demo", "z"};
    std::string stamp = library_files_stamp(dirs, links);
    auto info = [](const std::string &file) {
        platform::Result<platform::PathInfo> found = platform::path_info(file);
        return fmt::format("{} {} {}\n", file, found->size, found->modified_ns);
    };
    EXPECT_EQ(stamp, info(demo + "/libz.so") + info(demo + "/lib/libdemo.a"));
    EXPECT_EQ(library_files_stamp(dirs, {}), "");
    EXPECT_EQ(library_files_stamp({scratch / "nowhere"}, links), "");

    scratch.write("demo/lib/libdemo.a", "a longer archive");
    EXPECT_NE(library_files_stamp(dirs, links), stamp);
}

TEST(BuildCache, KeyTextIsSixteenLowercaseDigits) {
    EXPECT_EQ(cache_key_text(0), "0000000000000000");
    EXPECT_EQ(cache_key_text(0x00ab12cdull), "0000000000ab12cd");
    EXPECT_EQ(cache_key_text(0xFEDCBA9876543210ull), "fedcba9876543210");
}

TEST(BuildCache, StoreRenamesOrFindsTheFileAnotherRunPlaced) {
    ScratchDir dir;
    std::string final_path = dir / "00000000000000ab";
    std::string temp_path = final_path + "-4242";

    // A fresh build replaces whatever stood at the final name.
    dir.write("00000000000000ab", "old");
    dir.write("00000000000000ab-4242", "new");
    platform::Result<std::string> stored = store_in_cache(temp_path);
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(*stored, final_path);
    EXPECT_EQ(*platform::read_file(final_path), "new");
    EXPECT_FALSE(platform::path_exists(temp_path));

    // The temporary file is gone (pruned by another run) but another run
    // placed the executable: that one is used.
    platform::Result<std::string> placed = store_in_cache(temp_path);
    ASSERT_TRUE(placed.ok());
    EXPECT_EQ(*placed, final_path);

    // Neither exists: the error names the final path.
    (void)platform::remove_file(final_path);
    platform::Result<std::string> failed = store_in_cache(temp_path);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().text, final_path);
}

} // namespace
} // namespace kestal
