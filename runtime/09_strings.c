/* ---- Strings: equality, order, concatenation, slicing, search, replace,
 * characters and number parsing ----
 *
 * Strings are immutable byte views; an operation returns a view into its
 * argument whenever the result is a contiguous part of it and allocates
 * (no-scan memory) only when bytes must change. Concatenation appends in
 * place when the left operand ends exactly at the used end of a growable
 * block, so `s += x` in a loop is amortised constant time. Indexes and
 * lengths count bytes.
 */

/* The value generated code passes for an omitted slice bound. */
#define KTL_NOIDX INT64_MIN

/* Index check: i has already been made non-negative by adding the length
   once, so one unsigned compare rejects both ends. */
#ifdef KTL_UNCHECKED
#define KTL_CHECK(what, i, n) ((void)0)
#else
#define KTL_CHECK(what, i, n)                                                                      \
    do {                                                                                           \
        if (KTL_UNLIKELY((uint64_t)(i) >= (uint64_t)(n)))                                          \
            ktl_index_error((what), (i), (n));                                                     \
    } while (0)
#endif

static KTL_COLD KTL_NORETURN void ktl_value_error(const char *msg) {
    ktl_raise_c(KTL_E_ValueError, msg);
}

static inline bool ktl_str_eq(ktl_str a, ktl_str b) {
    return a.len == b.len && (a.p == b.p || a.len == 0 || memcmp(a.p, b.p, (size_t)a.len) == 0);
}

/* Order by the bytes (unsigned) of the common prefix, then shorter first:
   -1, 0 or 1. */
static inline int ktl_str_cmp(ktl_str a, ktl_str b) {
    int64_t n = a.len < b.len ? a.len : b.len;
    int c = n > 0 ? memcmp(a.p, b.p, (size_t)n) : 0;
    if (c)
        return (c > 0) - (c < 0);
    return (a.len > b.len) - (a.len < b.len);
}

/* A growable block keeps the count of its used bytes in its first 8 bytes;
   the text starts after them. */
#define KTL_GROW_HDR 8

/* a + b. When a ends exactly at the used end of a growable block with room
   for b, b is appended in place and a lengthened view is returned: another
   view of that block ends before the new bytes or makes its own copy, so no
   string ever changes. The used count is claimed with a compare-and-swap, so
   threads appending to the same string never share bytes: the loser copies.
   Otherwise a new growable block is made; it gets spare room (twice the
   length) when `room` is set, for `s += t`, or when a was grown already.
   `lasting` says b is a string value that may be returned as it is (for an
   empty a); a builder's bytes are not, and are always copied. */
static inline ktl_str ktl_str_cat_in(ktl_str a, ktl_str b, bool room, bool lasting) {
    if (b.len == 0)
        return a;
    if (a.len == 0 && lasting)
        return b;
    if (b.len > INT64_MAX - KTL_GROW_HDR - a.len)
        ktl_panic("out of memory");
    size_t bsize = 0;
    ktl_page *pg = NULL;
    char *blk = a.len ? (char *)ktl_gc_block(a.p, &bsize, &pg) : NULL;
    bool grown = blk && pg->mem == KTL_GROW;
    if (grown) {
        int64_t used = 0;
        memcpy(&used, blk, sizeof used);
        if (a.p + a.len == blk + KTL_GROW_HDR + used &&
            (uint64_t)(KTL_GROW_HDR + used) + (uint64_t)b.len <= (uint64_t)bsize) {
#ifdef KTL_PARALLEL
            if (__atomic_compare_exchange_n((int64_t *)(void *)blk, &used, used + b.len, false,
                                            __ATOMIC_ACQ_REL, __ATOMIC_RELAXED)) {
                memcpy(blk + KTL_GROW_HDR + used, b.p, (size_t)b.len);
                return (ktl_str){a.p, a.len + b.len};
            }
#else
            used += b.len;
            memcpy(blk, &used, sizeof used);
            ktl_copy_bytes((char *)a.p + a.len, b.p, (size_t)b.len);
            return (ktl_str){a.p, a.len + b.len};
#endif
        }
    }
    int64_t n = a.len + b.len;
    int64_t cap = (grown || room) && n <= (INT64_MAX - KTL_GROW_HDR) / 2 ? 2 * n : n;
    char *nb = (char *)ktl_gc_alloc((size_t)(KTL_GROW_HDR + cap), KTL_GROW);
    memcpy(nb, &n, sizeof n);
    if (a.len)
        memcpy(nb + KTL_GROW_HDR, a.p, (size_t)a.len);
    memcpy(nb + KTL_GROW_HDR + a.len, b.p, (size_t)b.len);
    return (ktl_str){nb + KTL_GROW_HDR, n};
}

static ktl_str ktl_str_cat(ktl_str a, ktl_str b) {
    return ktl_str_cat_in(a, b, false, true);
}

/* s += t: the result keeps room to grow, so the next append to it extends
   it in place. */
static ktl_str ktl_str_append(ktl_str a, ktl_str b) {
    return ktl_str_cat_in(a, b, true, true);
}

/* a followed by a builder's text (an f-string or the rest of a `+` chain
   built on the stack), copied once; `room` as for ktl_str_append. The
   builder's heap buffer is freed and the builder must not be used again. */
static ktl_str ktl_str_cat_sb(ktl_str a, ktl_sb *b, bool room) {
    ktl_str r = ktl_str_cat_in(a, ktl_mkstr(b->p, b->len), room, false);
    ktl_sb_free(b);
    return r;
}

/* s * n: "" for n <= 0 or an empty s, s itself for n = 1. A result whose
   size does not fit raises OverflowError, as Python does. */
static ktl_str ktl_str_rep(ktl_str s, int64_t n) {
    if (n <= 0 || s.len == 0)
        return KTL_LIT("");
    if (n == 1)
        return s;
    if (s.len > INT64_MAX / n)
        ktl_raise_c(KTL_E_OverflowError, "repeated string is too long");
    int64_t total = s.len * n;
    char *p = ktl_alloc_bytes((size_t)total);
    if (s.len == 1) {
        memset(p, s.p[0], (size_t)total);
    } else {
        /* Doubling copies: each memcpy copies what is already there. */
        memcpy(p, s.p, (size_t)s.len);
        int64_t done = s.len;
        while (done < total) {
            int64_t k = done < total - done ? done : total - done;
            memcpy(p + done, p, (size_t)k);
            done += k;
        }
    }
    return (ktl_str){p, total};
}

/* s[i] as a one-byte view; a negative i counts from the end. */
static inline ktl_str ktl_str_at(ktl_str s, int64_t i) {
    if (i < 0)
        i += s.len;
    KTL_CHECK("string", i, s.len);
    return (ktl_str){s.p + i, 1};
}

/* A slice bound for step 1, as Python clamps it: negative counts from the
   end, then limited to [0, len]. */
static inline int64_t ktl_clamp(int64_t i, int64_t len) {
    if (i < 0) {
        i += len;
        if (i < 0)
            i = 0;
    } else if (i > len) {
        i = len;
    }
    return i;
}

static inline ktl_str ktl_str_slice(ktl_str s, int64_t lo, int64_t hi) {
    lo = ktl_clamp(lo, s.len);
    hi = ktl_clamp(hi, s.len);
    return (ktl_str){s.p + lo, hi > lo ? hi - lo : 0};
}

/* Python's slice.indices(): adjusts *lo and *hi (KTL_NOIDX for an omitted
   bound) for a sequence of len items and returns the number of items the
   slice selects. Computed on unsigned values, so no bound or step
   overflows. */
static int64_t ktl_slice_adjust(int64_t len, int64_t *lo, int64_t *hi, int64_t step) {
    if (step == 0)
        ktl_value_error("slice step cannot be zero");
    int64_t lower = step < 0 ? -1 : 0, upper = step < 0 ? len - 1 : len;
    int64_t *b[2] = {lo, hi};
    for (int k = 0; k < 2; k++) {
        int64_t v = *b[k];
        if (v == KTL_NOIDX) {
            v = (k == 0) == (step < 0) ? upper : lower;
        } else if (v < 0) {
            v += len;
            if (v < lower)
                v = lower;
        } else if (v > upper) {
            v = upper;
        }
        *b[k] = v;
    }
    if (step < 0) {
        if (*hi >= *lo)
            return 0;
        return (int64_t)((uint64_t)(*lo - *hi - 1) / ((uint64_t)0 - (uint64_t)step) + 1);
    }
    if (*lo >= *hi)
        return 0;
    return (int64_t)((uint64_t)(*hi - *lo - 1) / (uint64_t)step + 1);
}

/* s[lo:hi:step]: a view for step 1, a new string otherwise. */
static ktl_str ktl_str_slice_step(ktl_str s, int64_t lo, int64_t hi, int64_t step) {
    int64_t n = ktl_slice_adjust(s.len, &lo, &hi, step);
    if (n == 0)
        return KTL_LIT("");
    if (step == 1)
        return (ktl_str){s.p + lo, n};
    char *p = ktl_alloc_bytes((size_t)n);
    for (int64_t k = 0, i = lo; k < n; k++, i += step)
        p[k] = s.p[i];
    return (ktl_str){p, n};
}

/* The number of characters: bytes that are not UTF-8 continuation bytes. */
static inline int64_t ktl_utf8_len(ktl_str s) {
    return ktl_count_char_starts(s.p, s.len);
}

/* ---- Search ---- */

static inline int64_t ktl_str_find(ktl_str h, ktl_str n) {
    if (n.len == 0)
        return 0;
    return ktl_find_raw(h.p, h.len, n.p, n.len);
}

static int64_t ktl_str_rfind(ktl_str h, ktl_str n) {
    if (n.len == 0)
        return h.len;
    if (n.len > h.len)
        return -1;
    for (int64_t i = h.len - n.len; i >= 0; i--)
        if (h.p[i] == n.p[0] && memcmp(h.p + i, n.p, (size_t)n.len) == 0)
            return i;
    return -1;
}

static KTL_COLD KTL_NORETURN void ktl_substr_error(void) {
    ktl_value_error("substring not found");
}

static inline int64_t ktl_str_index(ktl_str h, ktl_str n) {
    int64_t i = ktl_str_find(h, n);
    if (KTL_UNLIKELY(i < 0))
        ktl_substr_error();
    return i;
}

static inline int64_t ktl_str_rindex(ktl_str h, ktl_str n) {
    int64_t i = ktl_str_rfind(h, n);
    if (KTL_UNLIKELY(i < 0))
        ktl_substr_error();
    return i;
}

static inline bool ktl_str_contains(ktl_str h, ktl_str n) {
    return ktl_str_find(h, n) >= 0;
}

/* Non-overlapping occurrences; len + 1 for an empty needle, as Python counts
   the empty string between characters (bytes here). */
static int64_t ktl_str_count(ktl_str h, ktl_str n) {
    if (n.len == 0)
        return h.len + 1;
    if (n.len == 1)
        return ktl_count_byte(h.p, h.len, n.p[0]);
    int64_t k = 0, at = 0;
    for (;;) {
        int64_t i = ktl_find_raw(h.p + at, h.len - at, n.p, n.len);
        if (i < 0)
            return k;
        k++;
        at += i + n.len;
    }
}

/* Every non-overlapping occurrence of old replaced, left to right, in one
   allocation of the exact size. An empty old inserts new before every
   character and at the end, as Python does ("abc" gives "-a-b-c-"); UTF-8
   sequences are never split. */
static ktl_str ktl_str_replace(ktl_str s, ktl_str old, ktl_str nw) {
    if (old.len == 0) {
        if (nw.len == 0)
            return s;
        int64_t slots = ktl_utf8_len(s) + 1;
        if (slots > (INT64_MAX - s.len) / nw.len)
            ktl_raise_c(KTL_E_OverflowError, "replace string is too long");
        int64_t total = s.len + slots * nw.len, k = 0;
        char *p = ktl_alloc_bytes((size_t)total);
        for (int64_t i = 0; i < s.len; i++) {
            if (((unsigned char)s.p[i] & 0xC0) != 0x80) {
                memcpy(p + k, nw.p, (size_t)nw.len);
                k += nw.len;
            }
            p[k++] = s.p[i];
        }
        memcpy(p + k, nw.p, (size_t)nw.len);
        return (ktl_str){p, total};
    }
    int64_t count = ktl_str_count(s, old);
    if (count == 0)
        return s;
    int64_t grow = nw.len - old.len;
    if (grow > 0 && count > (INT64_MAX - s.len) / grow)
        ktl_raise_c(KTL_E_OverflowError, "replace string is too long");
    int64_t total = s.len + count * grow;
    char *p = ktl_alloc_bytes((size_t)total);
    int64_t at = 0, k = 0;
    for (int64_t c = 0; c < count; c++) {
        int64_t i = at + ktl_find_raw(s.p + at, s.len - at, old.p, old.len);
        memcpy(p + k, s.p + at, (size_t)(i - at));
        k += i - at;
        if (nw.len)
            memcpy(p + k, nw.p, (size_t)nw.len);
        k += nw.len;
        at = i + old.len;
    }
    memcpy(p + k, s.p + at, (size_t)(s.len - at));
    return (ktl_str){p, total};
}

/* ---- Characters ---- */

/* ord(): the code point of a one-character string. Bytes are not validated:
   a lead byte without enough bytes after it gives the byte itself. */
static int64_t ktl_ord(ktl_str s) {
    int64_t chars = ktl_utf8_len(s);
    if (chars != 1) {
        if (s.len == 0)
            ktl_raise_c(KTL_E_TypeError,
                        "ord() expected a character, but string of length 0 found");
        ktl_raise_fmt(KTL_E_TypeError,
                      "ord() expected a character, but string of length %lld found",
                      (long long)chars);
    }
    const unsigned char *p = (const unsigned char *)s.p;
    unsigned c = p[0];
    if (c < 0x80 || s.len == 1)
        return c;
    if ((c & 0xE0) == 0xC0)
        return ((c & 0x1F) << 6) | (p[1] & 0x3F);
    if ((c & 0xF0) == 0xE0 && s.len >= 3)
        return ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    if (s.len >= 4)
        return ((c & 7) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    return c;
}

/* chr(): ASCII is a view into ktl_ascii (no allocation), anything else its
   UTF-8 encoding in a new block. */
static ktl_str ktl_chr(int64_t c) {
    if (c < 0 || c > 0x10FFFF)
        ktl_value_error("chr() arg not in range(0x110000)");
    if (c < 0x80)
        return (ktl_str){ktl_ascii + c, 1};
    char b[4];
    int n;
    if (c < 0x800) {
        b[0] = (char)(0xC0 | (c >> 6));
        b[1] = (char)(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        b[0] = (char)(0xE0 | (c >> 12));
        b[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[2] = (char)(0x80 | (c & 0x3F));
        n = 3;
    } else {
        b[0] = (char)(0xF0 | (c >> 18));
        b[1] = (char)(0x80 | ((c >> 12) & 0x3F));
        b[2] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[3] = (char)(0x80 | (c & 0x3F));
        n = 4;
    }
    return ktl_str_copy(b, n);
}

/* ---- int() and float() of a string ---- */

/* ValueError with the repr of the whole argument, cut to 500 bytes. */
static KTL_COLD KTL_NORETURN void ktl_bad_literal(const char *what, ktl_str arg) {
    ktl_str r = ktl_repr_str(arg);
    ktl_raise_fmt(KTL_E_ValueError, "%s: %.*s", what, (int)(r.len < 500 ? r.len : 500), r.p);
}

static inline ktl_str ktl_strip_ws(ktl_str s) {
    int64_t a = 0, b = s.len;
    while (a < b && ktl_isspace_c(s.p[a]))
        a++;
    while (b > a && ktl_isspace_c(s.p[b - 1]))
        b--;
    return (ktl_str){s.p + a, b - a};
}

/* int(s) in base 10, as Python reads it: surrounding whitespace, one
   optional sign, digits with single underscores between them. A value
   outside the 64-bit range is an error, never a silently saturated
   number. */
static int64_t ktl_parse_int(ktl_str s) {
    static const char bad[] = "invalid literal for int() with base 10";
    ktl_str t = ktl_strip_ws(s);
    int64_t i = 0;
    bool neg = false;
    if (i < t.len && (t.p[i] == '+' || t.p[i] == '-'))
        neg = t.p[i++] == '-';
    if (i >= t.len || !ktl_isdigit_c(t.p[i]))
        ktl_bad_literal(bad, s);
    uint64_t v = 0, limit = neg ? (uint64_t)1 << 63 : ((uint64_t)1 << 63) - 1;
    bool over = false;
    for (; i < t.len; i++) {
        char c = t.p[i];
        if (c == '_' && i + 1 < t.len && ktl_isdigit_c(t.p[i + 1]) && ktl_isdigit_c(t.p[i - 1]))
            continue;
        if (!ktl_isdigit_c(c))
            ktl_bad_literal(bad, s);
        unsigned d = (unsigned)(c - '0');
        if (v > (limit - d) / 10)
            over = true;
        else
            v = v * 10 + d;
    }
    if (over)
        ktl_bad_literal("int() literal out of the 64-bit integer range", s);
    return neg ? (int64_t)((uint64_t)0 - v) : (int64_t)v;
}

/* float(s): decimal numbers with an optional exponent, inf, infinity and
   nan in any case, with an optional sign and surrounding whitespace, and
   single underscores between digits, as Python accepts them (hexadecimal
   floats and "nan(...)" are refused as Python refuses them). Texts of any
   length are read: a long one gets a C-heap buffer, freed before any
   error is raised. */
static double ktl_parse_float(ktl_str s) {
    static const char bad[] = "could not convert string to float";
    ktl_str t = ktl_strip_ws(s);
    char small[128];
    char *buf = t.len < (int64_t)sizeof small ? small : (char *)ktl_xmalloc((size_t)t.len + 1);
    bool ok = t.len > 0;
    int64_t k = 0;
    for (int64_t i = 0; ok && i < t.len; i++) {
        char c = t.p[i];
        if (c == '_') {
            ok = i > 0 && i + 1 < t.len && ktl_isdigit_c(t.p[i - 1]) && ktl_isdigit_c(t.p[i + 1]);
            continue;
        }
        ok = !(c == 'x' || c == 'X' || c == '(' || c == '\0' || ktl_isspace_c(c));
        buf[k++] = c;
    }
    buf[k] = 0;
    double v = 0;
    if (ok) {
        char *end = NULL;
        v = strtod(buf, &end);
        ok = end == buf + k;
    }
    if (buf != small)
        free(buf);
    if (!ok)
        ktl_bad_literal(bad, s);
    return v;
}

