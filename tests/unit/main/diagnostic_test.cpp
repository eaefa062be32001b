// The error display (header, excerpt, caret) and the names the driver
// derives from paths: the default build output and the stems of the
// temporary files.
#include "main/c_compiler.h"
#include "main/compile_road.h"
#include "platform/env.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kestal {
namespace {

struct DiagnosticCase {
    std::string source;
    std::uint64_t line;
    std::uint64_t column;
    std::string expected;
};

TEST(DriverDiagnostic, RendersHeaderExcerptAndCaret) {
    const std::vector<DiagnosticCase> cases = {
        // Column 1: the caret right after the bar and its space.
        {"x = 1\ny = 2\n", 2, 1, "dir/a.ktl:2:1: error: bad thing\n    2 | y = 2\n      | ^\n"},
        {"x = 1\nprint(f(1, 2))\n", 2, 10,
         "dir/a.ktl:2:10: error: bad thing\n    2 | print(f(1, 2))\n      |          ^\n"},
        // No final line feed: the last line still shows.
        {"a\nlast", 2, 3, "dir/a.ktl:2:3: error: bad thing\n    2 | last\n      |   ^\n"},
        // After the final line feed there is no line: header only.
        {"a\nb\n", 3, 1, "dir/a.ktl:3:1: error: bad thing\n"},
        {"a\nb\n", 9, 1, "dir/a.ktl:9:1: error: bad thing\n"},
        // Line 0 is "no position".
        {"a\n", 0, 0, "dir/a.ktl:0:0: error: bad thing\n"},
        // Column 0 puts the caret where column 1 would.
        {"abc\n", 1, 0, "dir/a.ktl:1:0: error: bad thing\n    1 | abc\n      | ^\n"},
        // CR LF: the carriage return is not shown; a lone CR is kept.
        {"a\r\nb c\r\n", 2, 3, "dir/a.ktl:2:3: error: bad thing\n    2 | b c\n      |   ^\n"},
        {"a\rb\n", 1, 1, "dir/a.ktl:1:1: error: bad thing\n    1 | a\rb\n      | ^\n"},
        // An empty line exists and shows empty.
        {"a\n\nb\n", 2, 1, "dir/a.ktl:2:1: error: bad thing\n    2 | \n      | ^\n"},
        {"", 1, 1, "dir/a.ktl:1:1: error: bad thing\n"},
        // Tabs and wide characters are not compensated: column - 1 spaces.
        {"\tx\n", 1, 2, "dir/a.ktl:1:2: error: bad thing\n    1 | \tx\n      |  ^\n"},
        {"é = 1\n", 1, 3, "dir/a.ktl:1:3: error: bad thing\n    1 | é = 1\n      |   ^\n"},
        // A byte-order mark opening the text is not shown, so the caret
        // stands under the column the lexer counted.
        {"\xef\xbb\xbfx = $\n", 1, 5,
         "dir/a.ktl:1:5: error: bad thing\n    1 | x = $\n      |     ^\n"},
    };
    for (const DiagnosticCase &c : cases)
        EXPECT_EQ(render_diagnostic(error_at("bad thing", c.line, c.column), "dir/a.ktl", c.source),
                  c.expected)
            << c.source;
}

TEST(DriverDiagnostic, LineNumberFieldGrowsPastFiveDigits) {
    std::string source;
    for (int i = 1; i < 123456; ++i)
        source += "\n";
    source += "oops\n";
    EXPECT_EQ(render_diagnostic(error_at("m", 123456, 1), "p.ktl", source),
              "p.ktl:123456:1: error: m\n123456 | oops\n      | ^\n");
    std::string seven = "1\n2\n3\n4\n5\n6\nseven\n";
    EXPECT_EQ(render_diagnostic(error_at("m", 7, 2), "p.ktl", seven),
              "p.ktl:7:2: error: m\n    7 | seven\n      |  ^\n");
}

TEST(DriverDiagnostic, DefaultBuildOutputDropsTheExtension) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"prog.ktl", "prog"},
        {"dir/prog.ktl", "dir/prog"},
        {"a.b.ktl", "a.b"},
        {"../x/a.ktl", "../x/a"},
        {"prog.", "prog"},
        // No extension: the executable would replace the source.
        {"prog", ""},
        {"tools/prog", ""},
        {"dir.d/prog", ""},
        {".ktl", ""},
        {"dir/.hidden", ""},
        {"..", ""},
    };
    for (const auto &[source, expected] : cases) {
        platform::Result<std::string> output = default_build_output(source);
        if (expected.empty()) {
            ASSERT_FALSE(output.ok()) << source;
            EXPECT_EQ(output.error().text,
                      fmt::format("{} has no extension, so the executable would overwrite it; "
                                  "give the output path with -o",
                                  source));
        } else {
            ASSERT_TRUE(output.ok()) << source;
            EXPECT_EQ(*output, expected);
        }
    }
}

TEST(DriverDiagnostic, StemsNameTheTemporaryFiles) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a.ktl", "a"},         {"dir/game.ktl", "game"},
        {"a.b.ktl", "a.b"},     {"out/game", "game"},
        {".bashrc", ".bashrc"}, {"x.", "x"},
        {"..", "prog"},         {".", "prog"},
        {"", "prog"},           {"dir/", "dir"},
        {"/", "prog"},          {"bad\xff.ktl", "prog"},
    };
    for (const auto &[path, stem] : cases)
        EXPECT_EQ(path_stem(path), stem) << path;
    std::int64_t pid = platform::process_id();
    EXPECT_EQ(temp_exe_path("/w", "src/a.b.ktl"), fmt::format("/w/a.b-{}", pid));
    EXPECT_EQ(c_file_path("/w/", "out/game"), fmt::format("/w/game-{}.c", pid));
    EXPECT_EQ(c_file_path("/w", ".."), fmt::format("/w/prog-{}.c", pid));
    // A relative folder that looks like an option is made harmless.
    EXPECT_EQ(c_file_path("-tmp", "a"), fmt::format("./-tmp/a-{}.c", pid));
    // Long stems are cut, never inside a UTF-8 character.
    const std::string long_ascii(250, 'a');
    std::string accented;
    while (accented.size() < 250)
        accented += "\xc3\xa9"; // é
    const std::vector<std::pair<std::string, std::string>> cut = {
        {long_ascii + ".ktl", std::string(kTempStemBytes, 'a')},
        {"a" + accented + ".ktl", "a" + accented.substr(0, kTempStemBytes - 2)},
        {std::string(kTempStemBytes, 'b') + ".ktl", std::string(kTempStemBytes, 'b')},
    };
    for (const auto &[path, stem] : cut) {
        EXPECT_EQ(temp_name_stem(path), stem) << path;
        EXPECT_EQ(temp_exe_path("/w", path), fmt::format("/w/{}-{}", stem, pid));
    }
}

} // namespace
} // namespace kestal
