// Type annotations: each written form to its Type, and every refusal with
// its message and position.
#include "parse_helpers.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using testing::Case;
using testing::first_error;

// The annotation of `x: <text> = 0`, shown with its code so that the kind
// (None vs NoValue, optional vs not) is visible, or the first error.
std::string annotation_of(const std::string &text) {
    try {
        Program program = parse_module("class foo:\n    pass\nx: " + text + " = 0\n");
        const Type &t = *program.statements.at(0).as<Stmt::Assign>()->annotation;
        return fmt::format("{} {}", t, type_code(t));
    } catch (const CompileError &error) {
        return testing::error_text(error);
    }
}

TEST(ParserAnnotations, WrittenFormsGiveTheirTypes) {
    const Case cases[] = {
        {"int", "int i"},
        {"float", "float f"},
        {"bool", "bool b"},
        {"str", "str s"},
        {"file", "file F"},
        {"TextIO", "file F"},
        {"TextIOWrapper", "file F"},
        {"list[int]", "list[int] Li"},
        {"list[int | None]", "list[int | None] LQi"},
        {"dict[str, list[tuple[int, Foo]]]", "dict[str, list[tuple[int, Foo]]] DsLT2iO3Foo"},
        {"dict[tuple[int, str], Optional[Foo]]", "dict[tuple[int, str], Foo | None] DT2isQO3Foo"},
        {"set[str]", "set[str] Ss"},
        {"tuple[int]", "tuple[int] T1i"},
        {"tuple[int, str, bool]", "tuple[int, str, bool] T3isb"},
        {"Optional[int]", "int | None Qi"},
        {"Optional[int | None]", "int | None Qi"},
        {"int | None", "int | None Qi"},
        {"None | int", "int | None Qi"},
        {"Foo", "Foo O3Foo"},
        {"List", "List O4List"},
        {"foo", "foo O3foo"},
        {"ValueError", "ValueError O10ValueError"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(annotation_of(c.source), c.expected) << c.source;
}

// `None` alone (or `None | None`) marks a function that returns nothing;
// it is no value's type.
TEST(ParserAnnotations, NoneAloneOnlyAsAReturnAnnotation) {
    for (const char *text : {"None", "None | None"}) {
        Program program = parse_module(fmt::format("def f() -> {}:\n    pass\n", text));
        const Type &t = *program.functions.at(0).return_type;
        EXPECT_EQ(fmt::format("{} {}", t, type_code(t)), "None v") << text;
    }
    const std::string refused = "`None` alone isn't the type of a value (it only marks a function "
                                "that returns nothing); write `T | None` for a value that may be "
                                "None";
    const Case cases[] = {
        {"None", "3:4: " + refused},
        {"None | None", "3:4: " + refused},
        {"list[None]", "3:9: " + refused},
        {"dict[str, None]", "3:14: " + refused},
        {"tuple[int, None]", "3:15: " + refused},
        {"list[None | int]", "list[int | None] LQi"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(annotation_of(c.source), c.expected) << c.source;
    EXPECT_EQ(first_error("def f(x: None) -> int:\n    return 1\n"), "1:10: " + refused);
    EXPECT_EQ(first_error("from dataclasses import dataclass\n@dataclass\nclass P:\n    x: None\n"),
              "4:8: " + refused);
}

TEST(ParserAnnotations, RefusalsGiveTheirMessageAtTheirPosition) {
    // Positions: the annotation starts at line 3, column 4.
    const Case cases[] = {
        {"bar", "3:4: unknown type 'bar' (expected int, float, bool, str, list[T], dict[K, V], "
                "tuple[...], TextIO or "
                "a class)"},
        {"list[range]", "3:9: unknown type 'range' (expected int, float, bool, str, list[T], "
                        "dict[K, V], tuple[...], "
                        "TextIO or a class)"},
        {"dict[float, int]",
         "3:9: dict keys must be int, str, bool or a tuple of those, not float"},
        {"dict[int | None, int]",
         "3:9: dict keys must be int, str, bool or a tuple of those, not int | None"},
        {"set[list[int]]",
         "3:8: set items must be int, str, bool or a tuple of those, not list[int]"},
        {"set[Foo]", "3:8: set items must be int, str, bool or a tuple of those, not Foo"},
        {"Optional[None]", "3:4: Optional[None] isn't a useful type"},
        {"int | None | str",
         "3:15: unions of more than two types aren't supported (only `T | None`)"},
        {"int | str", "3:4: unions like `int | str` aren't supported; a value has one type (only "
                      "`T | None` is)"},
        {"list[int] | dict[str, int]",
         "3:4: unions like `list[int] | dict[str, int]` aren't supported; a value "
         "has one type (only `T | None` is)"},
        {"1", "3:4: expected a type, found number 1"},
        {"list", "3:9: expected '[' (write list[int], list[str], ...), found '='"},
        {"dict(str)", "3:8: expected '[' (write dict[str, int], ...), found '('"},
        {"dict[str]", "3:12: expected ',' (write dict[str, int], ...), found ']'"},
        {"set", "3:8: expected '[' (write set[int], set[str], ...), found '='"},
        {"tuple", "3:10: expected '[' (write tuple[int, str], ...), found '='"},
        {"tuple[]", "3:10: expected a type, found ']'"},
        {"tuple[int,]", "3:14: expected a type, found ']'"},
        {"Optional", "3:13: expected '[' (write Optional[int]), found '='"},
        {"list[int", "3:13: expected ']', found '='"},
        {"List[int]",
         "3:8: expected '=' (declarations need a value, e.g. `xs: list[int] = []`), found '['"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(annotation_of(c.source), c.expected) << c.source;
}

TEST(ParserAnnotations, LowerCaseClassNamesMustBeDefinedEarlier) {
    // A capitalised name is taken on trust (the code generator checks it),
    // so forward references and the class being defined work.
    EXPECT_EQ(first_error("def f(x: Later) -> Later: return x\nclass Later:\n    pass\n"),
              "no error");
    EXPECT_EQ(first_error("class node:\n    def m(self, other: node): pass\n"),
              "2:24: unknown type 'node' (expected int, float, bool, str, list[T], dict[K, V], "
              "tuple[...], TextIO or "
              "a class)");
    EXPECT_EQ(first_error("class node:\n    pass\ndef f(n: node): pass\n"), "no error");
}

} // namespace
} // namespace kestal
