// Which function instances are declared `noinline`: those whose every call
// runs at most once in the module body (no loop, comprehension or other
// function around it), so a C compiler does not paste them into ktl_main.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

TEST(CodegenNoinline, OnlyInstancesCalledOnceFromTheModuleBody) {
    const std::string source = R"(def once(n: int) -> int:
    return n + 1


def twice(n: int) -> int:
    return n * 2


def nested(n: int) -> int:
    return n - 1


def guarded(n: int) -> int:
    return n + 3


def in_loop(n: int) -> int:
    return n + 4


def in_while(n: int) -> int:
    return n - 5


def in_comprehension(n: int) -> int:
    return n * 3


def helper(n: int) -> int:
    return n + 6


def caller(n: int) -> int:
    return helper(n) + 1


def as_key(s: str) -> int:
    return -len(s)


def as_value(n: int) -> int:
    return n + 7


def in_lambda(n: int) -> int:
    return n + 8


def countdown(n: int) -> int:
    if n <= 0:
        return 0
    return countdown(n - 1) + 1


class Box:
    def get(self) -> int:
        return 9


total = once(1) + twice(2)
total += twice(3)
print(nested(nested(total)))
if total > 0:
    try:
        print(guarded(total))
    except ValueError:
        pass
for i in range(2):
    print(in_loop(i))
k = 3
while in_while(k) > 0:
    k -= 1
print([in_comprehension(x) for x in range(3)], sum(in_comprehension(x) for x in range(2)))
print(caller(1), helper(2))
print(sorted(["a", "bbb", "cc"], key=as_key))
f = as_value
print(f(1))
g = lambda x: in_lambda(x)
print(g(2))
print(countdown(3), Box().get())
)";
    std::string c = generate(source).c_text;
    struct Case {
        const char *function;
        bool noinline;
    };
    const std::vector<Case> cases = {
        {"once", true},       {"twice", true},
        {"nested", true},     {"guarded", true},
        {"caller", true},     {"in_loop", false},
        {"in_while", false},  {"in_comprehension", false},
        {"helper", false},    {"as_key", false},
        {"as_value", false},  {"in_lambda", false},
        {"countdown", false}, {"Box_M_get", false},
    };
    for (const Case &k : cases) {
        // A recursive instance is declared as r<name> and called through a macro.
        std::regex declared(std::string(R"(static [^;\n]* r?f_)") + k.function + "__");
        std::regex marked(std::string(R"(__attribute__\(\(noinline\)\) static [^;\n]* r?f_)") +
                          k.function + "__");
        ASSERT_TRUE(std::regex_search(c, declared)) << k.function;
        EXPECT_EQ(std::regex_search(c, marked), k.noinline) << k.function;
    }
    RunResult r = build_and_run(c, "noinline");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "10\n15\n4\n5\n[0, 3, 6] 3\n8 8\n['bbb', 'cc', 'a']\n8\n10\n3 9\n");
}

} // namespace
} // namespace kestal::testing
