// A compiled program whose recursion has no end: with either C compiler and
// with or without run-time checks it ends with Python's RecursionError line
// and status 1, after writing all the output it had printed (a line still in
// the runtime's buffer and a block larger than the buffer alike), never by a
// bare SIGSEGV.
#include "driver_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestal {
namespace {

using driver_test::run_kestal;
using driver_test::ScratchDir;
using platform::CapturedRun;

TEST(DriverStackOverflow, EndsWithRecursionErrorAfterTheOutput) {
    ScratchDir dir;
    std::string temp = dir / "tmp";
    ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0);
    std::string program = dir.write("deep.ktl", "def down(n: int) -> int:\n"
                                                "    return down(n + 1) + down(n + 2)\n"
                                                "print('x' * 100000)\n"
                                                "print('start')\n"
                                                "print(down(0))\n"
                                                "print('never')\n");
    std::string expected = std::string(100000, 'x') + "\nstart\n";
    for (std::string cc : {"gcc", "clang"}) {
        for (bool unchecked : {false, true}) {
            SCOPED_TRACE(cc + (unchecked ? " --unchecked" : ""));
            std::vector<std::string> args = {"run", "--no-cache"};
            if (unchecked)
                args.push_back("--unchecked");
            args.push_back(program);
            CapturedRun run = run_kestal(args, temp, {{"KESTAL_CC", cc}});
            EXPECT_EQ(run.status.signal, 0);
            EXPECT_EQ(run.status.code, 1);
            EXPECT_EQ(run.out, expected);
            EXPECT_EQ(run.err, "RecursionError: maximum recursion depth exceeded\n");
        }
    }
}

} // namespace
} // namespace kestal
