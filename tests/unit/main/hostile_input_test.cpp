// The built `kestal` tool against inputs and surroundings a fuzzer or an
// unlucky user produces: trees far deeper than any program needs, sources
// that never end, too little memory, a reader that goes away, NUL bytes in
// what a diagnostic shows. Each must end in a message and status 1, never
// in a crash or a cut-short text.
#include "driver_support.h"

#include <algorithm>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace kestal {
namespace {

using driver_test::run_kestal;
using driver_test::ScratchDir;
using platform::CapturedRun;

const std::string kNestingMessage =
    "too many nested levels (brackets, operators or blocks nest at most 1000 deep)";

class DriverHostileInput : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(::mkdir(temp().c_str(), 0755), 0); }

    std::string temp() const { return dir / "tmp"; }

    CapturedRun kestal(const std::vector<std::string> &args) { return run_kestal(args, temp()); }

    // Runs a shell command line with the tool as $0; what the shell writes
    // to standard error comes back.
    CapturedRun shell(const std::string &script, const std::vector<std::string> &args) {
        std::vector<std::string> argv = {"/bin/sh", "-c", script, driver_test::kestal_binary()};
        argv.insert(argv.end(), args.begin(), args.end());
        platform::Result<CapturedRun> run = platform::run_captured(argv, {{"TMPDIR", temp()}});
        EXPECT_TRUE(run.ok());
        return run.ok() ? *run : CapturedRun{};
    }

    ScratchDir dir;
};

std::string repeated(std::string_view first, std::string_view link, int links) {
    std::string out(first);
    for (int i = 0; i < links; ++i)
        out += link;
    return out;
}

// The sizes a fuzzer found crashing `check`: every one of them is now the
// nesting error at the link that goes one level too deep.
TEST_F(DriverHostileInput, EndlessChainsAreRefusedNotCrashed) {
    struct Case {
        std::string source;
        std::string position;
    };
    const Case cases[] = {
        {"x = " + repeated("1", " + 1", 199999) + "\n", "1:4003"},
        {"def f(a: int) -> int:\n    return a\nx = " + repeated("f", "(1)", 300000) + "\n",
         "3:3000"},
        {"s = 'abc'\nx = " + repeated("s", "[0]", 300000) + "\n", "2:3000"},
    };
    for (const Case &c : cases) {
        std::string source = dir.write("chain.ktl", c.source);
        CapturedRun run = kestal({"check", source});
        EXPECT_EQ(run.status.signal, 0);
        EXPECT_EQ(run.status.code, 1);
        EXPECT_TRUE(run.err.starts_with(
            fmt::format("{}:{}: error: {}\n", source, c.position, kNestingMessage)))
            << run.err.substr(0, 200);
    }
}

TEST_F(DriverHostileInput, EndlessSourceIsTooLarge) {
    CapturedRun run = kestal({"check", "/dev/zero"});
    EXPECT_EQ(run.status.code, 1);
    EXPECT_EQ(run.err, "kestal: can't read /dev/zero: file too large (more than 32 MiB)\n");
}

// An allocation that fails on the main thread (here: while the source is
// read under a small address-space limit) is reported, not aborted on.
TEST_F(DriverHostileInput, OutOfMemoryOutsideTheCompileThreadIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory can't live under a small address-space limit";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer's shadow memory can't live under a small address-space limit";
#endif
#endif
    std::string source = dir.write("big.ktl", repeated("", "x = 1\n", 4000000));
    CapturedRun run = shell("ulimit -v 40000; exec \"$0\" check \"$1\"", {source});
    EXPECT_EQ(run.status.signal, 0);
    EXPECT_EQ(run.status.code, 1);
    EXPECT_EQ(run.err, "kestal: out of memory\n");
}

// A reader that stops early (`| head -c 10`) makes `emit` fail with the
// system's reason and status 1 instead of dying of SIGPIPE.
TEST_F(DriverHostileInput, EmitIntoAClosedPipeIsAFailedWrite) {
    std::string source = dir.write("p.ktl", "print(1)\n");
    CapturedRun run = shell("{ \"$0\" emit \"$1\"; echo \"status $?\" >&2; } | head -c 10 "
                            ">/dev/null",
                            {source});
    EXPECT_EQ(run.err, "kestal: can't write the C text: Broken pipe (os error 32)\nstatus 1\n");
}

// The commands that only print fail the same way on a full disk.
TEST_F(DriverHostileInput, PrintingCommandsOnAFullDiskFail) {
    CapturedRun run = shell("for c in help version; do \"$0\" $c >/dev/full; echo \"$c $?\" >&2; "
                            "done",
                            {});
    EXPECT_EQ(run.err, "kestal: can't write the output: No space left on device (os error 28)\n"
                       "help 1\n"
                       "kestal: can't write the output: No space left on device (os error 28)\n"
                       "version 1\n");
}

// The excerpt of a line holding a NUL byte is shown whole.
TEST_F(DriverHostileInput, NulByteDoesNotCutTheDiagnosticShort) {
    std::string source = dir.write("nul.ktl", std::string("x = \"a\0b\" +\n", 12));
    CapturedRun run = kestal({"check", source});
    EXPECT_EQ(run.status.code, 1);
    EXPECT_EQ(run.err, fmt::format("{}:1:12: error: expected an expression, found end of line\n"
                                   "    1 | x = \"a{}b\" +\n"
                                   "      |            ^\n",
                                   source, std::string(1, '\0')));
}

// 10,000 `elif` branches used to crash clang, which parses C's nested
// `else if` recursively; the chain is now flat and builds with both
// compilers, picking the right branch.
TEST_F(DriverHostileInput, TenThousandElifBranchesBuild) {
    std::string source = "x = 9998\nif x == 0:\n    print(0)\n";
    for (int i = 1; i < 10000; ++i)
        source += fmt::format("elif x == {0}:\n    print({0})\n", i);
    source += "else:\n    print(-1)\nprint('end')\n";
    std::string path = dir.write("elif.ktl", source);
    for (std::string cc : {"gcc", "clang"}) {
        CapturedRun run = run_kestal({"run", path, "--no-cache"}, temp(), {{"KESTAL_CC", cc}});
        EXPECT_EQ(run.status.code, 0) << cc << ": " << run.err.substr(0, 300);
        EXPECT_EQ(run.out, "9998\nend\n") << cc;
    }
}

// A 19,000-line straight program kept clang -O3 busy for many minutes (its
// time grows faster than the function's length); main is now cut into parts
// of at most 50 top-level statements. Building it still takes clang over a
// minute, so this checks the shape of the C text; control/long_main.ktl
// runs a program cut into parts.
TEST_F(DriverHostileInput, LongMainIsCutIntoParts) {
    std::string source = "total = 0\n";
    for (int i = 0; i < 19000; ++i)
        source += i % 2 ? fmt::format("total = total + {} - total // 7\n", i)
                        : std::string("print(total % 1000)\n");
    CapturedRun run = kestal({"emit", dir.write("straight.ktl", source)});
    ASSERT_EQ(run.status.code, 0) << run.err;
    const std::string part_head = "__attribute__((noinline)) static void ktl_main_part";
    size_t parts = 0;
    for (size_t at = run.out.find(part_head); at != std::string::npos;
         at = run.out.find(part_head, at + 1)) {
        ++parts;
        size_t end = run.out.find("\n}\n", at);
        ASSERT_NE(end, std::string::npos);
        std::string_view body(run.out.data() + at, end - at);
        // One line per statement here, plus the function's head.
        EXPECT_LE(std::count(body.begin(), body.end(), '\n'), 51);
    }
    EXPECT_EQ(parts, 381u);
    size_t main_at = run.out.find("KTL_PROG void ktl_main(void) {\n");
    ASSERT_NE(main_at, std::string::npos);
    EXPECT_NE(run.out.find("ktl_main_part381();\n", main_at), std::string::npos);
}

} // namespace
} // namespace kestal
