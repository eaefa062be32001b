// Option parsing of the compile commands as a table: each row is the
// command, its arguments and the parse shown as one line (the options that
// differ from the defaults, or the error), plus the usage text's shape.
#include "main/driver.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kestal {
namespace {

std::string show(const std::variant<DriverOptions, OptionError> &parsed) {
    if (const OptionError *error = std::get_if<OptionError>(&parsed))
        return error->message;
    const DriverOptions &o = std::get<DriverOptions>(parsed);
    std::string text = fmt::format("{} src='{}'", o.command, o.source_path.value_or("<none>"));
    if (o.output_path)
        text += fmt::format(" out='{}'", *o.output_path);
    if (!o.program_arguments.empty())
        text += fmt::format(" args=['{}']", fmt::join(o.program_arguments, "', '"));
    for (auto [on, name] : {std::pair{o.time, "time"},
                            {o.static_link, "static"},
                            {o.portable, "portable"},
                            {o.windowed, "windowed"},
                            {!o.use_cache, "no-cache"},
                            {!o.checked, "unchecked"},
                            {o.pause, "pause"}})
        if (on)
            text += std::string(" ") + name;
    return text;
}

struct OptionCase {
    std::string command;
    std::vector<std::string> args;
    std::string expected;
};

constexpr const char *kNoRunSource =
    "kestal: no source file given\nusage: kestal run <file.ktl> [options] [-- program args]";

TEST(DriverOptions, ParsesAndChecksTheCompileCommands) {
    const std::vector<OptionCase> cases = {
        {"run", {"a.ktl"}, "run src='a.ktl'"},
        {"run", {}, kNoRunSource},
        // Everything after -- belongs to the program, so no source is left.
        {"run", {"--", "a.ktl"}, kNoRunSource},
        {"run",
         {"a.ktl", "--", "--time", "x", "y z"},
         "run src='a.ktl' args=['--time', 'x', 'y z']"},
        {"run", {"a.ktl", "--"}, "run src='a.ktl'"},
        {"run",
         {"--time", "a.ktl", "--time", "--no-cache", "--unchecked", "--pause"},
         "run src='a.ktl' time no-cache unchecked pause"},
        // A trailing -o forgets the earlier value; -o takes any next text.
        {"build", {"a.ktl", "-o"}, "build src='a.ktl'"},
        {"build", {"-o", "x", "a.ktl", "-o"}, "build src='a.ktl'"},
        {"build", {"-o", "x.exe", "a.ktl", "-o", "y.exe"}, "build src='a.ktl' out='y.exe'"},
        {"build", {"a.ktl", "-o", "-weird"}, "build src='a.ktl' out='-weird'"},
        {"build", {"a.ktl", "-o", "--", "b"}, "kestal: unexpected argument 'b'"},
        {"run", {"-o"}, kNoRunSource},
        {"build",
         {"a.ktl", "--static", "--windowed", "--portable"},
         "build src='a.ktl' static portable windowed"},
        {"check",
         {"a.ktl", "--time", "--no-cache", "--portable"},
         "check src='a.ktl' time portable no-cache"},
        // An empty argument is a source path; reading it fails later.
        {"emit", {""}, "emit src=''"},
        {"run", {"a.ktl", "b.ktl"}, "kestal: unexpected argument 'b.ktl'"},
        {"run", {"a.ktl", "-x"}, "kestal: unexpected argument '-x'"},
        {"run", {"a.ktl", "-"}, "kestal: unexpected argument '-'"},
        {"run", {"-"}, "kestal: unexpected argument '-'"},
        {"run", {"a.ktl", "--TIME"}, "kestal: unexpected argument '--TIME'"},
        // The first bad argument ends parsing before the combinations.
        {"build", {"a.ktl", "b.ktl", "--pause"}, "kestal: unexpected argument 'b.ktl'"},
        {"build", {"a.ktl", "--pause"}, "kestal: --pause only works with 'kestal run'"},
        {"run",
         {"a.ktl", "--static", "--pause"},
         "kestal: --static only works with 'kestal build'"},
        {"check", {"a.ktl", "--windowed"}, "kestal: --windowed only works with 'kestal build'"},
        {"emit",
         {"a.ktl", "--windowed", "--static"},
         "kestal: --static only works with 'kestal build'"},
        // With no source that message wins over the combination checks;
        // each command shows its own usage line.
        {"build",
         {"--pause"},
         "kestal: no source file given\nusage: kestal build <file.ktl> [-o <exe>] [options]"},
        {"check", {}, "kestal: no source file given\nusage: kestal check <file.ktl>"},
        {"emit",
         {"--time"},
         "kestal: no source file given\nusage: kestal emit <file.ktl> [options]"},
    };
    for (const OptionCase &c : cases)
        EXPECT_EQ(show(parse_driver_options(c.command, c.args)), c.expected)
            << c.command << " " << fmt::format("{}", fmt::join(c.args, " "));
}

std::vector<std::string> usage_lines() {
    std::vector<std::string> lines;
    std::string text = usage_text();
    std::size_t start = 0;
    for (;;) {
        std::size_t newline = text.find('\n', start);
        lines.push_back(text.substr(start, newline - start));
        if (newline == std::string::npos)
            return lines;
        start = newline + 1;
    }
}

TEST(DriverOptions, UsageTextHasItsTwentyNineLines) {
    std::string text = usage_text();
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    std::vector<std::string> lines = usage_lines();
    ASSERT_EQ(lines.size(), 29u);
    EXPECT_EQ(lines[0], "Kestal: Python syntax, native speed.");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[3], "  kestal run <file.ktl> [options] [-- program args]   compile and run");
    EXPECT_EQ(lines[9], "  kestal install <library>...                         download libraries "
                        "from kestal.example/libraries");
    EXPECT_EQ(lines[12], "  kestal update [--check | --off | --on]              install the newest "
                         "Kestal (from kestal.example)");
    EXPECT_EQ(lines[13], "  kestal version");
    EXPECT_EQ(lines[25], "  KESTAL_CC     C compiler to use (default: clang on PATH, then "
                         "/usr/lib/llvm-*/bin/clang, then gcc)");
    EXPECT_EQ(lines[27], "  KESTAL_LIBRARY_URL   where `kestal install` downloads from (default "
                         "https://kestal.example/libraries)");
    EXPECT_EQ(lines[28], "  KESTAL_NO_UPDATE_CHECK=1   skip the once-a-day check for a newer "
                         "Kestal (or: kestal update --off)");
    for (std::size_t i : {1u, 14u, 23u})
        EXPECT_EQ(lines[i], "") << "line " << i + 1;
    // The command lines' descriptions start in the 55th column.
    for (std::size_t i = 3; i <= 12; ++i) {
        ASSERT_GT(lines[i].size(), 55u) << "line " << i + 1;
        EXPECT_EQ(lines[i].substr(52, 2), "  ") << "line " << i + 1;
        EXPECT_NE(lines[i][54], ' ') << "line " << i + 1;
    }
}

} // namespace
} // namespace kestal
