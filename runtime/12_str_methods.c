/* ---- Split, join, partition and line splitting ----
 *
 * Pieces are views into the string being split, never copies; a split
 * counts its pieces first so that the list is allocated once at its final
 * size, and a join computes its total length first so that the result is
 * one allocation. Whitespace is ASCII whitespace (ktl_isspace_c).
 */

static KTL_COLD KTL_NORETURN void ktl_empty_sep(void) {
    ktl_value_error("empty separator");
}

/* s.split(sep) with at most maxsplit splits from the left (no limit when
   maxsplit is negative). One-byte separators walk the match masks of each
   vector; longer ones repeat the needle search. */
static L_s *ktl_str_split_n(ktl_str s, ktl_str sep, int64_t maxsplit) {
    if (sep.len == 0)
        ktl_empty_sep();
    int64_t pieces = ktl_str_count(s, sep) + 1;
    if (maxsplit >= 0 && pieces > maxsplit + 1)
        pieces = maxsplit + 1;
    L_s *l = L_s_new(pieces);
    int64_t at = 0, cuts = pieces - 1;
    if (sep.len == 1) {
        char c = sep.p[0];
        int64_t i = 0;
#ifdef KTL_VW
        ktl_vec vc = ktl_vsplat(c);
        for (; cuts > 0 && i + KTL_VW <= s.len; i += KTL_VW) {
            for (uint32_t m = ktl_vmask(ktl_veq(ktl_vload(s.p + i), vc)); m && cuts > 0;
                 m &= m - 1) {
                int64_t j = i + __builtin_ctz(m);
                L_s_push(l, (ktl_str){s.p + at, j - at});
                at = j + 1;
                cuts--;
            }
        }
#endif
        for (; cuts > 0 && i < s.len; i++) {
            if (s.p[i] != c)
                continue;
            L_s_push(l, (ktl_str){s.p + at, i - at});
            at = i + 1;
            cuts--;
        }
    } else {
        for (; cuts > 0; cuts--) {
            int64_t j = at + ktl_find_raw(s.p + at, s.len - at, sep.p, sep.len);
            L_s_push(l, (ktl_str){s.p + at, j - at});
            at = j + sep.len;
        }
    }
    L_s_push(l, (ktl_str){s.p + at, s.len - at});
    return l;
}

static inline L_s *ktl_str_split(ktl_str s, ktl_str sep) {
    return ktl_str_split_n(s, sep, -1);
}

/* len(s.split(sep)) without building the list. */
static inline int64_t ktl_str_split_count(ktl_str s, ktl_str sep) {
    if (sep.len == 0)
        ktl_empty_sep();
    return ktl_str_count(s, sep) + 1;
}

/* len(s.split()): the non-whitespace bytes that start s or follow
   whitespace. Per vector, the word starts are the non-whitespace bits whose
   previous byte is whitespace (the whitespace mask shifted up by one, the
   last bit of the previous vector carried in). */
static int64_t ktl_str_count_words(ktl_str s) {
    int64_t i = 0, k = 0;
    uint32_t carry = 1;
#ifdef KTL_VW
    for (; i + KTL_VW <= s.len; i += KTL_VW) {
        uint32_t ws = ktl_vmask(ktl_vspace(ktl_vload(s.p + i)));
        uint32_t prev = (uint32_t)((((uint64_t)ws << 1) | carry) & KTL_VALL);
        k += __builtin_popcount(~ws & prev & KTL_VALL);
        carry = (ws >> (KTL_VW - 1)) & 1;
    }
#endif
    bool prev_ws = carry != 0;
    for (; i < s.len; i++) {
        bool ws = ktl_isspace_c(s.p[i]);
        k += !ws && prev_ws;
        prev_ws = ws;
    }
    return k;
}

/* s.split() with at most maxsplit splits (no limit when negative): runs of
   whitespace separate the pieces and no piece is empty; after the last
   split, the rest from its first non-whitespace byte is the final piece and
   keeps its trailing whitespace, as in Python. */
static L_s *ktl_str_split_ws_n(ktl_str s, int64_t maxsplit) {
    int64_t words = ktl_str_count_words(s);
    if (maxsplit >= 0 && words > maxsplit + 1)
        words = maxsplit + 1;
    L_s *l = L_s_new(words);
    int64_t i = 0, splits = 0;
    while (i < s.len) {
        while (i < s.len && ktl_isspace_c(s.p[i]))
            i++;
        if (i >= s.len)
            break;
        if (maxsplit >= 0 && splits == maxsplit) {
            L_s_push(l, (ktl_str){s.p + i, s.len - i});
            break;
        }
        int64_t j = i;
        while (j < s.len && !ktl_isspace_c(s.p[j]))
            j++;
        L_s_push(l, (ktl_str){s.p + i, j - i});
        splits++;
        i = j;
    }
    return l;
}

static inline L_s *ktl_str_split_ws(ktl_str s) {
    return ktl_str_split_ws_n(s, -1);
}

/* The length of the line end at s[i] (0 when s[i] ends no line): \n, \v,
   \f, 0x1C to 0x1E, \r or \r\n, and the UTF-8 forms of U+0085, U+2028 and
   U+2029. */
static inline int ktl_line_end(ktl_str s, int64_t i) {
    unsigned char c = (unsigned char)s.p[i];
    if (c == '\n' || c == '\v' || c == '\f' || (c >= 0x1C && c <= 0x1E))
        return 1;
    if (c == '\r')
        return i + 1 < s.len && s.p[i + 1] == '\n' ? 2 : 1;
    if (c == 0xC2 && i + 1 < s.len && (unsigned char)s.p[i + 1] == 0x85)
        return 2;
    if (c == 0xE2 && i + 2 < s.len && (unsigned char)s.p[i + 1] == 0x80 &&
        ((unsigned char)s.p[i + 2] == 0xA8 || (unsigned char)s.p[i + 2] == 0xA9))
        return 3;
    return 0;
}

static L_s *ktl_str_splitlines(ktl_str s, bool keepends) {
    L_s *l = L_s_new(0);
    int64_t start = 0, i = 0;
    while (i < s.len) {
        int e = ktl_line_end(s, i);
        if (!e) {
            i++;
            continue;
        }
        L_s_push(l, (ktl_str){s.p + start, i - start + (keepends ? e : 0)});
        i += e;
        start = i;
    }
    if (start < s.len)
        L_s_push(l, (ktl_str){s.p + start, s.len - start});
    return l;
}

/* out[0..2] = before, sep, after around the first occurrence of sep; (s,
   "", "") when there is none. */
static void ktl_str_partition(ktl_str s, ktl_str sep, ktl_str *out) {
    if (sep.len == 0)
        ktl_empty_sep();
    int64_t i = ktl_str_find(s, sep);
    if (i < 0) {
        out[0] = s;
        out[1] = out[2] = KTL_LIT("");
        return;
    }
    out[0] = (ktl_str){s.p, i};
    out[1] = (ktl_str){s.p + i, sep.len};
    out[2] = (ktl_str){s.p + i + sep.len, s.len - i - sep.len};
}

/* The same around the last occurrence; ("", "", s) when there is none. */
static void ktl_str_rpartition(ktl_str s, ktl_str sep, ktl_str *out) {
    if (sep.len == 0)
        ktl_empty_sep();
    int64_t i = ktl_str_rfind(s, sep);
    if (i < 0) {
        out[0] = out[1] = KTL_LIT("");
        out[2] = s;
        return;
    }
    out[0] = (ktl_str){s.p, i};
    out[1] = (ktl_str){s.p + i, sep.len};
    out[2] = (ktl_str){s.p + i + sep.len, s.len - i - sep.len};
}

/* sep.join(items): "" for no items, the item itself for one, else one new
   string of the exact total length. */
static ktl_str ktl_str_join(ktl_str sep, L_s *items) {
    int64_t n = items->len;
    if (n == 0)
        return KTL_LIT("");
    if (n == 1)
        return items->data[0];
    int64_t total = 0;
    for (int64_t i = 0; i < n; i++) {
        if (items->data[i].len > INT64_MAX - total)
            ktl_panic("out of memory");
        total += items->data[i].len;
    }
    if (sep.len && (n - 1 > (INT64_MAX - total) / sep.len))
        ktl_panic("out of memory");
    total += sep.len * (n - 1);
    char *p = ktl_alloc_bytes((size_t)total);
    int64_t k = 0;
    for (int64_t i = 0; i < n; i++) {
        if (i && sep.len) {
            memcpy(p + k, sep.p, (size_t)sep.len);
            k += sep.len;
        }
        ktl_str it = items->data[i];
        if (it.len)
            memcpy(p + k, it.p, (size_t)it.len);
        k += it.len;
    }
    return (ktl_str){p, total};
}

/* ---- More str methods: strip, case, character classes, affixes, padding ----
 *
 * Case rules and character classes are ASCII only: other bytes (every byte
 * of a multi-byte UTF-8 character) are never changed and belong to no
 * class. Strip and affix removal return views; case changes and padding
 * allocate the new text once. Padding widths count bytes, the fill must be
 * one character.
 */

static inline ktl_str ktl_str_lstrip(ktl_str s) {
    int64_t a = 0;
    while (a < s.len && ktl_isspace_c(s.p[a]))
        a++;
    return (ktl_str){s.p + a, s.len - a};
}

static inline ktl_str ktl_str_rstrip(ktl_str s) {
    int64_t b = s.len;
    while (b > 0 && ktl_isspace_c(s.p[b - 1]))
        b--;
    return (ktl_str){s.p, b};
}

static inline ktl_str ktl_str_strip(ktl_str s) {
    return ktl_str_rstrip(ktl_str_lstrip(s));
}

/* The length of the UTF-8 character at p[0], at most n: a lead byte's
   length when its continuation bytes follow, else 1 (a stray byte is a
   character of its own). */
static inline int64_t ktl_char_len(const char *p, int64_t n) {
    unsigned char c = (unsigned char)p[0];
    int64_t k = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (k > n)
        return 1;
    for (int64_t i = 1; i < k; i++)
        if (((unsigned char)p[i] & 0xC0) != 0x80)
            return 1;
    return k;
}

/* The character c[0..k) is one of the characters of chars. Whole
   characters are compared, so stripping never cuts a multi-byte character
   that merely shares bytes with one in chars. */
static bool ktl_char_in(const char *c, int64_t k, ktl_str chars) {
    for (int64_t i = 0; i < chars.len;) {
        int64_t m = ktl_char_len(chars.p + i, chars.len - i);
        if (m == k && memcmp(chars.p + i, c, (size_t)k) == 0)
            return true;
        i += m;
    }
    return false;
}

static ktl_str ktl_str_lstrip_c(ktl_str s, ktl_str chars) {
    int64_t a = 0;
    while (a < s.len) {
        int64_t k = ktl_char_len(s.p + a, s.len - a);
        if (!ktl_char_in(s.p + a, k, chars))
            break;
        a += k;
    }
    return (ktl_str){s.p + a, s.len - a};
}

static ktl_str ktl_str_rstrip_c(ktl_str s, ktl_str chars) {
    int64_t b = s.len;
    while (b > 0) {
        /* The last character: back over up to three continuation bytes to
           a lead byte whose character ends exactly at b. */
        int64_t st = b - 1;
        while (st > 0 && b - st < 4 && ((unsigned char)s.p[st] & 0xC0) == 0x80)
            st--;
        if (st + ktl_char_len(s.p + st, b - st) != b)
            st = b - 1;
        if (!ktl_char_in(s.p + st, b - st, chars))
            break;
        b = st;
    }
    return (ktl_str){s.p, b};
}

static inline ktl_str ktl_str_strip_c(ktl_str s, ktl_str chars) {
    return ktl_str_rstrip_c(ktl_str_lstrip_c(s, chars), chars);
}

static ktl_str ktl_str_upper(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    ktl_case_copy(p, s.p, s.len, 'a');
    return (ktl_str){p, s.len};
}

static ktl_str ktl_str_lower(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    ktl_case_copy(p, s.p, s.len, 'A');
    return (ktl_str){p, s.len};
}

/* A letter after a letter becomes lower case, any other letter upper
   case. */
/* Whether a code point above ASCII is a letter with case (Latin, Greek,
   Cyrillic, Armenian, Georgian and the like), so that an ASCII letter after
   it continues a word in title(); CJK, punctuation, symbols and emoji have
   no case and start a new word, as in Python. */
static bool ktl_cased_above_ascii(uint32_t c) {
    if (c < 0x250)
        return c == 0xAA || c == 0xB5 || c == 0xBA || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
    if (c < 0x530)
        return c < 0x2B9 || (c >= 0x370 && c != 0x375 && c != 0x37E && c != 0x384 &&
                             c != 0x385 && c != 0x387 && c != 0x3F6 && !(c >= 0x482 && c <= 0x489));
    return (c >= 0x531 && c <= 0x588) || (c >= 0x10A0 && c <= 0x10FF) ||
           (c >= 0x13A0 && c <= 0x13FD) || (c >= 0x1D00 && c <= 0x1DBF) ||
           (c >= 0x1E00 && c <= 0x1FFF) || (c >= 0x2C00 && c <= 0x2D2F) ||
           (c >= 0xA640 && c <= 0xA69F) || (c >= 0xA722 && c <= 0xA7FF) ||
           (c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A) ||
           (c >= 0x10400 && c <= 0x1044F);
}

/* An ASCII letter after a cased character becomes lower case, any other
   ASCII letter upper case; other characters are copied unchanged but still
   decide whether the next letter continues a word. */
static ktl_str ktl_str_title(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    bool prev = false;
    for (int64_t i = 0; i < s.len;) {
        char c = s.p[i];
        if ((unsigned char)c < 0x80) {
            bool alpha = ktl_isalpha_c(c);
            p[i++] = alpha ? (char)(prev ? (c | 0x20) : (c & ~0x20)) : c;
            prev = alpha;
            continue;
        }
        int64_t k = ktl_char_len(s.p + i, s.len - i);
        memcpy(p + i, s.p + i, (size_t)k);
        prev = k > 1 && ktl_cased_above_ascii(ktl_ord((ktl_str){s.p + i, k}));
        i += k;
    }
    return (ktl_str){p, s.len};
}

static ktl_str ktl_str_capitalize(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    ktl_case_copy(p, s.p, s.len, 'A');
    if (p[0] >= 'a' && p[0] <= 'z')
        p[0] = (char)(p[0] - 32);
    return (ktl_str){p, s.len};
}

static inline bool ktl_str_isdigit(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_DIGIT);
}
static inline bool ktl_str_isalpha(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_ALPHA);
}
static inline bool ktl_str_isspace(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_SPACE);
}
static inline bool ktl_str_isalnum(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_DIGIT | KTL_ALPHA);
}

/* No letter of the other case and at least one letter. */
static bool ktl_str_case_is(ktl_str s, char lo) {
    bool any = false;
    char other = lo == 'a' ? 'A' : 'a';
    for (int64_t i = 0; i < s.len; i++) {
        char c = s.p[i];
        if ((unsigned char)(c - other) <= 25)
            return false;
        any |= (unsigned char)(c - lo) <= 25;
    }
    return any;
}

static inline bool ktl_str_isupper(ktl_str s) {
    return ktl_str_case_is(s, 'A');
}
static inline bool ktl_str_islower(ktl_str s) {
    return ktl_str_case_is(s, 'a');
}

static inline bool ktl_str_startswith(ktl_str s, ktl_str x) {
    return x.len <= s.len && (x.len == 0 || memcmp(s.p, x.p, (size_t)x.len) == 0);
}

static inline bool ktl_str_endswith(ktl_str s, ktl_str x) {
    return x.len <= s.len && (x.len == 0 || memcmp(s.p + s.len - x.len, x.p, (size_t)x.len) == 0);
}

static inline ktl_str ktl_str_removeprefix(ktl_str s, ktl_str x) {
    return ktl_str_startswith(s, x) ? (ktl_str){s.p + x.len, s.len - x.len} : s;
}

static inline ktl_str ktl_str_removesuffix(ktl_str s, ktl_str x) {
    return ktl_str_endswith(s, x) ? (ktl_str){s.p, s.len - x.len} : s;
}

/* ---- Padding ---- */

static KTL_COLD KTL_NORETURN void ktl_fill_error(void) {
    ktl_raise_c(KTL_E_TypeError, "The fill character must be exactly one character long");
}

static inline void ktl_check_fill(ktl_str fill) {
    if (KTL_UNLIKELY(ktl_utf8_len(fill) != 1))
        ktl_fill_error();
}

/* left copies of fill, s, right copies of fill (negative counts as 0; s
   itself when both are 0). The size is checked before anything is
   allocated: a text too long to represent raises OverflowError. */
static ktl_str ktl_str_pad(ktl_str s, int64_t left, int64_t right, ktl_str fill) {
    ktl_check_fill(fill);
    if (left < 0)
        left = 0;
    if (right < 0)
        right = 0;
    if (left == 0 && right == 0)
        return s;
    int64_t room = (INT64_MAX - s.len) / fill.len;
    if (left > room || right > room - left)
        ktl_raise_c(KTL_E_OverflowError, "padded string is too long");
    int64_t total = s.len + (left + right) * fill.len;
    char *p = ktl_alloc_bytes((size_t)total), *q = p;
    if (fill.len == 1) {
        memset(q, fill.p[0], (size_t)left);
        q += left;
        memcpy(q, s.p, (size_t)s.len);
        q += s.len;
        memset(q, fill.p[0], (size_t)right);
    } else {
        for (int64_t i = 0; i < left; i++, q += fill.len)
            memcpy(q, fill.p, (size_t)fill.len);
        if (s.len)
            memcpy(q, s.p, (size_t)s.len);
        q += s.len;
        for (int64_t i = 0; i < right; i++, q += fill.len)
            memcpy(q, fill.p, (size_t)fill.len);
    }
    return (ktl_str){p, total};
}

/* The width is compared before subtracting, so a very negative width
   cannot wrap into a huge margin. */
static inline ktl_str ktl_str_ljust(ktl_str s, int64_t w, ktl_str fill) {
    ktl_check_fill(fill);
    return w <= s.len ? s : ktl_str_pad(s, 0, w - s.len, fill);
}

static inline ktl_str ktl_str_rjust(ktl_str s, int64_t w, ktl_str fill) {
    ktl_check_fill(fill);
    return w <= s.len ? s : ktl_str_pad(s, w - s.len, 0, fill);
}

/* The left margin takes the extra byte only when both the margin and the
   width are odd, as CPython rounds. */
static ktl_str ktl_str_center(ktl_str s, int64_t w, ktl_str fill) {
    ktl_check_fill(fill);
    if (w <= s.len)
        return s;
    int64_t marg = w - s.len;
    int64_t left = marg / 2 + (marg & w & 1);
    return ktl_str_pad(s, left, marg - left, fill);
}

/* Zeros inserted after a leading sign up to w bytes. */
static ktl_str ktl_str_zfill(ktl_str s, int64_t w) {
    if (s.len >= w)
        return s;
    ktl_str z = ktl_str_pad(s, w - s.len, 0, KTL_LIT("0"));
    char *p = (char *)z.p;
    if (s.len > 0 && (s.p[0] == '+' || s.p[0] == '-')) {
        p[0] = s.p[0];
        p[w - s.len] = '0';
    }
    return z;
}


/* ---- Search within bounds, counted replace ----
 *
 * s.find(x, start, end) and its kin read start and end as a slice does
 * (negative counts from the end, clamped to the string); a window whose
 * start lies past its end holds nothing, not even the empty string, so
 * "abc".find("", 4) is -1 as in Python. Positions are byte offsets into s.
 */

static bool ktl_str_window(int64_t len, int64_t *lo, int64_t *hi) {
    int64_t a = *lo, b = *hi;
    if (a < 0) {
        a += len;
        if (a < 0) a = 0;
    }
    if (b < 0) {
        b += len;
        if (b < 0) b = 0;
    } else if (b > len) {
        b = len;
    }
    *lo = a;
    *hi = b;
    return a <= b;
}

static int64_t ktl_str_find_in(ktl_str s, ktl_str x, int64_t lo, int64_t hi) {
    if (!ktl_str_window(s.len, &lo, &hi)) return -1;
    int64_t i = ktl_str_find((ktl_str){s.p + lo, hi - lo}, x);
    return i < 0 ? i : i + lo;
}

static int64_t ktl_str_rfind_in(ktl_str s, ktl_str x, int64_t lo, int64_t hi) {
    if (!ktl_str_window(s.len, &lo, &hi)) return -1;
    int64_t i = ktl_str_rfind((ktl_str){s.p + lo, hi - lo}, x);
    return i < 0 ? i : i + lo;
}

static int64_t ktl_str_index_in(ktl_str s, ktl_str x, int64_t lo, int64_t hi) {
    int64_t i = ktl_str_find_in(s, x, lo, hi);
    if (KTL_UNLIKELY(i < 0)) ktl_substr_error();
    return i;
}

static int64_t ktl_str_rindex_in(ktl_str s, ktl_str x, int64_t lo, int64_t hi) {
    int64_t i = ktl_str_rfind_in(s, x, lo, hi);
    if (KTL_UNLIKELY(i < 0)) ktl_substr_error();
    return i;
}

static int64_t ktl_str_count_in(ktl_str s, ktl_str x, int64_t lo, int64_t hi) {
    if (!ktl_str_window(s.len, &lo, &hi)) return 0;
    return ktl_str_count((ktl_str){s.p + lo, hi - lo}, x);
}

/* s.replace(old, new, count): at most `count` replacements from the left; a
   negative count replaces every occurrence. An empty old inserts new before
   each of the first `count` characters (never inside a UTF-8 sequence). */
static ktl_str ktl_str_replace_n(ktl_str s, ktl_str old, ktl_str nw, int64_t count) {
    if (count < 0) return ktl_str_replace(s, old, nw);
    if (count == 0) return s;
    ktl_sb b;
    ktl_sb_init(&b);
    int64_t at = 0;
    if (old.len == 0) {
        while (count > 0) {
            ktl_sb_add(&b, nw);
            count--;
            if (at >= s.len) break;
            int64_t next = at + 1;
            while (next < s.len && ((unsigned char)s.p[next] & 0xC0) == 0x80) next++;
            ktl_sb_add(&b, (ktl_str){s.p + at, next - at});
            at = next;
        }
    } else {
        while (count > 0) {
            int64_t i = ktl_find_raw(s.p + at, s.len - at, old.p, old.len);
            if (i < 0) break;
            ktl_sb_add(&b, (ktl_str){s.p + at, i});
            ktl_sb_add(&b, nw);
            at += i + old.len;
            count--;
        }
    }
    ktl_sb_add(&b, (ktl_str){s.p + at, s.len - at});
    return ktl_sb_done(&b);
}
