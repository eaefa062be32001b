// The built `kestal` tool from the outside: statuses and streams of the
// dispatch and the option errors, the compile road's failures, and `run`
// and `build` end to end. Most builds use a stand-in C compiler (a shell
// script that writes a shell-script "executable"), so the driver's own
// behaviour is tested without depending on what the code generator can do
// yet; a few tests use the real compilers.
#include "driver_support.h"
#include "main/driver.h"
#include "platform/env.h"
#include "update/command.h"

#include <csignal>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kestal {
namespace {

using driver_test::run_kestal;
using driver_test::ScratchDir;
using platform::CapturedRun;

// A stand-in C compiler. It logs its arguments (FAKE_ARGS), copies the C
// file (FAKE_COPY), fails with output on both streams (FAKE_FAIL: a
// diagnostic about the C file; FAKE_FAIL_ALONE: a message naming no
// file, as a linker or a broken installation writes), and
// otherwise writes an executable that prints its arguments and
// KESTAL_ARGV0 and then runs FAKE_END; with FAKE_NOEXEC that file can't be
// started.
constexpr std::string_view kFakeCompiler = R"(#!/bin/sh
out=; c=; prev=
for a in "$@"; do
  [ "$prev" = "-o" ] && out=$a
  case $a in *.c) c=$a;; esac
  prev=$a
done
[ -n "$FAKE_ARGS" ] && printf '%s\n' "$@" > "$FAKE_ARGS"
[ -n "$FAKE_COPY" ] && cp "$c" "$FAKE_COPY"
if [ -n "$FAKE_FAIL" ]; then
  echo "$c:7:3: $FAKE_FAIL on stderr" >&2
  printf 'and stdout\n\n  \n'
  exit 1
fi
if [ -n "$FAKE_FAIL_ALONE" ]; then
  echo "$FAKE_FAIL_ALONE" >&2
  exit 3
fi
cat > "$out" <<'PROG'
#!/bin/sh
for a in "$@"; do echo "arg: $a"; done
echo "argv0: $KESTAL_ARGV0"
eval "$FAKE_END"
PROG
chmod +x "$out"
[ -n "$FAKE_NOEXEC" ] && chmod 0644 "$out"
exit 0
)";

// A scratch folder holding the stand-in compiler, a valid program, and the
// temporary folder the tool is pointed at.
class DriverCommandLine : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_cc = dir.write("fake-cc", std::string(kFakeCompiler), 0755);
        program = dir.write("prog.ktl", "print(1)\n");
        ASSERT_EQ(::mkdir(temp().c_str(), 0755), 0);
    }

    std::string temp() const { return dir / "tmp"; }
    std::string work() const { return temp() + fmt::format("/kestal-{}", platform::user_id()); }

    CapturedRun kestal(const std::vector<std::string> &args, platform::EnvVars env = {},
                       std::string_view input = {}) {
        bool has_cc = false;
        for (const auto &[name, value] : env)
            has_cc = has_cc || name == "KESTAL_CC";
        if (!has_cc)
            env.emplace_back("KESTAL_CC", fake_cc);
        return run_kestal(args, temp(), env, input);
    }

    // What is left in the work folder.
    // The build cache's folders and the runtime objects filed in them
    // belong to the tool; any other file there (a temporary name) is left
    // over and counts.
    std::vector<std::string> work_files() const {
        platform::Result<std::vector<std::string>> names = platform::list_dir(work());
        std::vector<std::string> left;
        for (const std::string &name : names ? *names : std::vector<std::string>{}) {
            if (name != "cache") {
                left.push_back(name);
                continue;
            }
            platform::Result<std::vector<std::string>> cached =
                platform::list_dir(work() + "/cache");
            for (const std::string &entry : cached ? *cached : std::vector<std::string>{})
                if (entry != "runtime")
                    left.push_back("cache/" + entry);
            platform::Result<std::vector<std::string>> objects =
                platform::list_dir(work() + "/cache/runtime");
            for (const std::string &entry : objects ? *objects : std::vector<std::string>{})
                if (!std::regex_match(entry, std::regex("[0-9a-f]{16}\\.o")))
                    left.push_back("cache/runtime/" + entry);
        }
        return left;
    }

    ScratchDir dir;
    std::string fake_cc;
    std::string program;
};

struct StreamCase {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
};

TEST_F(DriverCommandLine, DispatchStatusesAndStreams) {
    const std::string usage = usage_text() + "\n";
    auto unknown = [&](const std::string &word) {
        return fmt::format("kestal: unknown command '{}'\n\n{}", word, usage);
    };
    const std::vector<StreamCase> cases = {
        {{}, 2, "", usage},
        {{"help"}, 0, usage, ""},
        {{"-h", "extra"}, 0, usage, ""},
        {{"--help"}, 0, usage, ""},
        {{"version", "extra"}, 0, "kestal 1.3.1\n", ""},
        {{"-V"}, 0, "kestal 1.3.1\n", ""},
        {{"--version"}, 0, "kestal 1.3.1\n", ""},
        {{"-v"}, 2, "", unknown("-v")},
        {{"--pause"}, 2, "", unknown("--pause")},
        {{"Run", "a.ktl"}, 2, "", unknown("Run")},
        // The language server ignores its arguments; with no input at all
        // the input ends before any shutdown request: status 1, no output.
        {{"lsp", "extra"}, 1, "", ""},
        {{"Doctor"}, 2, "", unknown("Doctor")},
        // The library commands' usage errors (no network, no disk).
        {{"libraries", "--offline", "--offline"}, 2, "", "usage: kestal libraries [--offline]\n"},
        {{"libraries", "--Offline"}, 2, "", "usage: kestal libraries [--offline]\n"},
        {{"install"},
         2,
         "",
         "usage: kestal install <library>...   (`kestal libraries` lists what there is)\n"},
        {{"uninstall"}, 2, "", "usage: kestal uninstall <library>...\n"},
        {{"Install", "x"}, 2, "", unknown("Install")},
        // `update` is a command: its own usage text for a word it lacks.
        {{"update", "now"}, 2, "", update::update_usage_text() + "\n"},
    };
    for (const StreamCase &c : cases) {
        CapturedRun run = kestal(c.args);
        std::string shown = fmt::format("{}", fmt::join(c.args, " "));
        EXPECT_EQ(run.status.code, c.status) << shown;
        EXPECT_EQ(run.out, c.out) << shown;
        EXPECT_EQ(run.err, c.err) << shown;
    }
}

TEST_F(DriverCommandLine, OptionErrorsExitWithTwoWithoutPausing) {
    const std::string usage = usage_text() + "\n";
    const std::vector<StreamCase> cases = {
        // A compile command without its file says so, with its usage line.
        {{"run"},
         2,
         "",
         "kestal: no source file given\nusage: kestal run <file.ktl> [options] [-- program "
         "args]\n"},
        {{"run", "--", "a.ktl"},
         2,
         "",
         "kestal: no source file given\nusage: kestal run <file.ktl> [options] [-- program "
         "args]\n"},
        {{"build", "-o", "x"},
         2,
         "",
         "kestal: no source file given\nusage: kestal build <file.ktl> [-o <exe>] [options]\n"},
        {{"run", "a.ktl", "b.ktl"}, 2, "", "kestal: unexpected argument 'b.ktl'\n"},
        {{"run", "a.ktl", "-x", "--pause"}, 2, "", "kestal: unexpected argument '-x'\n"},
        {{"check", "-", "a.ktl"}, 2, "", "kestal: unexpected argument '-'\n"},
        // The option checks come before the file is read, and never wait.
        {{"build", "missing.ktl", "--pause"},
         2,
         "",
         "kestal: --pause only works with 'kestal run'\n"},
        {{"run", "missing.ktl", "--static", "--pause"},
         2,
         "",
         "kestal: --static only works with 'kestal build'\n"},
        {{"emit", "missing.ktl", "--windowed"},
         2,
         "",
         "kestal: --windowed only works with 'kestal build'\n"},
    };
    for (const StreamCase &c : cases) {
        CapturedRun run = kestal(c.args, {}, "\n");
        std::string shown = fmt::format("{}", fmt::join(c.args, " "));
        EXPECT_EQ(run.status.code, c.status) << shown;
        EXPECT_EQ(run.out, c.out) << shown;
        EXPECT_EQ(run.err, c.err) << shown;
    }
}

TEST_F(DriverCommandLine, RunPassesArgumentsAndStatusAndCleansUp) {
    CapturedRun run = kestal({"run", program, "--time", "--no-cache", "--", "x", "y z", "--time"},
                             {{"FAKE_END", "exit 3"}});
    EXPECT_EQ(run.status.code, 3);
    EXPECT_EQ(run.out, fmt::format("arg: x\narg: y z\narg: --time\nargv0: {}\n", program));
    EXPECT_TRUE(std::regex_match(run.err, std::regex("kestal: compile [0-9]+ ms, run [0-9]+ ms\n")))
        << run.err;
    // The C file and the executable are both gone.
    EXPECT_EQ(work_files(), std::vector<std::string>{});
    platform::Result<platform::PathInfo> info = platform::path_info(work(), false);
    ASSERT_TRUE(info.ok());
    EXPECT_EQ(info->mode, 0700u);
}

TEST_F(DriverCommandLine, RunReportsASignalAs128PlusItsNumber) {
    CapturedRun run = kestal({"run", program, "--no-cache"}, {{"FAKE_END", "kill -KILL $$"}});
    EXPECT_EQ(run.status.code, 128 + 9);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

TEST_F(DriverCommandLine, InterruptDuringRunLeavesTheToolToCleanUp) {
    // The terminal's Ctrl-C reaches both the tool and the program; the tool
    // outlives it, so the executable is deleted and the program's status
    // reported. Here the program interrupts the tool and carries on.
    CapturedRun run = kestal({"run", program, "--no-cache"},
                             {{"FAKE_END", "kill -INT $PPID; sleep 0.2; echo survived; exit 5"}});
    EXPECT_EQ(run.status.signal, 0);
    EXPECT_EQ(run.status.code, 5);
    EXPECT_TRUE(run.out.ends_with("survived\n")) << run.out;
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

TEST_F(DriverCommandLine, TerminatingTheToolEndsTheProgramToo) {
    // SIGTERM or a hang-up sent to the tool alone is passed on to the
    // program, which ends by it; the tool still cleans up and reports it.
    for (std::string sig : {"TERM", "HUP"}) {
        CapturedRun run = kestal({"run", program, "--no-cache"},
                                 {{"FAKE_END", "kill -" + sig + " $PPID; exec sleep 5"}});
        EXPECT_EQ(run.status.code, 128 + (sig == "TERM" ? SIGTERM : SIGHUP)) << sig;
        EXPECT_EQ(work_files(), std::vector<std::string>{}) << sig;
    }
}

TEST_F(DriverCommandLine, PauseWaitsAfterEveryEndOfRun) {
    CapturedRun ended = kestal({"run", "--pause", program}, {{"FAKE_END", "exit 4"}}, "\n");
    EXPECT_EQ(ended.status.code, 4);
    EXPECT_EQ(ended.err, "\nPress Enter to close");
    std::string bad = dir.write("bad.ktl", "print(1 +)\n");
    CapturedRun failed = kestal({"run", bad, "--pause"}, {}, "");
    EXPECT_EQ(failed.status.code, 1);
    EXPECT_TRUE(failed.err.starts_with(bad + ":")) << failed.err;
    EXPECT_TRUE(
        failed.err.ends_with("\n    1 | print(1 +)\n      |          ^\n\nPress Enter to close"))
        << failed.err;
}

TEST_F(DriverCommandLine, CompilerGetsTheFlagsAndTheEmittedText) {
    std::string args_log = dir / "args.txt";
    std::string copy = dir / "copy.c";
    std::string out = dir / "out bin";
    CapturedRun build = kestal({"build", program, "-o", out, "--static", "--windowed"},
                               {{"FAKE_ARGS", args_log}, {"FAKE_COPY", copy}});
    ASSERT_EQ(build.status.code, 0) << build.err;
    EXPECT_EQ(build.out, "");
    EXPECT_EQ(build.err, "");
    platform::Result<std::string> logged = platform::read_file(args_log);
    ASSERT_TRUE(logged.ok());
    std::regex expected(
        "-O3\n-std=gnu11\n-fwrapv\n-fno-math-errno\n-ffp-contract=off\n-w\n-fno-finite-loops\n"
        "-march=native\n" +
        work() + "/out bin-[0-9]+\\.c\n-o\n" + out + "\\.kestal-[0-9]+\n-lm\n-lpthread\n-static\n");
    EXPECT_TRUE(std::regex_match(*logged, expected)) << *logged;
    // The executable is written beside the output and renamed over it.
    EXPECT_TRUE(platform::path_exists(out));
    platform::Result<std::vector<std::string>> names = platform::list_dir(dir.path());
    ASSERT_TRUE(names.ok());
    for (const std::string &name : *names)
        EXPECT_EQ(name.find(".kestal-"), std::string::npos) << name;
    // The C file the compiler got is exactly what `emit` prints, with no
    // newline added; it is deleted after a successful compile.
    CapturedRun emit = kestal({"emit", program});
    EXPECT_EQ(emit.status.code, 0);
    platform::Result<std::string> copied = platform::read_file(copy);
    ASSERT_TRUE(copied.ok());
    EXPECT_EQ(*copied, emit.out);
    EXPECT_EQ(work_files(), std::vector<std::string>{});
    EXPECT_TRUE(platform::path_exists(out));
    // --portable drops -march=native.
    kestal({"build", program, "-o", out, "--portable"}, {{"FAKE_ARGS", args_log}});
    EXPECT_EQ(platform::read_file(args_log)->find("-march=native"), std::string::npos);
}

TEST_F(DriverCommandLine, BuildWritesBesideTheSourceOrRefuses) {
    ASSERT_EQ(::mkdir((dir / "sub").c_str(), 0755), 0);
    std::string source = dir.write("sub/game.ktl", "print(2)\n");
    CapturedRun build = kestal({"build", source});
    EXPECT_EQ(build.status.code, 0) << build.err;
    EXPECT_TRUE(platform::path_exists(dir / "sub/game"));
    // A source without an extension would be overwritten by its executable.
    std::string bare = dir.write("sub/tool", "print(3)\n");
    CapturedRun refused = kestal({"build", bare});
    EXPECT_EQ(refused.status.code, 1);
    EXPECT_EQ(refused.err, fmt::format("kestal: {} has no extension, so the executable would "
                                       "overwrite it; give the output path with -o\n",
                                       bare));
    EXPECT_EQ(*platform::read_file(bare), "print(3)\n");
    // Nor may -o name the source itself.
    CapturedRun same = kestal({"build", source, "-o", dir / "sub/../sub/game.ktl"});
    EXPECT_EQ(same.status.code, 1);
    EXPECT_EQ(same.err, fmt::format("kestal: the output path {} is the source file itself; "
                                    "choose another with -o\n",
                                    dir / "sub/../sub/game.ktl"));
    EXPECT_EQ(*platform::read_file(source), "print(2)\n");
}

// The missing folders of the output path are created with the user's
// umask, as in `kestal build prog.ktl -o out/prog` in a fresh folder.
TEST_F(DriverCommandLine, BuildCreatesTheMissingFoldersOfTheOutputPath) {
    platform::Result<CapturedRun> run = platform::run_captured(
        {"/bin/sh", "-c", "cd \"$0\" && umask 027 && exec \"$1\" build prog.ktl -o out/sub/prog",
         dir.path(), driver_test::kestal_binary()},
        {{"TMPDIR", temp()}, {"KESTAL_CC", fake_cc}, {"KESTAL_NO_UPDATE_CHECK", "1"}});
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->status.code, 0) << run->err;
    EXPECT_EQ(run->err, "");
    EXPECT_TRUE(platform::path_exists(dir / "out/sub/prog"));
    for (std::string folder : {"out", "out/sub"}) {
        platform::Result<platform::PathInfo> info = platform::path_info(dir / folder);
        ASSERT_TRUE(info.ok()) << folder;
        EXPECT_EQ(info->mode, 0750u) << folder;
    }
}

// An output path the linker could not write is refused before the C
// compiler runs, so its failure is never blamed on Kestal.
TEST_F(DriverCommandLine, BuildRefusesAnOutputPathItCannotWrite) {
    std::string args_log = dir / "args.txt";
    // A missing folder is created; one that can't be is named.
    std::string unmakeable = dir / ("new/" + std::string(256, 'n'));
    CapturedRun folder = kestal({"build", program, "-o", unmakeable + "/out"});
    EXPECT_EQ(folder.status.code, 1);
    EXPECT_EQ(folder.err, fmt::format("kestal: can't create the folder {}: File name too long (os "
                                      "error 36)\n",
                                      unmakeable));
    struct Case {
        std::string output;
        std::string reason;
    } cases[] = {
        {program + "/out", "Not a directory (os error 20)"},
        {program + "/sub/out", "Not a directory (os error 20)"},
        {dir.path(), "Is a directory (os error 21)"},
        {"", "No such file or directory (os error 2)"},
        {dir / std::string(256, 'n'), "File name too long (os error 36)"},
        // Files of the system that open for writing (as root) but take
        // nothing.
        {"/dev/full", "it is not a regular file"},
        {"/proc/version", "Permission denied (os error 13)"},
        // A new file in a kernel's folder that takes none, even from root.
        {"/sys/kernel/kestal-out", "Permission denied (os error 13)"},
    };
    for (const Case &c : cases) {
        std::string system_path = c.output.starts_with("/sys/") ? "/sys/kernel" : c.output;
        if (c.output.starts_with("/dev/") || c.output.starts_with("/proc/") ||
            c.output.starts_with("/sys/"))
            if (!platform::path_exists(system_path))
                continue;
        CapturedRun build = kestal({"build", program, "-o", c.output}, {{"FAKE_ARGS", args_log}});
        EXPECT_EQ(build.status.code, 1) << c.output;
        EXPECT_EQ(build.err, fmt::format("kestal: can't write {}: {}\n", c.output, c.reason));
    }
    EXPECT_FALSE(platform::path_exists(args_log));
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

TEST_F(DriverCommandLine, CompilerFailureShowsItsOutputAndKeepsTheCFile) {
    CapturedRun run = kestal({"run", program}, {{"FAKE_FAIL", "boom"}});
    EXPECT_EQ(run.status.code, 1);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(
        run.err, match,
        std::regex("(.*):7:3: boom on stderr\nand stdout\nkestal: the C compiler failed; this is "
                   "a Kestal bug\\. Generated C kept at (.*)\n")))
        << run.err;
    EXPECT_EQ(match[1].str(), match[2].str());
    EXPECT_TRUE(platform::path_exists(match[2].str()));
    // A run through the build cache names its C file after the cache's
    // temporary executable: the key, then the process id twice.
    EXPECT_TRUE(
        std::regex_match(match[2].str(), std::regex(work() + "/[0-9a-f]{16}-([0-9]+)-\\1\\.c")))
        << match[2].str();
}

// A compiler that fails without a word about the generated C (a wrong
// KESTAL_CC, a missing library, a killed process) is reported as failing
// on its own account, with its status; its output still comes first.
TEST_F(DriverCommandLine, CompilerFailingOnItsOwnIsNotAKestalBug) {
    std::string killed_cc = dir.write("killed-cc", "#!/bin/sh\nkill -9 $$\n", 0755);
    struct Case {
        platform::EnvVars env;
        std::string compiler;
        std::string output;
        std::string status;
    };
    const Case cases[] = {
        {{{"FAKE_FAIL_ALONE", "ld: cannot find -lm"}},
         fake_cc,
         "ld: cannot find -lm\n",
         "exit status 3"},
        {{{"KESTAL_CC", "/bin/false"}}, "/bin/false", "", "exit status 1"},
        {{{"KESTAL_CC", killed_cc}}, killed_cc, "", "killed by signal 9 (SIGKILL)"},
    };
    for (const Case &c : cases) {
        CapturedRun run = kestal({"build", program, "-o", dir / "out"}, c.env);
        EXPECT_EQ(run.status.code, 1);
        std::string expected = fmt::format(
            "{}kestal: the C compiler '{}' failed ({}) without reporting an error in the "
            "generated C; check its setup with `kestal doctor`. Generated C kept at ",
            c.output, c.compiler, c.status);
        ASSERT_TRUE(run.err.starts_with(expected)) << run.err;
        std::string kept = run.err.substr(expected.size());
        ASSERT_TRUE(kept.ends_with(".c\n")) << run.err;
        EXPECT_TRUE(platform::path_exists(kept.substr(0, kept.size() - 1)));
    }
}

// A library whose archive is missing is named with its link name and the
// folders searched, after the linker's own words, and the C file goes: the
// generated C is not at fault.
TEST_F(DriverCommandLine, MissingLibraryArchiveIsNamed) {
    dir.write("libraries/demo/library.json",
              R"({"name": "demo", "version": "1", "link": ["demo"],)"
              R"( "functions": {"answer": {"c": "demo_answer", "returns": "int"}}})");
    dir.write("libraries/demo/demo.h", "int64_t demo_answer(void);\n");
    std::string source = dir.write("uses_demo.ktl", "import demo\nprint(demo.answer())\n");
    CapturedRun run = kestal({"build", source, "-o", dir / "out"}, {{"KESTAL_CC", "gcc"}});
    EXPECT_EQ(run.status.code, 1);
    std::string expected = fmt::format(
        "\nkestal: library 'demo' can't be linked: no libdemo.a or libdemo.so for its link name "
        "'demo' in {0}/libraries/demo, {0}/libraries/demo/lib or the C compiler's own library "
        "folders\n",
        dir.path());
    EXPECT_TRUE(run.err.ends_with(expected)) << run.err;
    EXPECT_NE(run.err.find("-ldemo"), std::string::npos) << run.err;
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

// The executable of a run is named by the source's stem (a dot inside it
// kept) and the process id, its C file by the process id too; an executable that can't be started
// is reported with the system's reason and removed with the C file.
TEST_F(DriverCommandLine, RunNamesItsFilesAndReportsAnExecutableThatCannotStart) {
    std::string dotted = dir.write("a.b.ktl", "print(1)\n");
    std::string args_log = dir / "args.txt";
    CapturedRun run = kestal({"run", dotted, "--no-cache"}, {{"FAKE_ARGS", args_log}});
    ASSERT_EQ(run.status.code, 0) << run.err;
    std::smatch match;
    std::string logged = *platform::read_file(args_log);
    ASSERT_TRUE(std::regex_search(
        logged, match,
        std::regex("\n" + work() + "/[^/\n]+-([0-9]+)\\.c\n-o\n" + work() + "/a\\.b-([0-9]+)\n")))
        << logged;
    EXPECT_EQ(match[1].str(), match[2].str());
    CapturedRun refused = kestal({"run", dotted, "--no-cache"}, {{"FAKE_NOEXEC", "1"}});
    EXPECT_EQ(refused.status.code, 1);
    EXPECT_TRUE(std::regex_match(
        refused.err, std::regex("kestal: can't run " + work() +
                                "/a\\.b-[0-9]+: Permission denied \\(os error 13\\)\n")))
        << refused.err;
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

// A C file that can't be written (here: a file-size limit, its signal
// ignored so the write fails instead) is named with the system's reason, and
// no partial file is left behind.
TEST_F(DriverCommandLine, UnwritableCFileIsNamed) {
    platform::Result<CapturedRun> run =
        platform::run_captured({"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                                driver_test::kestal_binary(), "build", program, "-o", dir / "out"},
                               {{"TMPDIR", temp()}, {"KESTAL_CC", fake_cc}});
    ASSERT_TRUE(run.ok());
    EXPECT_EQ(run->status.code, 1);
    EXPECT_TRUE(std::regex_match(run->err, std::regex("kestal: can't write " + work() +
                                                      "/out-[0-9]+\\.c: File too large \\(os error "
                                                      "27\\)\n")))
        << run->err;
    EXPECT_EQ(work_files(), std::vector<std::string>{});
    EXPECT_FALSE(platform::path_exists(dir / "out"));
}

TEST_F(DriverCommandLine, MissingCompilerIsNamed) {
    for (std::string cc : {std::string(), dir / "no-such-cc"}) {
        CapturedRun run = kestal({"run", program}, {{"KESTAL_CC", cc}});
        EXPECT_EQ(run.status.code, 1);
        EXPECT_TRUE(std::regex_match(
            run.err, std::regex("kestal: can't run '" + cc +
                                "' \\(.* \\(os error [0-9]+\\)\\)\\. Install clang or set "
                                "KESTAL_CC\\. `kestal doctor` checks the setup\\.\n")))
            << run.err;
    }
}

TEST_F(DriverCommandLine, UnreadableSourcesAndForeignWorkFolders) {
    CapturedRun missing = kestal({"check", dir / "nope.ktl"});
    EXPECT_EQ(missing.status.code, 1);
    EXPECT_EQ(missing.err, fmt::format("kestal: can't read {}: No such file or directory (os "
                                       "error 2)\n",
                                       dir / "nope.ktl"));
    std::string latin1 = dir.write("latin1.ktl", "print('caf\xe9')\n");
    CapturedRun invalid = kestal({"emit", latin1});
    EXPECT_EQ(invalid.status.code, 1);
    EXPECT_EQ(invalid.out, "");
    EXPECT_EQ(invalid.err,
              fmt::format("kestal: can't read {}: stream did not contain valid UTF-8\n", latin1));
    // A work folder planted as a link is refused before anything is written.
    ASSERT_EQ(::mkdir((dir / "trap").c_str(), 0700), 0);
    ASSERT_EQ(::symlink((dir / "trap").c_str(), work().c_str()), 0);
    CapturedRun refused = kestal({"run", program});
    EXPECT_EQ(refused.status.code, 1);
    EXPECT_EQ(refused.err,
              fmt::format("kestal: refusing the work folder {}: it is a symbolic link\n", work()));
    EXPECT_EQ(*platform::list_dir(dir / "trap"), std::vector<std::string>{});
}

TEST_F(DriverCommandLine, CompileErrorShowsExcerptAndCaret) {
    std::string source = dir.write("err.ktl", "def f(x):\n    return x\n\nprint(f(1, 2))\n");
    for (std::string command : {"check", "emit", "run", "build"}) {
        CapturedRun run = kestal({command, source});
        EXPECT_EQ(run.status.code, 1) << command;
        EXPECT_EQ(run.out, "") << command;
        EXPECT_TRUE(
            std::regex_match(run.err, std::regex(source + ":4:7: error: [^\n]+\n"
                                                          "    4 \\| print\\(f\\(1, 2\\)\\)\n"
                                                          "      \\|       \\^\n")))
            << command << ": " << run.err;
    }
    CapturedRun valid = kestal({"check", program, "--time", "--no-cache", "--portable"});
    EXPECT_EQ(valid.status.code, 0);
    EXPECT_EQ(valid.out, "");
    EXPECT_EQ(valid.err, "");
}

TEST_F(DriverCommandLine, DeepNestingNeverCrashesTheCompiler) {
    // Deep enough to exhaust a default 8 MiB stack in a recursive parser.
    std::string depth = "print(" + std::string(20000, '(') + "1" + std::string(20000, ')') + ")\n";
    std::string source = dir.write("deep.ktl", depth);
    CapturedRun run = kestal({"check", source});
    EXPECT_EQ(run.status.signal, 0);
    EXPECT_LE(run.status.code, 1) << run.err;
}

// The real compilers, end to end: what `emit` prints compiles as it stands,
// and `build -o` and `run` produce programs that print.
TEST_F(DriverCommandLine, RealCompilersBuildAndRun) {
    std::string source = dir.write("hello.ktl", "def greet(n: int) -> int:\n"
                                                "    return n\n"
                                                "print('hello', greet(42), 2.5, None, True)\n");
    const std::string expected = "hello 42 2.5 None True\n";
    CapturedRun emit = kestal({"emit", source});
    ASSERT_EQ(emit.status.code, 0) << emit.err;
    std::string c_file = dir.write("emitted.c", emit.out);
    platform::Result<CapturedRun> gcc =
        platform::run_captured({"gcc", "-w", "-std=gnu11", c_file, "-o", dir / "emitted", "-lm"});
    ASSERT_TRUE(gcc.ok() && gcc->status.success()) << (gcc.ok() ? gcc->err : "");
    platform::Result<CapturedRun> emitted = platform::run_captured({dir / "emitted"});
    ASSERT_TRUE(emitted.ok());
    EXPECT_EQ(emitted->out, expected);

    CapturedRun build = kestal({"build", source, "-o", dir / "built"}, {{"KESTAL_CC", "gcc"}});
    ASSERT_EQ(build.status.code, 0) << build.err;
    platform::Result<CapturedRun> built = platform::run_captured({dir / "built"});
    ASSERT_TRUE(built.ok());
    EXPECT_EQ(built->out, expected);

    CapturedRun run = kestal({"run", source, "--no-cache"}, {{"KESTAL_CC", "clang"}});
    EXPECT_EQ(run.status.code, 0) << run.err;
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

// `build` and `run` compile the runtime's out-of-line part once into an
// object in the build cache, one per switch set, and link programs with it;
// a damaged object never fails a build. The compiler is a wrapper script
// that logs each compile's arguments, as the test passes' wrappers add
// flags.
TEST_F(DriverCommandLine, RuntimeObjectIsSharedPerSwitchSetAndDamageIsSurvived) {
    std::string log = dir / "cc.log";
    std::string cc = dir.write(
        "log-cc", fmt::format("#!/bin/sh\necho \"$*\" >> '{}'\nexec clang \"$@\"\n", log), 0755);
    std::string source = dir.write("obj.ktl", "xs = [3, 1, 2]\nprint(sorted(xs), xs[2])\n");
    std::string objects = work() + "/cache/runtime";
    auto object_names = [&] {
        platform::Result<std::vector<std::string>> names = platform::list_dir(objects);
        return names ? *names : std::vector<std::string>{};
    };
    auto build_and_run = [&](const std::vector<std::string> &extra) {
        std::vector<std::string> args = {"build", source, "-o", dir / "obj"};
        args.insert(args.end(), extra.begin(), extra.end());
        CapturedRun build = kestal(args, {{"KESTAL_CC", cc}});
        EXPECT_EQ(build.status.code, 0) << build.err;
        EXPECT_EQ(build.err, "");
        platform::Result<CapturedRun> ran = platform::run_captured({dir / "obj"});
        EXPECT_TRUE(ran.ok() && ran->out == "[1, 2, 3] 2\n") << (ran.ok() ? ran->out : "");
    };
    auto compiles_linking_an_object = [&] {
        platform::Result<std::string> logged = platform::read_file(log);
        std::string text = logged ? *logged : "";
        std::size_t count = 0;
        for (std::size_t at = text.find(".o -o "); at != std::string::npos;
             at = text.find(".o -o ", at + 1))
            ++count;
        return count;
    };

    build_and_run({});
    ASSERT_EQ(object_names().size(), 1u);
    build_and_run({});
    EXPECT_EQ(object_names().size(), 1u);
    // Two program compiles, both against the object; one object compile.
    EXPECT_EQ(compiles_linking_an_object(), 2u);
    build_and_run({"--unchecked"});
    EXPECT_EQ(object_names().size(), 2u);

    // A file that is no object at all is built again before use; an object
    // the linker refuses is dropped and the one-file form built instead.
    auto damage_all = [&](const std::string &bytes) {
        for (const std::string &name : object_names())
            ASSERT_TRUE(platform::write_file(objects + "/" + name, bytes));
    };
    auto whole_objects = [&] {
        std::size_t whole = 0;
        for (const std::string &name : object_names())
            whole += platform::path_info(objects + "/" + name)->size > 1000;
        return whole;
    };
    damage_all("junk");
    build_and_run({});
    EXPECT_EQ(whole_objects(), 1u);
    EXPECT_EQ(compiles_linking_an_object(), 4u);
    damage_all("\x7f"
               "ELF and garbage");
    build_and_run({});
    EXPECT_EQ(object_names().size(), 1u);
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

// Every file name the user can give (up to 255 bytes) can be run and
// built: the temporary names cut the stem.
TEST_F(DriverCommandLine, LongSourceNamesRunAndBuild) {
    std::string source = dir.write(std::string(246, 's') + ".ktl", "print(1)\n");
    CapturedRun run = kestal({"run", source, "--no-cache"});
    EXPECT_EQ(run.status.code, 0) << run.err;
    EXPECT_EQ(run.out, "argv0: " + source + "\n");
    CapturedRun build = kestal({"build", source});
    EXPECT_EQ(build.status.code, 0) << build.err;
    EXPECT_TRUE(platform::path_exists(dir / std::string(246, 's')));
    EXPECT_EQ(work_files(), std::vector<std::string>{});
}

// A loop without effects spins as long as its condition holds, under both
// compilers: C11 would let the optimizer assume it ends and drop it (clang
// then runs off the end of the function). The program must still be running
// after a second; it is then killed.
TEST_F(DriverCommandLine, EndlessLoopWithoutEffectsSpins) {
    std::string source = dir.write("spin.ktl", "i = 0\n"
                                               "while i < 3:\n"
                                               "    i = 0\n"
                                               "print('ended')\n");
    for (std::string cc : {"clang", "gcc"}) {
        std::string exe = dir / ("spin-" + cc);
        CapturedRun build = kestal({"build", source, "-o", exe}, {{"KESTAL_CC", cc}});
        ASSERT_EQ(build.status.code, 0) << cc << ": " << build.err;
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execl(exe.c_str(), exe.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::sleep(1);
        int status = 0;
        pid_t ended = ::waitpid(pid, &status, WNOHANG);
        ::kill(pid, SIGKILL);
        if (ended == 0)
            ::waitpid(pid, &status, 0);
        EXPECT_EQ(ended, 0) << cc << ": the loop ended, status " << status;
    }
}

} // namespace
} // namespace kestal
