// The built-in function table against the code that reads it: every
// argument-count range in the table is the one a wrong call reports, the
// value, iteration-only and pure columns decide what the expression compiler
// and the side-effect test do, and the pure-method set follows the classes
// of the program.
#include "codegen_fixture.h"

#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtin_methods.h"
#include "codegen/expr/expr.h"
#include "parser/parser.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <set>
#include <string>
#include <unordered_set>
#include <vector>

namespace kestal::testing {
namespace {

std::string call_with(std::string_view name, size_t count) {
    std::vector<std::string> args(count, "1");
    return fmt::format("print({}({}))\n", name, fmt::join(args, ", "));
}

std::string takes(const BuiltinFunction &b) {
    if (b.min_args == b.max_args)
        return fmt::format("{}", b.min_args);
    return fmt::format("{} to {}", b.min_args, b.max_args);
}

// Calls one short of the minimum and one past the maximum report the
// table's range. Built-ins whose lowering does not exist yet say so instead.
TEST(BuiltinTable, ArgumentCountsAreTheOnesReported) {
    const std::set<std::string_view> not_yet = {};
    int checked = 0;
    for (const BuiltinFunction &b : kBuiltinFunctions) {
        if (!b.has(kBuiltinCompiledArgs) && !b.has(kBuiltinMath))
            continue;
        if (b.max_args == kAnyArgCount)
            continue;
        std::vector<size_t> counts = {size_t(b.max_args) + 1};
        if (b.min_args > 0)
            counts.push_back(b.min_args - 1u);
        for (size_t count : counts) {
            std::string got = rejection(call_with(b.name, count));
            std::string want =
                not_yet.count(b.name)
                    ? fmt::format("{}() isn't supported yet", b.name)
                    : fmt::format("{}() takes {} argument(s), got {}", b.name, takes(b), count);
            EXPECT_EQ(got, "1:7: " + want) << b.name << " with " << count;
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

// Exactly the value column may be named as a value; the iteration-only
// column is refused outside iteration before its arguments are looked at.
TEST(BuiltinTable, ValueAndIterationOnlyColumns) {
    for (const BuiltinFunction &b : kBuiltinFunctions) {
        std::string as_value = rejection(fmt::format("f = {}\n", b.name));
        std::string want_value =
            b.has(kBuiltinValue) ? "(none)" : fmt::format("1:5: name '{}' is not defined", b.name);
        EXPECT_EQ(as_value, want_value) << b.name;
        if (b.has(kBuiltinIterationOnly)) {
            EXPECT_EQ(
                rejection(fmt::format("x = {}(undefined_name)\n", b.name)),
                fmt::format("1:5: {}() can only be used where it's iterated: in a for loop, a "
                            "comprehension, or passed to list(), sum(), ...",
                            b.name));
        }
    }
}

// A side-effect question asked as the code generator asks it: in a context
// of `source`'s program, with its module frame open.
struct SideEffects {
    explicit SideEffects(const std::string &source)
        : program(parse_module(source)), ctx(new_codegen_context(program)),
          frame(*ctx, new_frame(true, std::nullopt, {})) {}
    bool operator()(const std::string &expr) {
        Expr e = parse_expression_text(expr);
        return may_have_side_effects(*ctx, e);
    }
    Program program;
    std::unique_ptr<CodegenContext> ctx;
    FrameGuard frame;
};

// The side-effect test reads the pure column: a call of a pure name over
// pure arguments has none, any other name has, and so has a pure name over
// an argument with side effects.
TEST(BuiltinTable, PureColumnDecidesSideEffects) {
    SideEffects effects("def g(x: int) -> int:\n    return x\n");
    std::vector<std::string> pure;
    for (const BuiltinFunction &b : kBuiltinFunctions) {
        EXPECT_EQ(effects(fmt::format("{}(a, k=b)", b.name)), !b.has(kBuiltinPure)) << b.name;
        EXPECT_TRUE(effects(fmt::format("{}(g(a))", b.name))) << b.name;
        if (b.has(kBuiltinPure))
            pure.push_back(std::string(b.name));
    }
    EXPECT_TRUE(effects("g(a)"));
    const std::vector<std::string> expected = {
        "len", "str",    "repr",  "int",  "float",    "bool",      "abs",        "round", "ord",
        "chr", "range",  "pow",   "list", "dict",     "set",       "sorted",     "any",   "all",
        "sum", "min",    "max",   "zip",  "reversed", "enumerate", "isinstance", "hex",   "oct",
        "bin", "divmod", "tuple", "type", "hash",     "id"};
    EXPECT_EQ(pure, expected);
}

TEST(BuiltinTable, PureMethodsUnlessAClassDefinesTheName) {
    SideEffects effects("x = 1\n");
    int pure = 0;
    for (const BuiltinMethod &m : kBuiltinMethods) {
        if (!is_pure_method(m.name))
            continue;
        EXPECT_FALSE(effects(fmt::format("s.{}(a)", m.name))) << m.name;
        ++pure;
    }
    EXPECT_GT(pure, 30);
    for (const char *impure : {"s.append(1)", "s.pop()", "s.sort()", "s.clear()"})
        EXPECT_TRUE(effects(impure)) << impure;
    SideEffects with_class("class T:\n    def upper(self) -> int:\n        return 1\n");
    EXPECT_TRUE(with_class("s.upper()"));
    EXPECT_FALSE(with_class("s.lower()"));
}

} // namespace
} // namespace kestal::testing
