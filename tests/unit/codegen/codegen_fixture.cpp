#include "codegen_fixture.h"

#include "main/c_compiler.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

namespace kestal::testing {

namespace {

std::string read_file(const std::filesystem::path &p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

int run_shell(const std::string &command) {
    int raw = std::system(command.c_str());
    if (raw == -1)
        return -1;
    if (WIFEXITED(raw))
        return WEXITSTATUS(raw);
    return 128 + WTERMSIG(raw);
}

} // namespace

CodegenOutput generate(const std::string &source, const std::string &path) {
    Program program = parse_module(source);
    return generate_program(program, CodegenOptions{path, false});
}

RunResult build_and_run(const std::string &c_text, const std::string &name) {
    std::filesystem::path dir = std::filesystem::path(KESTAL_TEST_BIN_DIR) / "codegen-work";
    std::filesystem::create_directories(dir);
    std::filesystem::path c_file = dir / (name + ".c");
    std::filesystem::path exe = dir / name;
    std::filesystem::path cc_log = dir / (name + ".cc.txt");
    std::filesystem::path out = dir / (name + ".out.txt");
    std::filesystem::path err = dir / (name + ".err.txt");
    {
        std::ofstream f(c_file, std::ios::binary);
        f << c_text;
    }
    RunResult result;
    std::string cc = fmt::format("gcc {} -o '{}' '{}' -lm > '{}' 2>&1", fmt::join(kFixedFlags, " "),
                                 exe.string(), c_file.string(), cc_log.string());
    if (run_shell(cc) != 0) {
        result.cc_errors = read_file(cc_log);
        if (result.cc_errors.empty())
            result.cc_errors = "the C compiler failed";
        return result;
    }
    result.status = run_shell(fmt::format("cd '{}' && '{}' > '{}' 2> '{}' < /dev/null",
                                          dir.string(), exe.string(), out.string(), err.string()));
    result.out = read_file(out);
    result.err = read_file(err);
    return result;
}

RunResult run_source(const std::string &source, const std::string &name) {
    std::string c_text;
    try {
        c_text = generate(source).c_text;
    } catch (const CompileError &e) {
        RunResult r;
        r.cc_errors = fmt::format("rejected: {}:{}: {}", e.line, e.column, e.message);
        return r;
    }
    return build_and_run(c_text, name);
}

std::string rejection(const std::string &source) {
    try {
        generate(source);
    } catch (const CompileError &e) {
        return fmt::format("{}:{}: {}", e.line, e.column, e.message);
    }
    return "(none)";
}

std::string program_c(const std::string &source) {
    std::string c = generate(source).c_text;
    size_t at = c.find("/* ======== program ======== */");
    EXPECT_NE(at, std::string::npos);
    return at == std::string::npos ? c : c.substr(at);
}

} // namespace kestal::testing
