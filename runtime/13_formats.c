/* ---- Format specs laid out as Python's format() lays them out ----
 *
 * The f-string fields whose spec printf would lay out unlike Python come
 * here: hexadecimal, octal and binary of negative ints (the sign, then the
 * magnitude, INT64_MIN included), the '#' prefixes, zero fill with an
 * explicit alignment or around inf and nan, percentages (whose width counts
 * the '%'), floats without a type letter (Python's repr-based general
 * format) and text, padded by characters rather than bytes. The compiler
 * passes the switches of the spec as KTL_FS_* flags.
 */

#define KTL_FS_PLUS 1
#define KTL_FS_ALT 2
#define KTL_FS_ZERO 4
#define KTL_FS_LEFT 8
#define KTL_FS_RIGHT 16

/* lead (sign and prefix) and body padded to `width`: the fill is '0' under
   KTL_FS_ZERO, else blanks; '<' fills after, '>' before everything, and
   with no alignment zeros go between lead and body (Python's '=') while
   blanks go before. */
static void ktl_fs_layout(ktl_sb *b, const char *lead, int64_t lead_len, const char *body,
                          int64_t body_len, int flags, int64_t width) {
    int64_t n = lead_len + body_len;
    int64_t pad = width > n ? width - n : 0;
    char fill = (flags & KTL_FS_ZERO) ? '0' : ' ';
    bool aligned = (flags & (KTL_FS_LEFT | KTL_FS_RIGHT)) != 0;
    bool inner = !aligned && (flags & KTL_FS_ZERO);
    ktl_sb_reserve(b, n + pad);
    if (!(flags & KTL_FS_LEFT) && !inner)
        ktl_sb_fill(b, fill, pad);
    memcpy(b->p + b->len, lead, (size_t)lead_len);
    b->len += lead_len;
    if (inner)
        ktl_sb_fill(b, fill, pad);
    memcpy(b->p + b->len, body, (size_t)body_len);
    b->len += body_len;
    if (flags & KTL_FS_LEFT)
        ktl_sb_fill(b, fill, pad);
}

/* An int by type 'd' (or 0), 'x', 'X', 'o' or 'b'. */
static void ktl_fs_int(ktl_sb *b, int64_t v, char type, int flags, int64_t width) {
    unsigned base = (type == 'x' || type == 'X') ? 16 : type == 'o' ? 8 : type == 'b' ? 2 : 10;
    const char *digits = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    uint64_t m = v < 0 ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
    char body[64];
    int k = (int)sizeof body;
    do {
        body[--k] = digits[m % base];
        m /= base;
    } while (m);
    char lead[3];
    int n = 0;
    if (v < 0)
        lead[n++] = '-';
    else if (flags & KTL_FS_PLUS)
        lead[n++] = '+';
    if ((flags & KTL_FS_ALT) && base != 10) {
        lead[n++] = '0';
        lead[n++] = type;
    }
    ktl_fs_layout(b, lead, n, body + k, (int64_t)sizeof body - k, flags, width);
}

/* An int by 'x', 'X' or 'o' under the language's printf-based specs, laid
   out as printf lays out a signed conversion: a negative int shows '-' and
   its magnitude (INT64_MIN included) instead of its 64-bit pattern, and
   KTL_FS_PLUS shows '+' on the others, as for 'd'. prec < 0 when the spec
   gives none; a precision pads the digits with zeros to that count, and
   zero with precision 0 has no digits. As printf's '0' flag, KTL_FS_ZERO
   fills between the sign and the digits, and is ignored under KTL_FS_LEFT
   or with a precision. */
static void ktl_fs_radix(ktl_sb *b, int64_t v, char type, int64_t prec, int flags, int64_t width) {
    unsigned base = type == 'o' ? 8 : 16;
    const char *digits = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    uint64_t m = v < 0 ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
    char d[24];
    int k = (int)sizeof d;
    while (m) {
        d[--k] = digits[m % base];
        m /= base;
    }
    int64_t nd = (int64_t)sizeof d - k;
    if (prec < 0 && nd == 0)
        d[--k] = '0', nd = 1;
    int64_t zeros = prec > nd ? prec - nd : 0;
    ktl_sb body;
    ktl_sb_init(&body);
    ktl_sb_fill(&body, '0', zeros);
    ktl_sb_add(&body, ktl_mkstr(d + k, nd));
    char lead[1];
    int n = 0;
    if (v < 0)
        lead[n++] = '-';
    else if (flags & KTL_FS_PLUS)
        lead[n++] = '+';
    int lay = flags & KTL_FS_LEFT;
    if ((flags & KTL_FS_ZERO) && !(flags & KTL_FS_LEFT) && prec < 0)
        lay |= KTL_FS_ZERO;
    ktl_fs_layout(b, lead, n, body.p, body.len, lay, width);
    ktl_sb_free(&body);
}

/* A finite non-negative double through one printf conversion, appended at
   full length whatever the precision. */
static void ktl_fs_printf(ktl_sb *t, bool alt, int prec, char conv, double a) {
    char f[8];
    int k = 0;
    f[k++] = '%';
    if (alt)
        f[k++] = '#';
    f[k++] = '.';
    f[k++] = '*';
    f[k++] = conv;
    f[k] = 0;
    int n = snprintf(NULL, 0, f, prec, a);
    if (n < 0)
        return;
    ktl_sb_reserve(t, (int64_t)n + 1);
    snprintf(t->p + t->len, (size_t)n + 1, f, prec, a);
    t->len += n;
}

/* Removes the trailing zeros of the fraction in t[from, to), and the point
   when nothing is left after it; what follows `to` moves up. */
static void ktl_fs_strip_zeros(ktl_sb *t, int64_t from, int64_t to) {
    const char *dot = memchr(t->p + from, '.', (size_t)(to - from));
    if (!dot)
        return;
    int64_t end = to;
    while (end > from && t->p[end - 1] == '0')
        end--;
    if (t->p + end - 1 == dot)
        end--;
    memmove(t->p + end, t->p + to, (size_t)(t->len - to));
    t->len -= to - end;
}

/* A float with a precision and no type letter: 'g' with at least one
   digit after the point in fixed notation, which it leaves when the
   exponent reaches the precision minus one (Python's rule, one earlier
   than C's %g). */
static void ktl_fs_general(ktl_sb *t, double a, int prec, bool alt) {
    if (prec == 0)
        prec = 1;
    int64_t start = t->len;
    ktl_fs_printf(t, alt, prec - 1, 'e', a);
    const char *e = memchr(t->p + start, 'e', (size_t)(t->len - start));
    int x = e ? atoi(e + 1) : 0;
    if (x >= -4 && x < prec - 1) {
        t->len = start;
        ktl_fs_printf(t, alt, prec - 1 - x, 'f', a);
        if (!alt)
            ktl_fs_strip_zeros(t, start, t->len);
        if (!memchr(t->p + start, '.', (size_t)(t->len - start))) {
            ktl_sb_putc(t, '.');
            ktl_sb_putc(t, '0');
        }
    } else if (!alt && e) {
        ktl_fs_strip_zeros(t, start, e - t->p);
    }
}

/* A float by type 'e', 'E', 'f', 'g', 'G', '%' or 0 (none); prec < 0 when
   the spec gives none. A NaN never shows a minus sign, as in Python. */
static void ktl_fs_float(ktl_sb *b, double v, char type, int64_t prec, int flags, int64_t width) {
    bool alt = (flags & KTL_FS_ALT) != 0;
    char lead[1];
    int n = 0;
    if (v == v && signbit(v))
        lead[n++] = '-';
    else if (flags & KTL_FS_PLUS)
        lead[n++] = '+';
    double a = fabs(v);
    if (type == '%')
        a *= 100.0;
    int p = prec < 0 ? 6 : prec > 2147483647 ? 2147483647 : (int)prec;
    ktl_sb t;
    ktl_sb_init(&t);
    if (!isfinite(a)) {
        bool upper = type == 'E' || type == 'G';
        ktl_sb_add(&t, a != a ? (upper ? KTL_LIT("NAN") : KTL_LIT("nan"))
                              : (upper ? KTL_LIT("INF") : KTL_LIT("inf")));
    } else if (type == 0 && prec < 0) {
        char buf[48];
        int k = ktl_f2a(a, buf);
        char *e = memchr(buf, 'e', (size_t)k);
        if (alt && !memchr(buf, '.', (size_t)k) && e) {
            memmove(e + 1, e, (size_t)(buf + k - e));
            *e = '.';
            k++;
        }
        ktl_sb_add(&t, ktl_mkstr(buf, k));
    } else if (type == 0) {
        ktl_fs_general(&t, a, p, alt);
    } else {
        ktl_fs_printf(&t, alt, p, type == '%' ? 'f' : type, a);
    }
    if (type == '%')
        ktl_sb_putc(&t, '%');
    ktl_fs_layout(b, lead, n, t.p, t.len, flags, width);
    ktl_sb_free(&t);
}

/* Text padded with blanks to `width` characters (code points): before it
   under KTL_FS_RIGHT, after it otherwise. */
static void ktl_fs_text(ktl_sb *b, ktl_str s, int flags, int64_t width) {
    int64_t chars = ktl_utf8_len(s);
    int64_t pad = width > chars ? width - chars : 0;
    if (flags & KTL_FS_RIGHT)
        ktl_sb_fill(b, ' ', pad);
    ktl_sb_add(b, s);
    if (!(flags & KTL_FS_RIGHT))
        ktl_sb_fill(b, ' ', pad);
}

