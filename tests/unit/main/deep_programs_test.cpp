// Programs as deep as the parser lets them be, built and run by the real
// tool with each C compiler: every construct that nests must come out as C
// the compiler accepts (clang refuses brackets nested deeper than 256 unless
// told otherwise) and that computes what the source says.
#include "driver_support.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace kestal {
namespace {

using driver_test::run_kestal;
using driver_test::ScratchDir;
using platform::CapturedRun;

// Deep enough to be near the parser's limit of 1000 levels with the
// statement around it.
constexpr int kDepth = 990;

// `count` copies of `item` joined by `separator`.
std::string joined(std::string_view item, std::string_view separator, int count) {
    std::string out(item);
    for (int i = 1; i < count; ++i)
        out.append(separator).append(item);
    return out;
}

std::string repeated(std::string_view text, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += text;
    return out;
}

struct DeepCase {
    std::string source;
    std::string expected;
};

// One statement per construct, each at (or near) the nesting limit.
std::vector<DeepCase> deep_cases() {
    std::string blocks;
    for (int i = 0; i < kDepth; ++i)
        blocks += std::string(static_cast<size_t>(i), ' ') + "if x > 0:\n";
    blocks += std::string(kDepth, ' ') + "print('deep')\n";
    std::vector<std::string> rising;
    for (int i = 2; i < kDepth; ++i)
        rising.push_back(std::to_string(i));
    return {
        {blocks, "deep"},
        {"print(" + joined("x", " + ", kDepth) + ")\n", std::to_string(kDepth)},
        {"print(" + joined("x", " - ", kDepth) + ")\n", std::to_string(2 - kDepth)},
        {"print(len(" + joined("s", " + ", kDepth) + "))\n", std::to_string(2 * kDepth)},
        {"print(f * " + joined("g", " * ", kDepth - 1) + ")\n", "1.5"},
        {"print(" + joined("x > 0", " and ", kDepth) + ")\n", "True"},
        {"print(" + joined("x", " and ", kDepth) + " and 7)\n", "7"},
        {"if " + joined("x > 1", " or ", kDepth) + ":\n    print('yes')\nelse:\n    print('no')\n",
         "no"},
        {"print(0 < x < " + fmt::format("{}", fmt::join(rising, " < ")) + ")\n", "True"},
        {"print(" + joined("g", " ** ", kDepth) + ")\n", "1.0"},
        {"print(" + repeated("0 if x > 1 else ", kDepth) + "7)\n", "7"},
        {"print(" + repeated("(", kDepth) + "x" + repeated(")", kDepth) + ")\n", "1"},
        {"print(" + repeated("-", kDepth) + "x)\n", "1"},
        {"print(s" + repeated("[0]", kDepth) + ")\n", "a"},
        {"print(s" + repeated(".upper()", kDepth) + ")\n", "AB"},
        {"y = " + repeated("[", kDepth / 2) + "x" + repeated("]", kDepth / 2) + "\nprint(len(y))\n",
         "1"},
    };
}

TEST(DriverDeepPrograms, RunWithEitherCompilerAtTheNestingLimit) {
    ScratchDir dir;
    std::string temp = dir / "tmp";
    ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0);
    std::string source = "x = 1\ns = 'ab'\nf = 1.5\ng = 1.0\n";
    std::string expected;
    for (const DeepCase &c : deep_cases()) {
        source += c.source;
        expected += c.expected + "\n";
    }
    std::string program = dir.write("deep.ktl", source);
    for (std::string cc : {"gcc", "clang"}) {
        CapturedRun run = run_kestal({"run", "--no-cache", program}, temp, {{"KESTAL_CC", cc}});
        EXPECT_EQ(run.status.code, 0) << cc << ": " << run.err.substr(0, 2000);
        EXPECT_EQ(run.out, expected) << cc;
    }
}

} // namespace
} // namespace kestal
