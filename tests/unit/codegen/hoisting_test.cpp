// Evaluation-order hoisting as generated C and as run: which operands are
// evaluated first into `__ktl_o<N>` variables for calls, operators and
// keyword arguments, and operands that may raise; chains deep enough that each level answers the
// side-effect question from the kept answers; and programs whose printed
// trace shows the left-to-right order.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestal::testing {
namespace {

// Two functions with visible side effects, then `body` as the body of main.
std::string in_main(const std::string &body) {
    return "def f(tag: str, v: int) -> int:\n    print(tag)\n    return v\n\n\n"
           "def pair(a: int, b: int) -> int:\n    return a * 10 + b\n\n\n"
           "def three(a: int, b: int, c: int) -> int:\n    return a + b + c\n\n\n"
           "def main() -> None:\n" +
           body + "\n\nmain()\n";
}

size_t count_of(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// How many operands a statement evaluates first into `__ktl_o` variables
// (the order they then run in is what RunsLeftToRight checks): only where
// another operand has side effects, never across `and`/`or`, and never a
// pure operand.
TEST(CodegenHoisting, WhatIsHoisted) {
    struct Case {
        const char *body;
        size_t hoisted;
    };
    std::vector<Case> cases = {
        // Two side-effecting arguments: both hoisted.
        {"    print(pair(f(\"a\", 1), f(\"b\", 2)))", 2},
        // One side-effecting argument with pure ones: nothing hoisted.
        {"    print(pair(f(\"p\", 1), 2 + 3))", 0},
        {"    n = 4\n    print(pair(len(\"ab\"), f(\"p\", n)))", 0},
        // `and`/`or` keep their own short-circuit order.
        {"    print(f(\"x\", 1) > 0 and f(\"y\", 2) > 0)", 0},
        {"    print(f(\"x\", 1) > 0 or f(\"y\", 2) > 0)", 0},
        // Keyword arguments, evaluated in source order.
        {"    print(pair(b=f(\"k1\", 1), a=f(\"k2\", 2)))", 2},
        // A hoisted operand that is itself hoisted nests its own: the two
        // factors, then the product and the left term.
        {"    print(f(\"c\", 3) + f(\"d\", 4) * f(\"e\", 5))", 4},
        // An operand that may raise goes first when a call stands to its
        // right; after the only call it stays in place, the call going first.
        {"    t = \"5\"\n    print(pair(int(t), f(\"p\", 1)))", 1},
        {"    t = \"5\"\n    print(pair(f(\"q\", 1), int(t)))", 1},
        // One that can't raise never moves.
        {"    t = \"5\"\n    print(pair(f(\"r\", 1), len(t)))", 0},
        // The pure operand stays in the call.
        {"    n = 4\n    print(three(f(\"a\", 1), n * 2 + 1, f(\"b\", 2)))", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.body);
        std::string text = program_c(in_main(c.body));
        EXPECT_EQ(count_of(text, "int64_t v___ktl_o"), c.hoisted) << text;
    }
}

// A left-leaning chain of n calls: the first `+` hoists both its operands
// and every later link adds the next call to a temporary holding the sum so
// far (n-2 of them), so the calls still run from left to right; a chain of
// pure terms hoists nothing.
TEST(CodegenHoisting, LongChains) {
    const int n = 300;
    std::string calls = "    print(f(\"1\", 1)";
    std::string ones = "    print(1";
    std::string trace;
    for (int i = 2; i <= n; ++i) {
        calls += " + f(\"" + std::to_string(i) + "\", " + std::to_string(i) + ")";
        ones += " + 1";
    }
    for (int i = 1; i <= n; ++i)
        trace += std::to_string(i) + "\n";
    std::string text = program_c(in_main(calls + ")"));
    EXPECT_EQ(count_of(text, "int64_t v___ktl_o"), size_t{2});
    EXPECT_EQ(count_of(text, "int64_t _ch"), size_t{n - 2});
    RunResult r = run_source(in_main(calls + ")"), "hoisting_chain");
    ASSERT_EQ(r.cc_errors, "") << "the C compiler refused the generated file";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, trace + std::to_string(n * (n + 1) / 2) + "\n");

    std::string pure = program_c(in_main(ones + ")"));
    EXPECT_EQ(pure.find("__ktl_o"), std::string::npos);
    EXPECT_EQ(count_of(pure, "INT64_C(1)"), size_t{n});
}

TEST(CodegenHoisting, RunsLeftToRight) {
    std::string body = "    print(pair(f(\"a\", 1), f(\"b\", 2)))\n"
                       "    print(f(\"c\", 3) + f(\"d\", 4) * f(\"e\", 5))\n"
                       "    print(pair(b=f(\"k1\", 1), a=f(\"k2\", 2)))\n"
                       "    n = 4\n"
                       "    print(three(f(\"g\", 1), n * 2 + 1, f(\"h\", 2)))\n"
                       "    print(f(\"t\", 1) - f(\"u\", 2) - f(\"v\", 3) - f(\"w\", 4))\n"
                       "    print(f(\"x\", 1) > 0 and f(\"y\", 0) > 0, f(\"z\", 5))";
    RunResult r = run_source(in_main(body), "hoisting_order");
    ASSERT_EQ(r.cc_errors, "") << "the C compiler refused the generated file";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "a\nb\n12\n"
                     "c\nd\ne\n23\n"
                     "k1\nk2\n21\n"
                     "g\nh\n12\n"
                     "t\nu\nv\nw\n-8\n"
                     "x\ny\nz\nFalse 5\n");
}

} // namespace
} // namespace kestal::testing
