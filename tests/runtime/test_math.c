/* The math module's functions and int true division against Python: every
 * function over values that reach its domain edges, poles and overflows
 * (zeros of both signs, the infinities, NaN, the largest doubles), and int
 * division over pairs beyond 2**53, where converting each int to double
 * first would round twice.
 * test_math.py prints what Python prints. */
// warnings: error
#include "kestal_runtime.c"
#include "test_support.h"

static void pf(double v) {
    ktl_print_f(v);
    ktl_newline();
}

static const double vals[] = {0.0,  -0.0,  1.0,   -1.0,    0.5,   2.0,    -2.0,   3.0,   -8.0,
                              10.0, 710.0, -1000.0, 1e308, -1e308, 5e-324, 0.1, INFINITY,
                              -INFINITY, NAN};
static const int NVALS = (int)(sizeof vals / sizeof *vals);

typedef double (*fn1)(double);
typedef double (*fn2)(double, double);

/* One call under a handler each, so no loop counter lives across a
   longjmp. */
static void try1(fn1 f, double a) {
    KT_TRY(pf(f(a)));
}
static void try2(fn2 f, double a, double b) {
    KT_TRY(pf(f(a, b)));
}
static void try_div(int64_t a, int64_t b) {
    KT_TRY(pf(ktl_itruediv(a, b)));
}

static void ktl_main(void) {
    const fn1 ones[] = {ktl_math_sin,  ktl_math_cos,  ktl_math_tan,  ktl_math_exp,  ktl_math_log,
                        ktl_math_sqrt, ktl_math_asin, ktl_math_acos, ktl_math_atan, ktl_math_log2,
                        ktl_math_fabs, ktl_math_sinh, ktl_math_cosh, ktl_math_tanh, ktl_math_log10};
    const fn2 twos[] = {ktl_math_pow, ktl_math_fmod, ktl_math_atan2, ktl_math_hypot,
                        ktl_math_log_base};
    for (int f = 0; f < (int)(sizeof ones / sizeof *ones); f++)
        for (int i = 0; i < NVALS; i++)
            try1(ones[f], vals[i]);
    for (int f = 0; f < (int)(sizeof twos / sizeof *twos); f++)
        for (int i = 0; i < NVALS; i++)
            for (int j = 0; j < NVALS; j++)
                try2(twos[f], vals[i], vals[j]);

    const int64_t two53 = (int64_t)1 << 53;
    const int64_t ints[] = {0,         1,          -1,        3,           -3,        7,
                            10,        two53,      two53 + 1, -two53 - 1,  two53 + 3, 3 * two53 + 1,
                            INT64_MAX, INT64_MIN,  INT64_MAX - 1, INT64_MIN + 1,
                            9007199254740993, 1000000007, (int64_t)1 << 62,
                            ((int64_t)1 << 62) + 1, 123456789012345679};
    int n = (int)(sizeof ints / sizeof *ints);
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++)
            try_div(ints[i], ints[j]);
    /* A sweep of odd quotients near the rounding boundary. */
    for (int64_t k = 0; k < 200; k++)
        try_div(INT64_MAX - k * 977, 3 + 2 * k);
}
