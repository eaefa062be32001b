// Module constants: which top-level names are bound once to a value known
// before the program runs, and the value.
#include "analysis/constants.h"
#include "parser/parser.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <string>
#include <vector>

namespace kestal {
namespace {

std::string show(const Expr &value) {
    if (const auto *i = value.as<Expr::Int>())
        return fmt::format("{}", i->value);
    if (const auto *f = value.as<Expr::Float>())
        return fmt::format("{}f", f->value);
    if (const auto *s = value.as<Expr::Str>())
        return "'" + s->value + "'";
    if (const auto *b = value.as<Expr::Bool>())
        return b->value ? "True" : "False";
    return "?";
}

std::string constants_of(const std::string &source) {
    std::vector<std::string> out;
    for (const auto &[name, value] : find_module_constants(parse_module(source)))
        out.push_back(name + "=" + show(value));
    return fmt::format("{}", fmt::join(out, " "));
}

struct Row {
    const char *source;
    const char *constants;
};

TEST(ModuleConstants, ValuesAndWhatDisqualifies) {
    const std::vector<Row> rows = {
        {"N = 4\nF = 2.5\nS = 'ab'\nB = True\n", "B=True F=2.5f N=4 S='ab'"},
        {"x: int = 3\n", "x=3"},
        // Arithmetic of literals and of earlier constants, as the program
        // computes it: floor division and modulo round toward -inf.
        {"A = 7\nB = -A // 2\nC = -A % 3\nD = A * 2 - 1\nE = A / 2\nF = 'x' + 'y'\nG = ~A\n",
         "A=7 B=-4 C=2 D=13 E=3.5f F='xy' G=-8"},
        {"A = 1.5\nB = A * 2\nC = not True\nD = (6 & 3) | 8 ^ 1\n", "A=1.5f B=3f C=False D=11"},
        // Not constant: a later or unknown name, a call, a failing or
        // overflowing operation, an operation left to run time.
        {"A = B\nB = 1\n", "B=1"},
        {"A = len('x')\nB = [1]\nC = None\n", ""},
        {"A = 1 // 0\nB = 1.0 / 0.0\nC = 9223372036854775807 + 1\nD = 2 ** 3\nE = 1 << 2\n", ""},
        {"A = 1e308 * 10.0\nB = 9007199254740993 * 1.0\nC = True + 1\nD = 'a' * 2\n", ""},
        // Bound again anywhere, or bound other than by one top-level assignment.
        {"N = 1\nN = 2\n", ""},
        {"N = 1\nN += 1\n", ""},
        {"N = 1\nif N:\n    M = 2\n", "N=1"},
        {"N = 1\nfor N in range(3):\n    pass\n", ""},
        {"N = 1\nv = [N for N in range(3)]\n", ""},
        {"N = 1\ndel N\n", ""},
        {"N = 1\ntry:\n    pass\nexcept ValueError as N:\n    pass\n", ""},
        {"N = 1\nwith open('f') as N:\n    pass\n", ""},
        {"N = 1\na, N = 2, 3\n", ""},
        {"N = 1\ndef f() -> None:\n    global N\n    N = 2\n", ""},
        {"N = 1\nclass C:\n    def m(self) -> None:\n        global N\n        N = 2\n", ""},
        {"N = 1\ndef f() -> None:\n    N = 2\n", "N=1"},
        {"from math import pi\npi = 3.0\n", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(constants_of(row.source), row.constants) << row.source;
}

} // namespace
} // namespace kestal
