// Code generation tested by running what it produces: each program is
// generated, built with gcc and run; its output is compared with what Python
// prints, except where a comment says how Kestal deliberately differs.
#include "codegen_fixture.h"

#include "codegen/program/emit.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

namespace kestal::testing {
namespace {

void expect_runs(const std::string &source, const std::string &name, const std::string &expected) {
    RunResult r = run_source(source, name);
    ASSERT_EQ(r.cc_errors, "") << "the C compiler refused the generated file";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
}

TEST(CodegenPrint, LiteralsPrintLikePython) {
    std::string source = R"(print(0, 7, -42, 9223372036854775807, -9223372036854775807 - 1)
print(1.0, 0.5, -2.25, 0.1, 1e16, 1e15, 1.5e-05, 0.0001, 1e-5, -0.0, 1e300, 2.5e-300)
print(True, False, None)
print("plain", "tab\there", "quote\"s", 'it\'s', "é ü", "back\\slash", "nul\0byte", "?" "?=")
print()
print("a", "b", sep="-")
print("x", end="!\n")
print("a", "b", "c", sep=", ", end=".\n")
print(sep="-")
print(f"{1} + {2.5} = {True} {None} {'s'!r} {'t'}")
print(f"")
print(f"", 1)
)";
    std::string expected = "0 7 -42 9223372036854775807 -9223372036854775808\n"
                           "1.0 0.5 -2.25 0.1 1e+16 1000000000000000.0 1.5e-05 0.0001 1e-05 -0.0 "
                           "1e+300 2.5e-300\n"
                           "True False None\n"
                           "plain tab\there quote\"s it's é ü back\\slash nul\0byte ?"
                           "?=\n"
                           "\n"
                           "a-b\n"
                           "x!\n"
                           "a, b, c.\n"
                           "\n"
                           "1 + 2.5 = True None 's' t\n"
                           "\n"
                           " 1\n"s;
    expect_runs(source, "print_literals", expected);
}

TEST(CodegenCalls, OneInstancePerArgumentTypes) {
    std::string source = R"(def ident(x):
    return x
print(ident(1), ident(2.5), ident("s"), ident(True))
print(ident(3))
def typed(x: float) -> float:
    return x
print(typed(2))
def unused(a: int, b: str):
    print(a, b)
def never(a):
    print(a)
h = ident
p = print
p("via", h(4), sep=" value ")
def bump(x):
    x = x + 0.5
    return x
print(bump(1))
)";
    // typed(2) converts the int to the annotated float (Python would keep 2).
    expect_runs(source, "instances", "1 2.5 s True\n3\n2.0\nvia value 4\n1.5\n");
    CodegenOutput out = generate(source);
    std::vector<std::string> listed;
    for (const InstanceSummary &s : out.instances) {
        std::string args;
        for (const Type &t : s.argument_types)
            args += (args.empty() ? "" : ",") + type_display(t);
        listed.push_back(s.name + "(" + args + ") -> " + type_display(s.return_type));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"bump(int) -> float", "ident(bool) -> bool",
                                                "ident(float) -> float", "ident(int) -> int",
                                                "ident(str) -> str", "typed(float) -> float",
                                                "unused(int,str) -> None"}));
    // A fully annotated function is compiled though nothing calls it; one
    // without annotations that nothing calls leaves no C at all.
    EXPECT_NE(out.c_text.find("f_unused__"), std::string::npos);
    EXPECT_EQ(out.c_text.find("f_never__"), std::string::npos);
}

TEST(CodegenCalls, RecursionAndMutualRecursion) {
    std::string source = R"(def fact(n):
    if n <= 1:
        return 1
    return n * fact(n - 1)
def fact2(n):
    if n > 1:
        return n * fact2(n - 1)
    return 1
def fib(n: int) -> int:
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)
def is_even(n):
    if n == 0:
        return True
    return is_odd(n - 1)
def is_odd(n):
    if n == 0:
        return False
    return is_even(n - 1)
print(fact(10), fact2(20), fib(20), is_even(10), is_odd(7), is_even(7))
)";
    expect_runs(source, "recursion", "3628800 2432902008176640000 6765 True True False\n");
}

// A chain of unannotated functions, each recursive before its first
// `return` (so its return Type is found by guessing) and each calling the
// one below it; function `bad` also reads the undefined name y. With
// `mutual`, each link is a pair that calls each other, and the pair calls
// the pair below.
std::string recursive_chain(int count, int bad, bool mutual) {
    std::string source;
    for (int k = 0; k < count; ++k) {
        std::string below = k == 0 ? "n" : fmt::format("{}{}(n)", mutual ? "a" : "f", k - 1);
        if (k == bad)
            below += " + y";
        if (mutual) {
            source += fmt::format("def a{0}(n):\n    if n > 0:\n        return b{0}(n - 1) + 1\n"
                                  "    return {1}\n"
                                  "def b{0}(n):\n    if n > 0:\n        return a{0}(n - 1) * 2\n"
                                  "    return 3\n",
                                  k, below);
        } else {
            source += fmt::format(
                "def f{0}(n):\n    if n > 0:\n        return f{0}(n - 1)\n    return {1}\n", k,
                below);
        }
    }
    return source + fmt::format("print({}{}(3))\n", mutual ? "a" : "f", count - 1);
}

// A failure deep in such a chain is met once, not once per guessed return
// Type of every function above it (which took time exponential in the
// chain's length), and it is the error reported: not the recursion that
// made the guesses necessary. That stays the error where the guesses are
// what fail.
// `inner` wrapped `depth` times in `open` and `close`.
std::string nested(const std::string &open, const std::string &inner, const std::string &close,
                   int depth) {
    std::string text = inner;
    for (int i = 0; i < depth; ++i)
        text = open + text + close;
    return text;
}

TEST(CodegenCalls, FailureDeepInARecursiveChain) {
    struct Case {
        std::string source;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {recursive_chain(40, 0, false), "4:16: name 'y' is not defined"},
        {recursive_chain(40, 20, false), "84:21: name 'y' is not defined"},
        {recursive_chain(40, 39, false), "160:21: name 'y' is not defined"},
        {recursive_chain(40, 0, true), "4:16: name 'y' is not defined"},
        {recursive_chain(40, 20, true), "164:21: name 'y' is not defined"},
        {"def f(n):\n    if n > 0:\n        return f(n - 1) + [n]\n    return []\nprint(f(3))\n",
         "3:16: can't infer what recursive function 'f' returns at this point; annotate it, e.g. "
         "`def f(...) -> int:`"},
        // A call with a new argument Type at each level would need endless
        // versions, directly or through another function.
        {"def wrap(x, n: int):\n    if n == 0:\n        return 0\n    return wrap([x], n - 1)\n"
         "print(wrap(1, 3))\n",
         "4:12: wrap() calls itself with a new argument Type each time (now x: " +
             nested("list[", "int", "]", 16) +
             ", n: int), so it would need endless versions; annotate its parameters"},
        {"def f(x):\n    return g((x, 1))\ndef g(y):\n    return f(y)\nprint(f(1))\n",
         "4:12: f() calls itself with a new argument Type each time (now x: " +
             nested("tuple[", "int", ", int]", 16) +
             "), so it would need endless versions; annotate its parameters"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.expected) << c.source;
}

TEST(CodegenCalls, DefaultsAndKeywordArguments) {
    std::string source = R"(def greet(name, greeting="Hello", punct="!"):
    print(greeting, name, end=punct + "\n")
greet("Ann")
greet("Bob", "Hi")
greet("Cy", punct="?")
greet(punct=".", name="Di", greeting="Yo")
def scale(x, factor=2):
    return x * factor
print(scale(3), scale(1.5), scale(2, factor=10))
)";
    expect_runs(source, "defaults", "Hello Ann!\nHi Bob!\nHello Cy?\nYo Di.\n6 3.0 20\n");
}

TEST(CodegenCalls, ArgumentsEvaluateLeftToRight) {
    std::string source = R"(def t(n):
    print("eval", n)
    return n
def add3(a, b, c):
    return a + b + c
print(add3(t(1), t(2), t(3)))
def pair(a, b):
    print("a =", a, "b =", b)
pair(b=t(10), a=t(20))
print(t(4) + t(5))
x = t(6) * t(7)
print(x, t(8), t(9))
)";
    expect_runs(source, "eval_order",
                "eval 1\neval 2\neval 3\n6\neval 10\neval 20\na = 20 b = 10\neval 4\neval 5\n9\n"
                "eval 6\neval 7\neval 8\neval 9\n42 8 9\n");
}

TEST(CodegenCalls, ReturnTypeInference) {
    std::string source = R"(def maybe(x):
    if x > 0:
        return x
print(maybe(5), maybe(-1))
def widen(flag):
    if flag:
        return 1
    return 2.5
print(widen(True), widen(False))
def nothing():
    pass
nothing()
def bare(x):
    if x:
        return
    print("not returned")
bare(False)
bare(True)
def count():
    total = 0
    total = 1.5
    return total
print(count())
def early(x):
    if x:
        return
    return 5
print(early(True), early(False))
)";
    // widen() returns a float in both cases: a value keeps one type.
    expect_runs(source, "return_types", "5 None\n1.0 2.5\nnot returned\n1.5\nNone 5\n");
    CodegenOutput out = generate(source);
    std::vector<std::string> returns;
    for (const InstanceSummary &s : out.instances)
        returns.push_back(s.name + " -> " + type_display(s.return_type));
    EXPECT_EQ(returns, (std::vector<std::string>{"bare -> None", "count -> float",
                                                 "early -> int | None", "maybe -> int | None",
                                                 "nothing -> None", "widen -> float"}));
}

TEST(CodegenExpressions, ConditionsNarrowingAndChains) {
    std::string source = R"(def t(n):
    print("eval", n)
    return n
print(1 < t(2) < 3)
print(t(5) < t(2) < t(9))
print(0 < t(1) < t(2) < 3)
def get(x):
    if x > 0:
        return x
v = get(3)
if v is not None:
    print(v + 1)
w = get(-3)
print(w is None, v is None, w is not None)
print("yes" if get(2) is not None else "no")
print(-t(3), not True, ~5)
i = 0
while i < 3:
    i = i + 1
    if i == 2:
        continue
    print("loop", i)
else:
    print("done")
if i > 5:
    print("big")
elif i == 3:
    print("three")
else:
    print("small")
print(0 or 5, 3 and 4, "" or "d", 7 // 2, -7 // 2, 7 % -3, 2 ** 10, 1 / 4)
k = 5
if k is None:
    print("never")
elif k is not None:
    print("k set", "a" if k is not None else 1)
else:
    print(undefined_name)
while k is None:
    print("no")
else:
    print("while else")
)";
    expect_runs(
        source, "conditions",
        "eval 2\nTrue\neval 5\neval 2\nFalse\neval 1\neval 2\nTrue\n4\nTrue False False\nyes\n"
        "eval 3\n-3 False -6\nloop 1\nloop 3\ndone\nthree\n5 4 d 3 -4 -2 1024 0.25\n"
        "k set a\nwhile else\n");
}

// Left-to-right evaluation in assignments: side-effecting arguments run in
// source order, keyword arguments that reorder the parameters still run in
// source order and bind by name, and a call with a single side-effecting
// argument is left as it is (no `__ktl_o` variable).
TEST(CodegenExpressions, HoistedOperandsAndReorderedKeywords) {
    std::string source = R"(def t(n):
    print("t", n)
    return n
def add(a, b):
    print("add", a, b)
    return a + b
x = add(t(1), t(2))
y = add(b=t(3), a=t(4))
z = add(1, t(5))
print(x, y, z)
)";
    expect_runs(source, "hoisted_assignments",
                "t 1\nt 2\nadd 1 2\nt 3\nt 4\nadd 4 3\nt 5\nadd 1 5\n3 7 6\n");
    const std::string c = generate(source).c_text;
    size_t z_at = c.find("    v_z = ");
    ASSERT_NE(z_at, std::string::npos);
    std::string z_line = c.substr(z_at, c.find('\n', z_at) - z_at);
    EXPECT_EQ(z_line.find("__ktl_o"), std::string::npos) << z_line;
    EXPECT_NE(c.find("__ktl_o"), std::string::npos);
}

TEST(CodegenRuntime, UncaughtErrorPrintsTracebackAndExitsWithOne) {
    std::string source = R"(def div(a, b):
    return a // b
print("before")
print(div(7, 2))
print(div(1, 0))
print("after")
)";
    RunResult r = run_source(source, "traceback");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "before\n3\n");
    EXPECT_EQ(r.err.rfind("Traceback (most recent call last):\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("ZeroDivisionError"), std::string::npos) << r.err;
}

// A retry of an instance with a wider variable drops what the failed attempt
// instantiated: g, compiled while f still returned an int, is compiled again
// once f returns a float. (Python prints 0 here: its x is still the int 0.)
TEST(CodegenWidening, InstanceRetryDropsStaleCallees) {
    std::string source = R"(def f(n):
    x = 0
    if n <= 0:
        return x
    g(n)
    x = 0.5
    return x
def g(n):
    print(f(n - 1))
print(f(1))
)";
    expect_runs(source, "instance_retry", "0.0\n0.5\n");
}

// A main-body retry starts from the globals as they were: g is declared
// again with the widened Type of y instead of keeping the int of the first
// attempt. (Python prints 1: its y is still the int 1 then.)
TEST(CodegenWidening, MainBodyRetryRestoresGlobals) {
    std::string source = R"(def show():
    print(g)
y = 1
g = y
y = 2.5
show()
print(y)
x = 1
x = None
print(x)
)";
    expect_runs(source, "main_retry", "1.0\n2.5\nNone\n");
}

// Each widened variable costs one more attempt with one more forced name;
// 64 names are forced at most, in a function and in the main body alike.
TEST(CodegenWidening, AtMostSixtyFourForcedNames) {
    auto widened = [](int count, const std::string &indent) {
        std::string body;
        for (int i = 0; i < count; ++i)
            body += fmt::format("{0}x{1} = 1\n{0}x{1} = 1.5\n", indent, i);
        return body;
    };
    EXPECT_EQ(rejection("def f():\n" + widened(64, "    ") + "    return x63\nprint(f())\n"),
              "(none)");
    EXPECT_EQ(rejection("def f():\n" + widened(65, "    ") + "    return x0\nprint(f())\n"),
              "131:5: more than 64 variables here need a wider type than their first value gives; "
              "declare 'x64' as float at its first assignment");
    EXPECT_EQ(rejection(widened(64, "")), "(none)");
    EXPECT_EQ(rejection(widened(65, "")),
              "130:1: more than 64 variables here need a wider type than their first value gives; "
              "declare 'x64' as float at its first assignment");
    // A name already forced may widen again at the limit: int, then float,
    // then an optional float.
    EXPECT_EQ(rejection(widened(64, "") + "x0 = None\nprint(x0)\n"), "(none)");
}

// The items of a one-line C array initializer `NAME[] = { a, b, ... };`.
std::vector<std::string> c_array_items(const std::string &c, const std::string &name) {
    std::vector<std::string> items;
    size_t at = c.find(name + "[] = { ");
    if (at == std::string::npos)
        return items;
    at += name.size() + 7;
    size_t end = c.find(" };", at);
    if (end == std::string::npos)
        return items;
    std::string list = c.substr(at, end - at);
    for (size_t start = 0;;) {
        size_t comma = list.find(", ", start);
        items.push_back(list.substr(start, comma == std::string::npos ? comma : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 2;
    }
    return items;
}

// An empty program still carries the class tables of the built-in exception
// classes, each class after its base, and an empty main; it builds, prints
// nothing and ends with status 0.
TEST(CodegenOutputLists, EmptyProgramHasTablesAndEmptyMain) {
    CodegenOutput out = generate("");
    const std::string &c = out.c_text;
    std::vector<std::string> names = c_array_items(c, "static const char *ktl_class_names");
    std::vector<std::string> bases = c_array_items(c, "static const int16_t ktl_class_bases");
    ASSERT_FALSE(names.empty());
    ASSERT_EQ(names.size(), bases.size());
    auto index_of = [&](const std::string &name) {
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i] == "\"" + name + "\"")
                return static_cast<int>(i);
        ADD_FAILURE() << "no class " << name;
        return -2;
    };
    EXPECT_EQ(bases[static_cast<size_t>(index_of("BaseException"))], "-1");
    for (size_t i = 0; i < bases.size(); ++i) {
        if (names[i] == "\"BaseException\"")
            continue;
        int base = std::stoi(bases[i]);
        EXPECT_TRUE(base >= 0 && static_cast<size_t>(base) < i) << names[i] << " has base " << base;
    }
    struct Edge {
        const char *cls;
        const char *base;
    };
    for (const Edge &e : std::vector<Edge>{{"SystemExit", "BaseException"},
                                           {"KeyboardInterrupt", "BaseException"},
                                           {"Exception", "BaseException"},
                                           {"ArithmeticError", "Exception"},
                                           {"ZeroDivisionError", "ArithmeticError"},
                                           {"OverflowError", "ArithmeticError"},
                                           {"KeyError", "LookupError"},
                                           {"IndexError", "LookupError"},
                                           {"FileNotFoundError", "OSError"},
                                           {"ValueError", "Exception"}})
        EXPECT_EQ(std::stoi(bases[static_cast<size_t>(index_of(e.cls))]), index_of(e.base))
            << e.cls;
    EXPECT_NE(c.find("KTL_PROG ktl_str ktl_exc_text(void *e) {"), std::string::npos);
    size_t main_at = c.find("KTL_PROG void ktl_main(void) {");
    ASSERT_NE(main_at, std::string::npos);
    EXPECT_EQ(c.substr(main_at), "KTL_PROG void ktl_main(void) {\n}\n");
    RunResult r = build_and_run(c, "empty");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(out.instances.empty());
}

TEST(CodegenOutputLists, VariablesAreSortedAndGlobalsAreFields) {
    std::string source = R"(def f():
    return b
b = 2
a = "x"
ab = 1.5
print(f(), a, ab)
def inc():
    global b
    b = b + 1
inc()
inc()
print(b)
)";
    CodegenOutput out = generate(source);
    std::vector<std::string> vars;
    for (const auto &[name, type] : out.variables)
        vars.push_back(name + ":" + type_display(type));
    EXPECT_EQ(vars, (std::vector<std::string>{"a:str", "ab:float", "b:int"}));
    // Only b, which a function reads, is a field of the globals' struct.
    size_t globals_at = out.c_text.find("static struct { char unused;");
    ASSERT_NE(globals_at, std::string::npos);
    std::string globals =
        out.c_text.substr(globals_at, out.c_text.find("} ktl_G;", globals_at) - globals_at);
    EXPECT_NE(globals.find(" g_b;"), std::string::npos) << globals;
    EXPECT_EQ(globals.find(" g_a;"), std::string::npos) << globals;
    EXPECT_EQ(globals.find(" g_ab;"), std::string::npos) << globals;
    RunResult r = build_and_run(out.c_text, "variables");
    EXPECT_EQ(r.out, "2 x 1.5\n4\n");
}

// Declared classes get their struct, their print, repr, eq, lt, cmp and
// truth functions and, for exceptions, their exception-text case; the file
// must compile even when no object is ever created.
TEST(CodegenOutputLists, DeclaredClassesGetTheirFunctions) {
    std::string source = R"k(class Shape:
    def __str__(self):
        return "shape"
    def __len__(self):
        return 3
class Square(Shape):
    def __repr__(self):
        return "Square()"
class Oops(ValueError):
    def __str__(self):
        return "oops"
def show(s: Shape, e: Oops) -> None:
    print(s, e)
print("compiled")
)k";
    CodegenOutput out = generate(source);
    const std::string &c = out.c_text;
    // The C text of the first line holding `start`, up to its end.
    auto line_with = [&](const std::string &start) {
        size_t at = c.find(start);
        return at == std::string::npos ? std::string() : c.substr(at, c.find('\n', at) - at);
    };
    // An exception class carries the exception's text and arguments.
    std::string oops = line_with("struct C_Oops {");
    EXPECT_NE(oops.find("exc_str;"), std::string::npos) << oops;
    EXPECT_NE(oops.find("exc_args;"), std::string::npos) << oops;
    EXPECT_EQ(line_with("struct C_Shape {").find("exc_str"), std::string::npos);
    // Truth of a class with __len__ asks __len__.
    std::string truthy = line_with("static bool ktl_truthy_O5Shape(C_Shape *o) {");
    EXPECT_NE(truthy.find("f_Shape_M___len__"), std::string::npos) << truthy;
    // The exception text of Oops is its __str__; the repr of a Shape that is
    // a Square is the __repr__ Square defines.
    std::string exc_text = line_with("KTL_PROG ktl_str ktl_exc_text(void *e) {");
    EXPECT_NE(exc_text.find(": return f_Oops_M___str__"), std::string::npos) << exc_text;
    std::string repr = line_with("static void ktl_repr_O5Shape(C_Shape *o) {");
    EXPECT_NE(repr.find("ktl_str r = f_Square_M___repr__"), std::string::npos) << repr;
    RunResult r = build_and_run(c, "classes");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "compiled\n");
}

// A subclass's struct starts with its base's fields in the base's order; a
// method no subclass overrides is a direct call and an overridden one a
// switch on the class id; an int field that receives a float is a double in
// the one text kept; the hover lists hold each class's own fields.
TEST(CodegenOutputLists, ClassLayoutDispatchAndFieldWidening) {
    std::string source = R"k(class Base:
    def __init__(self):
        self.a = 1
        self.b = "b"
    def name(self):
        return "base"
    def size(self):
        return 1
class Sub(Base):
    def __init__(self):
        self.c = [1]
        super().__init__()
    def name(self):
        return "sub"
def show(x: Base) -> None:
    print(x.name(), x.size(), x.a)
s = Sub()
show(s)
s.a = 2.5
show(Base())
)k";
    CodegenOutput out = generate(source);
    const std::string &c = out.c_text;
    auto line_with = [&](const std::string &start) {
        size_t at = c.find(start);
        return at == std::string::npos ? std::string() : c.substr(at, c.find('\n', at) - at);
    };
    EXPECT_EQ(line_with("struct C_Base {"),
              "struct C_Base { int32_t cls; double f_a; ktl_str f_b; };");
    std::string sub = line_with("struct C_Sub {");
    EXPECT_EQ(sub.find("struct C_Sub { int32_t cls; double f_a; ktl_str f_b; "), 0u) << sub;
    EXPECT_NE(sub.find(" f_c; };"), std::string::npos) << sub;
    std::string show = c.substr(c.find("static void f_show__O4Base(C_Base * v_x) {"));
    show = show.substr(0, show.find("\n}\n"));
    EXPECT_NE(show.find("switch (v_x->cls)"), std::string::npos) << show;
    EXPECT_NE(show.find("f_Base_M_size__O4Base(v_x)"), std::string::npos) << show;
    ASSERT_EQ(out.classes.size(), 2u);
    EXPECT_EQ(out.classes[0].name, "Base");
    EXPECT_EQ(out.classes[0].attributes.size(), 2u);
    EXPECT_EQ(out.classes[1].name, "Sub");
    EXPECT_EQ(out.classes[1].attributes.size(), 1u);
    RunResult r = build_and_run(c, "class_layout");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "sub 1 1.0\nbase 1 1.0\n");
}

// A dispatched call has one case per method the subtree resolves to: the
// classes sharing a resolution share its labels, and the resolution of the
// most classes is the default, so the C compiler tests the few others.
TEST(CodegenOutputLists, DispatchGroupsClassesByResolvedMethod) {
    std::string source = R"k(class Base:
    def m(self) -> int:
        return 1
class Mid(Base):
    def m(self) -> int:
        return 2
class Left(Mid):
    pass
class Right(Mid):
    pass
class Other(Base):
    pass
def total(xs: list[Base]) -> int:
    t = 0
    for x in xs:
        t = t * 10 + x.m()
    return t
print(total([Base(), Mid(), Left(), Right(), Other()]))
)k";
    CodegenOutput out = generate(source);
    const std::string &c = out.c_text;
    std::string body = c.substr(c.find("static int64_t f_total__LO4Base(L_O4Base * v_xs) {"));
    body = body.substr(0, body.find("\n}\n"));
    size_t at = body.find("switch (v_x->cls) { ");
    ASSERT_NE(at, std::string::npos) << body;
    std::string dispatch = body.substr(at, body.find('}', at) - at);
    EXPECT_EQ(dispatch.find("case 27: case 31: "), 20u) << dispatch;
    EXPECT_NE(dispatch.find("default: "), std::string::npos) << dispatch;
    EXPECT_NE(dispatch.find("f_Mid_M_m__O3Mid", dispatch.find("default: ")), std::string::npos)
        << dispatch;
    EXPECT_EQ(dispatch.find("case 28"), std::string::npos) << dispatch;
    RunResult r = build_and_run(c, "dispatch_groups");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "12221\n");
}

// A class constant read through an object is chosen by the object's class
// id only where a class below the static class defines it again, with the
// largest group of classes as the default; elsewhere the read is the
// literal, the object still evaluated.
TEST(CodegenOutputLists, ClassConstantsChosenByClassId) {
    std::string source = R"k(class Base:
    K = 1
    N = "n"
class Mid(Base):
    K = 2
class Left(Mid):
    pass
class Right(Mid):
    pass
class Other(Base):
    pass
def total(xs: list[Base]) -> int:
    t = 0
    for x in xs:
        t = t * 10 + x.K + len(x.N)
    return t
print(total([Base(), Mid(), Left(), Right(), Other()]))
)k";
    std::string c = generate(source).c_text;
    std::string body = c.substr(c.find("static int64_t f_total__LO4Base(L_O4Base * v_xs) {"));
    body = body.substr(0, body.find("\n}\n"));
    EXPECT_NE(body.find("switch (v_x->cls) { case 27: case 31: _r"), std::string::npos) << body;
    EXPECT_NE(body.find(" = INT64_C(1); break; default: _r"), std::string::npos) << body;
    EXPECT_NE(body.find(" = INT64_C(2); break; }"), std::string::npos) << body;
    EXPECT_NE(body.find("((void)(v_x), ((ktl_str){\"n\", 1}))"), std::string::npos) << body;
}

// A field of a subclass hides the base's constant: the read through the
// base takes the field, through a cast to the class that holds it, for the
// classes below that one, though it is compiled before the field's first
// store; only the objects of those classes start with the constant stored.
TEST(CodegenOutputLists, FieldsHidingConstantsChosenByClassId) {
    std::string source = R"k(class Base:
    K = 1
    def k(self) -> int:
        return self.K
class Mid(Base):
    def __init__(self, k: int):
        self.K = k
class Leaf(Mid):
    pass
class Other(Base):
    pass
print(Base().k() + Mid(2).k() + Leaf(3).k() + Other().k())
)k";
    std::string c = generate(source).c_text;
    EXPECT_NE(c.find("switch (v_self->cls) { case 28: case 29: _r3 = ((C_Mid *)v_self)->f_K; "
                     "break; default: _r3 = INT64_C(1); break; }"),
              std::string::npos)
        << c;
    EXPECT_NE(c.find("_o1->cls = 27; _o1; })"), std::string::npos) << c;
    EXPECT_NE(c.find("_o5->cls = 28; _o5->f_K = INT64_C(1); f_Mid_M___init__"), std::string::npos)
        << c;
    EXPECT_NE(c.find("_o11->cls = 29; _o11->f_K = INT64_C(1); f_Mid_M___init__"), std::string::npos)
        << c;
    EXPECT_NE(c.find("_o16->cls = 30; _o16; })"), std::string::npos) << c;
}

// Any file name yields valid C: quotes, backslashes, control and non-ASCII
// bytes are escaped in the source name the traceback prints.
TEST(CodegenOutputLists, SourcePathIsEscaped) {
    EXPECT_EQ(escape_src_path("a\"b\\c"), "a\\\"b\\\\c");
    EXPECT_EQ(escape_src_path("x\ny\tz"), "x\\012y\\011z");
    EXPECT_EQ(escape_src_path("é.ktl"), "\\303\\251.ktl");
    EXPECT_EQ(escape_src_path("a?"
                              "?=b"),
              "a\\?\\?=b");
    CodegenOutput out = generate("print(1)\n", "dir \"q\"\\\n\x7f/é.ktl");
    RunResult r = build_and_run(out.c_text, "odd_path");
    EXPECT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.out, "1\n");
}

// Calls, returns, literals and print, run; and what the text shows that the
// output can't: one instance per argument Type, keyword calls bound by name
// without swapping positional ones, a widened variable declared once, and a
// branch decided while compiling left out.
TEST(CodegenTexts, CallsReturnsLiteralsAndPrint) {
    std::string source = R"(def f(x):
    return x
print(f(1), f(1.5), f(2))
def bare():
    return
bare()
def g():
    pass
def h() -> int | None:
    return g()
print(h())
y = 1
def uses_global():
    global y
uses_global()
def sub(a, b):
    return a - b
print(sub(b=f(1), a=f(2)), sub(1, 2), sub(a=1, b=2))
print(1e16, 1e15, 0.0001, 0.00001, 1e999, -1e999)
print()
w = 1
w = 2.5
print(w)
print(1 if sub(5, 4) else 2.5)
x = 5
print(x if x is not None else undefined_name)
)";
    // A conditional of int and float is a float: 1.0 where Python prints 1.
    expect_runs(source, "calls_returns_literals",
                "1 1.5 2\nNone\n1 -1 -1\n1e+16 1000000000000000.0 0.0001 1e-05 inf -inf\n\n2.5\n"
                "1.0\n5\n");
    CodegenOutput out = generate(source);
    const std::string &c = out.c_text;
    // One instance per argument Type: f(2) reuses f(int).
    std::vector<std::string> f_args;
    for (const InstanceSummary &s : out.instances)
        if (s.name == "f")
            f_args.push_back(type_display(s.argument_types.at(0)));
    EXPECT_EQ(f_args, (std::vector<std::string>{"float", "int"}));
    // Positional arguments are passed as written, never swapped.
    EXPECT_NE(c.find("f_sub__ii(INT64_C(1), INT64_C(2))"), std::string::npos);
    EXPECT_EQ(c.find("f_sub__ii(INT64_C(2), INT64_C(1))"), std::string::npos);
    // The widened main-body variable is declared once, as a float.
    EXPECT_NE(c.find("double v_w"), std::string::npos);
    EXPECT_EQ(c.find("int64_t v_w"), std::string::npos);
    // `is not None` of a value that can't be None is decided when compiling:
    // the other branch is never compiled, so its undefined name is no error.
    EXPECT_EQ(c.find("undefined_name"), std::string::npos);
}

TEST(CodegenRejections, MessagesAndPositions) {
    struct Case {
        std::string source;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"print(x)\n", "1:7: name 'x' is not defined"},
        {"print(hex)\n", "1:7: name 'hex' is not defined"},
        {"foo(1)\n", "1:1: unknown function 'foo'"},
        {"foo(bar)\n", "1:5: name 'bar' is not defined"},
        {"def f(a, b):\n    return a\nf(1, 2, 3)\n", "3:1: f() takes 2 arguments but 3 were given"},
        {"def f(a):\n    return a\nf(1, 2)\n", "3:1: f() takes 1 argument but 2 were given"},
        {"def f(a, b, c):\n    return a\nf()\n",
         "3:1: f() missing 3 required arguments: 'a' and 'b' and 'c'"},
        {"def f(a, b=1):\n    return a\nf(b=2)\n", "3:1: f() missing 1 required argument: 'a'"},
        {"def f(a, b):\n    return a\nf(1, z=2)\n",
         "3:8: f() got an unexpected keyword argument 'z'"},
        {"def f(a, b):\n    return a\nf(1, a=2)\n",
         "3:8: f() got multiple values for argument 'a'"},
        {"def f(x: float):\n    return x\nf(\"s\")\n",
         "3:1: argument 'x' of f() must be float, not str"},
        {"def f(x: float):\n    return x\nf(True)\n",
         "3:1: argument 'x' of f() must be float, not bool"},
        {"def f(x):\n    return x\ny = f\ny(1, 2)\n", "4:1: f() takes 1 argument but 2 were given"},
        {"def f():\n    pass\ng = f()\n", "3:1: can't assign: the right-hand side has no value"},
        {"return 1\n", "1:1: 'return' outside of a function"},
        {"break\n", "1:1: 'break' outside of a loop"},
        {"def f() -> int:\n    return \"a\"\nf()\n",
         "2:12: returning a str from a function that returns int (add `-> str` to the def if "
         "intended)"},
        {"def f(x):\n    if x:\n        return 1\n    return \"a\"\nf(1)\n",
         "4:12: returning a str from a function that returns int (add `-> str` to the def if "
         "intended)"},
        {"def f() -> None:\n    return 1\nf()\n",
         "2:5: this function returns nothing (`-> None`), but this returns an int"},
        {"def f() -> int:\n    return None\nf()\n",
         "2:5: this function returns int, so it can't return None (annotate it `-> int | None`)"},
        {"def f(x) -> int:\n    if x:\n        return 1\nf(1)\n",
         "1:1: f() can reach its end without a return (then Python returns None); add a return, or "
         "annotate it `-> int | None`"},
        {"n = 5\ndef f() -> int:\n    if n > 3:\n        n = 1\n    return n\nprint(f())\n",
         "3:8: cannot access local variable 'n' where it is not associated with a value (the "
         "function assigns 'n', so it is local here; add `global n` to use the module's)"},
        {"def f() -> int:\n    return m\nprint(f())\nm = 3\n", "2:12: name 'm' is not defined"},
        // Two different functions in one display: each is its own Type.
        {"fs = [lambda a: a + 1, lambda a: a * 2]\n",
         "1:6: functions can't be stored in lists, dicts or tuples (each function is its own "
         "type in Kestal)"},
        {"xs = [1, \"a\"]\n", "1:6: list items must all have the same type (found int and str)"},
        {"def f(n):\n    return f(n)(1)\nf(1)\n", "2:12: can't infer what recursive function 'f' "
                                                  "returns at this point; annotate it, e.g. `def "
                                                  "f(...) -> int:`"},
        {"def f(a=[]):\n    return a\n",
         "1:9: default values must be constants (numbers, strings, bools or tuples of those)"},
        {"def f(x: Foo):\n    pass\n", "1:1: unknown type 'Foo' (no class with that name)"},
        {"def f(x: Foo | None):\n    pass\n", "1:1: unknown type 'Foo' (no class with that name)"},
        {"def f(x: Optional[Foo]):\n    pass\n",
         "1:1: unknown type 'Foo' (no class with that name)"},
        {"def f() -> list[Foo]:\n    pass\n", "1:1: unknown type 'Foo' (no class with that name)"},
        {"x: Foo | None = None\n", "1:1: unknown type 'Foo' (no class with that name)"},
        {"x = 1\nx = \"a\"\n",
         "2:1: can't assign a str to 'x', which holds an int (a variable keeps one type)"},
        {"x: int = 1\nx: float = 2.0\n",
         "2:1: 'x' is already an int; it can't be redeclared as float"},
        {"x: int = \"a\"\n", "1:1: can't assign a str to 'x', declared as int"},
        {"n = 5\nn()\n", "2:1: 'n' is an int, which can't be called"},
        {"print(-True)\n", "1:7: bad operand type for unary -: bool"},
        {"def g(x):\n    return x\nprint(1 if g(1) else \"a\")\n",
         "3:7: both branches of a conditional expression must have the same type (int vs str)"},
        {"print(1, sep=5)\n", "1:14: print(sep=...) must be a str"},
        {"print(1, color=\"x\")\n", "1:16: print() got an unexpected keyword argument 'color'"},
        {"print(1, color=5)\n", "1:16: print(color=...) must be a str"},
        {"def f():\n    pass\nprint(f())\n", "3:7: this expression has no value to print"},
        {"x = len\nprint(x)\n", "2:7: printing a function isn't supported"},
        {"zip(a, b)\n", "1:1: zip() can only be used where it's iterated: in a for loop, a "
                        "comprehension, or passed to "
                        "list(), sum(), ..."},
        {"print(1 + \"a\")\n", "1:7: unsupported operand types for +: int and str"},
        {"def f():\n    return 1\nf(1)\n", "3:1: f() takes 0 arguments but 1 were given"},
        {"def f(a, b, c=1):\n    return a\nf(c=1)\n",
         "3:1: f() missing 2 required arguments: 'a' and 'b'"},
        {"def f():\n    return y\nf()\n", "2:12: name 'y' is not defined"},
        {"import os\nx = os\n", "2:5: module 'os' can't be used as a value"},
        {"def f(x: Foo, a=[]):\n    return a\n",
         "1:17: default values must be constants (numbers, strings, bools or tuples of those)"},
        {"def f(a=len(\"x\")):\n    return a\n",
         "1:9: default values must be constants (numbers, strings, bools or tuples of those)"},
        {"def f() -> int:\n    while True:\n        if f():\n            break\nf()\n",
         "1:1: f() can reach its end without a return (then Python returns None); add a return, or "
         "annotate it `-> int | None`"},
        {"print(\"a\"(2))\n", "1:7: a str can't be called"},
        {"print((1)(2))\n", "1:8: an int can't be called"},
        {"x = 1.5\nx()\n", "2:1: 'x' is a float, which can't be called"},
        {"print(-\"s\")\n", "1:7: bad operand type for unary -: str"},
        {"print(-None)\n", "1:7: bad operand type for unary -: None"},
        {"print(1, end=5)\n", "1:14: print(end=...) must be a str"},
        {"print(1, file=5)\n", "1:15: print(file=...) must be a file, not int"},
        {"print(len())\n", "1:7: len() takes 1 argument(s), got 0"},
        {"list()\n", "1:1: unknown function 'list'"},
        {"x = (i for i in y)\n",
         "1:5: a generator expression can only be used where it's consumed (a for loop, list(), "
         "sum(), any(), \"\".join(), ...); for a list, write [...]"},
        {"print(sum(xs, start=0))\n", "1:21: sum() got an unexpected keyword argument 'start'"},
        {"print(foo(x=1))\n", "1:13: foo() got an unexpected keyword argument 'x'"},
        {"print(list(a, b))\n", "1:12: name 'a' is not defined"},
        {"print(sorted())\n", "1:7: unknown function 'sorted'"},
        {"print(len(1, 2))\n", "1:7: len() takes 1 argument(s), got 2"},
        {"x = 1\nprint(isinstance(x, int, key=1))\n",
         "2:30: isinstance() got an unexpected keyword argument 'key'"},
        {"def g():\n    pass\nprint(f\"{g()}\")\n", "3:10: this expression has no value"},
        // An annotation fixes a variable's Type: it never widens.
        {"x: int = 1\nx = None\n", "2:1: can't assign None to 'x', declared as int"},
        {"def f() -> None:\n    n: int = 0\n    n, m = 0.5, 1\nf()\n",
         "3:5: can't assign a float to 'n', declared as int"},
        {"x: int = 1\nx /= 2\n", "2:1: 'x' holds an int, but `/=` here would produce a float"},
        {"def f() -> None:\n    n: int = 0\n    n += 0.5\nf()\n",
         "3:5: 'n' holds an int, but `+=` here would produce a float"},
        // A field first assigned None: where its declaration goes.
        {"class Node:\n    def __init__(self):\n        self.next = None\nn = Node()\n"
         "n.next = Node()\n",
         "5:1: can't assign a Node to 'Node.next', which holds None (an attribute keeps one type); "
         "declare it in `__init__` as `self.next: Node | None = None`"},
        {"class Node:\n    def __init__(self):\n        self.next = None\n"
         "def link(a: Node, b: Node | None) -> None:\n    a.next = b\nlink(Node(), None)\n",
         "5:5: can't assign a Node | None to 'Node.next', which holds None (an attribute keeps one "
         "type); declare it in `__init__` as `self.next: Node | None = None`"},
        {"class Bag:\n    def __init__(self):\n        self.items = None\nb = Bag()\n"
         "b.items = [1]\n",
         "5:1: can't assign a list[int] to 'Bag.items', which holds None (an attribute keeps one "
         "type); declare it in `__init__` as `self.items: list[int] | None = None`"},
        {"class P:\n    def __init__(self):\n        self.name = 'a'\np = P()\np.name = 3\n",
         "5:1: can't assign an int to 'P.name', which holds a str (an attribute keeps one type)"},
        // A field hiding a base class's constant keeps the constant's Type:
        // a later float store may not widen it, and a subclass's own
        // constant doesn't let its field differ where a read goes through
        // the base.
        {"class B:\n    r = 0\nclass S(B):\n    def f(self):\n        self.r = 1\ns = S()\n"
         "s.f()\ns.r = 0.5\n",
         "8:1: 'S.r' is a float, but 'B.r' is an int (an attribute that hides a class constant "
         "keeps its type)"},
        {"class B:\n    r = 0\n    def g(self) -> int:\n        return self.r\nclass S(B):\n"
         "    r = \"x\"\n    def __init__(self):\n        self.r = \"y\"\nprint(S().g())\n",
         "8:9: 'S.r' is a str, but 'B.r' is an int (an attribute that hides a class constant "
         "keeps its type)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.expected) << c.source;
}

TEST(CodegenRejections, DataclassFieldOfUnknownClass) {
    std::string message = rejection("@dataclass\nclass P:\n    x: Foo\n");
    EXPECT_NE(message.find("unknown type 'Foo' (no class with that name)"), std::string::npos)
        << message;
}

// A super() receiver is never hoisted out of its method call, even when the
// call's arguments are.
TEST(CodegenRejections, SuperReceiverStaysInPlace) {
    std::string message = rejection("def t(n):\n    return n\nsuper().m(t(1), t(2))\n");
    EXPECT_EQ(message.find("unknown function 'super'"), std::string::npos) << message;
    EXPECT_NE(message.find("super()"), std::string::npos) << message;
}

TEST(CodegenRejections, PrintFlushIsNeverCompiled) {
    EXPECT_EQ(rejection("print(1, flush=undefined_name)\n"), "(none)");
}

// Instances that share a name and argument displays (two lambdas display
// alike) are ordered by their type codes, so the list never depends on
// hashing.
TEST(CodegenOutputLists, InstanceOrderFallsBackToTypeCodes) {
    auto lambda = [](uint64_t index) {
        return Type::function(FunctionValue{FunctionValue::Lambda{index, {}}});
    };
    InstanceSummary a{Type::int_(), "f", {lambda(3)}, {}};
    InstanceSummary b{Type::int_(), "f", {lambda(12)}, {}};
    InstanceSummary c{Type::int_(), "f", {Type::float_()}, {}};
    EXPECT_TRUE(instance_order_less(c, a));
    EXPECT_TRUE(instance_order_less(b, a)); // "Y12_0" < "Y3_0"
    EXPECT_FALSE(instance_order_less(a, b));
    EXPECT_FALSE(instance_order_less(a, a));
}

} // namespace
} // namespace kestal::testing
