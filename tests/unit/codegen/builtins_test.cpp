// The lowering of f-string format specs: which fields printf lays out (its
// output is Python's there) and which go to the runtime's Python-exact
// layout functions, checked on the generated C. What the programs print is
// covered by the program tests of the fstrings and builtins areas.
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

TEST(CodegenBuiltinsFormat, FieldLowerings) {
    struct Case {
        std::string field;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"{n}", "ktl_sb_int(&sb, v_n);"},
        {"{n:<10}", "ktl_sb_fmt_i(&sb, \"%-10lld\", v_n);"},
        {"{n:+08d}", "ktl_sb_fmt_i(&sb, \"%+08lld\", v_n);"},
        {"{n:<08}", "ktl_fs_int(&sb, v_n, 'd', KTL_FS_ZERO | KTL_FS_LEFT, 8);"},
        {"{n:>+5}", "ktl_sb_fmt_i(&sb, \"%+5lld\", v_n);"},
        {"{n:#d}", "ktl_fs_int(&sb, v_n, 'd', KTL_FS_ALT, 0);"},
        {"{n:x}", "ktl_fs_int(&sb, v_n, 'x', 0, 0);"},
        {"{n:#010b}", "ktl_fs_int(&sb, v_n, 'b', KTL_FS_ALT | KTL_FS_ZERO, 10);"},
        {"{n:.2f}", "ktl_sb_fmt_f(&sb, \"%.2f\", (double)(v_n));"},
        {"{x:8.3f}", "ktl_sb_fmt_f(&sb, \"%8.3f\", (double)(v_x));"},
        {"{x:08.3f}", "ktl_fs_float(&sb, (double)(v_x), 'f', 3, KTL_FS_ZERO, 8);"},
        {"{x:.2}", "ktl_fs_float(&sb, (double)(v_x), 0, 2, 0, 0);"},
        {"{x:+}", "ktl_fs_float(&sb, (double)(v_x), 0, -1, KTL_FS_PLUS, 0);"},
        {"{x:.1%}", "ktl_fs_float(&sb, (double)(v_x), '%', 1, 0, 0);"},
        {"{x:#g}", "ktl_fs_float(&sb, (double)(v_x), 'g', -1, KTL_FS_ALT, 0);"},
        {"{x:}", "ktl_sb_float(&sb, v_x);"},
        {"{s:>10}", "ktl_fs_text(&sb, v_s, KTL_FS_RIGHT, 10);"},
        {"{s:10}", "ktl_fs_text(&sb, v_s, 0, 10);"},
        {"{s!r:<6}", "ktl_print_repr_s(_x"},
        {"{s!r:<6}", "ktl_sb_done(&sb); }), 0, 6);"},
        {"{b:>3}", "ktl_sb_fmt_i(&sb, \"%3lld\", ((int64_t)(v_b)));"},
        {"{b}", "ktl_sb_add(&sb, ktl_bool_str(v_b));"},
        {"{n:,}", "ktl_sb_group_i(&sb, \"%lld\", v_n, ',', 0, false);"},
        {"{n:<+12_d}", "ktl_sb_group_i(&sb, \"%+lld\", v_n, '_', 12, true);"},
        {"{x:,.2f}", "ktl_sb_group_f(&sb, \"%.2f\", (double)(v_x), ',', 0, false);"},
        {"{n:99999999999}", "ktl_fs_int(&sb, v_n, 'd', 0, 99999999999);"},
    };
    for (const Case &c : cases) {
        std::string source = "n = 5\nx = 1.5\ns = \"a\"\nb = True\nt = f\"" + c.field + "\"\n";
        std::string text = lowered(source);
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.field;
    }
}

// Grouping code is compiled into the runtime only when a field uses it.
TEST(CodegenBuiltinsFormat, GroupingSwitchOnlyWhenUsed) {
    EXPECT_NE(lowered("n = 5\nprint(f\"{n:,}\")\n").find("#define KTL_GROUPING 1"), std::string::npos);
    EXPECT_EQ(lowered("n = 5\nprint(f\"{n:8}\")\n").find("#define KTL_GROUPING"), std::string::npos);
}

TEST(CodegenBuiltinsConversions, CheckedFloatToIntConversions) {
    struct Case {
        std::string call;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"int(x)", "ktl_float_to_int(v_x)"},
        {"round(x)", "ktl_round(v_x)"},
        {"floor(x)", "ktl_float_to_int(floor(v_x))"},
        {"ceil(x)", "ktl_float_to_int(ceil(v_x))"},
        {"round(n, -1)", "ktl_iround_n(v_n, INT64_C(-1))"},
        {"round(x, 2)", "ktl_round_n(v_x, INT64_C(2))"},
        {"math.isqrt(n)", "ktl_isqrt(v_n)"},
        {"math.sqrt(n)", "sqrt(((double)(v_n)))"},
    };
    for (const Case &c : cases) {
        std::string source = "import math\nn = 5\nx = 1.5\nprint(" + c.call + ")\n";
        std::string text = lowered(source);
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.call;
    }
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
