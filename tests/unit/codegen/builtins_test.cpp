// The lowering of f-string format specs: each field becomes one printf
// format, a padding call or a grouping call, checked on the generated C.
// What the programs print is covered by the program tests of the fstrings
// and builtins areas.
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
        {"{n:<08}", "ktl_sb_fmt_i(&sb, \"%0-8lld\", v_n);"},
        {"{n:>+5}", "ktl_sb_fmt_i(&sb, \"%+5lld\", v_n);"},
        {"{n:.2}", "ktl_sb_fmt_i(&sb, \"%.2lld\", v_n);"},
        {"{n:x}", "ktl_fs_radix(&sb, v_n, 'x', -1, 0, 0);"},
        {"{n:08X}", "ktl_fs_radix(&sb, v_n, 'X', -1, KTL_FS_ZERO, 8);"},
        {"{n:o}", "ktl_fs_radix(&sb, v_n, 'o', -1, 0, 0);"},
        {"{n:<+012.3x}",
         "ktl_fs_radix(&sb, v_n, 'x', 3, KTL_FS_PLUS | KTL_FS_ZERO | KTL_FS_LEFT, 12);"},
        {"{n:>.o}", "ktl_fs_radix(&sb, v_n, 'o', 0, 0, 0);"},
        {"{n:.2f}", "ktl_sb_fmt_f(&sb, \"%.2f\", (double)(v_n));"},
        {"{x:8.3f}", "ktl_sb_fmt_f(&sb, \"%8.3f\", (double)(v_x));"},
        {"{x:08.3f}", "ktl_sb_fmt_f(&sb, \"%08.3f\", (double)(v_x));"},
        {"{x:.2}", "ktl_sb_fmt_f(&sb, \"%.2g\", v_x);"},
        {"{x:+}", "ktl_sb_fmt_f(&sb, \"%+g\", v_x);"},
        {"{x:.f}", "ktl_sb_fmt_f(&sb, \"%.f\", (double)(v_x));"},
        {"{x:.1%}",
         "ktl_sb_fmt_f(&sb, \"%.1f\", (double)(v_x) * 100.0); ktl_sb_add(&sb, KTL_LIT(\"%\"));"},
        {"{x:}", "ktl_sb_float(&sb, v_x);"},
        {"{s:>10}", "ktl_sb_pad(&sb, v_s, 10, false);"},
        {"{s:10}", "ktl_sb_pad(&sb, v_s, 10, true);"},
        {"{s!r:<6}", "ktl_print_repr_s(_x"},
        {"{s!r:<6}", "ktl_sb_done(&sb); }), 6, true);"},
        {"{b:>6}", "ktl_sb_pad(&sb, ktl_bool_str(v_b), 6, false);"},
        {"{b:s}", "ktl_sb_pad(&sb, ktl_bool_str(v_b), 0, true);"},
        {"{b}", "ktl_sb_add(&sb, ktl_bool_str(v_b));"},
        {"{n:,}", "ktl_sb_group_i(&sb, \"%lld\", v_n, ',', 0, false);"},
        {"{n:<+12_d}", "ktl_sb_group_i(&sb, \"%+lld\", v_n, '_', 12, true);"},
        {"{x:,.2f}", "ktl_sb_group_f(&sb, \"%.2f\", (double)(v_x), ',', 0, false);"},
        // The largest C int still lays out; one more raises ValueError, for
        // a width and a precision alike, after the value is computed.
        {"{n:2147483647}", "ktl_sb_fmt_i(&sb, \"%2147483647lld\", v_n);"},
        {"{n:2147483648}", "(void)(v_n); ktl_raise_c(KTL_E_ValueError, \"Too many decimal digits "
                           "in format string\");"},
        {"{x:.99999999999999999999f}", "(void)(v_x); ktl_raise_c(KTL_E_ValueError, \"Too many "
                                       "decimal digits in format string\");"},
        {"{s:99999999999999999999}", "(void)(v_s); ktl_raise_c(KTL_E_ValueError, \"Too many "
                                     "decimal digits in format string\");"},
    };
    for (const Case &c : cases) {
        std::string source = "n = 5\nx = 1.5\ns = \"a\"\nb = True\nt = f\"" + c.field + "\"\n";
        std::string text = lowered(source);
        EXPECT_NE(text.find(c.expected), std::string::npos) << c.field;
    }
}

// Grouping code is compiled into the runtime only when a field uses it.
TEST(CodegenBuiltinsFormat, GroupingSwitchOnlyWhenUsed) {
    EXPECT_NE(lowered("n = 5\nprint(f\"{n:,}\")\n").find("#define KTL_GROUPING 1"),
              std::string::npos);
    EXPECT_EQ(lowered("n = 5\nprint(f\"{n:8}\")\n").find("#define KTL_GROUPING"),
              std::string::npos);
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
        {"round(n, -1)", "ktl_round_n(((double)(v_n)), INT64_C(-1))"},
        {"round(x, 2)", "ktl_round_n((v_x), INT64_C(2))"},
        {"math.isqrt(n)", "ktl_isqrt(v_n)"},
        // The math functions raise Python's errors through the runtime.
        {"math.sqrt(n)", "ktl_math_sqrt(((double)(v_n)))"},
        {"math.log(x, 2)", "ktl_math_log_base((v_x), ((double)(INT64_C(2))))"},
        {"math.pow(x, n)", "ktl_math_pow((v_x), ((double)(v_n)))"},
        // The built-in pow() is the float power, ints included.
        {"pow(n, 2)", "ktl_fpow(((double)(v_n)), ((double)(INT64_C(2))))"},
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
        // No '#' form, no 'b', no 'c' or 'n'.
        {"n = 5\nprint(f\"{n:#x}\")\n", "2:10: unsupported format spec ':#x'"},
        {"n = 5\nprint(f\"{n:b}\")\n", "2:10: format spec ':b' doesn't apply to an int"},
        {"n = 5\nprint(f\"{n:c}\")\n", "2:10: format spec ':c' doesn't apply to an int"},
        {"x = 2.5\nprint(f\"{x:n}\")\n", "2:10: format spec ':n' doesn't apply to a float"},
        {"x = 2.5\nprint(f\"{x:d}\")\n", "2:10: format spec ':d' doesn't apply to a float"},
        // A bool with a spec is its text: no number forms.
        {"b = True\nprint(f\"{b:d}\")\n", "2:10: format spec ':d' doesn't apply to a bool"},
        {"b = True\nprint(f\"{b:x}\")\n", "2:10: format spec ':x' doesn't apply to a bool"},
        {"b = True\nprint(f\"{b:.1f}\")\n", "2:10: format spec ':.1f' doesn't apply to a bool"},
        {"b = True\nprint(f\"{b:+}\")\n", "2:10: format spec ':+' doesn't apply to a bool"},
        {"b = True\nprint(f\"{b:05}\")\n", "2:10: format spec ':05' doesn't apply to a bool"},
        {"b = True\nprint(f\"{b:,}\")\n",
         "2:10: format spec ':,' doesn't apply to a bool (a separator works with d, f, e and E)"},
        {"s = \"a\"\nprint(f\"{s:.2}\")\n", "2:10: format spec ':.2' doesn't apply to a str"},
        {"s = \"a\"\nprint(f\"{s:%}\")\n", "2:10: format spec ':%' doesn't apply to a str"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(c.source), c.error) << c.source;
}

} // namespace
} // namespace kestal::testing
