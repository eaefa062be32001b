// The C-compiler driver's choices: which compiler, with which arguments,
// the work folder's refusal of what another user could have planted, and
// the link names a failed link says it found no library for.
#include "driver_support.h"
#include "main/c_compiler.h"
#include "platform/env.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestal {
namespace {

using driver_test::ScopedEnv;
using driver_test::ScratchDir;

// A folder of fake programs (PATH) and a folder of llvm-* installations.
struct CompilerWorld {
    ScratchDir bin;
    ScratchDir llvm;

    void program(const std::string &path, unsigned mode = 0755) const {
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        ASSERT_TRUE(platform::write_file(path, "#!/bin/sh\n", mode).ok()) << path;
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    }
};

TEST(DriverCompilerChoice, FollowsTheSearchOrder) {
    CompilerWorld world;
    ScopedEnv env;
    env.set("PATH", world.bin.path());
    env.unset("KESTAL_CC");
    // Nothing anywhere: the plain system compiler name.
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), "cc");
    world.program(world.bin / "gcc");
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), "gcc");
    // The newest llvm by number (14 beats 9), skipping one without clang
    // and names of other shapes; a gcc on PATH comes after it.
    world.program(world.llvm / "llvm-9/bin/clang");
    world.program(world.llvm / "llvm-14/bin/clang");
    world.program(world.llvm / "llvm-x/bin/clang");
    world.program(world.llvm / "llvm-15/bin/clang-15");
    world.program(world.llvm / "llvm-16/bin/clang", 0644);
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), world.llvm / "llvm-14/bin/clang");
    // A clang on PATH comes first, as the bare name; a non-executable file
    // named clang does not count.
    world.program(world.bin / "clang", 0644);
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), world.llvm / "llvm-14/bin/clang");
    ASSERT_EQ(::chmod((world.bin / "clang").c_str(), 0755), 0);
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), "clang");
    // KESTAL_CC overrides everything, taken as it is, even empty; a value
    // that is not UTF-8 counts as unset.
    env.set("KESTAL_CC", "/opt/x86_64-linux-gnu-gcc-12 ");
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), "/opt/x86_64-linux-gnu-gcc-12 ");
    env.set("KESTAL_CC", "");
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), "");
    env.set("KESTAL_CC", "cc\xff");
    EXPECT_EQ(choose_c_compiler_in(world.llvm.path()), "clang");
}

TEST(DriverCompilerChoice, ClangFamilyIsSpelledClang) {
    EXPECT_TRUE(is_clang_family("clang"));
    EXPECT_TRUE(is_clang_family("/usr/lib/llvm-14/bin/clang"));
    EXPECT_TRUE(is_clang_family("clang-15"));
    EXPECT_FALSE(is_clang_family("cc"));
    EXPECT_FALSE(is_clang_family("gcc"));
}

TEST(DriverCompilerChoice, GccFamilyIsSpelledGcc) {
    EXPECT_TRUE(is_gcc_family("gcc"));
    EXPECT_TRUE(is_gcc_family("/usr/bin/x86_64-linux-gnu-gcc-12"));
    EXPECT_FALSE(is_gcc_family("/opt/GCC/bin/cc"));
    EXPECT_FALSE(is_gcc_family("clang"));
}

TEST(DriverCompilerChoice, BuildsTheArgumentList) {
    BuildOptions plain;
    EXPECT_EQ(fmt::format("{}", fmt::join(compiler_arguments("gcc", "/w/a-1.c", "a", plain), " ")),
              "gcc -O3 -std=gnu11 -fwrapv -fno-math-errno -ffp-contract=off -w -fno-finite-loops "
              "--param=max-unswitch-insns=200 -march=native "
              "/w/a-1.c -o a -lm -lpthread");
    BuildOptions all{{"SDL2", "z"}, true, true, true, true, {"libs/sdl", "libs/sdl/lib"}};
    // Only a clang gets clang's own flags, only a gcc gcc's.
    for (auto [cc, own] : {std::pair<std::string, std::string>{"clang", "-fbracket-depth=10000 "},
                           {"/usr/lib/llvm-14/bin/clang", "-fbracket-depth=10000 "},
                           {"gcc", "--param=max-unswitch-insns=200 "},
                           {"cc", ""}})
        EXPECT_EQ(
            fmt::format("{}", fmt::join(compiler_arguments(cc, "/w/g-1.c", "out/g", all), " ")),
            cc + " -O3 -std=gnu11 -fwrapv -fno-math-errno -ffp-contract=off -w -fno-finite-loops " +
                own +
                "/w/g-1.c -o out/g -Llibs/sdl -Llibs/sdl/lib -lSDL2 -lz -lm -lpthread -static");
    // Each argument stays one argument, spaces and all.
    std::vector<std::string> spaced = compiler_arguments("my cc", "/w d/a.c", "my prog", plain);
    EXPECT_EQ(spaced.front(), "my cc");
    EXPECT_EQ(spaced[9], "/w d/a.c");
    EXPECT_EQ(spaced[11], "my prog");
}

TEST(DriverWorkDir, CreatesAPrivateFolderPerUser) {
    ScratchDir temp;
    std::string expected = temp / fmt::format("kestal-{}", platform::user_id());
    platform::Result<std::string> dir = work_dir_in(temp.path());
    ASSERT_TRUE(dir.ok()) << dir.error().text;
    EXPECT_EQ(*dir, expected);
    platform::Result<platform::PathInfo> info = platform::path_info(*dir, false);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->kind, platform::PathKind::Dir);
    EXPECT_EQ(info->mode, 0700u);
    // Again: the same folder is accepted; a wider mode is narrowed.
    ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);
    ASSERT_TRUE(work_dir_in(temp.path()).ok());
    EXPECT_EQ(platform::path_info(expected)->mode, 0700u);
    // A missing temporary folder is created on the way.
    platform::Result<std::string> nested = work_dir_in(temp / "a/b");
    ASSERT_TRUE(nested.ok()) << nested.error().text;
}

TEST(DriverWorkDir, RefusesWhatItDidNotMake) {
    ScratchDir temp;
    std::string path = temp / fmt::format("kestal-{}", platform::user_id());
    // A symbolic link, even to a folder of ours, could be re-pointed.
    ASSERT_EQ(::mkdir((temp / "elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((temp / "elsewhere").c_str(), path.c_str()), 0);
    platform::Result<std::string> linked = work_dir_in(temp.path());
    ASSERT_FALSE(linked.ok());
    EXPECT_EQ(linked.error().text,
              fmt::format("refusing the work folder {}: it is a symbolic link", path));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    temp.write(fmt::format("kestal-{}", platform::user_id()), "");
    platform::Result<std::string> file = work_dir_in(temp.path());
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(file.error().text,
              fmt::format("refusing the work folder {}: it is not a folder", path));
    ASSERT_EQ(::unlink(path.c_str()), 0);
    // Someone else's folder: only root can make one here to test with.
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to create a folder owned by another user";
    ASSERT_EQ(::mkdir(path.c_str(), 0777), 0);
    ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0777), 0);
    platform::Result<std::string> foreign = work_dir_in(temp.path());
    ASSERT_FALSE(foreign.ok());
    EXPECT_EQ(foreign.error().text,
              fmt::format("refusing the work folder {}: it belongs to user 4242, not to you "
                          "(user 0)",
                          path));
    // Nothing about it was changed.
    EXPECT_EQ(platform::path_info(path)->mode, 0777u);
}

// The linkers' ways of saying a link name matched no library file; a
// longer name that starts with the link name is another library.
TEST(DriverLinkFailure, MissingLinkNamesAreFoundInTheLinkersWords) {
    const std::vector<std::pair<std::string, std::string>> owners = {
        {"demo", "demo"}, {"demo_extra", "demo"}, {"z", "zip"}};
    struct Row {
        std::string output;
        std::vector<std::string> missing;
    } rows[] = {
        {"/usr/bin/ld: cannot find -ldemo: No such file or directory", {"demo"}},
        {"ld: cannot find -ldemo", {"demo"}},
        {"ld.lld: error: unable to find library -lz", {"z"}},
        {"mold: fatal: library not found: demo_extra\n", {"demo_extra"}},
        {"ld: cannot find -ldemo_extra\nld: cannot find -lz", {"demo_extra", "z"}},
        {"ld: cannot find -ldemox", {}},
        {"ld: cannot find -lm", {}},
        {"", {}},
    };
    for (const Row &row : rows) {
        std::vector<std::string> found;
        for (const auto &[link, library] : missing_link_names(row.output, owners))
            found.push_back(link);
        EXPECT_EQ(found, row.missing) << row.output;
    }
}

} // namespace
} // namespace kestal
