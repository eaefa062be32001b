/* ---- Number text and the printing of scalars and string reprs ----
 *
 * Integers and floats become exactly the text Python's str() and repr() give
 * them: floats in the shortest form that reads back as the same double
 * (found by formatting at increasing precision and reading back with
 * strtod), "nan" and "inf" without a sign for NaN. The print functions append
 * to the output buffer; a capture turns the same calls into string building.
 */

/* Smallest positive normal double: below it a double carries fewer than 53
   significant bits, so its shortest text may have fewer digits than the
   15-digit rounding shows. */
#define KTL_DBL_MIN_NORMAL 2.2250738585072014e-308

/* The decimal text of v into out (at most 20 bytes); returns the length. The
   magnitude is taken as unsigned, so INT64_MIN works. The digits are
   counted first and written from the end, two at a time from a table of
   the pairs 00..99. */
static int ktl_i2a(int64_t v, char *out) {
    static const char pairs[201] = "00010203040506070809101112131415161718192021222324"
                                   "25262728293031323334353637383940414243444546474849"
                                   "50515253545556575859606162636465666768697071727374"
                                   "75767778798081828384858687888990919293949596979899";
    uint64_t u = v < 0 ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
    int digits = 1;
    for (uint64_t p10 = 10; digits < 20 && u >= p10; p10 *= 10)
        digits++;
    int k = v < 0;
    if (k)
        out[0] = '-';
    char *p = out + k + digits;
    while (u >= 100) {
        unsigned d = (unsigned)(u % 100);
        u /= 100;
        p -= 2;
        p[0] = pairs[2 * d];
        p[1] = pairs[2 * d + 1];
    }
    if (u >= 10) {
        p[-2] = pairs[2 * u];
        p[-1] = pairs[2 * u + 1];
    } else {
        p[-1] = (char)('0' + u);
    }
    return k + digits;
}

/* A decimal significand: the sign, the digits without the point, and the
   decimal exponent of the first digit. */
typedef struct {
    bool neg;
    int nd;
    int x;
    char dig[24];
} ktl_dec;

/* Reads a "%.*e" text into d. */
static void ktl_dec_read(const char *t, ktl_dec *d) {
    d->neg = *t == '-';
    if (d->neg)
        t++;
    d->nd = 0;
    for (; *t && *t != 'e'; t++)
        if (*t != '.')
            d->dig[d->nd++] = *t;
    d->x = atoi(t + 1);
}

/* The double nearest to d (strtod rounds correctly). */
static double ktl_dec_value(const ktl_dec *d) {
    char t[48];
    int k = 0;
    if (d->neg)
        t[k++] = '-';
    t[k++] = d->dig[0];
    t[k++] = '.';
    memcpy(t + k, d->dig + 1, (size_t)(d->nd - 1));
    k += d->nd - 1;
    snprintf(t + k, sizeof t - (size_t)k, "e%d", d->x);
    return strtod(t, NULL);
}

/* Adds one unit in the last digit (9.99 becomes 1.00 with the exponent one
   up). */
static void ktl_dec_bump(ktl_dec *d) {
    int i = d->nd - 1;
    while (i >= 0 && d->dig[i] == '9')
        d->dig[i--] = '0';
    if (i >= 0) {
        d->dig[i]++;
    } else {
        d->dig[0] = '1';
        d->x++;
    }
}

/* Writes d in Python's repr layout: trailing zeros dropped, fixed notation
   for decimal exponents -4 to 15, scientific otherwise. */
static int ktl_dec_layout(ktl_dec *d, char *out) {
    int k = 0, nd = d->nd, x = d->x;
    const char *dig = d->dig;
    if (d->neg)
        out[k++] = '-';
    while (nd > 1 && dig[nd - 1] == '0')
        nd--;
    if (x >= -4 && x <= 15) {
        if (x >= 0) {
            for (int i = 0; i <= x; i++)
                out[k++] = i < nd ? dig[i] : '0';
            out[k++] = '.';
            if (nd > x + 1)
                for (int i = x + 1; i < nd; i++)
                    out[k++] = dig[i];
            else
                out[k++] = '0';
        } else {
            out[k++] = '0';
            out[k++] = '.';
            for (int i = 0; i < -x - 1; i++)
                out[k++] = '0';
            for (int i = 0; i < nd; i++)
                out[k++] = dig[i];
        }
        return k;
    }
    out[k++] = dig[0];
    if (nd > 1) {
        out[k++] = '.';
        for (int i = 1; i < nd; i++)
            out[k++] = dig[i];
    }
    out[k++] = 'e';
    out[k++] = x < 0 ? '-' : '+';
    int ax = x < 0 ? -x : x;
    if (ax >= 100)
        out[k++] = (char)('0' + ax / 100);
    out[k++] = (char)('0' + ax / 10 % 10);
    out[k++] = (char)('0' + ax % 10);
    return k;
}

/* Python's repr() of a float into out (40 bytes suffice); returns the
   length: the shortest decimal that reads back as v, the nearest to v among
   equally short ones. */
static int ktl_f2a(double v, char *out) {
    if (v != v) {
        memcpy(out, "nan", 3);
        return 3;
    }
    if (isinf(v)) {
        if (v < 0) {
            memcpy(out, "-inf", 4);
            return 4;
        }
        memcpy(out, "inf", 3);
        return 3;
    }
    /* The magnitude test comes first, so the conversion is always defined. */
    if (fabs(v) < 1e16 && v == (double)(int64_t)v && !(v == 0 && signbit(v))) {
        int n = ktl_i2a((int64_t)v, out);
        out[n++] = '.';
        out[n++] = '0';
        return n;
    }
    /* For a normal double, any round-tripping text of at most 15 digits is
       the 15-digit rounding with its zeros dropped, so the search starts
       there; subnormals hold fewer bits and start at one digit. The nearest
       text of a given length can miss where the next one up still reads
       back: at a power of two the gap to the double above is twice the gap
       below, so that neighbour is tried too. 17 digits always read back. */
    char buf[40];
    ktl_dec d;
    for (int prec = fabs(v) < KTL_DBL_MIN_NORMAL ? 0 : 14; prec < 16; prec++) {
        snprintf(buf, sizeof buf, "%.*e", prec, v);
        ktl_dec_read(buf, &d);
        double r = ktl_dec_value(&d);
        if (r == v)
            return ktl_dec_layout(&d, out);
        if (fabs(r) < fabs(v)) {
            ktl_dec_bump(&d);
            if (ktl_dec_value(&d) == v)
                return ktl_dec_layout(&d, out);
        }
    }
    snprintf(buf, sizeof buf, "%.16e", v);
    ktl_dec_read(buf, &d);
    return ktl_dec_layout(&d, out);
}

static ktl_str ktl_int_str(int64_t v) {
    char buf[24];
    int n = ktl_i2a(v, buf);
    return ktl_str_copy(buf, n);
}

static ktl_str ktl_float_str(double v) {
    char buf[40];
    int n = ktl_f2a(v, buf);
    return ktl_str_copy(buf, n);
}

static inline ktl_str ktl_bool_str(bool v) {
    return v ? KTL_LIT("True") : KTL_LIT("False");
}

static void ktl_print_i(int64_t v) {
    char buf[24];
    ktl_write(buf, (size_t)ktl_i2a(v, buf));
}

static void ktl_print_f(double v) {
    char buf[40];
    ktl_write(buf, (size_t)ktl_f2a(v, buf));
}

static inline void ktl_print_b(bool v) {
    if (v)
        ktl_write("True", 4);
    else
        ktl_write("False", 5);
}

static inline void ktl_print_s(ktl_str s) {
    if (s.len > 0)
        ktl_write(s.p, (size_t)s.len);
}

static inline void ktl_print_none(uint8_t v) {
    (void)v;
    ktl_write("None", 4);
}

/* Python's repr() of a string: apostrophes unless the text holds an
   apostrophe and no double quote; backslash escapes for the quote, the
   backslash, \n \t \r, and \xNN for the other control bytes and 127. Bytes
   from 128 up (UTF-8 sequences) pass unchanged. */
static void ktl_print_repr_s(ktl_str s) {
    char q = '\'';
    if (s.len > 0 && memchr(s.p, '\'', (size_t)s.len) && !memchr(s.p, '"', (size_t)s.len))
        q = '"';
    ktl_putc(q);
    int64_t run = 0;
    for (int64_t i = 0; i < s.len; i++) {
        unsigned char c = (unsigned char)s.p[i];
        if (c >= 32 && c != 127 && c != '\\' && c != (unsigned char)q)
            continue;
        if (i > run)
            ktl_write(s.p + run, (size_t)(i - run));
        run = i + 1;
        char esc[4] = {'\\', (char)c, 0, 0};
        int n = 2;
        if (c == '\n')
            esc[1] = 'n';
        else if (c == '\t')
            esc[1] = 't';
        else if (c == '\r')
            esc[1] = 'r';
        else if (c < 32 || c == 127) {
            static const char hex[] = "0123456789abcdef";
            esc[1] = 'x';
            esc[2] = hex[c >> 4];
            esc[3] = hex[c & 15];
            n = 4;
        }
        ktl_write(esc, (size_t)n);
    }
    if (s.len > run)
        ktl_write(s.p + run, (size_t)(s.len - run));
    ktl_putc(q);
}

