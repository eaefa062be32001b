// Which function instances check for a recursion too deep at their entry:
// those on a cycle of the call graph, however the cycle closes (a direct
// call, a method dispatched by class, a function passed as a value, a
// special method the operators call), and no other; and the program with
// the checks (one of them without parameters) builds and runs.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

const char *const kProgram = R"(def fib(n: int) -> int:
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)


def forever() -> int:
    return forever() + 1


def leaf(n: int) -> int:
    return n + 1


def caller(n: int) -> int:
    return fib(n) + leaf(n)


def ping(n: int) -> int:
    return 0 if n == 0 else pong(n - 1)


def pong(n: int) -> int:
    return ping(n)


class Shape:
    def area(self, n: int) -> int:
        return self.scaled(n)

    def scaled(self, n: int) -> int:
        return n


class Square(Shape):
    def scaled(self, n: int) -> int:
        return 0 if n == 0 else self.area(n - 1)


def apply(f, n: int) -> int:
    return f(n)


def through_value(n: int) -> int:
    return 0 if n == 0 else apply(through_value, n - 1)


def uses_apply(n: int) -> int:
    return apply(leaf, n)


class Money:
    def __init__(self, cents: int) -> None:
        self.cents = cents

    def __str__(self) -> str:
        return describe(self.cents)


def describe(cents: int) -> str:
    return f"{cents // 100}.{cents % 100:02d}"


def plain_method_user(n: int) -> int:
    return Shape().area(n)


shapes: list[Shape] = [Shape(), Square()]
print(caller(10), ping(3), shapes[1].area(2), through_value(3), uses_apply(1))
print(Money(1234), plain_method_user(2))
)";

TEST(CodegenRecursion, OnlyFunctionsOnACycleCheck) {
    struct Case {
        const char *c_name;
        bool checked;
    };
    // A special method may be reached from any body that prints or compares,
    // so a function that a special method calls is on a cycle with it.
    const std::vector<Case> cases = {
        {"f_fib__", true},
        {"f_forever__", true},
        {"f_leaf__", false},
        {"f_caller__", false},
        {"f_ping__", true},
        {"f_pong__", true},
        {"f_Shape_M_area__", true},
        {"f_Square_M_scaled__", true},
        {"f_through_value__", true},
        {"f_apply__", true},
        {"f_uses_apply__", false},
        {"f_Money_M___str____", true},
        {"f_describe__", true},
        {"f_Money_M___init____", false},
        {"f_plain_method_user__", false},
    };
    std::string c = program_c(kProgram);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.c_name);
        std::string name = k.c_name;
        bool plain = std::regex_search(c, std::regex("\nstatic [^\n(]* " + name + "\\w*\\("));
        // With its depth first, or (past base cases that call nothing)
        // without it, checking the stack position.
        bool with_depth = std::regex_search(c, std::regex("\nstatic [^\n(]* r" + name +
                                                          "\\w*\\(int64_t ktl_dp[,)][^\n]*\\{\n"
                                                          "((    |#)[^\n]*\n)*?"
                                                          "    KTL_RECURSION_CHECK\\(\\);\n"));
        bool on_stack = std::regex_search(c, std::regex("\nstatic KTL_RBODY [^\n(]* r" + name +
                                                        "\\w*\\([^\n]*\\{\n"
                                                        "((    |#)[^\n]*\n)*?"
                                                        "    KTL_STACK_CHECK\\(\\);\n"));
        EXPECT_EQ(with_depth || on_stack, k.checked);
        EXPECT_EQ(plain, !k.checked);
    }
}

// A recursive instance checks after its leading base cases when they call
// nothing (tests of int, float and bool parameters returning such values),
// so a call that ends there pays nothing; else at its entry. Such base cases
// are also written into an inline wrapper that the calls go through under
// clang, and the instance skips them there; it takes no depth, keeps its
// calls calls and checks the stack position.
TEST(CodegenRecursion, ChecksAfterBaseCasesThatCallNothing) {
    const char *const program = R"(def fact(n: int) -> int:
    if n <= 1:
        return 1
    elif n == 2:
        return 2
    return n * fact(n - 1)


def count(xs: list[int], i: int) -> int:
    if i == len(xs):
        return 0
    return 1 + count(xs, i + 1)


def pick(s: str, n: int) -> int:
    if s == "":
        return n
    return pick(s[1:], n + 1)


def cut(x: float, n: int) -> float:
    if n == 0:
        return x
    return cut(x / 2.0, n - 1)


print(fact(5), count([1, 2], 0), pick("ab", 0), cut(8.0, 2))
)";
    struct Case {
        const char *c_name;
        bool after_base_case;
    };
    const std::vector<Case> cases = {
        {"f_fact__", true},
        {"f_count__", false},
        {"f_pick__", false},
        {"f_cut__", true},
    };
    std::string c = program_c(program);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.c_name);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(c, m,
                                      std::regex("\nstatic [^\n(]* r" + std::string(k.c_name) +
                                                 "\\w*\\([^\n]*\\{\n([^}][^\n]*\n)*")));
        std::string text = m.str();
        // Past base cases the instance checks the stack position and takes
        // no depth; else its depth.
        size_t check =
            text.find(k.after_base_case ? "KTL_STACK_CHECK();" : "KTL_RECURSION_CHECK();");
        size_t first_return = text.find("return ");
        ASSERT_NE(check, std::string::npos);
        ASSERT_NE(first_return, std::string::npos);
        EXPECT_EQ(first_return < check, k.after_base_case);
        size_t skipped = text.find("#if !KTL_RSPLIT\n");
        EXPECT_EQ(skipped != std::string::npos && skipped < first_return, k.after_base_case);
        bool wrapper =
            std::regex_search(c, std::regex("\nstatic inline [^\n(]* w" + std::string(k.c_name) +
                                            "\\w*\\([^\n]*\\{\n([^}][^\n]*\n)*"
                                            "    return r" +
                                            std::string(k.c_name) + "\\w*\\(v_"));
        bool through_wrapper = std::regex_search(
            c, std::regex("#define " + std::string(k.c_name) +
                          "\\w*\\(\\.\\.\\.\\) KTL_RCALL_KEPT\\([^\n]*KTL_RSPLIT_CALL\\(w"));
        EXPECT_EQ(wrapper, k.after_base_case);
        EXPECT_EQ(through_wrapper, k.after_base_case);
    }
    RunResult r = run_source(program, "recursion_base_cases");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "120 2 2 2.0\n");
}

TEST(CodegenRecursion, RunsWithTheChecks) {
    RunResult r = run_source(kProgram, "recursion_checks");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "66 0 0 0 2\n12.34 2\n");
    EXPECT_EQ(r.status, 0);
}

} // namespace
} // namespace kestal::testing
