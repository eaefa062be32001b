// The iteration-only built-ins (zip, map, filter, reversed, enumerate) and
// the built-ins that consume an iterable: every refusal with its message and
// position, and the generated forms a program's output can't show.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

struct Case {
    const char *source;
    const char *error;
};

const std::string kHead = "xs = [1, 2]\nd = {\"a\": 1}\nst = {1}\n";

TEST(CodegenIterables, SourceRejections) {
    const std::vector<Case> cases = {
        {"for t in zip():\n    print(t)\n", "4:10: zip() needs at least one iterable"},
        {"for t in zip(xs, st):\n    print(t)\n", "4:18: can't iterate over a set[int]"},
        {"for t in zip(xs, strict=True):\n    print(t)\n",
         "4:10: zip() doesn't take keyword arguments"},
        {"for v in map(len):\n    print(v)\n",
         "4:10: map() needs a function and at least one iterable"},
        {"for v in map(3, xs):\n    print(v)\n",
         "4:14: map()'s first argument must be a function, not int"},
        {"def p(v: int) -> None:\n    print(v)\n\n\nfor v in map(p, xs):\n    print(v)\n",
         "8:14: map()'s function must return a value"},
        {"for v in filter(len, xs, xs):\n    print(v)\n",
         "4:10: filter() needs a function and an iterable"},
        {"def p(v: int) -> None:\n    print(v)\n\n\nfor v in filter(p, xs):\n    print(v)\n",
         "8:17: filter()'s function must return a value"},
        {"for v in reversed(xs, xs):\n    print(v)\n",
         "4:10: reversed() takes exactly one argument"},
        {"for v in reversed(x for x in xs):\n    print(v)\n",
         "4:19: reversed() needs a list, str, range or dict"},
        {"for v in reversed(zip(xs, xs)):\n    print(v)\n",
         "4:19: reversed() needs a list, str, range or dict"},
        {"for v in reversed((1, 2)):\n    print(v)\n",
         "4:19: can't iterate over a tuple[int, int]"},
        {"for i, v in enumerate(xs, step=2):\n    print(v)\n",
         "4:32: enumerate() got an unexpected keyword argument 'step'"},
        {"for i, v in enumerate(xs, 1, start=2):\n    print(v)\n",
         "4:13: enumerate() takes an iterable and an optional start"},
        {"for i, v in enumerate(xs, 1.5):\n    print(v)\n",
         "4:27: enumerate() start must be int, not float"},
        {"print([v for v in map(3, xs)])\n",
         "4:23: map()'s first argument must be a function, not int"},
        {"y = zip(xs, xs)\n", "4:5: zip() can only be used where it's iterated: in a for loop, a "
                              "comprehension, or passed to list(), sum(), ..."},
        // map and filter call their function between steps of the body: a
        // lambda may not copy a variable the body assigns.
        {"def f() -> None:\n    k = 1\n    for v in map(lambda q: q + k, xs):\n        k = v\n"
         "\n\nf()\n",
         "6:18: this lambda uses 'k', which is assigned more than once; Kestal copies the "
         "variables a lambda uses when it's created, so Python would differ if 'k' changes later "
         "(pass it as an argument instead)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(kHead + c.source), c.error) << c.source;
}

TEST(CodegenIterables, ConsumerRejections) {
    const std::vector<Case> cases = {
        {"print(dict([1, 2]))\n", "4:12: dict() needs (key, value) pairs, not int"},
        {"print(dict([(1.5, 1)]))\n",
         "4:12: dict keys must be int, str, bool or a tuple of those, not float"},
        {"print(dict())\n", "4:7: an empty dict needs a type, e.g. `d: dict[str, int] = dict()`"},
        {"print(dict(xs, sep=1))\n", "4:20: dict() got an unexpected keyword argument 'sep'"},
        {"print(set([[1]]))\n",
         "4:11: set items must be int, str, bool or a tuple of those, not list[int]"},
        {"print(set())\n", "4:7: an empty set needs a type, e.g. `s: set[int] = set()`"},
        {"print(set(xs, xs))\n", "4:7: set() takes at most one argument"},
        {"print(any(len for x in xs))\n", "4:7: these items have no value"},
        {"print(sum(xs, True))\n", "4:15: sum() start must be a number, not bool"},
        {"print(sum([\"a\"]))\n", "4:7: sum() needs numbers, not str"},
        {"print(sum(xs, start=0))\n", "4:21: sum() got an unexpected keyword argument 'start'"},
        {"print(min(st for _ in xs))\n",
         "4:7: min() needs items that can be ordered with <, not set[int]"},
        {"print(max(xs, key=lambda v: {v}))\n",
         "4:7: max() needs keys that can be ordered with <, not set[int]"},
        {"print(min(xs, default=\"\"))\n", "4:23: min() default must be an int, not a str"},
        {"print(min(xs, default=None))\n", "4:23: min() default must be an int, not None"},
        {"print(max(xs, key=5))\n", "4:19: key must be a function, not int"},
        {"print(max(xs, xs, default=0))\n",
         "4:27: max() got an unexpected keyword argument 'default'"},
        {"print(min(\"a\", 1))\n",
         "4:7: min() of several values needs numbers, or values of one type that can be ordered"},
        {"print(max())\n", "4:7: max() needs arguments"},
        {"print(sorted(xs, cmp=1))\n", "4:22: sorted() got an unexpected keyword argument 'cmp'"},
        {"print(list(st, st))\n", "4:7: unknown function 'list'"},
        {"print(all(5))\n", "4:11: can't iterate over an int"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(kHead + c.source), c.error) << c.source;
}

struct PatternCase {
    const char *source;
    const char *pattern;
};

TEST(CodegenIterables, GeneratedTexts) {
    const std::vector<PatternCase> cases = {
        // zip and reversed read a list's current length on every step.
        {"for a, b in zip(xs, \"ab\"):\n    print(a)\n",
         R"(for \(int64_t (_k\d+) = 0; \1 < (_src\d+)->len && \1 < _src\d+\.len; \1\+\+\))"},
        {"for v in reversed(xs):\n    print(v)\n",
         R"(for \(int64_t (_k\d+) = _n\d+ - 1; \1 >= 0 && \1 < _src\d+->len; \1--\))"},
        // A lazy source drives the zip; the others end it by a jump past
        // the driving loops.
        {"for a, b in zip((x for x in xs), \"ab\"):\n    print(a)\n",
         R"(int64_t (_i\d+) = (_k\d+)\+\+; if \(!\(\1 < _src\d+\.len\)\) goto (_zend\d+);[\s\S]*\} \3:;)"},
        // A dict source checks its size on every step.
        {"for k in reversed(d):\n    print(k)\n",
         R"(\(\(void\)\(KTL_UNLIKELY\(_src\d+->len != _n0\d+\) && \(ktl_dict_changed\(\), 0\)\))"},
        // A list argument takes the runtime's fast path; other iterables loop.
        {"print(sum(xs), min(xs), max(xs))\n", R"(ktl_sum_L_i\(v_xs\);.*ktl_min_L_i\(v_xs\))"},
        {"print(sum(x for x in xs))\n", R"(int64_t (_sum\d+) = INT64_C\(0\); .*\1 \+= _v\d+; \})"},
        {"print(any(x for x in xs))\n", R"(\(\{ __label__ (_done\d+); .* goto \1; \} \} \1:; )"},
    };
    for (const PatternCase &c : cases) {
        std::string text = program_c(kHead + c.source);
        EXPECT_TRUE(std::regex_search(text, std::regex(c.pattern))) << c.source << "\n" << text;
    }
}

} // namespace
} // namespace kestal::testing
