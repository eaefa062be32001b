// The install root of an executable path, the removal of the old executable,
// and the installer hand-over with each way the installer can end.
#include "../platform/test_support.h"
#include "update/command.h"

#include <gtest/gtest.h>

namespace kestal::update {
namespace {

using platform::test_support::ScratchDir;

TEST(UpdateInstallRoot, FoundOnlyBesideBinWithInstallJson) {
    ScratchDir dir;
    dir.write("root/bin/kestal", "exe");
    dir.write("root/install.json", "");
    dir.write("plain/bin/kestal", "exe");
    dir.write("upper/Bin/kestal", "exe");
    dir.write("upper/install.json", "");
    dir.write("deep/bin/x/kestal", "exe");
    dir.write("deep/bin/install.json", "");
    // Anything at install.json counts, its content is not read.
    dir.write("folder/bin/kestal", "exe");
    dir.write("folder/install.json/inside", "");
    struct Row {
        std::string exe;
        std::optional<std::string> root;
    };
    const Row rows[] = {
        {dir / "root/bin/kestal", dir / "root"},
        {dir / "folder/bin/kestal", dir / "folder"},
        {dir / "plain/bin/kestal", std::nullopt},
        {dir / "upper/Bin/kestal", std::nullopt},
        {dir / "deep/bin/x/kestal", std::nullopt},
        {"kestal", std::nullopt},
        {"bin/kestal", std::nullopt},
    };
    for (const Row &row : rows)
        EXPECT_EQ(installed_root_of(row.exe), row.root) << row.exe;
}

TEST(UpdateInstallRoot, TheBuiltToolIsNotAnInstalledCopy) {
    EXPECT_EQ(installed_root_of(std::string(KESTAL_TEST_BIN_DIR) + "/kestal"), std::nullopt);
}

TEST(UpdateOldExe, RemovedAndAbsenceIgnored) {
    ScratchDir dir;
    dir.write("bin/kestal.old", "old");
    remove_old_exe(dir.path());
    EXPECT_FALSE(platform::path_exists(dir / "bin/kestal.old"));
    remove_old_exe(dir.path());
    remove_old_exe(dir / "missing");
}

// An install root with `bin/kestal` holding "old", and an installer script.
struct InstallWorld {
    ScratchDir dir;
    std::string root = dir / "root";
    std::string installer;

    explicit InstallWorld(const std::string &script) {
        dir.write("root/bin/kestal", "old", 0755);
        dir.write("root/install.json", "{}");
        installer = dir.write("kestal-setup", "#!/bin/sh\n" + script, 0700);
    }
    std::optional<std::string> file(const std::string &path) const {
        platform::Result<std::string> text = platform::read_file(root + "/" + path);
        return text ? std::optional<std::string>(*text) : std::nullopt;
    }
};

TEST(UpdateRunInstaller, Outcomes) {
    struct Row {
        const char *what;
        std::string script;
        std::optional<std::string> error;
        std::optional<std::string> exe;
        std::optional<std::string> old_exe;
    };
    const Row rows[] = {
        {"replaces and succeeds",
         "echo new > \"$3/bin/kestal\"\n[ \"$1 $2\" = \"--update --dir\" ] || exit 9\n",
         std::nullopt, "new\n", "old"},
        {"fails without touching the executable", "exit 3\n",
         "kestal update: kestal-setup failed (exit code 3); Kestal 1.3.1 is still installed", "old",
         std::nullopt},
        {"replaces, then fails", "echo new > \"$3/bin/kestal\"\nexit 5\n",
         "kestal update: kestal-setup failed (exit code 5) after replacing kestal. Run `kestal "
         "update` again",
         "new\n", "old"},
        {"killed by a signal", "kill -9 $$\n",
         "kestal update: kestal-setup failed (killed by signal 9 (SIGKILL)); Kestal 1.3.1 is "
         "still installed",
         "old", std::nullopt},
        {"succeeds without writing a new executable", "exit 0\n", std::nullopt, std::nullopt,
         "old"},
    };
    for (const Row &row : rows) {
        InstallWorld world(row.script);
        world.dir.write("root/bin/kestal.old", "older");
        EXPECT_EQ(run_installer(world.root, world.installer), row.error) << row.what;
        EXPECT_EQ(world.file("bin/kestal"), row.exe) << row.what;
        EXPECT_EQ(world.file("bin/kestal.old"), row.old_exe) << row.what;
    }
}

TEST(UpdateRunInstaller, InstallerThatCannotStart) {
    InstallWorld world("exit 0\n");
    std::string missing = world.dir / "no-such-installer";
    std::optional<std::string> error = run_installer(world.root, missing);
    EXPECT_EQ(error, "kestal update: kestal-setup failed (No such file or directory (os error 2)); "
                     "Kestal 1.3.1 is still installed");
    EXPECT_EQ(world.file("bin/kestal"), "old");
}

TEST(UpdateRunInstaller, ExecutableThatCannotBeMoved) {
    InstallWorld world("echo ran > \"$3/ran\"\n");
    std::string root = world.dir / "empty-root";
    world.dir.write("empty-root/install.json", "");
    std::optional<std::string> error = run_installer(root, world.installer);
    EXPECT_EQ(error, "kestal update: can't move " + root +
                         "/bin/kestal aside: No such file or directory (os error 2)");
    EXPECT_FALSE(platform::path_exists(root + "/ran"));
}

} // namespace
} // namespace kestal::update
