// Index checks taken out of range loops, as generated C: which accesses get
// the guarded fast form, when the guard is settled to false or left out, and
// the plain C loop of a range with a literal step. The program tests in
// tests/programs/loops (index_guard*) run the same shapes.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

// `body` as the loop body of `def f(xs: list[int], ys: list[int], n: int)`.
std::string in_loop(const std::string &loop, const std::string &body) {
    return "def g(xs: list[int]) -> None:\n    xs.append(1)\n\n\n"
           "def h(k: int) -> int:\n    return k * 2\n\n\n"
           "def f(xs: list[int], ys: list[int], n: int) -> int:\n    s = 0\n    " +
           loop + ":\n" + body + "\n    return s\n\n\nprint(f([1, 2, 3], [4, 5, 6], 2))\n";
}

TEST(CodegenIndexGuard, GuardedAccesses) {
    struct Case {
        const char *loop;
        const char *body;
        // A regular expression the C must hold, and one it must not.
        const char *present;
        const char *absent;
    };
    const std::vector<Case> cases = {
        // A read and a store with offsets: one guard over both lists, the
        // least and greatest offset used.
        {"for i in range(1, n)", "        ys[i] = xs[i - 1] + xs[i + 1]",
         R"(bool _ok\d+ = _start\d+ >= _end\d+ \|\| \(_start\d+ >= INT64_C\(1\) && v_xs && \(_end\d+ - INT64_C\(1\)\) < v_xs->len - INT64_C\(1\) && v_ys && \(_end\d+ - INT64_C\(1\)\) < v_ys->len\);)",
         "\\(\\*L_i_at\\(v_xs"},
        {"for i in range(n)", "        s += xs[i] * h(i)", R"(_ok\d+ \? &v_xs->data\[v_i\] :)",
         "= false;"},
        // A plain C loop: no range value, no element count.
        {"for i in range(n)", "        s += xs[i]",
         R"(for \(int64_t _i\d+ = _start\d+; _i\d+ < _end\d+; _i\d+\+\+\))", "ktl_range_new"},
        {"for i in range(n, 0, -1)", "        s += xs[i]", R"(_i\d+ > _end\d+; _i\d+--\))",
         "ktl_range_new"},
        // A step of 2 counts its elements; the guard reads the last one.
        {"for i in range(0, n, 2)", "        s += xs[i]",
         R"(_n\d+ == 0 \|\| \(_start\d+ >= INT64_C\(0\) && v_xs && \(int64_t\)\(\(uint64_t\)_start\d+ \+ \(uint64_t\)\(_n\d+ - 1\) \* \(uint64_t\)INT64_C\(2\)\) < v_xs->len\))",
         "ktl_range_new"},
        // A call of a function that appends: the guard is false.
        {"for i in range(n)", "        g(ys)\n        s += xs[i]", R"(bool _ok\d+ = false;)",
         "bool _ok\\d+ = _"},
        // The list or the variable rebound, or a list of lists: no guard.
        {"for i in range(n)", "        s += xs[i]\n        xs = ys", "L_i_at\\(v_xs, v_i\\)",
         "_ok"},
        {"for i in range(n)", "        s += xs[i]\n        i = 0", "L_i_at\\(v_xs, v_i\\)", "_ok"},
        {"for i in range(n)", "        s += [xs][0][i]", "L_i_at", "_ok"},
        // A step that is not a literal keeps the range value.
        {"for i in range(0, n, n)", "        s += xs[i]", "ktl_range_new", "_ok"},
        // An augmented store checks its index once.
        {"for i in range(len(ys))", "        ys[i] += 1",
         R"(int64_t _k\d+ = v_i;\s+int64_t _at\d+; if \(_ok\d+\) _at\d+ = _k\d+; else)",
         "L_i_at\\(_o"},
    };
    for (const Case &c : cases) {
        std::string source = in_loop(c.loop, c.body);
        std::string text = program_c(source);
        EXPECT_TRUE(std::regex_search(text, std::regex(c.present))) << source << "\n" << text;
        EXPECT_FALSE(std::regex_search(text, std::regex(c.absent))) << source << "\n" << text;
    }
}

// The guarded forms run: in range, out of range (wrapping and raising) and
// with a body that shrinks the list.
TEST(CodegenIndexGuard, Runs) {
    RunResult r = run_source(
        "def pop(xs: list[int]) -> None:\n    xs.pop()\n\n\n"
        "def f(xs: list[int], lo: int, hi: int, shrink: bool) -> int:\n"
        "    s = 0\n    for i in range(lo, hi):\n        s = s * 10 + xs[i + 1]\n"
        "        xs[i] += 1\n        if shrink:\n            pop(xs)\n    return s\n\n\n"
        "print(f([1, 2, 3, 4], 0, 3, False), f([1, 2, 3, 4], -3, 1, False))\n"
        "try:\n    print(f([1, 2, 3, 4], 0, 4, False))\nexcept IndexError as e:\n    print(e)\n"
        "try:\n    print(f([1, 2, 3, 4, 5], 0, 3, True))\nexcept IndexError as e:\n    print(e)\n",
        "index_guard_runs");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "234 3413\nlist index out of range\nlist index out of range\n");
    EXPECT_EQ(r.status, 0);
}

} // namespace
} // namespace kestal::testing
