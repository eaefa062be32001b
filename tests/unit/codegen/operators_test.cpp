// Operators, boolean values and augmented assignment: the properties of the
// generated C a program's output can't show (the division that needs no zero
// check, shifts that never mask their count), the same operators run, the
// Types the boolean operators give, and the unchecked build.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct TextCase {
    const char *source;
    const char *present;
    const char *absent;
};

// What the text shows that a run can't: the runtime check a division needs
// only where the divisor may be zero, shift counts never masked, float
// powers through the checked runtime power, and plain && for bool operands.
TEST(CodegenOperators, GeneratedTexts) {
    std::vector<TextCase> cases = {
        // Two ints divide in the runtime, rounded once, never through two
        // conversions to double; a float division by a non-zero literal needs
        // no check, by a variable or 0 it does.
        {"n = 7\nprint(n / 2)\n", "ktl_itruediv(", "((double)v_n)"},
        {"n = 7\nprint(1 / n)\n", "ktl_itruediv(", "ktl_fdiv"},
        {"n = 7\nprint(n / 2.5)\n", "/ ((double)2.5)", "ktl_fdiv"},
        {"x = 7.0\nprint(1 / x)\n", "ktl_fdiv(", nullptr},
        {"x = 7.0\nprint(x / 0)\n", "ktl_fdiv(", nullptr},
        // An int and a float compare exactly, never through a double.
        {"n = 7\nx = 2.5\nprint(x < n, n != x)\n", "ktl_if_", "((double)v_n)"},
        // Shifts go through the runtime with the count as it is.
        {"n = 7\nprint(n << 70, n >> n)\n", "ktl_shl(", "& 63"},
        {"n = 7\nprint(n >> n)\n", "ktl_shr(", "& 63"},
        {"n = 7\nprint(n ** 0.5)\n", "ktl_fpow(", " pow("},
        // Two bool operands give plain && without a temporary.
        {"a = True\nb = False\nprint(a and b)\n", "(v_a && v_b)", "_ao"},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.source);
        std::string text = program_c(c.source);
        EXPECT_NE(text.find(c.present), std::string::npos) << text;
        if (c.absent) {
            EXPECT_EQ(text.find(c.absent), std::string::npos) << text;
        }
    }
}

// The same operators run: true division, exact int/float comparison (2**53+1
// is no double), shifts, float powers; an optional compared with a plain
// value and the left operand of a non-bool `or`/`and` evaluated once.
TEST(CodegenOperators, RunLikePython) {
    std::string source = R"(n = 7
x = 2.5
def t(v: int) -> int:
    print("t", v)
    return v
def g(v: int | None) -> int | None:
    print("g")
    return v
print(n / 2, n / 2.5, 1 / n, x < n, n != x, 9007199254740993 == 9007199254740992.0)
big = 9007199254740993
print(big > 9007199254740992.0, big - 1 < 9007199254740992.0, 2.5 < n)
print(n << 3, n >> n, n >> 1, -n >> 1, n ** 0.5)
print(g(3) == 3, 3 != g(None), g(None) == 3)
a = True
b = False
print(a and b, t(1) or t(2), t(0) or t(2), t(0) and t(5))
)";
    RunResult r = run_source(source, "operators_run");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "3.5 2.8 0.14285714285714285 True True False\n"
                     "True False True\n"
                     "56 0 3 -4 2.6457513110645907\n"
                     "g\ng\ng\nTrue True False\n"
                     "t 1\nt 0\nt 2\nt 0\nFalse 1 2 0\n");
}

// The deepest bracket nesting of a C text, string and character literals
// left out.
int bracket_depth(const std::string &c) {
    int depth = 0, deepest = 0;
    char quote = 0;
    for (size_t i = 0; i < c.size(); ++i) {
        char ch = c[i];
        if (quote) {
            if (ch == '\\')
                ++i;
            else if (ch == quote)
                quote = 0;
        } else if (ch == '"' || ch == '\'') {
            quote = ch;
        } else if (ch == '(' || ch == '[' || ch == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (ch == ')' || ch == ']' || ch == '}') {
            --depth;
        }
    }
    return deepest;
}

std::string run_of(int operands, const std::string &operand, const std::string &op) {
    std::string out = operand;
    for (int i = 1; i < operands; ++i)
        out += " " + op + " " + operand;
    return out;
}

// A long run of one operator level compiles to C whose nesting does not
// grow with its length, or only with its logarithm (C compilers limit it;
// clang to 256 by default).
TEST(CodegenOperators, LongRunsNestNoDeeperThanShortOnes) {
    struct Case {
        const char *setup;
        const char *operand;
        const char *op;
    };
    std::vector<Case> cases = {
        {"x = 1\n", "x", "+"},   {"x = 1\n", "x", "-"},    {"x = 1.5\n", "x", "*"},
        {"s = 'a'\n", "s", "+"}, {"x = 1\n", "x", "<"},    {"x = 1\n", "x > 0", "and"},
        {"x = 1\n", "x", "or"},  {"x = 1\n", "f(x)", "+"}, {"x = 1\n", "x + 1", "or"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.operand) + " " + c.op);
        std::string defs = "def f(v: int) -> int:\n    return v\n" + std::string(c.setup);
        auto depth_for = [&](int operands) {
            return bracket_depth(
                program_c(defs + "y = " + run_of(operands, c.operand, c.op) + "\nprint(y)\n" +
                          "if " + run_of(operands, c.operand, c.op) + ":\n    print(1)\n"));
        };
        int short_run = depth_for(40), long_run = depth_for(900);
        // Regrouped `and`/`or` runs grow with the logarithm of their length.
        EXPECT_LE(long_run, short_run + 12);
        EXPECT_LT(long_run, 64);
    }
}

// Long runs keep the language's semantics: operands left to right, each
// once, `and`/`or` stopping at the deciding operand, and the None-narrowing
// of a test reaching every later operand of the run.
TEST(CodegenOperators, LongRunsEvaluateInOrder) {
    std::string source =
        "def t(v: int) -> int:\n    print(v, end=' ')\n    return v\n"
        "def main(p: int | None) -> None:\n"
        "    print(" +
        run_of(30, "t(1)", "+") + " - t(2))\n" + "    print(" + run_of(30, "t(1) > 0", "and") +
        " and t(0) > 0 and t(3) > 0)\n" + "    print(t(0) or " + run_of(30, "t(0)", "or") +
        " or t(4) or t(5))\n" + "    print(0 < t(1) < " + run_of(25, "t(2)", "<") + " < t(3))\n" +
        "    print(p is not None and " + run_of(30, "p > 0", "and") + " and p + 1 > 4)\n" +
        "    print(" + run_of(30, "t(1)", "*") + " * (t(2) - t(3)))\n" + "main(4)\n";
    std::string ones;
    for (int i = 0; i < 30; ++i)
        ones += "1 ";
    std::string zeros;
    for (int i = 0; i < 31; ++i)
        zeros += "0 ";
    RunResult r = run_source(source, "operators_long_runs");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, ones + "2 28\n" + ones + "0 False\n" + zeros + "4 4\n" + "1 2 2 False\n" +
                         "True\n" + ones + "2 3 -1\n");
}

// The Type of a value shows in the message of a later store of a str.
TEST(CodegenOperators, AndOrValueTypesWithStaticallyKnownLeft) {
    struct Case {
        const char *expr;
        const char *held;
    };
    std::vector<Case> cases = {
        {"p is not None and p + 1", "an int"},
        {"p is None or p * 2.0", "a float"},
        {"p is None and p + 1", "a bool"},
        {"p is not None or p + 1", "a bool"},
        {"q or 5", "an int"},
        {"q and 5", "an int | None"},
    };
    for (const Case &c : cases) {
        std::string source = std::string("def f(p: int, q: int | None) -> None:\n    v = ") +
                             c.expr + "\n    v = \"s\"\n\n\nf(1, None)\n";
        EXPECT_EQ(rejection(source), "3:5: can't assign a str to 'v', which holds " +
                                         std::string(c.held) + " (a variable keeps one type)")
            << c.expr;
    }
    // Undecided, the left operand's own value is one of the results.
    EXPECT_EQ(
        rejection("def f(q: int | None) -> None:\n    v = q is not None and q + 1\n\n\nf(None)\n"),
        "2:9: `and` here gives either a bool or an int, and a Kestal value has one type");
}

TEST(CodegenOperators, RejectedOperands) {
    struct Case {
        const char *source;
        const char *error;
    };
    std::vector<Case> cases = {
        {"print(1 + True)\n", "1:7: unsupported operand types for +: int and bool"},
        {"print(True + True)\n", "1:7: unsupported operand types for +: bool and bool"},
        {"print(1.5 & 1)\n", "1:7: unsupported operand types for &: float and int"},
        {"print(1.0 >> 1)\n", "1:7: unsupported operand types for >>: float and int"},
        {"print(\"a\" < 1)\n", "1:7: unsupported operand types for <: str and int"},
        {"print(1 in \"abc\")\n", "1:7: unsupported operand types for in: int and str"},
        {"print(\"%s\" % \"x\")\n", "1:7: %-formatting isn't supported; use an f-string: f\"{x}\""},
        {"print(1.5 is not 2.5)\n",
         "1:7: 'is not' compares objects, lists, dicts, sets and files by identity; use == to "
         "compare float and float"},
        {"x = 1\nx //= \"a\"\n", "2:1: unsupported operand types for //: int and str"},
        {"x = True\nx += True\n", "2:1: unsupported operand types for +: bool and bool"},
        // A call without a value compared with None is refused, not false.
        {"def f() -> None:\n    pass\nprint(f() is None)\n", "3:7: this expression has no value"},
        {"def f() -> None:\n    pass\nif None != f():\n    pass\n",
         "3:12: this expression has no value"},
        {"print(-None)\n", "1:7: bad operand type for unary -: None"},
        {"print(~True)\n", "1:8: the operand of ~ must be int, not bool"},
        {"print(None + 1)\n",
         "1:7: unsupported operand types for +: None and int (it is always None here)"},
        {"print(1 < None)\n",
         "1:7: unsupported operand types for <: int and None (it is always None here)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

// A function value has no truth value: every place that tests one refuses
// it at the tested expression (a forgotten call is the usual cause).
TEST(CodegenOperators, FunctionValuesHaveNoTruth) {
    const char *cond = "this expression has no value, so it can't be used as a condition";
    struct Case {
        std::string source;
        std::string error;
    };
    std::vector<Case> cases = {
        {"if len:\n    pass\n", std::string("1:4: ") + cond},
        {"def f() -> int:\n    return 1\nwhile f:\n    pass\n", std::string("3:7: ") + cond},
        {"x = not len\n", std::string("1:9: ") + cond},
        {"x = 1 if abs else 2\n", std::string("1:10: ") + cond},
        {"b = True\nif b and len:\n    pass\n", std::string("2:10: ") + cond},
        {"y = len or 1\n", "1:5: this expression has no value"},
        {"def f() -> int:\n    return 1\ny = f and 1\n", "3:5: this expression has no value"},
        {"print(bool(len))\n", "1:7: bool() needs a value"},
        // str() and repr() of a call without a value: at the str() call.
        {"def g():\n    pass\nprint(1, str(g()))\n", "3:10: this expression has no value"},
        {"def g():\n    pass\nprint(1, repr(g()))\n", "3:10: this expression has no value"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

// Unchecked, a negative count shifts everything out instead of raising,
// and a count of 64 or more still gives 0 or -1; a zero base to a negative
// power gives C's infinity.
TEST(CodegenOperators, UncheckedShiftsAndPowers) {
    std::string source = "n = -1\nbig = 64\nz = 0.0\n"
                         "print(5 << n, -5 >> n, 5 >> n, 3 << big, -3 >> big, z ** n)\n";
    std::string c = "#define KTL_UNCHECKED 1\n" + generate(source).c_text;
    RunResult r = build_and_run(c, "operators_unchecked_shifts");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0 -1 0 0 -1 inf\n");
}

} // namespace
} // namespace kestal::testing
