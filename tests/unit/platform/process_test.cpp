// Child processes: large outputs on both pipes, exit codes and signals,
// programs that cannot start, environment and standard input reaching the
// child, the console-sharing and detached forms, and the PATH search.
#include "platform/files.h"
#include "platform/process.h"
#include "test_support.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kestal::platform {
namespace {

using test_support::ScopedEnv;
using test_support::ScratchDir;

constexpr std::size_t kMiB = std::size_t{1} << 20;

CapturedRun must_run(const std::vector<std::string> &argv, const EnvVars &env = {},
                     std::string_view input = {}) {
    Result<CapturedRun> run = run_captured(argv, env, input);
    EXPECT_TRUE(run.ok()) << (run.ok() ? "" : run.error().text);
    return run.ok() ? *run : CapturedRun{};
}

TEST(PlatformProcess, CapturesAMebibyteOnEachStreamWithoutDeadlock) {
    // Standard error is filled first: a reader that waited on standard output
    // alone would block forever once the error pipe's buffer is full.
    CapturedRun run = must_run({"sh", "-c",
                                "head -c 1048576 /dev/zero | tr '\\0' e >&2;"
                                "head -c 1048576 /dev/zero | tr '\\0' o"});
    EXPECT_TRUE(run.status.success());
    EXPECT_EQ(run.out, std::string(kMiB, 'o'));
    EXPECT_EQ(run.err, std::string(kMiB, 'e'));
}

TEST(PlatformProcess, OutputLimitStopsAChildThatWritesWithoutEnd) {
    Result<CapturedRun> endless = run_captured({"yes"}, {}, {}, 1000);
    ASSERT_TRUE(endless.ok()) << endless.error().text;
    EXPECT_TRUE(endless->out_limit_hit);
    EXPECT_GT(endless->out.size(), 1000u);
    EXPECT_LE(endless->out.size(), 1000u + 65536u);
    EXPECT_FALSE(endless->status.success());

    // Exactly the limit is no overflow.
    Result<CapturedRun> exact = run_captured({"printf", "abc"}, {}, {}, 3);
    ASSERT_TRUE(exact.ok()) << exact.error().text;
    EXPECT_FALSE(exact->out_limit_hit);
    EXPECT_EQ(exact->out, "abc");
    EXPECT_TRUE(exact->status.success());
}

TEST(PlatformProcess, WatchedFileLimitStopsAChildThatWritesWithoutEnd) {
    ScratchDir dir;
    std::string file = dir / "out";
    // The child writes the file and nothing to its pipes, so only the
    // watch can stop it.
    Result<CapturedRun> endless = run_captured({"sh", "-c", "exec yes > \"$0\"", file}, {}, {},
                                               kNoOutputLimit, WatchedFile{file, 1000});
    ASSERT_TRUE(endless.ok()) << endless.error().text;
    EXPECT_TRUE(endless->file_limit_hit);
    EXPECT_FALSE(endless->out_limit_hit);
    EXPECT_EQ(endless->status.signal, SIGKILL);

    // Exactly the limit, or a file never written, is no overflow.
    for (std::string script : {"head -c 1000 /dev/zero > \"$0\"", "true"}) {
        std::string quiet = dir / "quiet";
        Result<CapturedRun> run = run_captured({"sh", "-c", script, quiet}, {}, {}, kNoOutputLimit,
                                               WatchedFile{quiet, 1000});
        ASSERT_TRUE(run.ok()) << run.error().text;
        EXPECT_FALSE(run->file_limit_hit) << script;
        EXPECT_TRUE(run->status.success()) << script;
    }
}

TEST(PlatformProcess, FeedsLargeInputWhileDrainingOutput) {
    // cat writes back while it still reads: feeding all input before reading
    // any output would deadlock on full pipes in both directions.
    std::string input;
    for (std::size_t i = 0; i < 2 * kMiB; ++i)
        input.push_back(static_cast<char>(i * 7 % 256));
    CapturedRun run = must_run({"cat"}, {}, input);
    EXPECT_TRUE(run.status.success());
    EXPECT_EQ(run.out.size(), input.size());
    EXPECT_TRUE(run.out == input);
}

TEST(PlatformProcess, StdinBytesReachTheChildExactly) {
    std::string input("line one\nwith a \0 byte\n", 23);
    CapturedRun run = must_run({"sh", "-c", "cat >&2"}, {}, input);
    EXPECT_EQ(run.err, input);
    EXPECT_EQ(run.out, "");
}

TEST(PlatformProcess, WithoutInputStdinIsEmpty) {
    CapturedRun run = must_run({"sh", "-c", "wc -c"});
    EXPECT_EQ(run.out.substr(run.out.find_first_not_of(' ')), "0\n");
}

TEST(PlatformProcess, ChildThatIgnoresItsInputDoesNotKillUs) {
    // The child exits without reading: our writes hit a closed pipe. That
    // must not raise SIGPIPE in the tool, nor leave one pending.
    std::string input(4 * kMiB, 'x');
    CapturedRun run = must_run({"sh", "-c", "exit 0"}, {}, input);
    EXPECT_TRUE(run.status.success());
    sigset_t pending;
    sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGPIPE));
}

TEST(PlatformProcess, ArgumentsArePassedVerbatimWithoutAShell) {
    CapturedRun run = must_run({"printf", "%s|", "a b", "$HOME", "*", "", "'q'"});
    EXPECT_EQ(run.out, "a b|$HOME|*||'q'|");
}

TEST(PlatformProcess, ExitCodesAndSignals) {
    struct Row {
        const char *script;
        int code;
        int signal;
        bool success;
    };
    const Row rows[] = {
        {"exit 0", 0, 0, true},
        {"exit 3", 3, 0, false},
        {"exit 255", 255, 0, false},
        {"kill -9 $$", 128 + 9, 9, false},
        {"kill -TERM $$", 128 + 15, 15, false},
        {"kill -PIPE $$", 128 + 13, 13, false},
    };
    for (const Row &row : rows) {
        CapturedRun run = must_run({"sh", "-c", row.script});
        EXPECT_EQ(run.status.code, row.code) << row.script;
        EXPECT_EQ(run.status.signal, row.signal) << row.script;
        EXPECT_EQ(run.status.success(), row.success) << row.script;
    }
}

TEST(PlatformProcess, DescribesExits) {
    EXPECT_EQ(describe_exit({3, 0}), "exit status 3");
    EXPECT_EQ(describe_exit({137, 9}), "killed by signal 9 (SIGKILL)");
}

TEST(PlatformProcess, MissingProgramIsAnErrorNotStatus127) {
    // A PATH folder we may not search would turn "missing" into EACCES.
    ScopedEnv env;
    env.set("PATH", "/usr/bin:/bin");
    const std::vector<std::vector<std::string>> commands = {
        {"kestal-no-such-program-4711"},
        {"/nonexistent-folder/kestal-tool", "arg"},
        {""},
    };
    for (const auto &argv : commands) {
        Result<CapturedRun> captured = run_captured(argv);
        ASSERT_FALSE(captured.ok()) << argv[0];
        EXPECT_EQ(captured.error().text, "No such file or directory (os error 2)");
        EXPECT_EQ(captured.error().code, 2);
        Result<ExitStatus> inherited = run_inherited(argv);
        ASSERT_FALSE(inherited.ok()) << argv[0];
        EXPECT_EQ(inherited.error().text, "No such file or directory (os error 2)");
        Result<void> detached = spawn_detached(argv);
        ASSERT_FALSE(detached.ok()) << argv[0];
        EXPECT_EQ(detached.error().text, "No such file or directory (os error 2)");
    }
}

TEST(PlatformProcess, FileWithoutExecutePermissionIsAnError) {
    ScratchDir dir;
    std::string script = dir / "script.sh";
    ASSERT_TRUE(write_file(script, "#!/bin/sh\nexit 0\n", 0644).ok());
    Result<CapturedRun> run = run_captured({script});
    ASSERT_FALSE(run.ok());
    EXPECT_EQ(run.error().text, "Permission denied (os error 13)");
}

TEST(PlatformProcess, MalformedCommandsAreErrors) {
    EXPECT_FALSE(run_captured({}).ok());
    EXPECT_FALSE(run_captured({"echo", std::string("a\0b", 3)}).ok());
    EXPECT_FALSE(run_captured({"true"}, {{"BAD=NAME", "x"}}).ok());
    EXPECT_FALSE(run_captured({"true"}, {{"", "x"}}).ok());
}

TEST(PlatformProcess, ExtraEnvironmentReachesTheChild) {
    ScopedEnv env;
    env.set("KESTAL_TEST_INHERITED", "kept");
    env.set("KESTAL_TEST_REPLACED", "old");
    CapturedRun run =
        must_run({"sh", "-c",
                  "printf '%s|%s|%s|' \"$KESTAL_TEST_INHERITED\" \"$KESTAL_TEST_REPLACED\" "
                  "\"$KESTAL_TEST_ADDED\"; env | grep -c '^KESTAL_TEST_REPLACED='"},
                 {{"KESTAL_TEST_REPLACED", "new"}, {"KESTAL_TEST_ADDED", "a b=c"}});
    // The replaced variable appears once, with the new value.
    EXPECT_EQ(run.out, "kept|new|a b=c|1\n");
}

// Points standard output at a file for the length of a scope.
class StdoutToFile {
  public:
    explicit StdoutToFile(const std::string &path) {
        std::fflush(stdout);
        saved_ = dup(1);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(fd, 1);
        close(fd);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

  private:
    int saved_;
};

TEST(PlatformProcess, InheritedChildSharesOurStreamsAndEnvironment) {
    ScratchDir dir;
    std::string out = dir / "out.txt";
    Result<ExitStatus> status = OsError{"not run", 0};
    {
        StdoutToFile redirect(out);
        status = run_inherited({"sh", "-c", "echo \"hello $KESTAL_TEST_ARGV0\"; exit 4"},
                               {{"KESTAL_TEST_ARGV0", "prog.ktl"}});
    }
    ASSERT_TRUE(status.ok()) << status.error().text;
    EXPECT_EQ(status->code, 4);
    EXPECT_EQ(status->signal, 0);
    Result<std::string> text = read_file(out);
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(*text, "hello prog.ktl\n");
}

TEST(PlatformProcess, InheritedChildKilledBySignalIsNoSuccess) {
    Result<ExitStatus> status = run_inherited({"sh", "-c", "kill -9 $$"});
    ASSERT_TRUE(status.ok());
    EXPECT_EQ(status->signal, 9);
    EXPECT_FALSE(status->success());
}

// The zombie children of this process, from /proc.
int zombie_children() {
    int count = 0;
    Result<std::vector<std::string>> entries = list_dir("/proc");
    if (!entries)
        return 0;
    for (const std::string &name : *entries) {
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        Result<std::string> stat = read_file("/proc/" + name + "/stat");
        if (!stat)
            continue;
        // After the command name in parentheses: " state ppid ...".
        std::size_t close_paren = stat->rfind(')');
        char state = 0;
        long parent = 0;
        if (std::sscanf(stat->c_str() + close_paren + 1, " %c %ld", &state, &parent) == 2 &&
            state == 'Z' && parent == getpid())
            ++count;
    }
    return count;
}

TEST(PlatformProcess, DetachedChildHasNullStreamsAndItsOwnSession) {
    ScratchDir dir;
    std::string report = dir / "report.txt";
    std::string partial = report + ".part";
    // The report is renamed into place only when complete.
    std::string script = "read -r pid comm state ppid pgrp sid rest < /proc/$$/stat;"
                         "a=$(readlink /proc/$$/fd/0); b=$(readlink /proc/$$/fd/1);"
                         "c=$(readlink /proc/$$/fd/2);"
                         "if [ \"$sid\" = \"$$\" ]; then s=own; else s=shared; fi;"
                         "echo \"$a $b $c $s\" > \"$1\" && mv \"$1\" \"$2\"";
    Result<void> started = spawn_detached({"sh", "-c", script, "sh", partial, report});
    ASSERT_TRUE(started.ok()) << started.error().text;
    Result<std::string> text = read_file(report);
    for (int i = 0; i < 500 && !text.ok(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        text = read_file(report);
    }
    ASSERT_TRUE(text.ok()) << "the detached child never wrote its report";
    EXPECT_EQ(*text, "/dev/null /dev/null /dev/null own\n");
    // The finished child is reaped in the background, not left a zombie.
    int zombies = zombie_children();
    for (int i = 0; i < 200 && zombies > 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        zombies = zombie_children();
    }
    EXPECT_EQ(zombies, 0);
}

class PlatformFindOnPath : public ::testing::Test {
  protected:
    void make_file(const std::string &path, unsigned mode) {
        ASSERT_TRUE(write_file(path, "#!/bin/sh\n", mode).ok());
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }
    ScratchDir dir;
    ScopedEnv env;
};

TEST_F(PlatformFindOnPath, FindsTheFirstExecutableFileInPathOrder) {
    for (const char *folder : {"a", "b", "c", "d"})
        ASSERT_TRUE(create_dir(dir / folder).ok());
    make_file(dir / "a/tool", 0644);              // not executable: exec would skip it
    ASSERT_TRUE(create_dir(dir / "b/tool").ok()); // a folder: skipped too
    make_file(dir / "c/tool", 0755);
    make_file(dir / "d/tool", 0755);
    env.set("PATH", dir / "a" + ":" + dir / "b" + ":" + dir / "c" + ":" + dir / "d");
    EXPECT_EQ(find_program_on_path("tool"), dir / "c/tool");
    EXPECT_EQ(find_program_on_path("missing-tool"), std::nullopt);
    EXPECT_EQ(find_program_on_path(""), std::nullopt);
}

TEST_F(PlatformFindOnPath, PathsWithASlashAreTakenAsTheyAre) {
    make_file(dir / "tool", 0644);
    env.set("PATH", "/nonexistent");
    EXPECT_EQ(find_program_on_path(dir / "tool"), dir / "tool");
    EXPECT_EQ(find_program_on_path(dir / "nothing"), std::nullopt);
}

TEST_F(PlatformFindOnPath, UnsetPathFindsNothing) {
    env.unset("PATH");
    EXPECT_EQ(find_program_on_path("sh"), std::nullopt);
}

TEST_F(PlatformFindOnPath, FindsTheShellOnTheRealPath) {
    std::optional<std::string> sh = find_program_on_path("sh");
    ASSERT_TRUE(sh.has_value());
    EXPECT_TRUE(sh->ends_with("/sh"));
    EXPECT_TRUE(path_exists(*sh));
}

} // namespace
} // namespace kestal::platform
