// File helpers: round trips, atomic replacement without leftovers, listings,
// folder creation, and what path_info reports about links, owners and times.
#include "platform/files.h"
#include "test_support.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestal::platform {
namespace {

class PlatformFiles : public ::testing::Test {
  protected:
    test_support::ScratchDir dir;
};

TEST_F(PlatformFiles, WriteThenReadKeepsEveryByte) {
    std::string bytes;
    for (int i = 0; i < (1 << 20) + 17; ++i)
        bytes.push_back(static_cast<char>(i % 251));
    ASSERT_TRUE(write_file(dir / "plain", bytes).ok());
    ASSERT_TRUE(write_file_atomic(dir / "atomic", bytes).ok());
    EXPECT_TRUE(*read_file(dir / "plain") == bytes);
    EXPECT_TRUE(*read_file(dir / "atomic") == bytes);
    ASSERT_TRUE(write_file(dir / "empty", "").ok());
    EXPECT_EQ(*read_file(dir / "empty"), "");
}

TEST_F(PlatformFiles, FailuresCarryTheOsText) {
    Result<std::string> missing = read_file(dir / "missing");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().text, "No such file or directory (os error 2)");
    EXPECT_EQ(missing.error().code, 2);
    Result<std::string> folder = read_file(dir.path());
    ASSERT_FALSE(folder.ok());
    EXPECT_EQ(folder.error().text, "Is a directory (os error 21)");
    Result<void> no_parent = write_file(dir / "no/such/file", "x");
    ASSERT_FALSE(no_parent.ok());
    EXPECT_EQ(no_parent.error().code, 2);
}

// The limit is exact: a file of max_bytes is read whole, one byte more is
// refused; an endless device stops at the limit instead of filling memory.
TEST_F(PlatformFiles, ReadStopsAtTheSizeLimit) {
    ASSERT_TRUE(write_file(dir / "small", std::string(70000, 'x')).ok());
    EXPECT_EQ(read_file(dir / "small", 70000)->size(), 70000u);
    Result<std::string> over = read_file(dir / "small", 69999);
    ASSERT_FALSE(over.ok());
    EXPECT_EQ(over.error().text, "file too large (more than 69999 bytes)");
    EXPECT_EQ(over.error().code, EFBIG);
    Result<std::string> endless = read_file("/dev/zero", std::size_t{2} << 20);
    ASSERT_FALSE(endless.ok());
    EXPECT_EQ(endless.error().text, "file too large (more than 2 MiB)");
}

TEST_F(PlatformFiles, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
    ASSERT_TRUE(write_file(dir / "state.json", "old contents that are longer").ok());
    ASSERT_TRUE(write_file_atomic(dir / "state.json", "new").ok());
    EXPECT_EQ(*read_file(dir / "state.json"), "new");
    EXPECT_EQ(*list_dir(dir.path()), std::vector<std::string>{"state.json"});
    // Renaming onto a folder fails: the temporary file must go too.
    ASSERT_TRUE(create_dir(dir / "taken").ok());
    ASSERT_TRUE(write_file(dir / "taken/inside", "x").ok());
    EXPECT_FALSE(write_file_atomic(dir / "taken", "y").ok());
    EXPECT_EQ(*list_dir(dir.path()), (std::vector<std::string>{"state.json", "taken"}));
}

TEST_F(PlatformFiles, AtomicWriteAppliesTheMode) {
    mode_t old_mask = umask(022);
    ASSERT_TRUE(write_file_atomic(dir / "tool", "#!/bin/sh\n", 0755).ok());
    umask(old_mask);
    EXPECT_EQ(path_info(dir / "tool")->mode, 0755u);
}

TEST_F(PlatformFiles, ListsSortedWithoutDotEntries) {
    for (const char *name : {"b", "a", "c.txt"})
        ASSERT_TRUE(write_file(dir / name, "").ok());
    ASSERT_TRUE(create_dir(dir / "sub").ok());
    EXPECT_EQ(*list_dir(dir.path()), (std::vector<std::string>{"a", "b", "c.txt", "sub"}));
    EXPECT_FALSE(list_dir(dir / "missing").ok());
}

TEST_F(PlatformFiles, RemoveAndRename) {
    ASSERT_TRUE(write_file(dir / "from", "1").ok());
    ASSERT_TRUE(write_file(dir / "to", "2").ok());
    ASSERT_TRUE(rename_path(dir / "from", dir / "to").ok());
    EXPECT_EQ(*read_file(dir / "to"), "1");
    EXPECT_FALSE(path_exists(dir / "from"));
    ASSERT_TRUE(remove_file(dir / "to").ok());
    EXPECT_EQ(remove_file(dir / "to").error().code, 2);
    ASSERT_TRUE(create_dir(dir / "empty").ok());
    ASSERT_TRUE(remove_dir(dir / "empty").ok());
    EXPECT_FALSE(path_exists(dir / "empty"));
}

TEST_F(PlatformFiles, RemoveTreeNeverFollowsLinks) {
    // Outside the tree: a folder and a file that links inside point at.
    dir.write("outside/kept", "x");
    dir.write("tree/a/b/c", "1");
    dir.write("tree/d", "2");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/a/to-folder").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside/kept").c_str(), (dir / "tree/to-file").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "top-link").c_str()), 0);
    ASSERT_TRUE(remove_tree(dir / "tree").ok());
    EXPECT_FALSE(path_exists(dir / "tree"));
    // A link given as the path goes, its target stays.
    ASSERT_TRUE(remove_tree(dir / "top-link").ok());
    EXPECT_FALSE(path_info(dir / "top-link", false).ok());
    EXPECT_EQ(*read_file(dir / "outside/kept"), "x");
    // A plain file, and nothing at all, are fine too.
    ASSERT_TRUE(remove_tree(dir / "outside/kept").ok());
    EXPECT_TRUE(remove_tree(dir / "nothing").ok());
    EXPECT_TRUE(remove_tree(dir / "outside").ok());
    EXPECT_EQ(*list_dir(dir.path()), std::vector<std::string>{});
}

TEST_F(PlatformFiles, CreateDirAndCreateDirs) {
    ASSERT_TRUE(create_dir(dir / "one", 0700).ok());
    Result<void> again = create_dir(dir / "one");
    ASSERT_FALSE(again.ok());
    EXPECT_EQ(again.error().text, "File exists (os error 17)");
    EXPECT_EQ(path_info(dir / "one")->mode, 0700u);

    ASSERT_TRUE(create_dirs(dir / "a/b/c").ok());
    EXPECT_EQ(path_info(dir / "a/b/c")->kind, PathKind::Dir);
    EXPECT_TRUE(create_dirs(dir / "a/b/c").ok());
    EXPECT_TRUE(create_dirs(dir / "a/b/").ok());

    ASSERT_TRUE(write_file(dir / "file", "").ok());
    EXPECT_EQ(create_dirs(dir / "file").error().code, EEXIST);
    EXPECT_EQ(create_dirs(dir / "file/below").error().code, ENOTDIR);
}

TEST_F(PlatformFiles, CreateDirsReportsTheRealCauseOfAFailure) {
    // Under a read-only parent the missing folder cannot be made; the error
    // is the refusal, not "No such file or directory". Root ignores modes.
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    ASSERT_TRUE(create_dir(dir / "locked", 0500).ok());
    Result<void> made = create_dirs(dir / "locked/a/b");
    ASSERT_FALSE(made.ok());
    EXPECT_EQ(made.error().code, EACCES);
}

TEST_F(PlatformFiles, PathInfoSeesLinksOwnersAndTimes) {
    ASSERT_TRUE(write_file(dir / "target", "12345").ok());
    ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);

    PathInfo own = *path_info(dir / "link", false);
    EXPECT_EQ(own.kind, PathKind::Symlink);
    EXPECT_EQ(own.owner, static_cast<std::uint32_t>(geteuid()));
    PathInfo followed = *path_info(dir / "link");
    EXPECT_EQ(followed.kind, PathKind::File);
    EXPECT_EQ(followed.size, 5u);

    EXPECT_TRUE(path_exists(dir / "link"));
    EXPECT_FALSE(path_exists(dir / "dangling"));
    EXPECT_EQ(path_info(dir / "dangling", false)->kind, PathKind::Symlink);
    EXPECT_FALSE(path_info(dir / "dangling").ok());

    const timespec times[2] = {{1'700'000'000, 5}, {1'700'000'123, 456'789'000}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "target").c_str(), times, 0), 0);
    EXPECT_EQ(path_info(dir / "target")->modified_ns, 1'700'000'123'456'789'000);
}

} // namespace
} // namespace kestal::platform
