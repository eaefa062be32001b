// Comprehensions and lambdas as generated C: the forms a program's output
// can't show — the capacity a list comprehension starts with, one temporary
// per target node, the key held before the value runs, and how a lambda's
// captures travel into its instance.
#include "codegen_fixture.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct PatternCase {
    const char *source;
    const char *pattern;
    bool present;
};

TEST(CodegenComprehensions, GeneratedTexts) {
    const std::string head = "def f(xs: list[int], d: dict[str, int], n: int, s: str) -> None:\n";
    std::vector<PatternCase> cases = {
        // One clause without conditions knows its length before the loop.
        {"    print([x for x in xs])\n", R"(L_i_new\(_src\d+->len\))", true},
        {"    print([x for x in xs if x])\n", R"(L_i_new\(0\))", true},
        {"    print([x * y for x in xs for y in xs])\n", R"(L_i_new\(0\))", true},
        // The inner clause's held iterable is set up once per outer step.
        {"    print([x * y for x in xs for y in xs])\n",
         R"(for \(int64_t _k\d+ = 0; [^}]*L_i \* _src\d+ = v_xs; for)", true},
        // The pair, then k and v: one temporary per target node.
        {"    print({k: v for k, v in d.items()})\n",
         R"(T_2si _v(\d+) = [^;]*; ktl_str _v\d+ = _v\1\.f0; int64_t _v\d+ = _v\1\.f1; )", true},
        // The key is held before the value runs.
        {"    print({k: len(k) for k in d})\n",
         R"(ktl_str _key(\d+) = _v\d+; D_si_set\(_res\d+, _key\1, \(_v\d+\)\.len\))", true},
        // A capture-free lambda is the placeholder byte; a capturing one a
        // closure literal in capture order, whose fields the call passes
        // after the arguments.
        {"    h = lambda: 3\n    print(h())\n", R"(v_h = \(\(uint8_t\)0\))", true},
        {"    g = lambda v: v + n + len(s)\n    print(g(1))\n",
         R"(v_g = \(\(Y_\w+\)\{v_n, v_s\}\))", true},
        {"    g = lambda v: v + n + len(s)\n    print(g(1))\n",
         R"(lam\d+__iis\(INT64_C\(1\), v_g\.c0, v_g\.c1\))", true},
    };
    for (const PatternCase &c : cases) {
        std::string source = head + c.source + "\n\nf([1], {\"a\": 1}, 2, \"x\")\n";
        std::string text = program_c(source);
        EXPECT_EQ(std::regex_search(text, std::regex(c.pattern)), c.present) << c.source << "\n"
                                                                             << text;
    }
}

// A lambda can't copy a parameter the body binds again, in any form: the
// call's binding is the first of two.
TEST(CodegenComprehensions, LambdaOverReassignedParameter) {
    struct Case {
        std::string source;
        std::string expected;
    };
    auto message = [](const char *at, const char *name) {
        return fmt::format("{}: this lambda uses '{}', which is assigned more than once; Kestal "
                           "copies the variables a lambda uses when it's created, so Python would "
                           "differ if '{}' changes later (pass it as an argument instead)",
                           at, name, name);
    };
    const std::vector<Case> cases = {
        {"def f(p: int) -> int:\n    g = lambda: p\n    p += 4\n    return g()\nf(1)\n",
         message("2:9", "p")},
        {"def f(p: int, q: int) -> int:\n    g = lambda: q\n    p, q = 7, 8\n    return g()\n"
         "f(1, 2)\n",
         message("2:9", "q")},
        {"def f(p: int) -> int:\n    g = lambda: p\n    if p > 0:\n        p = 0\n    return "
         "g()\nf(1)\n",
         message("2:9", "p")},
        {"class C:\n    def m(self, p: int) -> int:\n        g = lambda v: v + p\n        p = "
         "2\n        return g(1)\nprint(C().m(1))\n",
         message("3:13", "p")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.expected) << c.source;
}

} // namespace
} // namespace kestal::testing
