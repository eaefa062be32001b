// The module level: functions, classes with their header and body rules,
// decorators and dataclasses, the built-in exception classes, and every
// refusal with its message and position.
#include "parse_helpers.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using testing::Case;
using testing::first_error;
using testing::parse_result;

TEST(ParserModule, EmptyFileHasOnlyTheBuiltinClasses) {
    Program program = parse_module("");
    EXPECT_TRUE(program.functions.empty());
    EXPECT_TRUE(program.statements.empty());
    EXPECT_TRUE(program.lambdas.empty());
    EXPECT_TRUE(program.imports.empty());
    EXPECT_TRUE(program.aliases.empty());
    EXPECT_TRUE(program.libraries.empty());
    ASSERT_EQ(program.classes.size(), 27u);
}

TEST(ParserModule, BuiltinExceptionClassesComeFirstInClassIdOrder) {
    const std::pair<const char *, const char *> expected[27] = {
        {"BaseException", ""},
        {"SystemExit", "BaseException"},
        {"KeyboardInterrupt", "BaseException"},
        {"Exception", "BaseException"},
        {"ArithmeticError", "Exception"},
        {"ZeroDivisionError", "ArithmeticError"},
        {"OverflowError", "ArithmeticError"},
        {"AssertionError", "Exception"},
        {"AttributeError", "Exception"},
        {"EOFError", "Exception"},
        {"LookupError", "Exception"},
        {"IndexError", "LookupError"},
        {"KeyError", "LookupError"},
        {"NameError", "Exception"},
        {"OSError", "Exception"},
        {"FileNotFoundError", "OSError"},
        {"FileExistsError", "OSError"},
        {"PermissionError", "OSError"},
        {"IsADirectoryError", "OSError"},
        {"NotADirectoryError", "OSError"},
        {"UnsupportedOperation", "OSError"},
        {"RuntimeError", "Exception"},
        {"NotImplementedError", "RuntimeError"},
        {"RecursionError", "RuntimeError"},
        {"StopIteration", "Exception"},
        {"TypeError", "Exception"},
        {"ValueError", "Exception"},
    };
    Program program = parse_module("class Error(Exception):\n    pass\n");
    ASSERT_EQ(program.classes.size(), 28u);
    for (size_t id = 0; id < 27; ++id) {
        const ClassDef &c = program.classes[id];
        EXPECT_EQ(c.name, expected[id].first);
        EXPECT_EQ(c.base.value_or(""), expected[id].second) << c.name;
        EXPECT_TRUE(c.is_builtin);
        EXPECT_EQ(c.line, 0u);
        EXPECT_TRUE(c.methods.empty() && c.constants.empty() && c.synthesized_comparisons.empty());
    }
    // A user class takes the next id.
    EXPECT_EQ(program.classes[27].name, "Error");
    EXPECT_EQ(program.classes[27].base.value_or(""), "Exception");
    EXPECT_FALSE(program.classes[27].is_builtin);
}

TEST(ParserModule, DefinitionsPrintAsTheirTrees) {
    const Case cases[] = {
        {"def f(a: int, b=1) -> int:\n    return a\n",
         "(def f (a: int, b = 1) -> int {(return a)})\n"},
        {"def f(a,):\n    pass\n", "(def f (a) {pass})\n"},
        {"def f(): pass\n", "(def f () {pass})\n"},
        {"def f() -> None: pass\n", "(def f () -> None {pass})\n"},
        {"def f(x: list[Foo] | None, y: dict[str, Optional[int]]) -> tuple[int, str]: pass\n",
         "(def f (x: list[Foo] | None, y: dict[str, int | None]) -> tuple[int, str] {pass})\n"},
        {"x = 1\ndef f():\n    return x\ny = f()\n",
         "(def f () {(return x)})\n(= x 1)\n(= y (call f))\n"},
        {"class A:\n    '''doc'''\n    X = 1\n    pass\n    def m(self, v): return v\n",
         "class A @1:1\n  const X = 1\n  (def m (self, v) {(return v)})\n"},
        {"class A(object):\n    pass\n", "class A @1:1\n"},
        {"class A():\n    pass\n", "class A @1:1\n"},
        {"class A:\n    pass\nclass B(A):\n    pass\n", "class A @1:1\nclass B(A) @3:1\n"},
        {"class E(ValueError):\n    pass\n", "class E(ValueError) @1:1\n"},
        {"class A:\n    def m(self) -> A: return self\n",
         "class A @1:1\n  (def m (self) -> A {(return self)})\n"},
        {"class A:\n    pass", "class A @1:1\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse_result(c.source), c.expected) << c.source;
}

TEST(ParserModule, DataclassesGetTheirMethodsSynthesized) {
    // A field's default is also the class attribute of its name.
    EXPECT_EQ(parse_result("@dataclass\nclass P:\n    x: int\n    y: int = 0\n"),
              "class P @2:1\n"
              "  const y = 0\n"
              "  comparisons __eq__\n"
              "  (def __init__ (self, x: int, y: int = 0) {(= (. self x) x); (= (. self y) y)})\n"
              "  (def __repr__ (self) {(return (f {(. (call type self) __name__)} \"(\" \"x=\" {(. "
              "self x) !r} "
              "\", y=\" {(. self y) !r} \")\"))})\n"
              "  (def __eq__ (self, other: P) {(return (== (tuple (. self x) (. self y)) (tuple (. "
              "other x) "
              "(. other y))))})\n");
    // Decorator forms: dotted, with eq=True, order=True, positional ignored.
    const char *headers[] = {"@dataclasses.dataclass\n", "@dataclass(eq=True)\n",
                             "@dataclass(True)\n", "@dataclass(order=False)\n", "@dataclass()\n"};
    for (const char *header : headers) {
        Program program = parse_module(std::string(header) + "class P:\n    x: int\n");
        EXPECT_EQ(program.classes.back().synthesized_comparisons,
                  std::vector<std::string>{"__eq__"})
            << header;
    }
    Program ordered = parse_module("@dataclass(order=True)\nclass P:\n    x: int\n");
    EXPECT_EQ(ordered.classes.back().synthesized_comparisons,
              (std::vector<std::string>{"__eq__", "__lt__", "__le__", "__gt__", "__ge__"}));
    // A written method is kept and not synthesized.
    Program written =
        parse_module("@dataclass\nclass P:\n    x: int\n    def __eq__(self, o): return True\n");
    EXPECT_TRUE(written.classes.back().synthesized_comparisons.empty());
}

TEST(ParserModule, DataclassFieldsMergeWithTheBase) {
    // A redeclared field replaces the inherited one in place.
    Program program = parse_module("@dataclass\nclass A:\n    x: int\n    y: int = 0\n"
                                   "@dataclass\nclass B(A):\n    y: int\n    z: str = ''\n");
    const FuncDef &init = program.classes.back().methods.front();
    ASSERT_EQ(init.name, "__init__");
    EXPECT_EQ(print_function(init), "(def __init__ (self, x: int, y: int, z: str = \"\") "
                                    "{(= (. self x) x); (= (. self y) y); (= (. self z) z)})");
    // A base that is not a dataclass contributes nothing.
    Program plain = parse_module("class A:\n    pass\n@dataclass\nclass B(A):\n    z: int\n");
    EXPECT_EQ(plain.classes.back().methods.front().params.size(), 2u);
    EXPECT_EQ(first_error("@dataclass\nclass A:\n    x: int\n    y: int = 0\n@dataclass\nclass "
                          "B(A):\n    z: int\n"),
              "6:1: dataclass field 'z' without a default follows one with a default");
}

TEST(ParserModule, RefusalsGiveTheirMessageAtTheirPosition) {
    const Case cases[] = {
        {"def f(): pass\ndef f(): pass\n", "2:1: function 'f' is defined twice"},
        {"  x = 1\n", "1:1: unexpected indentation"},
        {"def f(a, a): pass\n", "1:11: duplicate parameter 'a'"},
        {"def f(a, b=1, c): pass\n",
         "1:16: parameter 'c' without a default follows one with a default"},
        {"def f(a=1, b: int): pass\n",
         "1:18: parameter 'b' without a default follows one with a default"},
        {"def (a): pass\n", "1:5: expected a function name, found '('"},
        {"def f: pass\n", "1:6: expected '(', found ':'"},
        {"def f(*args): pass\n", "1:7: expected a parameter name, found star"},
        {"def f(a b): pass\n", "1:9: expected ',' or ')', found 'b'"},
        {"def f() pass\n", "1:9: expected ':', found pass"},
        {"def f() -> : pass\n", "1:12: expected a type, found ':'"},
        {"@cache\nclass A: pass\n", "1:2: decorator '@cache' isn't supported (only @dataclass)"},
        {"@functools.cache\nclass A: pass\n",
         "1:2: decorator '@cache' isn't supported (only @dataclass)"},
        {"@dataclass(eq=False)\nclass A: pass\n", "1:15: @dataclass(eq=...) isn't supported"},
        {"@dataclass(frozen=True)\nclass A: pass\n",
         "1:19: @dataclass(frozen=...) isn't supported"},
        {"@dataclass(order=1)\nclass A: pass\n", "1:18: @dataclass(order=...) isn't supported"},
        {"@dataclass\ndef f(): pass\n", "2:1: a decorator must be followed by a class"},
        {"@1\nclass A: pass\n", "1:2: expected a decorator, found number 1"},
        {"@dataclass x\nclass A: pass\n",
         "1:12: expected end of line after the decorator, found 'x'"},
        {"@dataclass.(x)\nclass A: pass\n", "1:12: expected a decorator, found '('"},
        {"@dataclass class A: pass\n",
         "1:12: expected end of line after the decorator, found class"},
        {"class ValueError(Exception):\n    pass\n",
         "1:1: class 'ValueError' would hide the built-in exception of that name; pick another "
         "name"},
        {"class A:\n    pass\nclass A:\n    pass\n", "3:1: class 'A' is defined twice"},
        {"class 1: pass\n", "1:7: expected a class name, found number 1"},
        {"class B(Z):\n    pass\n", "1:9: base class 'Z' must be a class defined earlier"},
        {"class B(B):\n    pass\n", "1:9: base class 'B' must be a class defined earlier"},
        {"class A: pass\nclass B(A, C):\n    pass\n",
         "1:10: expected a new line after the class header, found pass"},
        {"class A:\n    pass\nclass B(A, C):\n    pass\n",
         "3:10: multiple inheritance isn't supported"},
        {"class A(1):\n    pass\n", "1:9: expected a base class, found number 1"},
        {"class A:\n    pass\nclass B(A:\n    pass\n", "3:10: expected ')', found ':'"},
        {"class A\n    pass\n", "1:8: expected ':', found end of line"},
        {"class A:\npass\n", "2:1: expected an indented class body"},
        {"class A:\n    x: int\n",
         "2:5: annotated class fields need @dataclass; assign `self.x` in __init__ instead"},
        {"@dataclass\nclass A:\n    self: int\n",
         "3:5: a dataclass field can't be named 'self' (the __init__ method takes `self` first)"},
        {"class A:\n    x\n",
         "2:6: expected a method, a field (`x: int`) or a constant (`X = 1`) in the class body"},
        {"class A:\n    X = 1; Y = 2\n",
         "2:10: expected a method, a field (`x: int`) or a constant (`X = 1`) in the class body"},
        {"class A:\n    if x: pass\n",
         "2:5: expected a method, a field (`x: int`) or a constant (`X = 1`) in the class body"},
        {"class A:\n    def m(x): pass\n",
         "2:5: methods must take `self` first (static and class methods aren't supported)"},
        {"class A:\n    def m(): pass\n",
         "2:5: methods must take `self` first (static and class methods aren't supported)"},
        {"class A:\n    def m(self): pass\n    def m(self): pass\n",
         "3:5: method 'm' is defined twice"},
        {"class A:\n    @staticmethod\n    def m(): pass\n",
         "2:5: method decorators (@staticmethod, @property, ...) aren't supported"},
        {"class A:\n    x: foo = 1\n", "2:8: unknown type 'foo' (expected int, float, bool, str, "
                                       "list[T], dict[K, V], tuple[...], TextIO or a "
                                       "class)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(first_error(c.source), c.expected) << c.source;
}

} // namespace
} // namespace kestal
