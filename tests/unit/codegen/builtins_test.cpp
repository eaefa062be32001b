// The lowering of f-string format specs: which fields printf lays out (its
// output is Python's there) and which go to the runtime's Python-exact
// layout functions, checked on the generated C, and what they print; and
// the checked conversions of floats to ints.
#include "codegen_fixture.h"

#include <regex>
#include <string>
#include <vector>

namespace kestal::testing {
namespace {

// The generated C with every builder temporary written "&sb".
std::string lowered(const std::string &source) {
    static const std::regex builder("&_sb[0-9]+");
    return std::regex_replace(generate(source).c_text, builder, "&sb");
}

// The program section of the generated C: the text after the runtime.
std::string program_section(const std::string &source) {
    std::string c = lowered(source);
    size_t at = c.find("/* ======== program ======== */");
    EXPECT_NE(at, std::string::npos);
    return at == std::string::npos ? c : c.substr(at);
}

// Each field goes to exactly one way of laying it out: printf (ktl_sb_fmt_*,
// where its output is Python's), the runtime's Python-exact layouts
// (ktl_fs_*), the grouping ones, or the plain conversions of a field without
// a spec.
TEST(CodegenBuiltinsFormat, FieldLowerings) {
    const std::vector<std::string> routes = {
        "ktl_sb_int(",  "ktl_sb_float(",   "ktl_bool_str(",   "ktl_sb_fmt_i(",  "ktl_sb_fmt_f(",
        "ktl_fs_int(",  "ktl_fs_float(",   "ktl_fs_text(",    "ktl_sb_group_i(", "ktl_sb_group_f(",
    };
    struct Case {
        std::string field;
        std::string route;
    };
    const std::vector<Case> cases = {
        {"{n}", "ktl_sb_int("},
        {"{n:<10}", "ktl_sb_fmt_i("},
        {"{n:+08d}", "ktl_sb_fmt_i("},
        {"{n:<08}", "ktl_fs_int("},
        {"{n:>+5}", "ktl_sb_fmt_i("},
        {"{n:#d}", "ktl_fs_int("},
        {"{n:x}", "ktl_fs_int("},
        {"{n:#010b}", "ktl_fs_int("},
        {"{n:.2f}", "ktl_sb_fmt_f("},
        {"{x:8.3f}", "ktl_sb_fmt_f("},
        {"{x:08.3f}", "ktl_fs_float("},
        {"{x:.2}", "ktl_fs_float("},
        {"{x:+}", "ktl_fs_float("},
        {"{x:.1%}", "ktl_fs_float("},
        {"{x:#g}", "ktl_fs_float("},
        {"{x:}", "ktl_sb_float("},
        {"{s:>10}", "ktl_fs_text("},
        {"{s:10}", "ktl_fs_text("},
        {"{s!r:<6}", "ktl_fs_text("},
        {"{b:>3}", "ktl_sb_fmt_i("},
        {"{b}", "ktl_bool_str("},
        {"{n:,}", "ktl_sb_group_i("},
        {"{n:<+12_d}", "ktl_sb_group_i("},
        {"{x:,.2f}", "ktl_sb_group_f("},
        {"{n:99999999999}", "ktl_fs_int("},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.field);
        std::string source = "n = 5\nx = 1.5\ns = \"a\"\nb = True\nt = f\"" + c.field + "\"\n";
        std::string text = program_section(source);
        std::vector<std::string> used;
        for (const std::string &route : routes)
            if (text.find(route) != std::string::npos) used.push_back(route);
        EXPECT_EQ(used, std::vector<std::string>{c.route}) << text;
    }
    // A width too wide for printf reaches the runtime whole.
    EXPECT_NE(program_section("n = 5\nt = f\"{n:99999999999}\"\n").find(", 99999999999)"),
              std::string::npos);
}

// The same fields run, with values that show each part of the spec; Python
// prints the same.
TEST(CodegenBuiltinsFormat, FieldsPrintLikePython) {
    struct Case {
        std::string field;
        std::string printed;
    };
    const std::vector<Case> cases = {
        {"{n}", "42"},
        {"{n:<10}", "42        "},
        {"{n:+08d}", "+0000042"},
        {"{n:<08}", "42000000"},
        {"{n:>+5}", "  +42"},
        {"{n:#d}", "42"},
        {"{n:x}", "2a"},
        {"{n:#010b}", "0b00101010"},
        {"{n:.2f}", "42.00"},
        {"{x:8.3f}", "   3.142"},
        {"{x:08.3f}", "0003.142"},
        {"{x:.2}", "3.1"},
        {"{x:+}", "+3.14159"},
        {"{x:.1%}", "314.2%"},
        {"{x:#g}", "3.14159"},
        {"{x:}", "3.14159"},
        {"{s:>10}", "        ab"},
        {"{s:10}", "ab        "},
        {"{s!r:<6}", "'ab'  "},
        {"{b:>3}", "  1"},
        {"{b}", "True"},
        {"{big:,}", "1,234,567"},
        {"{big:<+12_d}", "+1_234_567  "},
        {"{w:,.2f}", "1,234.57"},
        {"{m:<08}", "-4200000"},
        {"{m:#x}", "-0x2a"},
        {"{m:+08d}", "-0000042"},
        {"{y:08.3f}", "-000.500"},
        {"{y:.1%}", "-50.0%"},
    };
    std::string source = "n = 42\nbig = 1234567\nm = -42\nx = 3.14159\nw = 1234.5678\ny = -0.5\n"
                         "s = \"ab\"\nb = True\n";
    std::string expected;
    for (const Case &c : cases) {
        source += "print(f\"[" + c.field + "]\")\n";
        expected += "[" + c.printed + "]\n";
    }
    RunResult r = run_source(source, "format_fields");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, expected);
}

// Grouping code is compiled into the runtime only when a field uses it.
TEST(CodegenBuiltinsFormat, GroupingSwitchOnlyWhenUsed) {
    EXPECT_NE(lowered("n = 5\nprint(f\"{n:,}\")\n").find("#define KTL_GROUPING 1"), std::string::npos);
    EXPECT_EQ(lowered("n = 5\nprint(f\"{n:8}\")\n").find("#define KTL_GROUPING"), std::string::npos);
}

// A float becomes an int only through the runtime's checked conversions
// (NaN and infinities raise, as the builtins program tests show); the
// values are Python's, rounding half to even.
TEST(CodegenBuiltinsConversions, CheckedFloatToIntConversions) {
    struct Case {
        std::string call;
        std::string check;
    };
    const std::vector<Case> cases = {
        {"int(x)", "ktl_float_to_int("},
        {"round(x)", "ktl_round("},
        {"floor(x)", "ktl_float_to_int(floor("},
        {"ceil(x)", "ktl_float_to_int(ceil("},
        {"round(n, -1)", "ktl_iround_n("},
        {"round(x, 2)", "ktl_round_n("},
        {"math.isqrt(n)", "ktl_isqrt("},
    };
    for (const Case &c : cases) {
        std::string source = "import math\nn = 5\nx = 1.5\nprint(" + c.call + ")\n";
        std::string text = lowered(source);
        EXPECT_NE(text.find(c.check), std::string::npos) << c.call;
    }
    std::string source = R"(import math
n = 25
x = -2.5
print(int(x), int(2.7), round(x), round(3.5), floor(x), ceil(x), floor(2.0))
print(round(n, -1), round(15, -1), round(-25, -1), round(1234, -2), round(2.675, 2), round(x, 0))
print(math.isqrt(n), math.isqrt(26), math.sqrt(n), math.sqrt(2))
)";
    RunResult r = run_source(source, "float_to_int");
    ASSERT_EQ(r.cc_errors, "");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "-2 2 -2 4 -3 -2 2\n20 20 -20 1200 2.67 -2.0\n5 5 5.0 1.4142135623730951\n");
}

// Each built-in's refusal, with its message and position.
TEST(CodegenBuiltinsConversions, Rejections) {
    struct Case {
        const char *source;
        const char *error;
    };
    const std::vector<Case> cases = {
        {"print(len(None))\n", "1:7: None has no len()"},
        {"print(repr())\n", "1:7: repr() takes 1 argument(s), got 0"},
        {"print(str(1, 2))\n", "1:7: str() takes 0 to 1 argument(s), got 2"},
        {"print(abs(True))\n", "1:7: abs() needs a number, not bool"},
        {"print(ceil(None))\n", "1:7: ceil() needs a number, not None"},
        {"print(round(2.5, 1.0))\n", "1:7: round() digits must be int"},
        {"print(sqrt(True))\n", "1:12: sqrt() needs a number, not bool"},
        {"print(hypot(1))\n", "1:7: hypot() takes 2 argument(s), got 1"},
        {"import math\nprint(math.e(1))\n", "2:7: math.e is a constant, not a function"},
        {"import math\nprint(math.isqrt(True))\n", "2:18: isqrt() argument must be int, not bool"},
        {"x = 2.5\nprint(f\"{x:F}\")\n", "2:10: format spec ':F' doesn't apply to a float"},
        {"n = 5\nprint(f\"{n:*<10}\")\n", "2:10: unsupported format spec ':*<10'"},
        // A precision needs its digits (printf would read "%.f" as "%.0f").
        {"x = 2.5\nprint(f\"{x:.f}\")\n", "2:10: unsupported format spec ':.f'"},
        {"n = 5\nprint(f\"{n:8.}\")\n", "2:10: unsupported format spec ':8.'"},
        {"s = \"a\"\nprint(f\"{s:%}\")\n", "2:10: format spec ':%' doesn't apply to a str"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

} // namespace
} // namespace kestal::testing
