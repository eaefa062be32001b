// The expression parser: every form to its printed tree, the positions the
// later stages report at, and every refusal with its message and position.
#include "parse_helpers.h"
#include "platform/thread.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using testing::Case;
using testing::expr_result;
using testing::first_error;
using testing::parse_result;

TEST(ParserExpressions, FormsPrintAsTheirTrees) {
    const Case cases[] = {
        // Literals, joined strings, folded signs.
        {"42", "42"},
        {"0xff", "255"},
        {"1.5", "1.5"},
        {"2.0", "2.0"},
        {"'a' \"b\" '''c'''", "\"abc\""},
        {"'a' f'b'", "1:5: expected one expression, found a string"},
        {"True", "True"},
        {"False", "False"},
        {"None", "None"},
        {"x", "x"},
        {"-5", "-5"},
        {"-(5)", "-5"},
        {"--5", "5"},
        {"- x", "(neg x)"},
        {"-1.5", "-1.5"},
        {"-0.0", "-0.0"},
        {"+x", "x"},
        {"+-x", "(neg x)"},
        {"~x", "(~ x)"},
        {"-9223372036854775807 - 1", "(- -9223372036854775807 1)"},
        {"-0x8000000000000000", "-9223372036854775808"},
        // Precedence and associativity.
        {"1 + 2 * 3 ** -1", "(+ 1 (* 2 (** 3 -1)))"},
        {"a - b - c", "(- (- a b) c)"},
        {"2 ** 3 ** 2", "(** 2 (** 3 2))"},
        {"-x ** 2", "(neg (** x 2))"},
        {"-2 ** 2", "(neg (** 2 2))"},
        {"a | b ^ c & d << e + f", "(| a (^ b (& c (<< d (+ e f)))))"},
        {"a // b % c / d", "(/ (% (// a b) c) d)"},
        {"a >> b << c", "(<< (>> a b) c)"},
        {"a or b and not c", "(or a (and b (not c)))"},
        {"not not a", "(not (not a))"},
        {"not a == b", "(not (== a b))"},
        {"a is not b", "(is-not a b)"},
        {"a not in b", "(not-in a b)"},
        {"a in b", "(in a b)"},
        {"a is b", "(is a b)"},
        {"a != b", "(!= a b)"},
        {"a <= b", "(<= a b)"},
        {"a >= b", "(>= a b)"},
        {"a < b < c < d", "(and* (and* (< a b) (< b c)) (< c d))"},
        {"a == b > c", "(and* (== a b) (> b c))"},
        {"a < b and b < c", "(and (< a b) (< b c))"},
        // Conditional expressions and lambdas.
        {"x if c else y if d else z", "(if c x (if d y z))"},
        {"a or b if c or d else e", "(if (or c d) (or a b) e)"},
        {"lambda: 1", "(lambda 0)"},
        // Postfix chains and calls.
        {"f(a, b=1, c=2)", "(call f a b=1 c=2)"},
        {"f()", "(call f)"},
        {"f(a,)", "(call f a)"},
        {"f(b=1, b=2)", "(call f b=1 b=2)"},
        {"f(x)(y)", "(call-expr (call f x) y)"},
        {"a.b(c)", "(method a b c)"},
        {"math.sqrt(x)", "(method math sqrt x)"},
        {"obj.m(1).n[0]", "(index (. (method obj m 1) n) 0)"},
        {"(a + b).c", "(. (+ a b) c)"},
        {"'s'.upper()", "(method \"s\" upper)"},
        {"f(x for x in y)", "(call f (genexp x (for x in y)))"},
        {"f(1, x for x in y)", "(call f 1 (genexp x (for x in y)))"},
        {"fs[0](a)", "(call-expr (index fs 0) a)"},
        // Subscripts and slices.
        {"a[i]", "(index a i)"},
        {"a[i, j]", "(index a (tuple i j))"},
        {"a[i, j,]", "(index a (tuple i j))"},
        {"a[1:2]", "(slice a 1 2 _)"},
        {"a[1:]", "(slice a 1 _ _)"},
        {"a[:n:2]", "(slice a _ n 2)"},
        {"a[::-1]", "(slice a _ _ -1)"},
        {"a[::]", "(slice a _ _ _)"},
        {"a[:]", "(slice a _ _ _)"},
        {"a[1:2:]", "(slice a 1 2 _)"},
        // Displays and comprehensions.
        {"[]", "(list)"},
        {"[a, b,]", "(list a b)"},
        {"(a, b)", "(tuple a b)"},
        {"(a,)", "(tuple a)"},
        {"(1)", "1"},
        {"{}", "(dict)"},
        {"{k: v, 1: 2,}", "(dict (k v) (1 2))"},
        {"{a, b}", "(set a b)"},
        {"{a,}", "(set a)"},
        {"[x * 2 for x in s if x]", "(listcomp (* x 2) (for x in s if x))"},
        {"[x for x in xs if x if x > 1]", "(listcomp x (for x in xs if x if (> x 1)))"},
        {"[y for x in xs for y in x]", "(listcomp y (for x in xs) (for y in x))"},
        {"{k: v for k, v in d.items()}", "(dictcomp k v (for (tuple k v) in (method d items)))"},
        {"{x for x in s}", "(setcomp x (for x in s))"},
        {"(x for x in s)", "(genexp x (for x in s))"},
        {"[a for (a, [b, c]) in t]", "(listcomp a (for (tuple a (tuple b c)) in t))"},
        {"[a for (a) in t]", "(listcomp a (for a in t))"},
        {"[a for a, in t]", "(listcomp a (for (tuple a) in t))"},
        {"[a for (a,) in t]", "(listcomp a (for (tuple a) in t))"},
        // f-strings.
        {"f'x={x:>5} {y!r}{{z}}'", "(f \"x=\" {x :\">5\"} \" \" {y !r} \"{z}\")"},
        {"f'{x:}'", "(f {x :\"\"})"},
        {"f''", "(f)"},
        {"f'{a!=b}'", "(f {(!= a b)})"},
        {"f'{ x + 1 }'", "(f {(+ x 1)})"},
        {"f\"{d['k']}\"", "(f {(index d \"k\")})"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(expr_result(c.source), c.expected) << c.source;
}

TEST(ParserExpressions, NodesStandWhereTheLaterStagesReportThem) {
    const PrintOptions positions{true};
    const Case cases[] = {
        {"-5", "-5@1:1"},
        {"- x", "(neg@1:1 x@1:3)"},
        {"'a' 'b'", "\"ab\"@1:1"},
        {"a + b * c", "(+@1:1 a@1:1 (*@1:5 b@1:5 c@1:9))"},
        {"(a + b)", "(+@1:2 a@1:2 b@1:6)"},
        {"(a, b)", "(tuple@1:1 a@1:2 b@1:5)"},
        {"x if c else y", "(if@1:1 c@1:6 x@1:1 y@1:13)"},
        {"obj.m(1).n[0]", "(index@1:1 (.@1:1 (method@1:1 obj@1:1 m 1@1:7) n) 0@1:12)"},
        {"(a).b", "(.@1:2 a@1:2 b)"},
        {"a[i, j]", "(index@1:1 a@1:1 (tuple@1:3 i@1:3 j@1:6))"},
        {"sum(x for x in s)", "(call@1:1 sum (genexp@1:5 x@1:5 (for x@1:11 in s@1:16)))"},
        {"[x]", "(list@1:1 x@1:2)"},
        {"{x: 1}", "(dict@1:1 (x@1:2 1@1:5))"},
        {"not a", "(not@1:1 a@1:5)"},
        {"f'{x}'", "(f@1:1 {x@1:4})"},
        {"  \n", "2:1: expected an expression, found end of file"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(expr_result(c.source, positions), c.expected) << c.source;
}

TEST(ParserExpressions, ComparisonChainsMarkTheirJoiningAnd) {
    Expr e = parse_expression_text("a < f() <= c");
    const auto *join = e.as<Expr::BinaryOp>();
    ASSERT_NE(join, nullptr);
    EXPECT_EQ(join->op, BinOp::And);
    EXPECT_TRUE(join->chain);
    // The middle operand is present twice, as independent copies, and every
    // node of the chain stands at the first operand.
    EXPECT_EQ(print_expr(e, {true}),
              "(and*@1:1 (<@1:1 a@1:1 (call@1:5 f)) (<=@1:1 (call@1:5 f) c@1:12))");
    const auto *left = join->left->as<Expr::BinaryOp>();
    const auto *right = join->right->as<Expr::BinaryOp>();
    ASSERT_NE(left, nullptr);
    ASSERT_NE(right, nullptr);
    EXPECT_NE(left->right.get(), right->left.get());
    EXPECT_FALSE(left->chain);
    // A written `and` never carries the mark.
    EXPECT_FALSE(parse_expression_text("a < b and b < c").as<Expr::BinaryOp>()->chain);
}

TEST(ParserExpressions, LambdasAreLiftedAndNumberedInnerFirst) {
    EXPECT_EQ(parse_result("f = (lambda x, y=2: x + y)(1)\n"),
              "lambda (def <lambda0> (x, y = 2) {(return (+ x y))})\n"
              "(= f (call-expr (lambda 0) 1))\n");
    EXPECT_EQ(parse_result("g = lambda a=lambda: 1: lambda: a\n"),
              "lambda (def <lambda0> () {(return 1)})\n"
              "lambda (def <lambda1> () {(return a)})\n"
              "lambda (def <lambda2> (a = (lambda 0)) {(return (lambda 1))})\n"
              "(= g (lambda 2))\n");
    // Lambdas inside f-string fields share the file's numbering.
    EXPECT_EQ(parse_result("s = f'{(lambda: 1)()}'; g = lambda: 2\n"),
              "lambda (def <lambda0> () {(return 1)})\n"
              "lambda (def <lambda1> () {(return 2)})\n"
              "(= s (f {(call-expr (lambda 0))}))\n"
              "(= g (lambda 1))\n");
    // The lifted function and its return stand at the `lambda` keyword.
    EXPECT_EQ(parse_result("x = 1\ny = lambda v: v\n", {true}),
              "lambda (def@2:5 <lambda0> (v) {(return@2:5 v@2:15)})\n"
              "(=@1:1 x@1:1 1@1:5)\n"
              "(=@2:1 y@2:1 (lambda@2:5 0))\n");
}

TEST(ParserExpressions, FStringFieldsArePlacedInTheFile) {
    // Blanks trimmed from a field's start still count, so the expression
    // stands where it is written.
    EXPECT_EQ(expr_result("f'{ x }'", {true}), "(f@1:1 {x@1:5})");
    EXPECT_EQ(expr_result("f'ab{x}{  y + 1}'", {true}),
              "(f@1:1 \"ab\" {x@1:6} {(+@1:11 y@1:11 1@1:15)})");
    EXPECT_EQ(expr_result("(\n  f'{a}')", {true}), "(f@2:3 {a@2:6})");
    // Unicode blanks count as one column each.
    EXPECT_EQ(expr_result("f'{\u00a0x}'", {true}), "(f@1:1 {x@1:5})");
    const Case errors[] = {
        {"f'{ x y }'", "1:7: unexpected text in f-string expression"},
        {"f'{x=}'", "1:5: unexpected text in f-string expression"},
        {"f'{a b}'", "1:6: unexpected text in f-string expression"},
        {"f'{}'", "1:4: expected an expression, found end of file"},
        {"f'{  }'", "1:6: expected an expression, found end of file"},
        {"f'{ $ }'", "1:5: unexpected character '$'"},
        {"x = 1\ny = f'..{ 1 + }'", "2:14: expected an expression, found end of line"},
        {"f'{x + 1:>{w}}'", "1:14: single '}' is not allowed in an f-string (use '}}')"},
        {"f'{ 99999999999999999999 }'", "1:5: integer literal too large (Kestal ints are 64-bit)"},
    };
    for (const Case &c : errors)
        EXPECT_EQ(first_error(c.source), c.expected) << c.source;
}

TEST(ParserExpressions, RefusalsGiveTheirMessageAtTheirPosition) {
    const Case cases[] = {
        {"x = ()", "1:6: empty tuples are not supported"},
        {"f(b=1, a)", "1:8: positional argument after a keyword argument"},
        {"a == not b", "1:6: expected an expression, found not"},
        {"x = f(*a)", "1:7: expected an expression, found star"},
        {"x = f(**d)", "1:7: expected an expression, found starstar"},
        {"x = ...", "1:5: expected an expression, found '.'"},
        {"x = (y := 1)", "1:8: expected ')', found ':'"},
        {"x = a if c", "1:11: expected 'else' in conditional expression, found end of line"},
        {"x = (1, 2", "1:10: expected ',' or ')', found end of line"},
        {"x = (1 2)", "1:8: expected ')', found number 2"},
        {"x = [1 2]", "1:8: expected ']', found number 2"},
        {"x = {1 2}", "1:8: expected '}', found number 2"},
        {"x = {1: 2, 3}", "1:13: expected ':' after the dict key, found '}'"},
        {"x = {1: 2 3}", "1:11: expected '}', found number 3"},
        {"x = f(1 2)", "1:9: expected ',' or ')', found number 2"},
        {"x = a.(b)", "1:7: expected an attribute or method name, found '('"},
        {"x = a.1", "1:6: expected end of line, found number 0.1"},
        {"x = a[1:2, 3]", "1:10: expected ']', found ','"},
        {"x = a[1", "1:8: expected ']', found end of line"},
        {"x = [y for y of z]", "1:14: expected 'in', found 'of'"},
        {"x = [y for 1 in z]", "1:12: expected a loop variable, found number 1"},
        {"x = [a for a, a in t]", "1:12: loop variable 'a' appears twice"},
        {"x = [a for (a, (b, a)) in t]", "1:12: loop variable 'a' appears twice"},
        {"x = [a for (a, b in t]", "1:18: expected ')', found in"},
        {"x = [a for x in y if lambda: 1]", "1:22: expected an expression, found lambda"},
        {"x = lambda x, x: 0", "1:16: duplicate parameter 'x'"},
        {"x = lambda a=1, b: 0",
         "1:18: parameter 'b' without a default follows one with a default"},
        {"x = lambda *a: 0", "1:12: expected a parameter name, found star"},
        {"x = lambda a 0", "1:14: expected ':', found number 0"},
        {"x = )", "1:5: expected an expression, found ')'"},
        {"x = ", "1:5: expected an expression, found end of line"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(first_error(c.source), c.expected) << c.source;
}

TEST(ParserExpressions, ExpressionTextHoldsExactlyOneExpression) {
    EXPECT_EQ(expr_result("1.5"), "1.5");
    EXPECT_EQ(expr_result("[1, 2]\n"), "(list 1 2)");
    EXPECT_EQ(expr_result("-3"), "-3");
    EXPECT_EQ(expr_result("1 2"), "1:3: expected one expression, found number 2");
    EXPECT_EQ(expr_result("1\n\n2"), "3:1: expected one expression, found number 2");
    EXPECT_EQ(expr_result("'a"), "1:3: unterminated string");
    EXPECT_EQ(expr_result(""), "1:1: expected an expression, found end of file");
}

// On the compile road's big stack, as the tool parses: a build under
// AddressSanitizer needs more than the main thread's stack for this depth.
TEST(ParserExpressions, DeepNestingNeedsNoDepthLimit) {
    std::string text(500, '(');
    text += "1";
    text += std::string(500, ')');
    platform::Result<std::string> parsed =
        platform::run_on_thread(platform::kBigStackBytes, [&] { return expr_result(text); });
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(*parsed, "1");
}

} // namespace
} // namespace kestal
