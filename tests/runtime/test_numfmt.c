/* Number text against Python: repr() of floats over powers of 2 and 10, 0.1
 * steps, subnormals, the 1e16 and 1e-5 layout boundaries, special values and
 * random bit patterns; int text; int() and float() of strings; round() with
 * and without digits. test_numfmt.py prints what Python prints. */
#include "kestal_runtime.c"
#include "test_support.h"

static void pf(double v) {
    ktl_print_f(v);
    ktl_newline();
}

static void pi(int64_t v) {
    ktl_print_i(v);
    ktl_newline();
}

static double from_text(const char *t) {
    return strtod(t, NULL);
}

static uint64_t rng = 88172645463325252ull;
static uint64_t next_rand(void) {
    rng = rng * 6364136223846793005ull + 1442695040888963407ull;
    return rng;
}

static const char *const float_texts[] = {
    "0.0",
    "-0.0",
    "1.0",
    "-1.0",
    "0.1",
    "0.2",
    "0.3",
    "1e16",
    "9999999999999998.0",
    "1.0000000000000002e16",
    "1e15",
    "123456789012345.6",
    "1234567890123456.7",
    "0.0001",
    "0.00001",
    "9.999999999999999e-05",
    "0.00012345",
    "1.5e-05",
    "1e22",
    "1e23",
    "123456789.0",
    "5e-324",
    "1e-323",
    "2.5e-323",
    "4.9406564584124654e-324",
    "2.2250738585072014e-308",
    "2.225073858507201e-308",
    "1e-310",
    "1.5e-320",
    "1.7976931348623157e308",
    "inf",
    "-inf",
    "nan",
    "-nan",
    "3.141592653589793",
    "2.718281828459045",
    "100.0",
    "1e100",
    "1.25e-7",
    "0.3333333333333333",
    "9007199254740993",
    "9007199254740992",
    "-123.456",
    "1e-5",
    "1e-4",
    "5e-5",
    "12345678901234567890",
    "0.1e-3",
    "299792458.0",
    "6.02214076e23",
    "1.6e-19",
};

static const char *const int_texts[] = {
    " 42\n",
    "4 2",
    "",
    "   ",
    "-0",
    "+7",
    "007",
    "1_000",
    "1__000",
    "_1",
    "1_",
    "0x10",
    "12a",
    "9223372036854775807",
    "-9223372036854775808",
    "\t-17 ",
    "--1",
    "+",
    "1e5",
    "1.0",
};

static const char *const float_parse_texts[] = {
    "1e500",
    "-1e500",
    "1e-400",
    "  nan ",
    "-nan",
    "Infinity",
    "-INF",
    "inf5",
    "1_0.5",
    "1__0.5",
    "0x1p3",
    ".5",
    "5.",
    "1e5",
    "abc",
    "",
    "1.5e",
    " -0.0 ",
    "3.14\n",
    "1_000e1_0",
    "in f",
    "nan(1)",
    "+1.5E-3",
    "0."
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
    "00000000000000000017e10",
    "3."
    "1415926535897932384626433832795028841971693993751058209749445923078164062862089986280348253421"
    "1706798214808651328230664709384460955058223172535940812848111745028410270193852110555964462294"
    "8954930381964428810975665933446128475648233786783165271201909145648566923460348610454326648213"
    "3936072602491412737245870066063155881748815209209628292540917153643678925903600113305305488204"
    "6652138414695194151160943305727036575959195309218611738193261179310511854807446237996274956735"
    "18857527248912279381830119491",
};

static const double round_values[] = {0.5,
                                      1.5,
                                      2.5,
                                      -0.5,
                                      -1.5,
                                      2.675,
                                      1234.5678,
                                      -1234.5678,
                                      0.125,
                                      0.375,
                                      250.0,
                                      350.0,
                                      -250.0,
                                      5.0,
                                      15.0,
                                      1e-300,
                                      123456789012345678.0,
                                      1.7e308,
                                      5e-324,
                                      -0.0,
                                      0.0,
                                      9.999999999999999e15,
                                      1.23456789012e-10};
static const int64_t round_digits[] = {-400, -309, -308, -307, -20, -17, -3, -2,  -1,  0,
                                       1,    2,    3,    10,   16,  17,  20, 300, 323, 324};

static void ktl_main(void) {
    /* Powers of two over the whole range, subnormals included. */
    for (int k = -1074; k <= 1023; k += 7)
        pf(ldexp(1.0, k));
    for (int k = 50; k <= 70; k++)
        pf(ldexp(1.0, k) + 1.0), pf(-ldexp(1.0, k));
    /* Powers of ten from their decimal texts (correctly rounded both sides). */
    char buf[32];
    for (int k = -325; k <= 309; k++) {
        snprintf(buf, sizeof buf, "1e%d", k);
        pf(from_text(buf));
    }
    /* 0.1 steps, by multiplication and by accumulation. */
    double acc = 0.0;
    for (int i = 0; i <= 200; i++) {
        pf(i * 0.1);
        pf(-acc);
        acc += 0.1;
    }
    for (size_t i = 0; i < sizeof float_texts / sizeof *float_texts; i++)
        pf(from_text(float_texts[i]));
    /* A NaN with its sign bit set still prints as nan. */
    double inf = from_text("inf");
    pf(inf - inf);
    pf(-(inf - inf));
    /* Random bit patterns: every exponent and every digit count. */
    for (int i = 0; i < 20000; i++) {
        uint64_t bits = next_rand();
        double v;
        memcpy(&v, &bits, sizeof v);
        pf(v);
    }
    /* Random short decimals: texts of 1 to 17 digits at every exponent. */
    for (int i = 0; i < 5000; i++) {
        int digits = 1 + (int)(next_rand() % 17);
        uint64_t m = next_rand() % 100000000000000000ull, lim = 1;
        for (int k = 0; k < digits; k++)
            lim *= 10;
        int e = (int)(next_rand() % 650) - 340;
        snprintf(buf, sizeof buf, "%llue%d", (unsigned long long)(m % lim), e);
        pf(from_text(buf));
    }
    /* str() and the builder give the same texts as printing. */
    for (int i = 0; i < 2000; i++) {
        uint64_t bits = next_rand();
        double v;
        memcpy(&v, &bits, sizeof v);
        ktl_str s = ktl_float_str(v);
        ktl_sb b;
        ktl_sb_init(&b);
        ktl_sb_float(&b, v);
        ktl_str t = ktl_sb_done(&b);
        KT_CHECK(ktl_str_eq(s, t));
        char out[40];
        int n = ktl_f2a(v, out);
        KT_CHECK(n < 40 && n == s.len && memcmp(out, s.p, (size_t)n) == 0);
    }

    /* Integers. */
    pi(INT64_MIN);
    pi(INT64_MAX);
    pi(0);
    pi(-1);
    int64_t p = 1;
    for (int k = 0; k <= 18; k++, p *= 10)
        pi(p), pi(p - 1), pi(-p), pi(-p + 1);
    for (int i = 0; i < 2000; i++) {
        int64_t a = (int64_t)next_rand();
        pi(a >> (next_rand() % 64));
    }
    KT_CHECK_STR(ktl_int_str(INT64_MIN), "-9223372036854775808");
    KT_CHECK_STR(ktl_bool_str(true), "True");
    KT_CHECK_STR(ktl_bool_str(false), "False");

    /* int() and float() of strings. */
    for (size_t i = 0; i < sizeof int_texts / sizeof *int_texts; i++)
        KT_TRY(pi(ktl_parse_int(ktl_mkstr(int_texts[i], (int64_t)strlen(int_texts[i])))));
    for (size_t i = 0; i < sizeof float_parse_texts / sizeof *float_parse_texts; i++)
        KT_TRY(pf(ktl_parse_float(
            ktl_mkstr(float_parse_texts[i], (int64_t)strlen(float_parse_texts[i])))));
    /* NUL inside the text is no end of the number. */
    KT_TRY(pi(ktl_parse_int(ktl_mkstr("12\0003", 4))));

    /* A long argument is quoted in the message, cut to 500 bytes. */
    {
        ktl_handler h;
        ktl_try_enter(&h);
        if (ktl_setjmp(h.jb) == 0) {
            ktl_parse_int(ktl_str_rep(KTL_LIT("x"), 600));
            KT_CHECK(!"raised");
        } else {
            ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
            KT_CHECK(e->cls == KTL_E_ValueError);
            KT_CHECK(e->str.len ==
                     (int64_t)strlen("invalid literal for int() with base 10: ") + 500);
        }
    }
    /* Beyond 64 bits is an error, never a saturated value. */
    {
        static const char *const big[] = {"9223372036854775808", "-9223372036854775809",
                                          "99999999999999999999999"};
        for (int i = 0; i < 3; i++) {
            ktl_handler h;
            ktl_try_enter(&h);
            if (ktl_setjmp(h.jb) == 0) {
                ktl_parse_int(ktl_mkstr(big[i], (int64_t)strlen(big[i])));
                KT_CHECK(!"raised");
            } else {
                ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
                KT_CHECK(e->cls == KTL_E_ValueError);
            }
        }
    }

    /* round(). */
    for (size_t i = 0; i < sizeof round_values / sizeof *round_values; i++) {
        KT_TRY(pi(ktl_round(round_values[i])));
        for (size_t j = 0; j < sizeof round_digits / sizeof *round_digits; j++)
            KT_TRY(pf(ktl_round_n(round_values[i], round_digits[j])));
    }
    KT_TRY(pi(ktl_round(inf)));
    KT_TRY(pi(ktl_round(-inf)));
    KT_TRY(pi(ktl_round(inf - inf)));
    pf(ktl_round_n(inf, 2));
    pf(ktl_round_n(-inf, -400));
    pf(ktl_round_n(inf - inf, 3));
}
