// The compiler's built-in exception classes against the runtime's: the same
// names in the same order (the order is the class id on both sides) with
// the same bases, and the parser seeds exactly that list at the head of
// every program.
#include "ast/builtin_exceptions.h"
#include "ast/python_exceptions.h"
#include "parser/parser.h"
#include "runtime/runtime_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace kestal {
namespace {

struct Row {
    std::string name;
    std::string base;
    bool operator==(const Row &) const = default;
};

void PrintTo(const Row &r, std::ostream *os) {
    *os << r.name << "(" << r.base << ")";
}

// The rows of the runtime's KTL_BUILTIN_EXCEPTIONS table: `X(Name, -1)` for
// the root, `X(Name, KTL_E_Base)` for the others.
std::vector<Row> runtime_rows() {
    std::string text(runtime_text());
    size_t start = text.find("#define KTL_BUILTIN_EXCEPTIONS(X)");
    EXPECT_NE(start, std::string::npos);
    if (start == std::string::npos)
        return {};
    size_t end = text.find("\n\n", start);
    std::string table = text.substr(start, end - start);
    static const std::regex row(R"(X\((\w+), (?:-1|KTL_E_(\w+))\))");
    std::vector<Row> rows;
    for (auto it = std::sregex_iterator(table.begin(), table.end(), row);
         it != std::sregex_iterator(); ++it)
        rows.push_back({(*it)[1].str(), (*it)[2].str()});
    return rows;
}

TEST(BuiltinExceptions, CompilerTableMatchesTheRuntime) {
    std::vector<Row> compiler;
    for (const BuiltinExceptionClass &c : kBuiltinExceptionClasses)
        compiler.push_back({std::string(c.name), std::string(c.base)});
    std::vector<Row> runtime = runtime_rows();
    EXPECT_EQ(runtime.size(), 27u);
    EXPECT_EQ(compiler, runtime);
}

// A base stands before its subclasses, so a class id never refers forward.
TEST(BuiltinExceptions, BasesComeFirst) {
    for (size_t i = 0; i < kBuiltinExceptionCount; ++i) {
        const BuiltinExceptionClass &c = kBuiltinExceptionClasses[i];
        if (c.base.empty()) {
            EXPECT_EQ(i, 0u) << c.name;
            continue;
        }
        bool earlier = false;
        for (size_t j = 0; j < i; ++j)
            earlier = earlier || kBuiltinExceptionClasses[j].name == c.base;
        EXPECT_TRUE(earlier) << c.name << " before its base " << c.base;
    }
}

// Python's table holds every built-in class of ours that Python has as a
// built-in (io.UnsupportedOperation isn't one), so a lacking class is
// exactly one in Python's table and not in ours.
TEST(BuiltinExceptions, PythonTableCoversOurs) {
    EXPECT_TRUE(std::is_sorted(kPythonExceptionClasses.begin(), kPythonExceptionClasses.end()));
    EXPECT_EQ(std::adjacent_find(kPythonExceptionClasses.begin(), kPythonExceptionClasses.end()),
              kPythonExceptionClasses.end());
    size_t ours = 0;
    for (const BuiltinExceptionClass &c : kBuiltinExceptionClasses) {
        bool python = std::binary_search(kPythonExceptionClasses.begin(),
                                         kPythonExceptionClasses.end(), c.name);
        EXPECT_EQ(python, c.name != "UnsupportedOperation") << c.name;
        EXPECT_FALSE(is_missing_python_exception(c.name)) << c.name;
        ours += python ? 1 : 0;
    }
    size_t missing = 0;
    for (std::string_view name : kPythonExceptionClasses)
        missing += is_missing_python_exception(name) ? 1 : 0;
    EXPECT_EQ(ours + missing, kPythonExceptionClasses.size());
    EXPECT_TRUE(is_missing_python_exception("SyntaxError"));
    EXPECT_TRUE(is_missing_python_exception("UserWarning"));
    EXPECT_FALSE(is_missing_python_exception("MyError"));
    EXPECT_FALSE(missing_python_exception_message("ValueError").has_value());
}

TEST(BuiltinExceptions, ParserSeedsTheTableFirst) {
    Program program = parse_module("class MyError(ValueError):\n    pass\n");
    ASSERT_EQ(program.classes.size(), kBuiltinExceptionCount + 1);
    for (size_t i = 0; i < kBuiltinExceptionCount; ++i) {
        const ClassDef &def = program.classes[i];
        EXPECT_EQ(def.name, kBuiltinExceptionClasses[i].name);
        EXPECT_EQ(def.base.value_or(""), kBuiltinExceptionClasses[i].base);
        EXPECT_TRUE(def.is_builtin);
    }
    EXPECT_EQ(program.classes.back().name, "MyError");
    EXPECT_FALSE(program.classes.back().is_builtin);
}

} // namespace
} // namespace kestal
