/* ---- Integer and float arithmetic with Python's semantics ----
 *
 * Integers are 64-bit and wrap (the file is compiled with -fwrapv); floor
 * division and modulo round toward negative infinity and take the divisor's
 * sign, as in Python, for ints and floats alike, and a zero divisor raises
 * ZeroDivisionError unless the program is compiled unchecked. The float
 * operations follow CPython's own algorithms step by step, so signed zeros,
 * infinities and NaNs come out as Python prints them.
 */

#ifdef KTL_UNCHECKED
#define KTL_DIVCHECK(b) ((void)0)
#else
#define KTL_DIVCHECK(b)                                                                            \
    do {                                                                                           \
        if (KTL_UNLIKELY((b) == 0))                                                                \
            ktl_zero_div();                                                                        \
    } while (0)
#endif

/* A divisor already known not to be zero (an earlier division by the same
   unchanged variable checked it): the C compiler drops the zero check of
   the division it is passed to. Unchecked, nothing was checked before. */
#ifdef KTL_UNCHECKED
#define KTL_NZ(b) (b)
#else
#define KTL_NZ(b)                                                                                  \
    __extension__({                                                                                \
        __typeof__(b) ktl_nz_ = (b);                                                               \
        if (ktl_nz_ == 0)                                                                          \
            __builtin_unreachable();                                                               \
        ktl_nz_;                                                                                   \
    })
#endif

/* a // b. INT64_MIN // -1 wraps to INT64_MIN like every other overflow
   instead of trapping in the C division; under KTL_UNCHECKED a zero divisor
   gives 0 rather than a hardware trap. */
static inline int64_t ktl_floordiv(int64_t a, int64_t b) {
    KTL_DIVCHECK(b);
    if (KTL_UNLIKELY(b == -1))
        return (int64_t)((uint64_t)0 - (uint64_t)a);
#ifdef KTL_UNCHECKED
    if (KTL_UNLIKELY(b == 0))
        return 0;
#endif
    int64_t q = a / b, r = a % b;
    if (r != 0 && ((r < 0) != (b < 0)))
        q--;
    return q;
}

/* a % b, with the divisor's sign; x % -1 is 0 for every x. */
static inline int64_t ktl_mod(int64_t a, int64_t b) {
    KTL_DIVCHECK(b);
    if (KTL_UNLIKELY(b == -1))
        return 0;
#ifdef KTL_UNCHECKED
    if (KTL_UNLIKELY(b == 0))
        return 0;
#endif
    int64_t r = a % b;
    if (r != 0 && ((r < 0) != (b < 0)))
        r += b;
    return r;
}

/* a // c and a % c for a divisor c > 0 that code generation passes as a
   literal (powers of two become shifts and masks there): no zero or -1
   checks, the sign fix-up is branch-free, and once inlined the C compiler
   knows c and the remainder's range 0 <= r < c, so it divides by
   multiplying. */
static inline __attribute__((always_inline)) int64_t ktl_floordiv_c(int64_t a, int64_t c) {
    int64_t q = a / c, r = a % c;
    return q - (int64_t)((uint64_t)r >> 63);
}

static inline __attribute__((always_inline)) int64_t ktl_mod_c(int64_t a, int64_t c) {
    int64_t r = a % c;
    r += (r >> 63) & c;
    if (r < 0 || r >= c)
        __builtin_unreachable();
    return r;
}

static inline double ktl_fdiv(double a, double b) {
    KTL_DIVCHECK(b);
    return a / b;
}

/* a / b in the unchecked copy of a loop whose zero-divisor checks are
   deferred: a zero divisor sets the loop's flag (the loop then runs again
   with its checks) and the quotient, inf or nan, is never used. No branch,
   so the loop can be vectorized. ktl_dz_flag is the same for an item read
   the loop's index guard doesn't cover. */
static inline __attribute__((always_inline)) double ktl_fdiv_d(int64_t *bad, double a, double b) {
#ifdef KTL_UNCHECKED
    (void)bad;
#else
    *bad |= b == 0;
#endif
    return a / b;
}

static inline __attribute__((always_inline)) int ktl_dz_flag(int64_t *bad) {
    *bad = true;
    return 0;
}

/* The items of a list the unchecked copy of a loop nest stores into, kept
   before it runs and put back when it sets its flag: the checked copy then
   runs the nest again from the same items. */
static void *ktl_keep_items(const void *data, int64_t bytes) {
    void *kept = ktl_xmalloc((size_t)bytes);
    if (bytes > 0) memcpy(kept, data, (size_t)bytes);
    return kept;
}

static void ktl_release_items(void *data, void *kept, int64_t bytes, int64_t put_back) {
    if (put_back && bytes > 0) memcpy(data, kept, (size_t)bytes);
    free(kept);
}

/* a % b for floats: CPython's float remainder. A zero result takes the
   divisor's sign, so -4.0 % 2.0 is 0.0 and 4.0 % -2.0 is -0.0. */
static inline double ktl_fmod(double a, double b) {
    KTL_DIVCHECK(b);
    double m = fmod(a, b);
    if (m != 0) {
        if ((b < 0) != (m < 0))
            m += b;
    } else {
        m = copysign(0.0, b);
    }
    return m;
}

/* a // b for floats: CPython's divmod quotient, which is exact where
   floor(a / b) is not (1 // 0.1 is 9.0, though 1 / 0.1 rounds to 10.0). */
static inline double ktl_ffloordiv(double a, double b) {
    KTL_DIVCHECK(b);
    double m = fmod(a, b);
    double div = (a - m) / b;
    if (m != 0 && ((b < 0) != (m < 0)))
        div -= 1.0;
    if (div != 0) {
        double f = floor(div);
        if (div - f > 0.5)
            f += 1.0;
        return f;
    }
    return copysign(0.0, a / b);
}

/* a / b for ints, correctly rounded as Python's int true division is.
   Converting both to double first rounds twice once either is beyond 2**53
   (9007199254740993 / 3 would come out one unit off), so such operands are
   divided exactly in 128 bits and rounded once: the quotient keeps at least
   55 bits, a non-zero remainder sets its lowest bit so that a tie is never
   mistaken, and the one conversion to double rounds to nearest even. */
static double ktl_itruediv_wide(int64_t a, int64_t b) {
    bool neg = (a < 0) != (b < 0);
    uint64_t ua = a < 0 ? (uint64_t)0 - (uint64_t)a : (uint64_t)a;
    uint64_t ub = b < 0 ? (uint64_t)0 - (uint64_t)b : (uint64_t)b;
    if (ua == 0)
        return neg ? -0.0 : 0.0;
    int shift = 55 + (64 - __builtin_clzll(ub)) - (64 - __builtin_clzll(ua));
    if (shift < 0)
        shift = 0;
    unsigned __int128 n = (unsigned __int128)ua << shift;
    unsigned __int128 q = n / ub;
    if (n % ub != 0)
        q |= 1;
    double d = ldexp((double)q, -shift);
    return neg ? -d : d;
}

static inline double ktl_itruediv(int64_t a, int64_t b) {
    const int64_t exact = INT64_C(1) << 53;
    KTL_DIVCHECK(b);
    if (a >= -exact && a <= exact && b >= -exact && b <= exact)
        return (double)a / (double)b;
#ifdef KTL_UNCHECKED
    if (KTL_UNLIKELY(b == 0))
        return (double)a / 0.0;
#endif
    return ktl_itruediv_wide(a, b);
}

/* b ** e by repeated squaring, wrapping on overflow. A negative exponent
   has no int result; it ends the program. */
static int64_t ktl_ipow(int64_t b, int64_t e) {
    if (KTL_UNLIKELY(e < 0))
        ktl_panic("negative exponent in int ** int (use a float, e.g. 2.0 ** -1)");
    uint64_t r = 1, x = (uint64_t)b;
    while (e) {
        if (e & 1)
            r *= x;
        x *= x;
        e >>= 1;
    }
    return (int64_t)r;
}

/* An int compared with a float exactly, as Python compares them: -1, 0 or 1
   as i is below, equal to or above d, and 2 when d is NaN. Converting i to
   double first would round above 2**53 (2**53 + 1 == 2.0**53 would hold). */
static inline int ktl_cmp_if(int64_t i, double d) {
    if (d != d)
        return 2;
    if (d >= 9223372036854775808.0)
        return -1;
    if (d < -9223372036854775808.0)
        return 1;
    double fl = floor(d);
    int64_t k = (int64_t)fl;
    if (i != k)
        return i < k ? -1 : 1;
    return fl < d ? -1 : 0;
}
static inline bool ktl_if_eq(int64_t i, double d) {
    return ktl_cmp_if(i, d) == 0;
}
static inline bool ktl_if_lt(int64_t i, double d) {
    return ktl_cmp_if(i, d) == -1;
}
static inline bool ktl_if_le(int64_t i, double d) {
    int c = ktl_cmp_if(i, d);
    return c == -1 || c == 0;
}
static inline bool ktl_if_gt(int64_t i, double d) {
    return ktl_cmp_if(i, d) == 1;
}
static inline bool ktl_if_ge(int64_t i, double d) {
    int c = ktl_cmp_if(i, d);
    return c == 0 || c == 1;
}

/* a ** b for floats. C's pow agrees with Python wherever Python gives a
   float; where Python raises, so does this: a zero base with a negative
   exponent (ZeroDivisionError, unless unchecked) and a finite result too big
   for a double (OverflowError). A negative base with a fractional exponent
   has a complex result in Python, which no Kestal type holds: ValueError. */
static double ktl_fpow(double a, double b) {
    double r = pow(a, b);
    if (KTL_UNLIKELY(!isfinite(r)) && isfinite(a) && isfinite(b)) {
#ifndef KTL_UNCHECKED
        if (a == 0.0)
            ktl_raise_c(KTL_E_ZeroDivisionError, "0.0 cannot be raised to a negative power");
#endif
        if (r != r)
            ktl_value_error("negative number cannot be raised to a fractional power");
        if (a != 0.0)
            ktl_raise_c(KTL_E_OverflowError, "(34, 'Numerical result out of range')");
    }
    return r;
}

/* ---- The math module's functions ----
 *
 * The C library's result classified as Python's math module classifies it:
 * a NaN from arguments that are not NaN is ValueError "math domain error";
 * an infinity from finite arguments is OverflowError "math range error",
 * except at a pole (log of 0, a zero base to a negative power), which is a
 * domain error. Results that underflow to zero pass, as in Python. */
static double ktl_math_check(double r, double a, double b, bool pole) {
    if (KTL_UNLIKELY(r != r) && a == a && b == b)
        ktl_value_error("math domain error");
    if (KTL_UNLIKELY(isinf(r)) && isfinite(a) && isfinite(b)) {
        if (pole)
            ktl_value_error("math domain error");
        ktl_raise_c(KTL_E_OverflowError, "math range error");
    }
    return r;
}

/* The check of a function whose result is finite wherever its argument is
   (sin, sqrt, atan, ...): only a NaN can signal a domain error. */
static inline double ktl_math_check_nan(double r, double a) {
    if (KTL_UNLIKELY(r != r) && a == a)
        ktl_value_error("math domain error");
    return r;
}

#define KTL_MATH1_FINITE(name)                                                                     \
    static inline double ktl_math_##name(double x) { return ktl_math_check_nan(name(x), x); }
#define KTL_MATH1(name, pole)                                                                      \
    static inline double ktl_math_##name(double x) {                                               \
        return ktl_math_check(name(x), x, x, pole);                                                \
    }
#define KTL_MATH2(name)                                                                            \
    static inline double ktl_math_##name(double a, double b) {                                     \
        return ktl_math_check(name(a, b), a, b, false);                                            \
    }
KTL_MATH1_FINITE(sin)
KTL_MATH1_FINITE(cos)
KTL_MATH1(tan, false)
KTL_MATH1(exp, false)
KTL_MATH1(log, true)
KTL_MATH1_FINITE(sqrt)
KTL_MATH1_FINITE(asin)
KTL_MATH1_FINITE(acos)
KTL_MATH1_FINITE(atan)
KTL_MATH1(log2, true)
KTL_MATH1_FINITE(fabs)
KTL_MATH1(sinh, false)
KTL_MATH1(cosh, false)
KTL_MATH1_FINITE(tanh)
KTL_MATH1(log10, true)
KTL_MATH2(fmod)
KTL_MATH2(atan2)
KTL_MATH2(hypot)
#undef KTL_MATH1
#undef KTL_MATH1_FINITE
#undef KTL_MATH2

static inline double ktl_math_pow(double a, double b) {
    return ktl_math_check(pow(a, b), a, b, a == 0.0);
}

/* log(x, base) is log(x) / log(base), as Python computes it: each logarithm
   is checked, and a base of 1 divides by zero. */
static double ktl_math_log_base(double x, double base) {
    double num = ktl_math_log(x);
    double den = ktl_math_log(base);
    if (KTL_UNLIKELY(den == 0.0))
        ktl_raise_c(KTL_E_ZeroDivisionError, "float division by zero");
    return num / den;
}

/* a << n and a >> n with the count taken as it is, never masked: a count of
   64 or more shifts every bit out (0, or -1 for a negative a >> n), and a
   negative count raises ValueError. Unchecked, a negative count reads as a
   huge unsigned one and shifts everything out the same way. */
#ifdef KTL_UNCHECKED
#define KTL_SHIFTCHECK(n) ((void)0)
#else
#define KTL_SHIFTCHECK(n)                                                                          \
    do {                                                                                           \
        if (KTL_UNLIKELY((n) < 0))                                                                 \
            ktl_value_error("negative shift count");                                               \
    } while (0)
#endif
static inline int64_t ktl_shl(int64_t a, int64_t n) {
    KTL_SHIFTCHECK(n);
    return (uint64_t)n >= 64 ? 0 : (int64_t)((uint64_t)a << n);
}
static inline int64_t ktl_shr(int64_t a, int64_t n) {
    KTL_SHIFTCHECK(n);
    return (uint64_t)n >= 64 ? (a < 0 ? -1 : 0) : a >> n;
}

static inline int64_t ktl_imin(int64_t a, int64_t b) {
    return a < b ? a : b;
}
static inline int64_t ktl_imax(int64_t a, int64_t b) {
    return a > b ? a : b;
}
/* As Python's min() and max() fold: the first value is kept unless the
   second is strictly smaller (larger). So min(1.0, nan) is 1.0, min(nan,
   1.0) is nan, and min(0.0, -0.0) is 0.0. */
static inline double ktl_fmin(double a, double b) {
    return b < a ? b : a;
}
static inline double ktl_fmax(double a, double b) {
    return b > a ? b : a;
}
static inline int64_t ktl_iabs(int64_t a) {
    return a < 0 ? -a : a;
}

/* A whole-number double as int64: infinities raise OverflowError and NaN
   ValueError with Python's texts; a value outside the 64-bit range raises
   OverflowError instead of being converted with undefined behaviour. */
static int64_t ktl_float_to_int(double r) {
    if (KTL_UNLIKELY(!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))) {
        if (r != r)
            ktl_value_error("cannot convert float NaN to integer");
        if (isinf(r))
            ktl_raise_c(KTL_E_OverflowError, "cannot convert float infinity to integer");
        ktl_raise_c(KTL_E_OverflowError, "int too large to convert to a 64-bit integer");
    }
    return (int64_t)r;
}

/* round(x): halves to even (nearbyint in the default rounding mode). */
static inline int64_t ktl_round(double x) {
    return ktl_float_to_int(nearbyint(x));
}

/* round(x, n) with n < 0 for a finite x: the integral part's exact digits
   are rounded at the 10^-n place, halves to even, with the fraction (when
   not zero) breaking a tie upward; the decimal text is then read back. */
static double ktl_round_neg(double x, int64_t n) {
    double ip = trunc(x);
    bool frac = x != ip;
    char buf[400];
    int len = snprintf(buf, sizeof buf, "%.0f", fabs(ip));
    int64_t keep = len + n;
    if (keep < 0)
        return 0.0 * x;
    /* digits[keep] decides; a leading "0" makes room for a carry. */
    char d[402];
    d[0] = '0';
    memcpy(d + 1, buf, (size_t)len);
    int64_t cut = keep + 1;
    bool up = false;
    if (cut <= len) {
        char c = d[cut];
        bool rest = frac;
        for (int64_t i = cut + 1; i <= len && !rest; i++)
            rest = d[i] != '0';
        up = c > '5' || (c == '5' && (rest || (d[cut - 1] - '0') % 2 == 1));
        for (int64_t i = cut; i <= len; i++)
            d[i] = '0';
        for (int64_t i = cut - 1; up && i >= 0; i--) {
            if (d[i] == '9') {
                d[i] = '0';
            } else {
                d[i]++;
                up = false;
            }
        }
    }
    d[len + 1] = 0;
    double r = strtod(d, NULL);
    if (isinf(r))
        ktl_raise_c(KTL_E_OverflowError, "rounded value too large to represent");
    return signbit(x) ? -r : r;
}

/* round(x, n) as Python computes it: the exact value of the double is
   rounded (halves to even), so round(2.675, 2) is 2.67. Infinities and NaN
   stay as they are; n beyond the digits a double can hold leaves x
   unchanged, and n <= -309 gives a zero of x's sign. */
static double ktl_round_n(double x, int64_t n) {
    if (!isfinite(x) || n > 323)
        return x;
    if (n < -308)
        return 0.0 * x;
    if (n < 0)
        return ktl_round_neg(x, n);
    if (fabs(x) >= 1e16)
        return x;
    char buf[400];
    snprintf(buf, sizeof buf, "%.*f", (int)n, x);
    return strtod(buf, NULL);
}

/* round(v, n) of an int, an int as in Python: n >= 0 leaves v unchanged,
   n < 0 rounds to a multiple of 10^-n with halves to even. A result outside
   the 64-bit range raises OverflowError; the work is in 128 bits, so no
   step can overflow. */
static int64_t ktl_iround_n(int64_t v, int64_t n) {
    if (n >= 0)
        return v;
    if (n < -19)
        return 0;
    __int128 p = 1;
    for (int64_t i = 0; i < -n; i++)
        p *= 10;
    __int128 q = v / p, r = v % p;
    if (r < 0) {
        r += p;
        q -= 1;
    }
    if (2 * r > p || (2 * r == p && (q & 1)))
        q += 1;
    __int128 out = q * p;
    if (out > INT64_MAX || out < INT64_MIN)
        ktl_raise_c(KTL_E_OverflowError, "int too large to convert to a 64-bit integer");
    return (int64_t)out;
}

/* math.isqrt(n): the exact floor of the square root. The double estimate
   can be off by one either way above 2^52, so it is corrected with exact
   unsigned 128-bit squares. */
static int64_t ktl_isqrt(int64_t n) {
    if (n < 0)
        ktl_value_error("isqrt() argument must be nonnegative");
    unsigned __int128 m = (unsigned __int128)n;
    uint64_t r = (uint64_t)sqrt((double)n);
    while ((unsigned __int128)r * r > m)
        r--;
    while ((unsigned __int128)(r + 1) * (r + 1) <= m)
        r++;
    return (int64_t)r;
}

