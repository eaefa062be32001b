/* The string builder, f-string number formats (never cut, however wide),
 * digit grouping, padding, reprs through a capture, nested captures and
 * captures around a half-full output buffer. test_strbuilder.py prints what
 * Python prints. */
// warnings: error
#define KTL_GROUPING 1
#include "kestal_runtime.c"
#include "test_support.h"

static ktl_str S(const char *c) {
    return ktl_mkstr(c, (int64_t)strlen(c));
}

static void line(ktl_str s) {
    ktl_print_s(s);
    ktl_write("|", 1);
    ktl_newline();
}

static const int64_t ints[] = {0,       7,      -7,      255,       1234,     -1234,
                               1234567, 999999, 1000000, INT64_MAX, INT64_MIN};
static const char *const ifmts[] = {"%lld",   "%5lld",   "%-5lld",  "%+lld",
                                    "%05lld", "%500lld", "%-300lld"};
static const char *const xfmts[] = {"%llx", "%llX", "%llo", "%40llx"};

static double fv(int i) {
    static const char *const t[] = {"0.0",    "-0.0",        "1.5",        "2.5", "1234.5678",
                                    "-0.001", "1e300",       "1e-300",     "inf", "-inf",
                                    "nan",    "1234567.891", "-9876543.21"};
    return strtod(t[i], NULL);
}
static const int NF = 13;
static const char *const ffmts[] = {"%.2f",  "%10.3f", "%-10.1f", "%e",     "%.3E", "%g",
                                    "%+.1f", "%.0f",   "%400.2f", "%.300f", "%f",   "%G"};

typedef struct {
    const char *fmt;
    char sep;
    int64_t width;
    bool left;
} group_case;

static const group_case igroups[] = {{"%lld", ',', 0, false},
                                     {"%lld", '_', 0, false},
                                     {"%+lld", ',', 12, false},
                                     {"%lld", ',', 12, true},
                                     {"%lld", '_', 500, false}};
static const group_case fgroups[] = {{"%.2f", ',', 0, false},
                                     {"%+.3e", '_', 20, true},
                                     {"%f", ',', 0, false},
                                     {"%.1f", '_', 30, false},
                                     {"%.2E", ',', 0, false}};

/* A Python format spec "[<>][+][#][0][width][.precision][type]" applied
   through the layout functions, the way the compiler passes it. */
static void kt_fs(const char *spec, bool is_float, int64_t iv, double fv) {
    int flags = 0;
    int64_t width = 0, prec = -1;
    const char *p = spec;
    if (*p == '<' || *p == '>') flags |= *p++ == '<' ? KTL_FS_LEFT : KTL_FS_RIGHT;
    if (*p == '+') flags |= KTL_FS_PLUS, p++;
    if (*p == '#') flags |= KTL_FS_ALT, p++;
    if (*p == '0') flags |= KTL_FS_ZERO, p++;
    while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
    if (*p == '.') {
        prec = 0;
        for (p++; *p >= '0' && *p <= '9'; p++) prec = prec * 10 + (*p - '0');
    }
    ktl_sb b;
    ktl_sb_init(&b);
    if (is_float) ktl_fs_float(&b, fv, *p, prec, flags, width);
    else ktl_fs_int(&b, iv, *p ? *p : 'd', flags, width);
    line(ktl_sb_done(&b));
}

/* x, X and o through ktl_fs_radix, the spec written as a printf format
   "%[-+0][width][.precision]type" with the flags the compiler passes. A
   non-negative int without '+' lays out exactly as printf's unsigned
   conversion does (checked here); test_strbuilder.py lays every case out
   as printf lays out a signed one. */
static void kt_radix_table(void) {
    static const int64_t vs[] = {0, 7, 255, -255, -1, INT64_MAX, INT64_MIN};
    static const char *const fmts[] = {"%x",     "%X",    "%o",       "%+x",    "%08x",  "%-8X",
                                       "%+010o", "%.4x",  "%-+12.3x", "%08.3x", "%.0x",  "%.x",
                                       "%30o",   "%-08x", "%+5.0o",   "%-6.0X", "%025o", "%+.25o"};
    for (size_t i = 0; i < sizeof vs / sizeof *vs; i++)
        for (size_t f = 0; f < sizeof fmts / sizeof *fmts; f++) {
            const char *p = fmts[f] + 1;
            int flags = 0;
            int64_t width = 0, prec = -1;
            for (; *p == '-' || *p == '+' || *p == '0'; p++)
                flags |= *p == '-' ? KTL_FS_LEFT : *p == '+' ? KTL_FS_PLUS : KTL_FS_ZERO;
            while (*p >= '0' && *p <= '9')
                width = width * 10 + (*p++ - '0');
            if (*p == '.')
                for (prec = 0, p++; *p >= '0' && *p <= '9'; p++)
                    prec = prec * 10 + (*p - '0');
            ktl_sb b;
            ktl_sb_init(&b);
            ktl_fs_radix(&b, vs[i], *p, prec, flags, width);
            ktl_str got = ktl_sb_done(&b);
            if (vs[i] >= 0 && !(flags & KTL_FS_PLUS)) {
                char c_fmt[32], want[64];
                snprintf(c_fmt, sizeof c_fmt, "%.*sll%c", (int)(p - fmts[f]), fmts[f], *p);
                snprintf(want, sizeof want, c_fmt, (unsigned long long)vs[i]);
                KT_CHECK(got.len == (int64_t)strlen(want) &&
                         memcmp(got.p, want, strlen(want)) == 0);
            }
            line(got);
        }
}

static void kt_fs_table(void) {
    static const int64_t fsi[] = {0, 7, -7, 255, -255, INT64_MAX, INT64_MIN};
    static const char *const ispecs[] = {"d", "x", "X", "#x", "#X", "o", "#o", "b", "#b", "+#x",
                                         "08x", "#010x", ">08d", "<08d", "<+8d", ">#12b", "020b",
                                         "+d", "30d", "<#7o", ">+#6X", "#0100b"};
    static const char *const fsf[] = {"0.0", "-0.0", "1.0", "1.5", "123.0", "99.5", "1234.5678",
                                      "1e16", "1e-5", "0.0001", "1e300", "inf", "-inf", "nan",
                                      "12.0", "0.5", "100.0", "2.675", "-7.25e-300"};
    static const char *const fspecs[] = {"", ".3", ".1", ".0", "#.3", "#", "10", "<10", "010",
                                         ">010", "+", "+.2", "%", ".1%", "010.2%", "#.0f", "#g",
                                         ".0e", "015e", "#.3g", "012g", "G", "E", ">12.3", ".20",
                                         ".60f", "<+012.4", "#.0e", ".17", "#010.3"};
    for (size_t i = 0; i < sizeof fsi / sizeof *fsi; i++)
        for (size_t f = 0; f < sizeof ispecs / sizeof *ispecs; f++) kt_fs(ispecs[f], false, fsi[i], 0);
    for (size_t i = 0; i < sizeof fsf / sizeof *fsf; i++)
        for (size_t f = 0; f < sizeof fspecs / sizeof *fspecs; f++)
            kt_fs(fspecs[f], true, 0, strtod(fsf[i], NULL));
    /* Text pads by characters, left unless aligned right. */
    static const char *const texts[] = {"", "ab", "\xc3\xa9t\xc3\xa9"};
    for (size_t i = 0; i < sizeof texts / sizeof *texts; i++) {
        for (int64_t w = 0; w < 6; w += 2) {
            ktl_sb b;
            ktl_sb_init(&b);
            ktl_fs_text(&b, ktl_mkstr(texts[i], (int64_t)strlen(texts[i])), 0, w);
            ktl_fs_text(&b, ktl_mkstr(texts[i], (int64_t)strlen(texts[i])), KTL_FS_RIGHT, w);
            line(ktl_sb_done(&b));
        }
    }
}

static void ktl_main(void) {
    ktl_sb b;
    /* Growth across the inline buffer. */
    ktl_sb_init(&b);
    for (int i = 0; i < 1000; i++) {
        ktl_sb_int(&b, i);
        ktl_sb_add(&b, KTL_LIT(","));
    }
    ktl_sb_float(&b, 0.1);
    line(ktl_sb_done(&b));
    for (size_t i = 0; i < sizeof ints / sizeof *ints; i++) {
        for (size_t f = 0; f < sizeof ifmts / sizeof *ifmts; f++) {
            ktl_sb_init(&b);
            ktl_sb_fmt_i(&b, ifmts[f], ints[i]);
            line(ktl_sb_done(&b));
        }
        if (ints[i] >= 0)
            for (size_t f = 0; f < sizeof xfmts / sizeof *xfmts; f++) {
                ktl_sb_init(&b);
                ktl_sb_fmt_i(&b, xfmts[f], ints[i]);
                line(ktl_sb_done(&b));
            }
        for (size_t g = 0; g < sizeof igroups / sizeof *igroups; g++) {
            ktl_sb_init(&b);
            ktl_sb_group_i(&b, igroups[g].fmt, ints[i], igroups[g].sep, igroups[g].width,
                           igroups[g].left);
            line(ktl_sb_done(&b));
        }
    }
    double inf = strtod("inf", NULL);
    for (int i = 0; i <= NF; i++) {
        /* The last value is the NaN of inf - inf, whose sign bit is set. */
        double v = i < NF ? fv(i) : inf - inf;
        for (size_t f = 0; f < sizeof ffmts / sizeof *ffmts; f++) {
            ktl_sb_init(&b);
            ktl_sb_fmt_f(&b, ffmts[f], v);
            line(ktl_sb_done(&b));
        }
        for (size_t g = 0; g < sizeof fgroups / sizeof *fgroups; g++) {
            ktl_sb_init(&b);
            ktl_sb_group_f(&b, fgroups[g].fmt, v, fgroups[g].sep, fgroups[g].width,
                           fgroups[g].left);
            line(ktl_sb_done(&b));
        }
    }
    static const char *const pads[] = {"", "abc", "hello world"};
    static const int64_t widths[] = {-1, 0, 3, 5, 12, 300, INT64_MIN};
    for (int i = 0; i < 3; i++)
        for (int w = 0; w < 7; w++)
            for (int left = 0; left < 2; left++) {
                ktl_sb_init(&b);
                ktl_sb_pad(&b, S(pads[i]), widths[w], left);
                line(ktl_sb_done(&b));
            }
    static const char *const reprs[] = {"",           "it's",     "say \"hi\"",  "both ' and \"",
                                        "tab\there",  "nl\ncr\r", "back\\slash", "\x01\x1f\x7f",
                                        "caf\xc3\xa9"};
    for (size_t i = 0; i < sizeof reprs / sizeof *reprs; i++)
        line(ktl_repr_str(S(reprs[i])));
    line(ktl_repr_str(ktl_mkstr("a\0b", 3)));

    /* Captures: ordinary output before, during and after; nested. */
    ktl_str fill = ktl_str_rep(KTL_LIT("o"), 40000);
    ktl_print_s(fill);
    ktl_newline();
    ktl_sb c1, c2;
    ktl_sb_init(&c1);
    ktl_capstate s1 = ktl_cap_begin(&c1);
    ktl_write("x", 1);
    ktl_sb_init(&c2);
    ktl_capstate s2 = ktl_cap_begin(&c2);
    ktl_print_repr_s(KTL_LIT("y"));
    ktl_cap_end(s2);
    ktl_print_i(42);
    /* A captured text larger than the output buffer. */
    ktl_print_s(ktl_str_rep(KTL_LIT("c"), 100000));
    ktl_cap_end(s1);
    ktl_str t1 = ktl_sb_done(&c1), t2 = ktl_sb_done(&c2);
    KT_CHECK(t1.len == 100003);
    line(ktl_str_slice(t1, 0, 10));
    line(t2);
    ktl_print_s(fill);
    ktl_newline();
    /* The default object text: the class name and 16 upper-case digits. */
    ktl_sb_init(&b);
    ktl_capstate s3 = ktl_cap_begin(&b);
    ktl_print_obj_default("Point", (const void *)(uintptr_t)0xABCDEF12ull);
    ktl_cap_end(s3);
    line(ktl_sb_done(&b));
    kt_fs_table();
    kt_radix_table();
}
