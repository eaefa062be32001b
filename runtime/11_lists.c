/* ---- Lists: the list macros and the four predefined lists ----
 *
 * A list is a growable array of unboxed items: a list of int is an array of
 * int64_t, a list of str an array of ktl_str, a list of objects an array of
 * pointers. KTL_DEFINE_LIST instantiates one list type per item type, with
 * functions named after the type by token pasting (L_s_new, L_s_push); the
 * runtime instantiates L_i, L_f, L_b and L_s here and the compiler every other
 * item type it meets. The items live in one block of the memory kind given
 * at definition (KTL_NOSCAN for numbers, so the collector never reads them);
 * growing copies them into a new block and frees the old one at once, so a
 * pointer to an item is valid only until the next push, insert, extend or
 * slice assignment on that list. The header is KTL_LIST memory: a collection
 * scans only the first len items, so nothing may read an item at len or
 * beyond before writing it (pop and clear leave stale items there).
 */

#define KTL_EQ(a, b) ((a) == (b))
#define KTL_CMP(a, b) (((a) > (b)) - ((a) < (b)))
#define KTL_STR_EQ(a, b) ktl_str_eq((a), (b))
#define KTL_LT(a, b) ((a) < (b))
#define KTL_STR_LT(a, b) (ktl_str_cmp((a), (b)) < 0)

/* Bytes for n items of `size` bytes. A count whose bytes can't even be
   addressed is a request no heap can serve: it ends the program like any
   other exhausted allocation, before anything is allocated or written. */
static inline size_t ktl_items_bytes(int64_t n, size_t size) {
    if (KTL_UNLIKELY(n < 0 || (uint64_t)n > (uint64_t)INT64_MAX / size)) ktl_panic("out of memory");
    return (size_t)n * size;
}

/* s[lo:hi] with step 1: Python clamps each bound into [0, len] after counting
   a negative one from the end, and an upper bound below the lower one gives
   an empty slice at lo. INT64_MIN stands for an omitted bound. */
static inline void ktl_list_clamp(int64_t len, int64_t *lo, int64_t *hi) {
    int64_t a = *lo, b = *hi;
    if (a == INT64_MIN) a = 0;
    if (b == INT64_MIN) b = len;
    if (a < 0) {
        a += len;
        if (a < 0) a = 0;
    } else if (a > len) {
        a = len;
    }
    if (b < 0) {
        b += len;
        if (b < 0) b = 0;
    } else if (b > len) {
        b = len;
    }
    if (b < a) b = a;
    *lo = a;
    *hi = b;
}

static KTL_COLD KTL_NORETURN void ktl_list_index_error(void) {
    ktl_raise_c(KTL_E_ValueError, "list.index(x): x not in list");
}

static KTL_COLD KTL_NORETURN void ktl_pop_empty_error(void) {
    ktl_raise_c(KTL_E_IndexError, "pop from empty list");
}

static KTL_COLD KTL_NORETURN void ktl_sort_modified_error(void) {
    ktl_raise_c(KTL_E_ValueError, "list modified during sort");
}

/* An int searched for in a float list (`in`, index, count, remove): Python
   compares the two exactly, so an int no double holds (beyond 2**53) equals
   no item; NaN equals none either. */
static inline double ktl_exact_f64(int64_t n) {
    double d = (double)n;
    if (d >= 9223372036854775808.0 || (int64_t)d != n)
        return __builtin_nan("");
    return d;
}

/* A keyed sort calls user code (the key, and the keys' own order), which
   may change the list's length; the items are then read by their old
   positions, so a changed length stops the sort. */
static inline void ktl_sort_unchanged(int64_t len, int64_t n) {
    if (KTL_UNLIKELY(len != n)) ktl_sort_modified_error();
}

static KTL_COLD KTL_NORETURN void ktl_slice_size_error(int64_t got, int64_t want) {
    ktl_raise_fmt(KTL_E_ValueError, "attempt to assign sequence of size %lld to extended slice of size %lld",
                  (long long)got, (long long)want);
}

/* find and count by a plain loop over EQ. */
#define KTL_DEFINE_LIST_SEARCH(L, T, EQ)                                                           \
    static int64_t L##_find(L *l, T v) {                                                           \
        for (int64_t i = 0; i < l->len; i++)                                                       \
            if (EQ(l->data[i], v)) return i;                                                       \
        return -1;                                                                                 \
    }                                                                                              \
    static int64_t L##_count(L *l, T v) {                                                          \
        int64_t c = 0;                                                                             \
        for (int64_t i = 0; i < l->len; i++)                                                       \
            if (EQ(l->data[i], v)) c++;                                                            \
        return c;                                                                                  \
    }

/* find and count of int and float lists through the vector scans. */
#define KTL_SIMD_EQ_int64_t(L, T, EQ)                                                              \
    static inline int64_t L##_find(L *l, T v) { return ktl_find_i64(l->data, l->len, v); }         \
    static inline int64_t L##_count(L *l, T v) { return ktl_count_i64(l->data, l->len, v); }
#define KTL_SIMD_EQ_double(L, T, EQ)                                                               \
    static inline int64_t L##_find(L *l, T v) { return ktl_find_f64(l->data, l->len, v); }         \
    static inline int64_t L##_count(L *l, T v) { return ktl_count_f64(l->data, l->len, v); }

#define KTL_DEFINE_LIST(L, T, EQ, SCAN) KTL_DEFINE_LIST_WITH(L, T, KTL_DEFINE_LIST_SEARCH, EQ, SCAN)

/* The core of a list type. SCAN is the memory kind of the item array:
   KTL_SCAN when items can hold heap pointers, else KTL_NOSCAN. */
#define KTL_DEFINE_LIST_WITH(L, T, SEARCH, EQ, SCAN)                                               \
    typedef struct L {                                                                             \
        T *data;                                                                                   \
        int64_t len;                                                                               \
        int64_t cap;                                                                               \
        int64_t isz;                                                                               \
    } L;                                                                                           \
    _Static_assert(sizeof(L) == sizeof(ktl_list_hdr), "a list starts as ktl_list_hdr");            \
    static L *L##_new(int64_t cap) {                                                               \
        if (cap < 4) cap = 4;                                                                      \
        L *l = (L *)ktl_gc_alloc(sizeof(L), KTL_LIST);                                             \
        l->isz = (int64_t)sizeof(T);                                                               \
        l->data = (T *)ktl_gc_alloc(ktl_items_bytes(cap, sizeof(T)), SCAN);                        \
        l->cap = cap;                                                                              \
        return l;                                                                                  \
    }                                                                                              \
    /* Makes room for `need` items in all. */                                                      \
    static KTL_COLD void L##_grow(L *l, int64_t need) {                                            \
        int64_t cap = l->cap > INT64_MAX / 2 ? INT64_MAX : 2 * l->cap;                             \
        if (cap < need) cap = need;                                                                \
        size_t bytes = ktl_items_bytes(cap, sizeof(T));                                            \
        l->data = (T *)ktl_gc_realloc(l->data, (size_t)l->len * sizeof(T), bytes, SCAN);           \
        l->cap = cap;                                                                              \
    }                                                                                              \
    static inline void L##_reserve(L *l, int64_t need) {                                           \
        if (KTL_UNLIKELY(need > l->cap)) L##_grow(l, need);                                        \
    }                                                                                              \
    static L *L##_from(int64_t n, T const *src) {                                                  \
        L *l = L##_new(n);                                                                         \
        if (n > 0) memcpy(l->data, src, (size_t)n * sizeof(T));                                    \
        l->len = n > 0 ? n : 0;                                                                    \
        return l;                                                                                  \
    }                                                                                              \
    static inline void L##_push(L *l, T v) {                                                       \
        if (KTL_UNLIKELY(l->len == l->cap)) L##_grow(l, l->len + 1);                               \
        l->data[l->len++] = v;                                                                     \
    }                                                                                              \
    static inline T *L##_at(L *l, int64_t i) {                                                     \
        if (i < 0) i += l->len;                                                                    \
        KTL_CHECK("list", i, l->len);                                                              \
        return &l->data[i];                                                                        \
    }                                                                                              \
    static inline T L##_pop(L *l) {                                                                \
        if (KTL_UNLIKELY(l->len == 0)) ktl_pop_empty_error();                                      \
        return l->data[--l->len];                                                                  \
    }                                                                                              \
    /* Python reports an empty list before looking at the index. */                                \
    static T L##_pop_at(L *l, int64_t i) {                                                         \
        if (KTL_UNLIKELY(l->len == 0)) ktl_pop_empty_error();                                      \
        if (i < 0) i += l->len;                                                                    \
        KTL_CHECK("pop", i, l->len);                                                               \
        T v = l->data[i];                                                                          \
        memmove(l->data + i, l->data + i + 1, (size_t)(l->len - i - 1) * sizeof(T));               \
        l->len--;                                                                                  \
        return v;                                                                                  \
    }                                                                                              \
    static void L##_insert(L *l, int64_t i, T v) {                                                 \
        if (i < 0) {                                                                               \
            i += l->len;                                                                           \
            if (i < 0) i = 0;                                                                      \
        } else if (i > l->len) {                                                                   \
            i = l->len;                                                                            \
        }                                                                                          \
        L##_reserve(l, l->len + 1);                                                                \
        memmove(l->data + i + 1, l->data + i, (size_t)(l->len - i) * sizeof(T));                   \
        l->data[i] = v;                                                                            \
        l->len++;                                                                                  \
    }                                                                                              \
    /* o may be l itself: its length is read before the list grows. */                             \
    static void L##_extend(L *l, L *o) {                                                           \
        int64_t n = o->len;                                                                        \
        if (n == 0) return;                                                                        \
        L##_reserve(l, l->len + n);                                                                \
        memcpy(l->data + l->len, o->data, (size_t)n * sizeof(T));                                  \
        l->len += n;                                                                               \
    }                                                                                              \
    /* len * n is checked before anything is allocated. */                                         \
    static L *L##_rep(L *src, int64_t n) {                                                         \
        int64_t len = src->len;                                                                    \
        if (n <= 0 || len == 0) return L##_new(0);                                                 \
        if (KTL_UNLIKELY(n > INT64_MAX / len)) ktl_panic("out of memory");                         \
        int64_t total = len * n;                                                                   \
        L *l = L##_new(total);                                                                     \
        memcpy(l->data, src->data, (size_t)len * sizeof(T));                                       \
        int64_t have = len;                                                                        \
        while (have < total) {                                                                     \
            int64_t c = have <= total - have ? have : total - have;                                \
            memcpy(l->data + have, l->data, (size_t)c * sizeof(T));                                \
            have += c;                                                                             \
        }                                                                                          \
        l->len = total;                                                                            \
        return l;                                                                                  \
    }                                                                                              \
    static L *L##_cat(L *a, L *b) {                                                                \
        L *l = L##_new(a->len + b->len);                                                           \
        if (a->len) memcpy(l->data, a->data, (size_t)a->len * sizeof(T));                          \
        if (b->len) memcpy(l->data + a->len, b->data, (size_t)b->len * sizeof(T));                 \
        l->len = a->len + b->len;                                                                  \
        return l;                                                                                  \
    }                                                                                              \
    /* a + [items] and [items] + b: one list of the final size, the display's                      \
       items stored straight into it. */                                                           \
    static inline L *L##_cat_items(L *a, int64_t n, T const *items) {                              \
        int64_t m = a->len;                                                                        \
        L *l = L##_new(m + n);                                                                     \
        if (m) memcpy(l->data, a->data, (size_t)m * sizeof(T));                                    \
        for (int64_t i = 0; i < n; i++) l->data[m + i] = items[i];                                 \
        l->len = m + n;                                                                            \
        return l;                                                                                  \
    }                                                                                              \
    static inline L *L##_items_cat(int64_t n, T const *items, L *b) {                              \
        int64_t m = b->len;                                                                        \
        L *l = L##_new(n + m);                                                                     \
        for (int64_t i = 0; i < n; i++) l->data[i] = items[i];                                     \
        if (m) memcpy(l->data + n, b->data, (size_t)m * sizeof(T));                                \
        l->len = n + m;                                                                            \
        return l;                                                                                  \
    }                                                                                              \
    static L *L##_slice(L *s, int64_t lo, int64_t hi) {                                            \
        ktl_list_clamp(s->len, &lo, &hi);                                                          \
        return L##_from(hi - lo, s->data + lo);                                                    \
    }                                                                                              \
    static L *L##_slice_step(L *s, int64_t lo, int64_t hi, int64_t step) {                         \
        int64_t n = ktl_slice_adjust(s->len, &lo, &hi, step);                                      \
        if (step == 1) return L##_from(n, s->data + lo);                                           \
        L *l = L##_new(n);                                                                         \
        for (int64_t k = 0, i = lo; k < n; k++, i += step) l->data[k] = s->data[i];                \
        l->len = n > 0 ? n : 0;                                                                    \
        return l;                                                                                  \
    }                                                                                              \
    static void L##_reverse(L *l) {                                                                \
        for (int64_t i = 0, j = l->len - 1; i < j; i++, j--) {                                     \
            T t = l->data[i];                                                                      \
            l->data[i] = l->data[j];                                                               \
            l->data[j] = t;                                                                        \
        }                                                                                          \
    }                                                                                              \
    /* l[lo:hi] = src with step 1; src may be l itself. */                                         \
    static void L##_setslice(L *l, int64_t lo, int64_t hi, L *src) {                               \
        ktl_list_clamp(l->len, &lo, &hi);                                                          \
        if (src == l) src = L##_from(l->len, l->data);                                             \
        int64_t m = src->len, newlen = l->len - (hi - lo) + m;                                     \
        L##_reserve(l, newlen);                                                                    \
        memmove(l->data + lo + m, l->data + hi, (size_t)(l->len - hi) * sizeof(T));                \
        if (m) memcpy(l->data + lo, src->data, (size_t)m * sizeof(T));                             \
        if (newlen < l->len) memset(l->data + newlen, 0, (size_t)(l->len - newlen) * sizeof(T));   \
        l->len = newlen;                                                                           \
    }                                                                                              \
    static void L##_setslice_step(L *l, int64_t lo, int64_t hi, int64_t step, L *src) {            \
        if (step == 1 && lo != INT64_MIN && hi != INT64_MIN) {                                     \
            L##_setslice(l, lo, hi, src);                                                          \
            return;                                                                                \
        }                                                                                          \
        int64_t n = ktl_slice_adjust(l->len, &lo, &hi, step);                                      \
        if (step == 1) {                                                                           \
            L##_setslice(l, lo, lo + n, src);                                                      \
            return;                                                                                \
        }                                                                                          \
        if (src->len != n) ktl_slice_size_error(src->len, n);                                      \
        if (src == l) src = L##_from(l->len, l->data);                                             \
        for (int64_t k = 0, i = lo; k < n; k++, i += step) l->data[i] = src->data[k];              \
    }                                                                                              \
    /* del l[lo:hi:step]: one pass keeps every item past the last deleted one                      \
       or off the step grid, compacting in place. */                                               \
    static void L##_delslice(L *l, int64_t lo, int64_t hi, int64_t step) {                         \
        int64_t n = ktl_slice_adjust(l->len, &lo, &hi, step);                                      \
        if (n <= 0) return;                                                                        \
        if (step < 0) {                                                                            \
            lo += (n - 1) * step;                                                                  \
            step = -step;                                                                          \
        }                                                                                          \
        int64_t last = lo + (n - 1) * step, j = lo;                                                \
        for (int64_t i = lo; i < l->len; i++)                                                      \
            if (i > last || (i - lo) % step != 0) l->data[j++] = l->data[i];                       \
        memset(l->data + j, 0, (size_t)(l->len - j) * sizeof(T));                                  \
        l->len = j;                                                                                \
    }                                                                                              \
    SEARCH(L, T, EQ)                                                                               \
    static inline bool L##_contains(L *l, T v) { return L##_find(l, v) >= 0; }                     \
    static int64_t L##_index(L *l, T v) {                                                          \
        int64_t i = L##_find(l, v);                                                                \
        if (KTL_UNLIKELY(i < 0)) ktl_list_index_error();                                           \
        return i;                                                                                  \
    }                                                                                              \
    static bool L##_eq(L *a, L *b) {                                                               \
        if (a == b) return true;                                                                   \
        if (a->len != b->len) return false;                                                        \
        for (int64_t i = 0; i < a->len; i++)                                                       \
            if (!(EQ(a->data[i], b->data[i]))) return false;                                       \
        return true;                                                                               \
    }

/* "[" then the items printed with PRINT, separated by ", ", then "]". */
#define KTL_DEFINE_LIST_PRINT(L, PRINT)                                                            \
    static void ktl_print_##L(L *l) {                                                              \
        ktl_putc('[');                                                                             \
        for (int64_t i = 0; i < l->len; i++) {                                                     \
            if (i) ktl_write(", ", 2);                                                             \
            PRINT(l->data[i]);                                                                     \
        }                                                                                          \
        ktl_putc(']');                                                                             \
    }

/* Lexicographic order: the first items that differ decide, else the shorter
   list comes first. */
#define KTL_DEFINE_LIST_CMP(L, CMP)                                                                \
    static int L##_cmp(L *a, L *b) {                                                               \
        int64_t n = a->len < b->len ? a->len : b->len;                                             \
        for (int64_t i = 0; i < n; i++) {                                                          \
            int c = CMP(a->data[i], b->data[i]);                                                   \
            if (c) return c;                                                                       \
        }                                                                                          \
        return (a->len > b->len) - (a->len < b->len);                                              \
    }                                                                                              \
    static inline bool L##_lt(L *a, L *b) { return L##_cmp(a, b) < 0; }

/* The same order for items that can be unequal without being ordered either
   way (objects with a partial __lt__): the first unequal items decide even
   then, and the lists are unordered, so later items are never asked. Its
   `_lt` is Python's `<`: the first items that differ by EQ, then LT once. */
#define KTL_DEFINE_LIST_CMP_EQ(L, CMP, EQ, LT)                                                     \
    static int L##_cmp(L *a, L *b) {                                                               \
        int64_t n = a->len < b->len ? a->len : b->len;                                             \
        for (int64_t i = 0; i < n; i++) {                                                          \
            int c = CMP(a->data[i], b->data[i]);                                                   \
            if (c) return c;                                                                       \
            if (!EQ(a->data[i], b->data[i])) return 0;                                             \
        }                                                                                          \
        return (a->len > b->len) - (a->len < b->len);                                              \
    }                                                                                              \
    static inline bool L##_lt(L *a, L *b) {                                                        \
        int64_t n = a->len < b->len ? a->len : b->len;                                             \
        for (int64_t i = 0; i < n; i++)                                                            \
            if (!EQ(a->data[i], b->data[i])) return LT(a->data[i], b->data[i]);                    \
        return a->len < b->len;                                                                    \
    }

KTL_DEFINE_LIST_WITH(L_i, int64_t, KTL_SIMD_EQ_int64_t, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_i, ktl_print_i)
KTL_DEFINE_LIST_CMP(L_i, KTL_CMP)

KTL_DEFINE_LIST_WITH(L_f, double, KTL_SIMD_EQ_double, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_f, ktl_print_f)
KTL_DEFINE_LIST_CMP(L_f, KTL_CMP)

KTL_DEFINE_LIST_WITH(L_b, bool, KTL_DEFINE_LIST_SEARCH, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_b, ktl_print_b)
KTL_DEFINE_LIST_CMP(L_b, KTL_CMP)

KTL_DEFINE_LIST_WITH(L_s, ktl_str, KTL_DEFINE_LIST_SEARCH, KTL_STR_EQ, KTL_SCAN)
KTL_DEFINE_LIST_PRINT(L_s, ktl_print_repr_s)
KTL_DEFINE_LIST_CMP(L_s, ktl_str_cmp)

