// The method and module-member tables against the code that reads them:
// every argument-count range is the one a wrong call reports, the traits
// hold together, and the runtime defines exactly the math functions of the
// built-in function table.
#include "codegen_fixture.h"

#include "codegen/builtins/builtin_functions.h"
#include "codegen/builtins/builtin_methods.h"
#include "codegen/core/ctypes.h"
#include "runtime/runtime_text.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

std::string ones(size_t count) {
    return fmt::format("{}", fmt::join(std::vector<std::string>(count, "1"), ", "));
}

// A receiver of each container and file Type, named `v`.
std::string receiver_line(MethodReceiver receiver) {
    switch (receiver) {
    case MethodReceiver::Str:
        return "v = \"a\"\n";
    case MethodReceiver::List:
        return "v = [1]\n";
    case MethodReceiver::Dict:
        return "v = {1: 1}\n";
    case MethodReceiver::Set:
        return "v = {1}\n";
    case MethodReceiver::File:
        return "v = open(\"x\")\n";
    }
    return "";
}

std::string_view receiver_name(MethodReceiver receiver) {
    switch (receiver) {
    case MethodReceiver::Str:
        return "str";
    case MethodReceiver::List:
        return "list";
    case MethodReceiver::Dict:
        return "dict";
    case MethodReceiver::Set:
        return "set";
    case MethodReceiver::File:
        return "file";
    }
    return "";
}

// A container or file method called one past its maximum, or one short of
// its minimum, is the no-method error with that count. (str reports the
// argument Types instead; file.read says what it lacks.)
TEST(BuiltinMethods, ArgumentCountsAreTheOnesReported) {
    int checked = 0;
    for (const BuiltinMethod &m : kBuiltinMethods) {
        if (m.receiver == MethodReceiver::Str ||
            (m.receiver == MethodReceiver::File && m.name == "read"))
            continue;
        std::vector<size_t> counts;
        if (m.max_args != kAnyMethodArgCount)
            counts.push_back(size_t(m.max_args) + 1);
        if (m.min_args > 0)
            counts.push_back(m.min_args - 1u);
        for (size_t count : counts) {
            std::string got = rejection(
                fmt::format("{}print(v.{}({}))\n", receiver_line(m.receiver), m.name, ones(count)));
            std::string want = fmt::format("{} has no method '{}' taking {} argument(s)",
                                           receiver_name(m.receiver), m.name, count);
            EXPECT_EQ(got, "2:7: " + want) << m.name << " with " << count;
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

// Only the keywords of a row are taken; a method without any refuses the
// first keyword by name.
TEST(BuiltinMethods, KeywordsAreTheRowsOnes) {
    for (const BuiltinMethod &m : kBuiltinMethods) {
        if (!m.keywords.empty())
            continue;
        std::string got = rejection(fmt::format("{}x = v.{}({}{}zz=1)\n", receiver_line(m.receiver),
                                                m.name, ones(m.min_args), m.min_args ? ", " : ""));
        EXPECT_NE(got.find(fmt::format("{}() got an unexpected keyword argument 'zz'", m.name)),
                  std::string::npos)
            << m.name << ": " << got;
    }
    EXPECT_EQ(find_builtin_method(MethodReceiver::Str, "split")->keyword_slot("maxsplit"), 1);
    EXPECT_EQ(find_builtin_method(MethodReceiver::Str, "split")->keyword_slot("keepends"), -1);
}

// Never-raising is asked only of pure methods, and a pure method changes
// nothing.
TEST(BuiltinMethods, TraitsHoldTogether) {
    for (const BuiltinMethod &m : kBuiltinMethods) {
        bool pure_enough =
            m.has(kMethodPure) || (!m.has(kMethodNeverRaises) && !m.has(kMethodKeepsElements));
        EXPECT_TRUE(pure_enough) << m.name;
        EXPECT_FALSE(m.has(kMethodPure) && m.has(kMethodChangesReceiver)) << m.name;
        bool resizes_list = m.receiver == MethodReceiver::List && m.has(kMethodChangesReceiver);
        EXPECT_TRUE(!m.has(kMethodChangesLength) || resizes_list) << m.name;
    }
    EXPECT_TRUE(is_pure_method("copy"));
    EXPECT_FALSE(is_pure_method("pop"));
    EXPECT_FALSE(is_pure_method("no_such_method"));
    EXPECT_TRUE(some_method_named_has("flush", kMethodChangesReceiver));
}

// dict's keys, values and items are the dict methods of a new list of the
// entries' parts, and the view kinds 0, 1 and 2 in that order.
TEST(BuiltinMethods, DictViewsAreTheTableOnes) {
    std::vector<std::string_view> views;
    for (const BuiltinMethod &m : kBuiltinMethods) {
        bool view = m.receiver == MethodReceiver::Dict &&
                    (m.result == MethodResult::KeyList || m.result == MethodResult::ValueList ||
                     m.result == MethodResult::ItemList);
        EXPECT_EQ(dict_view_kind(m.name).has_value(), view) << m.name;
        if (view)
            views.push_back(m.name);
    }
    ASSERT_EQ(views, (std::vector<std::string_view>{"keys", "values", "items"}));
    for (int kind = 0; kind < 3; ++kind)
        EXPECT_EQ(dict_view_kind(views[kind]), kind);
}

// A module function called one past its maximum reports its row's range.
// os.path.join, os.getenv and os.listdir word their own errors; prange
// exists only as a loop's iterable.
TEST(ModuleMembers, ArgumentCountsAreTheOnesReported) {
    const std::set<std::string_view> own = {"join", "getenv", "listdir", "prange"};
    int checked = 0;
    for (const ModuleMember &m : kModuleMembers) {
        if (m.kind != ModuleMemberKind::Function || own.count(m.name))
            continue;
        std::string module(m.module);
        std::string import = module == "os.path" ? "os" : module;
        size_t count = size_t(m.max_args) + 1;
        std::string got =
            rejection(fmt::format("import {}\n{}.{}({})\n", import, module, m.name, ones(count)));
        std::string takes = m.min_args == m.max_args
                                ? fmt::format("{}", m.min_args)
                                : fmt::format("{} to {}", m.min_args, m.max_args);
        EXPECT_NE(got.find(fmt::format("{}() takes {} argument(s), got {}", m.name, takes, count)),
                  std::string::npos)
            << module << "." << m.name << ": " << got;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

// The runtime's ktl_math_<name> functions of one (KTL_MATH1, or
// KTL_MATH1_FINITE for those without an overflow test) and of two doubles
// are the math rows of the built-in function table.
TEST(ModuleMembers, MathFunctionsMatchTheRuntime) {
    std::string text(runtime_text());
    std::set<std::string> runtime_one, runtime_two, table_one, table_two;
    static const std::regex one(R"(\nKTL_MATH1(?:_FINITE)?\((\w+)[,)])"),
        two(R"(\nKTL_MATH2\((\w+)\))");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), one);
         it != std::sregex_iterator(); ++it)
        runtime_one.insert((*it)[1].str());
    for (auto it = std::sregex_iterator(text.begin(), text.end(), two);
         it != std::sregex_iterator(); ++it)
        runtime_two.insert((*it)[1].str());
    // pow has a function of its own (a zero base is a pole).
    if (text.find("static inline double ktl_math_pow(double a, double b)") != std::string::npos)
        runtime_two.insert("pow");
    for (const BuiltinFunction &b : kBuiltinFunctions)
        if (b.has(kBuiltinMath))
            (b.min_args == 1 ? table_one : table_two).insert(std::string(b.name));
    EXPECT_EQ(runtime_one, table_one);
    EXPECT_EQ(runtime_two, table_two);
    EXPECT_GT(table_one.size(), 10u);
}

} // namespace
} // namespace kestal::testing
