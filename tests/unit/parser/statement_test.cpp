// The statement parser: every statement form to its printed tree, blocks,
// positions, and every refusal with its message and position.
#include "parse_helpers.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using testing::Case;
using testing::first_error;
using testing::parse_result;

TEST(ParserStatements, FormsPrintAsTheirTrees) {
    const Case cases[] = {
        {"f(x)", "(expr (call f x))\n"},
        {"'''doc'''", "(expr \"doc\")\n"},
        {"x = 1", "(= x 1)\n"},
        {"x = 1,", "(= x (tuple 1))\n"},
        {"x = 1, 2", "(= x (tuple 1 2))\n"},
        {"obj.a = b[i] = 1", "1:14: chained assignment (a = b = c) is not supported"},
        {"a[1:2] = v", "(= (slice a 1 2 _) v)\n"},
        {"xs: list[int] = []", "(= xs : list[int] (list))\n"},
        {"self.n: int | None = None", "(= (. self n) : int | None None)\n"},
        {"t: tuple[int, str] = 1, 'a'", "(= t : tuple[int, str] (tuple 1 \"a\"))\n"},
        {"a, b = b, a", "(unpack (a b) (tuple b a))\n"},
        {"(a, b) = t", "(unpack (a b) t)\n"},
        {"a, b = f()", "(unpack (a b) (call f))\n"},
        {"a, (b, c) = t", "(unpack (a (tuple b c)) t)\n"},
        {"a, = t", "1:4: expected an expression, found '='"},
        {"x += 1", "(+= x 1)\n"},
        {"x <<= y", "(<<= x y)\n"},
        {"x **= 2", "(**= x 2)\n"},
        {"a[i] //= 2", "(//= (index a i) 2)\n"},
        {"(a, b) += 1", "(+= (tuple a b) 1)\n"},
        {"if a:\n    x = 1\nelif b:\n    pass\nelse:\n    y = 2\n",
         "(if a {(= x 1)} elif b {pass} else {(= y 2)})\n"},
        {"if a: x = 1; y = 2\n", "(if a {(= x 1); (= y 2)})\n"},
        {"if a: pass\nelse: pass\n", "(if a {pass} else {pass})\n"},
        {"while x:\n    break\nelse:\n    continue\n", "(while x {break} else {continue})\n"},
        {"while True: pass", "(while True {pass})\n"},
        {"for x in xs:\n    pass\n", "(for x in xs {pass})\n"},
        {"for i, (a, b) in t: pass\nelse: pass",
         "(for (tuple i (tuple a b)) in t {pass} else {pass})\n"},
        {"for x, in xs: pass", "(for (tuple x) in xs {pass})\n"},
        {"for [a, b] in xs: pass", "(for (tuple a b) in xs {pass})\n"},
        {"return", "(return)\n"},
        {"return 1, 2", "(return (tuple 1 2))\n"},
        {"return 1,", "(return (tuple 1))\n"},
        {"return; pass", "(return)\npass\n"},
        {"global a, b", "(global a b)\n"},
        {"del a, b[i]", "(del a (index b i))\n"},
        {"del f()", "(del (call f))\n"},
        {"with open(p) as f, lock: pass", "(with ((call open p) as f) (lock) {pass})\n"},
        {"with a as (b, c): pass", "(with (a as (tuple b c)) {pass})\n"},
        {"with a as [b, b]: pass", "(with (a as (tuple b b)) {pass})\n"},
        {"try:\n    pass\nexcept (KeyError, IndexError) as e:\n    pass\nexcept ValueError:\n    "
         "pass\n"
         "except:\n    pass\nelse:\n    pass\nfinally:\n    pass\n",
         "(try {pass} (except (KeyError IndexError) as e {pass}) (except (ValueError) {pass}) "
         "(except {pass}) "
         "else {pass} finally {pass})\n"},
        {"try: pass\nfinally: pass", "(try {pass} finally {pass})\n"},
        {"raise", "(raise)\n"},
        {"raise ValueError('x')", "(raise (call ValueError \"x\"))\n"},
        {"raise E from e", "(raise E from e)\n"},
        {"assert x", "(assert x)\n"},
        {"assert x, 'msg'", "(assert x \"msg\")\n"},
        {"pass; pass;", "pass\npass\n"},
        {"x = 1; y = 2;\n", "(= x 1)\n(= y 2)\n"},
        {"", ""},
        {"\n\n# only a comment\n", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse_result(c.source), c.expected) << c.source;
}

TEST(ParserStatements, StatementsStandAtTheirFirstToken) {
    const PrintOptions positions{true};
    EXPECT_EQ(parse_result("\n\na = 1; b = 2\n", positions),
              "(=@3:1 a@3:1 1@3:5)\n(=@3:8 b@3:8 2@3:12)\n");
    EXPECT_EQ(parse_result("if a:\n  return\n", positions), "(if@1:1 a@1:4 {(return@2:3)})\n");
    EXPECT_EQ(parse_result("x, y = 1, 2", positions),
              "(unpack@1:1 (x@1:1 y@1:4) (tuple@1:8 1@1:8 2@1:11))\n");
}

TEST(ParserStatements, ImportsInsideBlocksAddNoStatement) {
    EXPECT_EQ(parse_result("if a:\n    import math\n"), "alias math = math\n(if a {})\n");
    EXPECT_EQ(parse_result("def f():\n    from os import path\n    return path\n"),
              "alias path = os.path\n(def f () {(return path)})\n");
}

TEST(ParserStatements, RefusalsGiveTheirMessageAtTheirPosition) {
    const Case cases[] = {
        {"if a:\npass\n", "2:1: expected an indented block"},
        {"while x:", "1:9: expected an indented block"},
        {"def f():\n    def g(): pass\n", "2:5: functions must be defined at the top level"},
        {"if a:\n    class C: pass\n", "2:5: classes must be defined at the top level"},
        {"def f():\n    @dataclass\n    class C: pass\n",
         "2:5: classes must be defined at the top level"},
        {"x = 1 2", "1:7: expected end of line, found number 2"},
        {"import m; x = 1", "1:9: expected end of line, found semicolon"},
        {"f(x): int = 1", "1:1: only names and attributes can have a type annotation"},
        {"a = b = 1", "1:7: chained assignment (a = b = c) is not supported"},
        {"f() = 1", "1:1: can't assign to this expression"},
        {"[a, b] = t", "1:1: can't assign to this expression"},
        {"a, f() = t", "1:4: can't assign to this expression"},
        {"(a, 1) = t", "1:5: can't assign to this expression"},
        {"x + 1 += 2", "1:1: can't assign to this expression"},
        {"a, b = 1, 2, 3", "1:1: can't unpack 3 values into 2 targets"},
        {"x = 1\n  a, b = (1,)", "2:1: unexpected indentation"},
        {"pass; a, b, c = 1, 2", "1:7: can't unpack 2 values into 3 targets"},
        {"a, b += 1", "1:6: expected '=' (as in `a, b = b, a`), found augassign(add)"},
        {"x: int", "1:7: expected '=' (declarations need a value, e.g. `xs: list[int] = []`), "
                   "found end of line"},
        {"try:\n    pass\nexcept:\n    pass\nexcept ValueError:\n    pass\n",
         "5:1: a bare `except:` must be the last except clause"},
        {"try:\n    pass\nelse:\n    pass\n",
         "3:1: expected 'except' or 'finally' after the try block"},
        {"try: pass\n", "1:10: expected 'except' or 'finally' after the try block"},
        {"try:\n    pass\nexcept E as 1:\n    pass\n",
         "3:13: expected a name after 'as', found number 1"},
        {"try:\n    pass\nexcept E, F:\n    pass\n", "3:9: expected ':', found ','"},
        {"if a pass", "1:6: expected ':', found pass"},
        {"if a: pass\nelif b pass", "2:8: expected ':', found pass"},
        {"if a: pass\nelse pass", "2:6: expected ':', found pass"},
        {"while a pass", "1:9: expected ':', found pass"},
        {"for x in a, b: pass", "1:11: expected ':', found ','"},
        {"for x of a: pass", "1:7: expected 'in', found 'of'"},
        {"for 1 in a: pass", "1:5: expected a loop variable, found number 1"},
        {"for a, a in pairs: pass", "1:5: loop variable 'a' appears twice"},
        {"for (a, (b, a)) in t: pass", "1:5: loop variable 'a' appears twice"},
        {"for [a, b in xs: pass", "1:11: expected ']', found in"},
        {"for (a, b in xs: pass", "1:11: expected ')', found in"},
        {"with a as f() : pass", "1:12: expected ':', found '('"},
        {"with a pass", "1:8: expected ':', found pass"},
        {"try pass", "1:5: expected ':', found pass"},
        {"try:\n    pass\nfinally pass", "3:9: expected ':', found pass"},
        {"global", "1:7: expected a name, found end of line"},
        {"global a,", "1:10: expected a name, found end of line"},
        {"del a,", "1:7: expected an expression, found end of line"},
        {"if a:\n    pass\n  else: pass",
         "3:3: this line's indentation doesn't match any outer block"},
        {"if a: if b: pass", "1:7: expected an expression, found if"},
        {"if a:\n    pass\n        x = 1\n",
         "3:1: expected an expression, found an indented block"},
        {"else: pass", "1:1: expected an expression, found else"},
        // A block that a tab hides or makes up, and the same blocks of tabs
        // alone.
        {"if a:\n\tx = 1\n        y = 2\n",
         "3:1: inconsistent use of tabs and spaces in indentation"},
        {"x = 1\n\t\ty = 2\n", "2:1: unexpected indentation"},
        {"x = 1\n\ty = 2\n", "2:1: unexpected indentation"},
        {"if a:\n    if b:\n\tpass\n", "3:2: inconsistent use of tabs and spaces in indentation"},
        {"if a:\n\tif b:\n\tpass\n", "3:2: expected an indented block"},
        {"class C:\n    def f(self):\n\treturn 1\n",
         "3:2: inconsistent use of tabs and spaces in indentation"},
        {"class C:\n\tX = 1\n        Y = 2\n",
         "3:1: inconsistent use of tabs and spaces in indentation"},
        {"class C:\n\tX = 1\n\t\tY = 2\n",
         "3:1: expected a method, a field (`x: int`) or a constant (`X = 1`) in the class "
         "body"},
        // `yield` is a name to the lexer; a generator's use of it is named.
        {"def f(n):\n    for i in range(n):\n        yield i\n",
         "3:9: generators (`yield`) aren't part of the language; build a list and return it "
         "instead"},
        {"def f():\n    yield\n",
         "2:5: generators (`yield`) aren't part of the language; build a list and return it "
         "instead"},
        {"def f(xs):\n    if xs: yield from xs\n",
         "2:12: generators (`yield`) aren't part of the language; build a list and return it "
         "instead"},
        {"def f():\n    total = yield 5\n",
         "2:13: generators (`yield`) aren't part of the language; build a list and return it "
         "instead"},
        {"elif x: pass", "1:1: expected an expression, found elif"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(first_error(c.source), c.expected) << c.source;
}

// Nesting is bounded so that no source can exhaust the stack; the error
// stands at the token that opens one level too many.
TEST(ParserStatements, NestingDeeperThanTheLimitIsRefused) {
    const std::string message =
        "too many nested levels (brackets, operators or blocks nest at most 1000 deep)";
    auto repeat = [](std::string_view piece, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += piece;
        return out;
    };
    std::string blocks;
    for (int i = 0; i < 1001; ++i)
        blocks += std::string(i, ' ') + "if a:\n";
    blocks += std::string(1001, ' ') + "pass\n";
    const Case cases[] = {
        {"x = " + repeat("(", 990) + "1" + repeat(")", 990) + "\n", "no error"},
        {"x = " + repeat("(", 1001) + "1" + repeat(")", 1001) + "\n", "1:1005: " + message},
        {"x = " + repeat("[", 5000) + "\n", "1:1005: " + message},
        {"x = " + repeat("-", 1001) + "1\n", "1:1005: " + message},
        {"x = " + repeat("not ", 1001) + "a\n", "1:4005: " + message},
        {"x = " + repeat("2 ** ", 1001) + "2\n", "1:5005: " + message},
        {blocks, "1001:1004: " + message},
    };
    // The compile road parses on a big-stack thread; so does this test.
    for (const Case &c : cases) {
        auto parsed = platform::run_on_thread(platform::kBigStackBytes,
                                              [&] { return first_error(c.source); });
        ASSERT_TRUE(parsed.ok());
        EXPECT_EQ(*parsed, c.expected) << c.source.substr(0, 40);
    }
}

// A left-leaning chain grows its tree one level per link although the
// parser reads it in a loop, so its links count towards the same limit;
// the error stands at the operator of the first link too many.
TEST(ParserStatements, LongChainsCountTowardsTheNestingLimit) {
    const std::string message =
        "too many nested levels (brackets, operators or blocks nest at most 1000 deep)";
    auto chain = [](std::string_view first, std::string_view link, int links) {
        std::string out(first);
        for (int i = 0; i < links; ++i)
            out += link;
        return out + "\n";
    };
    // A product of 601 factors as the first term of a sum: each chain fits,
    // the sum's tree stands 1000 levels deep at its 400th link.
    std::string product = chain("a", "*a", 600);
    product.pop_back();
    const Case cases[] = {
        {"x = " + chain("1", " + 1", 999), "no error"},
        {"x = " + chain("1", " + 1", 1000), "1:4003: " + message},
        {"x = " + chain("1", " + 1", 4999), "1:4003: " + message},
        {"x = " + chain("a", " * a", 4999), "1:4003: " + message},
        {"x = " + chain("a", " and a", 4999), "1:6001: " + message},
        {"x = " + chain("a", " or a", 4999), "1:5002: " + message},
        {"x = " + chain("a", " < a", 4999), "1:4003: " + message},
        {"x = " + chain("f", "(1)", 998), "no error"},
        {"x = " + chain("f", "(1)", 5000), "1:3000: " + message},
        {"x = " + chain("s", "[0]", 5000), "1:3000: " + message},
        {"x = " + chain("s", ".a", 5000), "1:2004: " + message},
        {"x = " + chain("s", ".m()", 5000), "1:4002: " + message},
        // Brackets around the first operand and the links add up.
        {"x = " + std::string(400, '(') + "1" + chain("", " + 1)", 400), "no error"},
        {"x = " + std::string(600, '(') + "a" + std::string(600, ')') + chain("", " + a", 500),
         "1:2803: " + message},
        {"x = " + product + chain("", " + a", 399), "no error"},
        {"x = " + product + chain("", " + a", 400), "1:2803: " + message},
    };
    for (const Case &c : cases) {
        auto parsed = platform::run_on_thread(platform::kBigStackBytes,
                                              [&] { return first_error(c.source); });
        ASSERT_TRUE(parsed.ok());
        EXPECT_EQ(*parsed, c.expected) << c.source.substr(0, 40);
    }
}

} // namespace
} // namespace kestal
