/* ---- String builder, number formats, digit grouping, capture spill ----
 *
 * f-strings, str() of containers and joins build their text in a ktl_sb on
 * the C stack: the first 200 bytes go to its inline buffer, longer texts to a
 * C-heap buffer that doubles; ktl_sb_done copies the finished text once into
 * the collected heap. A builder must not be copied by value (its pointer may
 * point at its own inline buffer). Formatted numbers are never cut: a text
 * longer than the stack buffer is formatted again straight into the builder.
 */

struct ktl_sb {
    char *p;
    int64_t len;
    int64_t cap;
    char inl[200];
};

/* memcpy for the short pieces text is mostly built from: up to 16 bytes
   are moved with two overlapping loads and stores of a fixed size, which
   compile inline, instead of a library call. */
static inline void ktl_copy_bytes(char *d, const char *s, size_t n) {
    if (n > 16) {
        memcpy(d, s, n);
    } else if (n >= 8) {
        uint64_t x, y;
        memcpy(&x, s, 8);
        memcpy(&y, s + n - 8, 8);
        memcpy(d, &x, 8);
        memcpy(d + n - 8, &y, 8);
    } else if (n >= 4) {
        uint32_t x, y;
        memcpy(&x, s, 4);
        memcpy(&y, s + n - 4, 4);
        memcpy(d, &x, 4);
        memcpy(d + n - 4, &y, 4);
    } else if (n) {
        d[0] = s[0];
        d[n / 2] = s[n / 2];
        d[n - 1] = s[n - 1];
    }
}

static inline void ktl_sb_init(ktl_sb *b) {
    b->p = b->inl;
    b->len = 0;
    b->cap = (int64_t)sizeof b->inl;
}

/* Makes room for `extra` more bytes: the capacity doubles until it holds
   them. A size that cannot be represented ends the program as out of
   memory, like a failed allocation. */
KTL_RT KTL_COLD void ktl_sb_grow(ktl_sb *b, int64_t extra);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_sb_grow(ktl_sb *b, int64_t extra) {
    if (extra < 0 || extra > INT64_MAX - b->len)
        ktl_panic("out of memory");
    int64_t need = b->len + extra, cap = b->cap;
    while (cap < need)
        cap = cap > INT64_MAX / 2 ? need : cap * 2;
    char *np = (char *)ktl_xmalloc((size_t)cap);
    if (b->len)
        memcpy(np, b->p, (size_t)b->len);
    if (b->p != b->inl)
        free(b->p);
    b->p = np;
    b->cap = cap;
}
#endif

static inline void ktl_sb_reserve(ktl_sb *b, int64_t extra) {
    if (KTL_UNLIKELY(extra > b->cap - b->len))
        ktl_sb_grow(b, extra);
}

static inline void ktl_sb_add(ktl_sb *b, ktl_str s) {
    if (s.len <= 0)
        return;
    ktl_sb_reserve(b, s.len);
    ktl_copy_bytes(b->p + b->len, s.p, (size_t)s.len);
    b->len += s.len;
}

static inline void ktl_sb_putc(ktl_sb *b, char c) {
    ktl_sb_reserve(b, 1);
    b->p[b->len++] = c;
}

/* Appends n copies of byte c. */
static void ktl_sb_fill(ktl_sb *b, char c, int64_t n) {
    if (n <= 0)
        return;
    ktl_sb_reserve(b, n);
    memset(b->p + b->len, c, (size_t)n);
    b->len += n;
}

KTL_RT KTL_NOINLINE void ktl_sb_int(ktl_sb *b, int64_t v);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_NOINLINE void ktl_sb_int(ktl_sb *b, int64_t v) {
    ktl_sb_reserve(b, 20);
    b->len += ktl_i2a(v, b->p + b->len);
}
#endif

KTL_RT KTL_NOINLINE void ktl_sb_float(ktl_sb *b, double v);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_NOINLINE void ktl_sb_float(ktl_sb *b, double v) {
    char buf[40];
    ktl_sb_add(b, ktl_mkstr(buf, ktl_f2a(v, buf)));
}
#endif

/* Frees the heap buffer of a builder that is abandoned rather than done. */
static inline void ktl_sb_free(ktl_sb *b) {
    if (b->p != b->inl)
        free(b->p);
    ktl_sb_init(b);
}

/* The finished text, copied into the collected heap (an empty text needs
   no copy); the builder's heap buffer is freed and the builder must not be
   used again. */
KTL_RT KTL_NOINLINE ktl_str ktl_sb_done(ktl_sb *b);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_NOINLINE ktl_str ktl_sb_done(ktl_sb *b) {
    ktl_str r = b->len ? ktl_str_copy(b->p, b->len) : KTL_LIT("");
    if (b->p != b->inl)
        free(b->p);
    b->p = b->inl;
    b->len = 0;
    return r;
}
#endif

/* printf formats of f-string fields: the text goes through a stack buffer
   of `bufsize` bytes, and when snprintf reports a longer text (a wide
   field) it is formatted again directly into the builder at its full size.
   A format error (negative result) appends nothing. */
#define KTL_SB_FMT(b, bufsize, fmt, v)                                                             \
    do {                                                                                           \
        char ktl_fbuf_[bufsize];                                                                   \
        int ktl_fn_ = snprintf(ktl_fbuf_, sizeof ktl_fbuf_, fmt, v);                               \
        if (ktl_fn_ < 0)                                                                           \
            break;                                                                                 \
        if ((size_t)ktl_fn_ < sizeof ktl_fbuf_) {                                                  \
            ktl_sb_add(b, ktl_mkstr(ktl_fbuf_, ktl_fn_));                                          \
            break;                                                                                 \
        }                                                                                          \
        ktl_sb_reserve(b, (int64_t)ktl_fn_ + 1);                                                   \
        snprintf((b)->p + (b)->len, (size_t)ktl_fn_ + 1, fmt, v);                                  \
        (b)->len += ktl_fn_;                                                                       \
    } while (0)

KTL_RT KTL_NOINLINE void ktl_sb_fmt_i(ktl_sb *b, const char *fmt, int64_t v);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_NOINLINE void ktl_sb_fmt_i(ktl_sb *b, const char *fmt, int64_t v) {
    KTL_SB_FMT(b, 160, fmt, (long long)v);
}
#endif

/* A NaN prints without its sign, as Python never shows "-nan" (the NaN an
   invalid operation produces on x86 has its sign bit set). */
KTL_RT KTL_NOINLINE void ktl_sb_fmt_f(ktl_sb *b, const char *fmt, double v);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_NOINLINE void ktl_sb_fmt_f(ktl_sb *b, const char *fmt, double v) {
    if (v != v)
        v = fabs(v);
    KTL_SB_FMT(b, 400, fmt, v);
}
#endif

/* s padded with blanks to `width` bytes: blanks after s when `left`, before
   it otherwise; nothing when s is already that long. */
static void ktl_sb_pad(ktl_sb *b, ktl_str s, int64_t width, bool left) {
    if (width <= s.len) {
        ktl_sb_add(b, s);
        return;
    }
    int64_t pad = width - s.len;
    ktl_sb_reserve(b, width);
    if (!left)
        ktl_sb_fill(b, ' ', pad);
    ktl_sb_add(b, s);
    if (left)
        ktl_sb_fill(b, ' ', pad);
}

#ifdef KTL_GROUPING
/* Inserts sep into the run of digits that follows an optional sign, after
   every digit that has a positive multiple of three digits still to come in
   the run; the rest (point, fraction, exponent, or "inf"/"nan") is copied
   unchanged. The result is padded to width. The work area is sized from the
   text, so nothing is ever cut. */
static void ktl_sb_group(ktl_sb *b, ktl_str t, char sep, int64_t width, bool left) {
    ktl_sb g;
    ktl_sb_init(&g);
    ktl_sb_reserve(&g, t.len + t.len / 3 + 1);
    int64_t i = 0;
    if (i < t.len && (t.p[i] == '-' || t.p[i] == '+'))
        g.p[g.len++] = t.p[i++];
    int64_t run = 0;
    while (i + run < t.len && t.p[i + run] >= '0' && t.p[i + run] <= '9')
        run++;
    for (int64_t k = 0; k < run; k++) {
        g.p[g.len++] = t.p[i + k];
        int64_t rest = run - 1 - k;
        if (rest > 0 && rest % 3 == 0)
            g.p[g.len++] = sep;
    }
    i += run;
    memcpy(g.p + g.len, t.p + i, (size_t)(t.len - i));
    g.len += t.len - i;
    ktl_sb_pad(b, ktl_mkstr(g.p, g.len), width, left);
    ktl_sb_free(&g);
}

static void ktl_sb_group_i(ktl_sb *b, const char *fmt, int64_t v, char sep, int64_t width,
                           bool left) {
    ktl_sb t;
    ktl_sb_init(&t);
    ktl_sb_fmt_i(&t, fmt, v);
    ktl_sb_group(b, ktl_mkstr(t.p, t.len), sep, width, left);
    ktl_sb_free(&t);
}

static void ktl_sb_group_f(ktl_sb *b, const char *fmt, double v, char sep, int64_t width,
                           bool left) {
    ktl_sb t;
    ktl_sb_init(&t);
    ktl_sb_fmt_f(&t, fmt, v);
    ktl_sb_group(b, ktl_mkstr(t.p, t.len), sep, width, left);
    ktl_sb_free(&t);
}
#endif

/* Bytes that leave the output buffer while a capture is active go to the
   capture's builder. */
KTL_RT void ktl_cap_spill(const char *p, size_t n);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_cap_spill(const char *p, size_t n) {
    ktl_sb_add(ktl_cap, ktl_mkstr(p, (int64_t)n));
}
#endif

/* repr() of a string as a new string: the printing function under a
   capture. */
KTL_RT ktl_str ktl_repr_str(ktl_str s);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT ktl_str ktl_repr_str(ktl_str s) {
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_capstate cs = ktl_cap_begin(&b);
    ktl_print_repr_s(s);
    ktl_cap_end(cs);
    return ktl_sb_done(&b);
}
#endif

/* How an instance of a class without __str__ and __repr__ prints. */
static void ktl_print_obj_default(const char *cls, const void *o) {
    char buf[64];
    ktl_write("<__main__.", 10);
    ktl_write(cls, strlen(cls));
    int n = snprintf(buf, sizeof buf, " object at 0x%016llX>", (unsigned long long)(uintptr_t)o);
    ktl_write(buf, (size_t)n);
}

