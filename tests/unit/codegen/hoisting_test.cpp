// Evaluation-order hoisting as generated C and as run: which operands are
// evaluated first into `__ktl_o<N>` variables, in which order and with which
// numbers, for calls, operators, keyword arguments and operands that may
// raise; chains deep enough
// that each level answers the side-effect question from the kept answers;
// and a program whose printed trace shows the left-to-right order.
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

std::string program_c(const std::string &source) {
    std::string c = generate(source).c_text;
    size_t at = c.find("/* ======== program ======== */");
    EXPECT_NE(at, std::string::npos);
    return at == std::string::npos ? c : c.substr(at);
}

size_t count_of(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

struct TextCase {
    const char *body;
    const char *present;
    const char *absent;
};

TEST(CodegenHoisting, GeneratedTexts) {
    std::vector<TextCase> cases = {
        // Two side-effecting arguments: both hoisted, first one first.
        {"    print(pair(f(\"a\", 1), f(\"b\", 2)))",
         "({ v___ktl_o2 = f_f__si(((ktl_str){\"a\", 1}), INT64_C(1)); "
         "v___ktl_o3 = f_f__si(((ktl_str){\"b\", 1}), INT64_C(2)); "
         "f_pair__ii(v___ktl_o2, v___ktl_o3); })",
         nullptr},
        // One side-effecting argument with pure ones: nothing hoisted.
        {"    print(pair(f(\"p\", 1), 2 + 3))", "f_pair__ii(f_f__si(", "__ktl_o"},
        {"    n = 4\n    print(pair(len(\"ab\"), f(\"p\", n)))", "f_pair__ii(", "__ktl_o"},
        // An operand that may raise goes first when a call stands to its
        // right; after the only call it stays in place, the call going first.
        {"    t = \"5\"\n    print(pair(int(t), f(\"p\", 1)))",
         "({ v___ktl_o1 = ktl_parse_int(v_t); f_pair__ii(v___ktl_o1, f_f__si(", nullptr},
        {"    t = \"5\"\n    print(pair(f(\"q\", 1), int(t)))",
         "({ v___ktl_o2 = f_f__si(((ktl_str){\"q\", 1}), INT64_C(1)); "
         "f_pair__ii(v___ktl_o2, ktl_parse_int(v_t)); })",
         nullptr},
        // One that can't raise never moves.
        {"    t = \"5\"\n    print(pair(f(\"r\", 1), len(t)))", "f_pair__ii(f_f__si(", "__ktl_o"},
        // `and`/`or` keep their own short-circuit order.
        {"    print(f(\"x\", 1) > 0 and f(\"y\", 2) > 0)", "f_f__si(", "__ktl_o"},
        {"    print(f(\"x\", 1) > 0 or f(\"y\", 2) > 0)", "f_f__si(", "__ktl_o"},
        // Keyword arguments in source order, bound to parameters afterwards.
        {"    print(pair(b=f(\"k1\", 1), a=f(\"k2\", 2)))",
         "v___ktl_o2 = f_f__si(((ktl_str){\"k1\", 2}), INT64_C(1)); "
         "v___ktl_o3 = f_f__si(((ktl_str){\"k2\", 2}), INT64_C(2));",
         nullptr},
        // A hoisted operand that is itself hoisted nests its own prefix.
        {"    print(f(\"c\", 3) + f(\"d\", 4) * f(\"e\", 5))",
         "v___ktl_o5 = ({ v___ktl_o3 = f_f__si(((ktl_str){\"d\", 1}), INT64_C(4)); "
         "v___ktl_o4 = f_f__si(((ktl_str){\"e\", 1}), INT64_C(5)); (v___ktl_o3 * v___ktl_o4); });",
         nullptr},
        // The pure operand kept in the rewritten call is compiled there.
        {"    n = 4\n    print(three(f(\"a\", 1), n * 2 + 1, f(\"b\", 2)))",
         "f_three__iii(v___ktl_o2, ((v_n * INT64_C(2)) + INT64_C(1)), v___ktl_o3); })", nullptr},
    };
    for (const TextCase &c : cases) {
        SCOPED_TRACE(c.body);
        std::string text = program_c(in_main(c.body));
        EXPECT_NE(text.find(c.present), std::string::npos) << text;
        if (c.absent) {
            EXPECT_EQ(text.find(c.absent), std::string::npos) << text;
        }
    }
}

// A left-leaning chain of n calls: every `+` hoists both operands, so there
// are 2(n-1) variables, numbered in the order the operands were reached; a
// chain of pure terms hoists nothing.
TEST(CodegenHoisting, LongChains) {
    const int n = 300;
    std::string calls = "    print(f(\"t\", 1)";
    std::string ones = "    print(1";
    for (int i = 2; i <= n; ++i) {
        calls += " + f(\"t\", " + std::to_string(i) + ")";
        ones += " + 1";
    }
    std::string text = program_c(in_main(calls + ")"));
    EXPECT_EQ(count_of(text, "int64_t v___ktl_o"), size_t{2 * (n - 1)});
    // The innermost `+` comes first: its operands take the first numbers.
    EXPECT_NE(text.find("({ v___ktl_o2 = f_f__si(((ktl_str){\"t\", 1}), INT64_C(1)); "
                        "v___ktl_o3 = f_f__si(((ktl_str){\"t\", 1}), INT64_C(2)); "
                        "(v___ktl_o2 + v___ktl_o3); })"),
              std::string::npos);
    EXPECT_NE(text.find("f_f__si(((ktl_str){\"t\", 1}), INT64_C(300)); (v___ktl_o"),
              std::string::npos);

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
