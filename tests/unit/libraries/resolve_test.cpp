// Import resolution: the search list built from the environment and the
// source path, and the choice of the first copy of a library in it.
#include "libraries/resolve.h"

#include "parser/parser.h"
#include "tests/unit/platform/test_support.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace kestal {
namespace {

using platform::test_support::ScopedEnv;
using platform::test_support::ScratchDir;

std::string joined(const std::vector<std::filesystem::path> &folders) {
    std::vector<std::string> texts;
    for (const auto &folder : folders)
        texts.push_back(folder.string());
    return fmt::format("{}", fmt::join(texts, " | "));
}

TEST(LibrarySearch, SearchList) {
    struct Row {
        std::optional<std::string> kestal_libs;
        std::optional<std::string> local_app_data;
        std::optional<std::string> xdg_data_home;
        std::optional<std::string> source_path;
        std::string expected;
    };
    const Row rows[] = {
        {std::nullopt, "/data", std::nullopt, "prog.ktl", "libraries | /data/Kestal/libraries"},
        {"/a:/b", "/data", "/xdg", "src/prog.ktl",
         "/a | /b | src/libraries | /data/Kestal/libraries"},
        // An empty entry, and so an empty value, is the current folder.
        {"", "/data", std::nullopt, "/x/p.ktl", ". | /x/libraries | /data/Kestal/libraries"},
        {"/a::b:", std::nullopt, "/xdg", "p.ktl",
         "/a | . | b | . | libraries | /xdg/Kestal/libraries"},
        // No source file (an editor buffer): no folder beside it.
        {"/a", "/data", std::nullopt, std::nullopt, "/a | /data/Kestal/libraries"},
        // A relative XDG_DATA_HOME doesn't count; HOME is the last resort.
        {std::nullopt, std::nullopt, "rel", "p.ktl",
         "libraries | /home/k/.local/share/Kestal/libraries"},
    };
    for (const Row &row : rows) {
        ScopedEnv env;
        env.put("KESTAL_LIBS", row.kestal_libs);
        env.put("LOCALAPPDATA", row.local_app_data);
        env.put("XDG_DATA_HOME", row.xdg_data_home);
        env.set("HOME", "/home/k");
        EXPECT_EQ(joined(library_search_list(row.source_path)), row.expected)
            << row.kestal_libs.value_or("(unset)");
    }
}

// A header-only library whose constant WHICH names the copy it came from.
void write_library(const ScratchDir &scratch, const std::string &folder, const std::string &name,
                   const std::string &which) {
    scratch.write(fmt::format("{}/{}/library.json", folder, name),
                  fmt::format(R"({{"name": "{}", "version": "1", "constants": {{"WHICH": )"
                              R"(["str", "{}"]}}}})",
                              name, which));
    scratch.write(fmt::format("{}/{}/{}.h", folder, name, name), "");
}

// The outcome of resolving the source's imports: each loaded library with
// its WHICH, or the error with its position.
std::string resolve(const std::string &source, const std::string &source_path) {
    Program program = parse_module(source);
    std::string out;
    try {
        resolve_imports(program, source_path);
    } catch (const CompileError &error) {
        out = fmt::format("error {}:{} {} | ", error.line, error.column, error.message);
    }
    for (const auto &[name, library] : program.libraries)
        out += fmt::format("{}={} ", name, library.constants.at("WHICH").expr);
    return out;
}

TEST(LibrarySearch, FirstCopyInTheSearchOrderWins) {
    ScratchDir scratch;
    write_library(scratch, "first", "alpha", "first");
    write_library(scratch, "second", "alpha", "second");
    write_library(scratch, "second", "beta", "second");
    write_library(scratch, "src/libraries", "beta", "beside");
    write_library(scratch, "src/libraries", "gamma", "beside");
    write_library(scratch, "data/Kestal/libraries", "gamma", "installed");
    write_library(scratch, "data/Kestal/libraries", "delta", "installed");
    // A folder of the right name without a manifest is passed over.
    scratch.write("first/beta/beta.h", "");
    scratch.write("first/delta/notes.txt", "");

    ScopedEnv env;
    env.set("KESTAL_LIBS", scratch / "first" + ":" + scratch / "second");
    env.set("LOCALAPPDATA", scratch / "data");
    std::string source = "import alpha\nimport beta, gamma\nimport alpha\n"
                         "def f():\n    import delta\n";
    EXPECT_EQ(resolve(source, scratch / "src/prog.ktl"),
              "alpha=(first) beta=(second) delta=(installed) gamma=(beside) ");
    // Without KESTAL_LIBS the folder beside the source comes first.
    env.unset("KESTAL_LIBS");
    EXPECT_EQ(resolve("import beta\n", scratch / "src/prog.ktl"), "beta=(beside) ");
}

TEST(LibrarySearch, Failures) {
    ScratchDir scratch;
    write_library(scratch, "good", "alpha", "good");
    write_library(scratch, "good", "beta", "good");
    scratch.write("broken/beta/library.json", R"({"name": "beta"})");
    ScopedEnv env;
    env.set("KESTAL_LIBS", scratch / "broken" + ":" + scratch / "good");
    env.set("LOCALAPPDATA", scratch / "nothing");

    // A broken first copy is never hidden by a good one further down; the
    // libraries loaded before it stay.
    EXPECT_EQ(resolve("import alpha\nx = 1\nimport   beta\nimport zeta\n", scratch / "p.ktl"),
              fmt::format("error 3:10 {}/broken/beta/library.json: \"version\" is missing | "
                          "alpha=(good) ",
                          scratch.path()));
    EXPECT_EQ(resolve("import alpha, nosuchlib\n", scratch / "p.ktl"),
              "error 1:15 no module or library named 'nosuchlib'. Install it with: kestal "
              "install nosuchlib | alpha=(good) ");
    EXPECT_EQ(resolve("from nosuchlib import f\n", scratch / "p.ktl"),
              "error 1:6 no module or library named 'nosuchlib'. Install it with: kestal "
              "install nosuchlib | ");
    // A module of Python's standard library is named as such, not offered
    // as a library to install; a library folder of that name still wins.
    const std::string builtin = "(built in: math, time, random, sys, os, os.path, typing, "
                                "dataclasses, parallel) | ";
    EXPECT_EQ(resolve("import json\n", scratch / "p.ktl"),
              "error 1:8 module 'json' of Python's standard library isn't available in Kestal " +
                  builtin);
    EXPECT_EQ(resolve("x = 1\nfrom collections import deque\n", scratch / "p.ktl"),
              "error 2:6 module 'collections' of Python's standard library isn't available in "
              "Kestal " +
                  builtin);
    EXPECT_EQ(resolve("import __future__\n", scratch / "p.ktl"),
              "error 1:8 module '__future__' of Python's standard library isn't available in "
              "Kestal " +
                  builtin);
    write_library(scratch, "good", "csv", "good");
    EXPECT_EQ(resolve("import csv\n", scratch / "p.ktl"), "csv=(good) ");
}

TEST(LibrarySearch, BuiltInModulesNeedNothing) {
    ScopedEnv env;
    env.set("KESTAL_LIBS", "/nonexistent");
    env.unset("LOCALAPPDATA");
    env.unset("XDG_DATA_HOME");
    env.unset("HOME");
    EXPECT_EQ(resolve("import math, os.path\nfrom time import time\n", "p.ktl"), "");
}

} // namespace
} // namespace kestal
