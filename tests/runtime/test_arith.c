/* Integer and float arithmetic against Python: floor division and modulo
 * signs over int and float pairs (zero divisors, INT64_MIN by -1, signed
 * zeros, infinities, NaN), powers that wrap, shifts by any count, min/max
 * with NaN, abs.
 * test_arith.py prints what Python prints, wrapped to 64 bits. */
#include "kestal_runtime.c"
#include "test_support.h"

static void pi(int64_t v) {
    ktl_print_i(v);
    ktl_write(" ", 1);
}

static void pf(double v) {
    ktl_print_f(v);
    ktl_write(" ", 1);
}

static const int64_t ints[] = {0,
                               1,
                               -1,
                               2,
                               -2,
                               3,
                               -3,
                               7,
                               -7,
                               10,
                               -10,
                               100,
                               -100,
                               12345,
                               INT64_MAX,
                               INT64_MIN,
                               INT64_MAX - 1,
                               INT64_MIN + 1,
                               (int64_t)1 << 32,
                               -((int64_t)1 << 32) - 5};

static double fval(int i);
static const int NFLOATS = 22;

static void ktl_main(void) {
    int n = (int)(sizeof ints / sizeof *ints);
    for (int i = 0; i < n; i++) {
        for (int j = 0; j < n; j++) {
            int64_t a = ints[i], b = ints[j];
            pi(a), pi(b);
            KT_TRY((pi(ktl_floordiv(a, b)), pi(ktl_mod(a, b)), ktl_newline()));
        }
    }
    for (int i = 0; i < NFLOATS; i++) {
        for (int j = 0; j < NFLOATS; j++) {
            double a = fval(i), b = fval(j);
            pf(a), pf(b);
            KT_TRY(
                (pf(ktl_ffloordiv(a, b)), pf(ktl_fmod(a, b)), pf(ktl_fdiv(a, b)), ktl_newline()));
        }
    }
    /* Powers wrap to 64 bits. */
    static const int64_t bases[] = {0, 1, -1, 2, -2, 3, 10, -7, 12345, INT64_MIN};
    static const int64_t exps[] = {0, 1, 2, 3, 10, 31, 62, 63, 64, 65, 100, 1000};
    for (size_t i = 0; i < sizeof bases / sizeof *bases; i++) {
        for (size_t j = 0; j < sizeof exps / sizeof *exps; j++)
            pi(ktl_ipow(bases[i], exps[j]));
        ktl_newline();
    }
    /* Shifts by any count: 64 and more shift every bit out, a negative count
       raises. */
    static const int64_t shifted[] = {0, 1, -1, 5, -5, 12345, INT64_MAX, INT64_MIN};
    static const int64_t counts[] = {0, 1, 2, 31, 62, 63, 64, 65, 100, INT64_MAX, -1, INT64_MIN};
    for (size_t i = 0; i < sizeof shifted / sizeof *shifted; i++) {
        for (size_t j = 0; j < sizeof counts / sizeof *counts; j++) {
            int64_t a = shifted[i], c = counts[j];
            KT_TRY((pi(ktl_shl(a, c)), pi(ktl_shr(a, c)), ktl_newline()));
        }
    }
    /* An int compared with a float exactly, never through a rounded
       double. */
    static const int64_t cints[] = {0, 1, -1, ((int64_t)1 << 53), ((int64_t)1 << 53) + 1,
                                    INT64_MAX, INT64_MIN, INT64_MAX - 1};
    static const char *const cfloats[] = {"0.0", "-0.0", "0.5", "-0.5", "1.0", "9007199254740992.0",
                                          "9007199254740994.0", "9223372036854775808.0",
                                          "-9223372036854775808.0", "1e19", "-1e19", "inf",
                                          "-inf", "nan", "4.9e-324", "-1.5"};
    for (size_t i = 0; i < sizeof cints / sizeof *cints; i++) {
        for (size_t j = 0; j < sizeof cfloats / sizeof *cfloats; j++) {
            int64_t a = cints[i];
            double d = strtod(cfloats[j], NULL);
            char r[6] = {(char)('0' + ktl_if_eq(a, d)), (char)('0' + ktl_if_lt(a, d)),
                         (char)('0' + ktl_if_le(a, d)), (char)('0' + ktl_if_gt(a, d)),
                         (char)('0' + ktl_if_ge(a, d)), ' '};
            ktl_write(r, 6);
        }
        ktl_newline();
    }
    /* Float powers raise where Python raises. */
    static const char *const pw[][2] = {{"2.0", "0.5"}, {"-2.0", "3.0"}, {"0.0", "0.0"},
                                        {"0.0", "-1.0"}, {"-0.0", "-3.0"}, {"10.0", "400.0"},
                                        {"inf", "-1.0"}, {"nan", "0.0"}, {"-8.0", "-2.0"},
                                        {"1.5", "-2000.0"}};
    for (size_t i = 0; i < sizeof pw / sizeof *pw; i++)
        KT_TRY((pf(ktl_fpow(strtod(pw[i][0], NULL), strtod(pw[i][1], NULL))), ktl_newline()));
    /* round() of an int to tens, hundreds, ...; isqrt. */
    static const int64_t rv[] = {0, 5, 15, 25, -5, -15, 12345, -12345, 1250, 1350, INT64_MAX,
                                 INT64_MIN};
    static const int64_t rn[] = {3, 0, -1, -2, -3, -19, -20};
    for (size_t i = 0; i < sizeof rv / sizeof *rv; i++) {
        for (size_t j = 0; j < sizeof rn / sizeof *rn; j++)
            KT_TRY((pi(ktl_iround_n(rv[i], rn[j])), ktl_newline()));
    }
    static const int64_t sq[] = {0, 1, 2, 3, 4, 15, 16, 17, ((int64_t)1 << 52) + 1,
                                 ((int64_t)3037000499 * 3037000499), ((int64_t)3037000499 * 3037000499) - 1,
                                 INT64_MAX, -1};
    for (size_t i = 0; i < sizeof sq / sizeof *sq; i++) KT_TRY((pi(ktl_isqrt(sq[i])), ktl_newline()));
    /* min and max of two floats fold as Python's do: NaN and signed zeros. */
    double nan = fval(NFLOATS - 1);
    pf(ktl_fmin(1.0, nan)), pf(ktl_fmin(nan, 1.0)), pf(ktl_fmax(1.0, nan)), pf(ktl_fmax(nan, 1.0));
    pf(ktl_fmin(0.0, -0.0)), pf(ktl_fmax(-0.0, 0.0)), pf(ktl_fmin(-0.0, 0.0)),
        pf(ktl_fmax(0.0, -0.0));
    pi(ktl_imin(INT64_MIN, 0)), pi(ktl_imax(INT64_MAX, -1)), pi(ktl_iabs(-5)),
        pi(ktl_iabs(INT64_MIN));
    ktl_newline();
}

/* The float operands; the last is NaN. */
static double fval(int i) {
    static const char *const t[] = {"0.0", "-0.0",  "1.0",     "-1.0",   "2.0",  "-2.0",
                                    "4.0", "-4.0",  "7.5",     "-7.5",   "0.1",  "-0.1",
                                    "3.0", "1e308", "-1e308",  "5e-324", "1e16", "0.3",
                                    "inf", "-inf",  "123.456", "nan"};
    return strtod(t[i], NULL);
}
