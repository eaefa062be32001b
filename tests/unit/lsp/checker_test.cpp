// Document checks: the outcome of each stage, deep source on the big-stack
// thread, and where a diagnostic is placed on the line.
#include "lsp/checker.h"

#include "tests/unit/platform/test_support.h"

#include <gtest/gtest.h>

#include <string>

namespace kestal::lsp {
namespace {

TEST(Check, GoodProgramKeepsProgramAndLists) {
    CheckOutcome outcome = run_check("def twice(x):\n    y = x * 2\n    return y\n\n"
                                     "a = twice(3)\nb = twice(1.5)\n",
                                     "file:///t/a.ktl");
    ASSERT_TRUE(outcome.program.has_value());
    const auto *analysis = std::get_if<DocumentAnalysis>(&outcome.result);
    ASSERT_NE(analysis, nullptr);
    ASSERT_EQ(analysis->instances.size(), 2u);
    EXPECT_EQ(analysis->instances[0].name, "twice");
    EXPECT_EQ(analysis->variables.size(), 2u);
}

TEST(Check, EachStageReportsItsError) {
    struct Case {
        const char *name;
        std::string text;
        bool has_program;
        std::uint64_t line;
        std::uint64_t column;
    };
    const Case cases[] = {
        {"syntax", "x = 1\ny = (2\n", false, 2, 7},
        {"lexer", "x = 1\ny = $\n", false, 2, 5},
        {"types", "x = 1\nx = 'a'\n", true, 2, 1},
        {"undefined name", "print(zz)\n", true, 1, 7},
        {"after a byte-order mark", "\xef\xbb\xbfx = 1\ny = $\n", false, 2, 5},
    };
    for (const Case &c : cases) {
        CheckOutcome outcome = run_check(c.text, "file:///t/a.ktl");
        EXPECT_EQ(outcome.program.has_value(), c.has_program) << c.name;
        const auto *error = std::get_if<CompileError>(&outcome.result);
        ASSERT_NE(error, nullptr) << c.name;
        EXPECT_FALSE(error->message.empty()) << c.name;
        EXPECT_EQ(error->line, c.line) << c.name << ": " << error->message;
        EXPECT_EQ(error->column, c.column) << c.name << ": " << error->message;
    }
}

// Imports are resolved against the document's own folder, or, for a
// document that is no file, against KESTAL_LIBS and the installed folder.
TEST(Check, ImportsFindLibraries) {
    platform::test_support::ScratchDir scratch;
    scratch.write("src/libraries/geo/library.json",
                  R"({"name": "geo", "version": "2.0", "functions": {"dist": {"c": "geo_dist", )"
                  R"("returns": "float", "args": [["a", "float"]]}}})");
    scratch.write("src/libraries/geo/geo.h", "double geo_dist(double a);\n");
    platform::test_support::ScopedEnv env;
    env.unset("KESTAL_LIBS");
    env.set("LOCALAPPDATA", scratch / "nothing");
    const std::string text = "import geo\nd = geo.dist(1)\n";

    CheckOutcome found = run_check(text, "file://" + scratch / "src/prog.ktl");
    ASSERT_TRUE(std::holds_alternative<DocumentAnalysis>(found.result))
        << std::get<CompileError>(found.result).message;
    EXPECT_EQ(found.program->libraries.at("geo").version, "2.0");

    CheckOutcome missing = run_check(text, "untitled:Untitled-1");
    const auto *error = std::get_if<CompileError>(&missing.result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->message,
              "no module or library named 'geo'. Install it with: kestal install geo");
    EXPECT_EQ(error->line, 1u);
    EXPECT_EQ(error->column, 8u);

    env.set("KESTAL_LIBS", scratch / "src/libraries");
    EXPECT_TRUE(
        std::holds_alternative<DocumentAnalysis>(run_check(text, "untitled:Untitled-1").result));
}

TEST(Check, DeepNestingIsAnErrorNotACrash) {
    for (int depth : {900, 200000}) {
        std::string text = "x = " + std::string(static_cast<std::size_t>(depth), '(') + "1" +
                           std::string(static_cast<std::size_t>(depth), ')') + "\n";
        CheckOutcome outcome = run_check(text, "file:///t/deep.ktl");
        if (depth < 1000) {
            EXPECT_TRUE(std::holds_alternative<DocumentAnalysis>(outcome.result)) << depth;
        } else {
            const auto *error = std::get_if<CompileError>(&outcome.result);
            ASSERT_NE(error, nullptr) << depth;
            EXPECT_NE(error->message, kInternalCheckError) << depth;
        }
    }
}

TEST(DiagnosticSpan, CoversIdentifierOrOneCharacter) {
    struct Case {
        const char *name;
        std::string text;
        std::uint64_t line;
        std::uint64_t column;
        DiagnosticSpan span;
    };
    const Case cases[] = {
        {"identifier at the column", "total = 1\n", 1, 1, {0, 0, 5}},
        {"identifier inside a line", "x = price * 2\n", 1, 5, {0, 4, 9}},
        {"operator", "x = a + b\n", 1, 7, {0, 6, 7}},
        {"space", "x = a + b\n", 1, 2, {0, 1, 2}},
        {"middle of an identifier", "x = price\n", 1, 7, {0, 6, 7}},
        {"end of a line marks its last character", "x = (1\n", 1, 7, {0, 5, 6}},
        {"column past the end", "ab\n", 1, 40, {0, 1, 2}},
        {"empty line", "x = 1\n\ny\n", 2, 1, {1, 0, 0}},
        {"line past the end goes to the last line", "x = 1\nyy", 9, 1, {1, 0, 2}},
        {"line 0 and column 0 count as 1", "abc d\n", 0, 0, {0, 0, 3}},
        {"empty text", "", 1, 1, {0, 0, 0}},
        {"astral characters count once here", "s = '\xF0\x9F\x98\x80' + q\n", 1, 11, {0, 10, 11}},
        // A byte-order mark is a character of line 1 here, not to the lexer.
        {"after a byte-order mark", "\xef\xbb\xbftotal = $\n", 1, 9, {0, 9, 10}},
        {"word after a byte-order mark", "\xef\xbb\xbftotal = $\n", 1, 1, {0, 1, 6}},
    };
    for (const Case &c : cases) {
        DiagnosticSpan span = diagnostic_span(CompileError{"m", c.line, c.column}, c.text);
        EXPECT_EQ(span.line, c.span.line) << c.name;
        EXPECT_EQ(span.start, c.span.start) << c.name;
        EXPECT_EQ(span.end, c.span.end) << c.name;
    }
}

} // namespace
} // namespace kestal::lsp
