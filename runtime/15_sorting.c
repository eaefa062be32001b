/* ---- Sorting, list algorithms, sums ----
 *
 * Two sorts, both instantiated per item type with the comparison inlined as
 * a macro (never a function pointer):
 *   - KTL_DEFINE_SORT: an in-place quicksort (median of three, Hoare
 *     partition, insertion sort below 17 items). Not stable; used where equal
 *     items can't be told apart (ints, bools, strs) and by keyed sorts, whose
 *     records break ties by the item's first index.
 *   - KTL_DEFINE_STABLE_SORT: a merge sort with a temporary half-size block.
 *     Python's sort is stable, and items can tie without being the same
 *     (0.0 and -0.0, objects ordered by __lt__, tuples holding them), so every
 *     list sorted without a key uses it unless its equal items are
 *     indistinguishable.
 * Both finish and stay inside the array even when LESS is not a consistent
 * order (a __lt__ that answers true for every pair); the order is then
 * unspecified. A descending sort uses the mirrored order, so equal items keep
 * their original order in both directions, as in Python.
 */

#define KTL_DEFINE_SORT(NAME, T, LESS)                                                             \
    static void NAME(T *a, int64_t n) {                                                            \
        while (n > 16) {                                                                           \
            int64_t m = (n - 1) / 2;                                                               \
            T t;                                                                                   \
            if (LESS(a[m], a[0])) t = a[m], a[m] = a[0], a[0] = t;                                 \
            if (LESS(a[n - 1], a[m])) {                                                            \
                t = a[n - 1], a[n - 1] = a[m], a[m] = t;                                           \
                if (LESS(a[m], a[0])) t = a[m], a[m] = a[0], a[0] = t;                             \
            }                                                                                      \
            T p = a[m];                                                                            \
            int64_t i = -1, j = n;                                                                 \
            for (;;) {                                                                             \
                do i++;                                                                            \
                while (i < n - 1 && LESS(a[i], p));                                                \
                do j--;                                                                            \
                while (j > 0 && LESS(p, a[j]));                                                    \
                if (i >= j) break;                                                                 \
                t = a[i], a[i] = a[j], a[j] = t;                                                   \
            }                                                                                      \
            /* Only an inconsistent LESS can leave no item on the right;                           \
               splitting anyway keeps the loop finite. */                                          \
            if (j >= n - 1) j = n - 2;                                                             \
            if (j + 1 < n - j - 1) {                                                               \
                NAME(a, j + 1);                                                                    \
                a += j + 1;                                                                        \
                n -= j + 1;                                                                        \
            } else {                                                                               \
                NAME(a + j + 1, n - j - 1);                                                        \
                n = j + 1;                                                                         \
            }                                                                                      \
        }                                                                                          \
        for (int64_t i = 1; i < n; i++) {                                                          \
            T x = a[i];                                                                            \
            int64_t k = i;                                                                         \
            while (k > 0 && LESS(x, a[k - 1])) {                                                   \
                a[k] = a[k - 1];                                                                   \
                k--;                                                                               \
            }                                                                                      \
            a[k] = x;                                                                              \
        }                                                                                          \
    }

/* Stable merge sort. The left run of each merge is copied into tmp (MEM is
   its memory kind), so every item is always in the list or in tmp while a
   user __lt__ runs and perhaps collects. */
#define KTL_DEFINE_STABLE_SORT(NAME, T, LESS, MEM)                                                 \
    static void NAME##_ins(T *a, int64_t n) {                                                      \
        for (int64_t i = 1; i < n; i++) {                                                          \
            T x = a[i];                                                                            \
            int64_t k = i;                                                                         \
            while (k > 0 && LESS(x, a[k - 1])) {                                                   \
                a[k] = a[k - 1];                                                                   \
                k--;                                                                               \
            }                                                                                      \
            a[k] = x;                                                                              \
        }                                                                                          \
    }                                                                                              \
    static void NAME##_rec(T *a, int64_t n, T *tmp) {                                              \
        if (n <= 16) {                                                                             \
            NAME##_ins(a, n);                                                                      \
            return;                                                                                \
        }                                                                                          \
        int64_t h = n / 2;                                                                         \
        NAME##_rec(a, h, tmp);                                                                     \
        NAME##_rec(a + h, n - h, tmp);                                                             \
        if (!LESS(a[h], a[h - 1])) return;                                                         \
        memcpy(tmp, a, (size_t)h * sizeof(T));                                                     \
        int64_t i = 0, j = h, k = 0;                                                               \
        while (i < h && j < n) {                                                                   \
            if (LESS(a[j], tmp[i])) a[k++] = a[j++];                                               \
            else a[k++] = tmp[i++];                                                                \
        }                                                                                          \
        while (i < h) a[k++] = tmp[i++];                                                           \
    }                                                                                              \
    static void NAME(T *a, int64_t n) {                                                            \
        if (n <= 16) {                                                                             \
            NAME##_ins(a, n);                                                                      \
            return;                                                                                \
        }                                                                                          \
        T *tmp = (T *)ktl_gc_alloc((size_t)(n / 2) * sizeof(T), MEM);                              \
        NAME##_rec(a, n, tmp);                                                                     \
        ktl_gc_free(tmp);                                                                          \
    }

/* The stable sort with its temporary block's memory kind fixed. */
#define KTL_DEFINE_STABLE_SORT_SCAN(NAME, T, LESS) KTL_DEFINE_STABLE_SORT(NAME, T, LESS, KTL_SCAN)
#define KTL_DEFINE_STABLE_SORT_NOSCAN(NAME, T, LESS) KTL_DEFINE_STABLE_SORT(NAME, T, LESS, KTL_NOSCAN)

/* min() or max() of an empty list. */
static KTL_COLD KTL_NORETURN void ktl_empty_error(const char *fn) {
    ktl_raise_fmt(KTL_E_ValueError, "%s() iterable argument is empty", fn);
}

/* sort, sort descending, sorted, min and max of a list type whose items are
   ordered by LESS. The compiler's instantiations sort stably (items may hold
   pointers, so the merge sort's block is scanned). */
#define KTL_DEFINE_LIST_ALGOS(L, T, LESS) KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, KTL_DEFINE_STABLE_SORT_SCAN)

/* SORTDEF is the sort to instantiate: a stable one, or KTL_DEFINE_SORT where
   equal items are indistinguishable. */
#define KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, SORTDEF)                                            \
    static inline bool ktl_gt_##L(T a, T b) { return LESS(b, a); }                                 \
    SORTDEF(ktl_sort_raw_##L, T, LESS)                                                             \
    SORTDEF(ktl_rsort_raw_##L, T, ktl_gt_##L)                                                      \
    static inline void ktl_sort_##L(L *l) { ktl_sort_raw_##L(l->data, l->len); }                   \
    static inline void ktl_rsort_##L(L *l) { ktl_rsort_raw_##L(l->data, l->len); }                 \
    static L *ktl_sorted_##L(L *l) {                                                               \
        L *r = L##_from(l->len, l->data);                                                          \
        ktl_sort_raw_##L(r->data, r->len);                                                         \
        return r;                                                                                  \
    }                                                                                              \
    /* The first of equal extremes wins. */                                                        \
    static T ktl_min_##L(L *l) {                                                                   \
        if (KTL_UNLIKELY(l->len == 0)) ktl_empty_error("min");                                     \
        T m = l->data[0];                                                                          \
        for (int64_t i = 1; i < l->len; i++)                                                       \
            if (LESS(l->data[i], m)) m = l->data[i];                                               \
        return m;                                                                                  \
    }                                                                                              \
    static T ktl_max_##L(L *l) {                                                                   \
        if (KTL_UNLIKELY(l->len == 0)) ktl_empty_error("max");                                     \
        T m = l->data[0];                                                                          \
        for (int64_t i = 1; i < l->len; i++)                                                       \
            if (LESS(m, l->data[i])) m = l->data[i];                                               \
        return m;                                                                                  \
    }

/* Equal ints, bools and strs can't be told apart, so the in-place quicksort
   serves them; 0.0 and -0.0 tie but differ, so floats sort stably. */
KTL_DEFINE_LIST_ALGOS_WITH(L_i, int64_t, KTL_LT, KTL_DEFINE_SORT)
KTL_DEFINE_LIST_ALGOS_WITH(L_f, double, KTL_LT, KTL_DEFINE_STABLE_SORT_NOSCAN)
KTL_DEFINE_LIST_ALGOS_WITH(L_b, bool, KTL_LT, KTL_DEFINE_SORT)
KTL_DEFINE_LIST_ALGOS_WITH(L_s, ktl_str, KTL_STR_LT, KTL_DEFINE_SORT)

/* sum() of ints wraps on overflow, like every int operation. */
static int64_t ktl_sum_L_i(L_i *l) {
    uint64_t s = 0;
    for (int64_t i = 0; i < l->len; i++) s += (uint64_t)l->data[i];
    return (int64_t)s;
}

/* sum() of floats: Neumaier's compensated sum, as CPython computes it, so the
   sum of ten 0.1 is exactly 1.0. */
typedef struct {
    double s, c;
} ktl_fsum;

static inline void ktl_fsum_add(ktl_fsum *a, double x) {
    double t = a->s + x;
    if (fabs(a->s) >= fabs(x)) a->c += (a->s - t) + x;
    else a->c += (x - t) + a->s;
    a->s = t;
}

static inline double ktl_fsum_done(ktl_fsum a) {
    if (a.c != 0.0 && isfinite(a.c)) return a.s + a.c;
    return a.s;
}

static double ktl_sum_L_f(L_f *l) {
    ktl_fsum a = {0.0, 0.0};
    for (int64_t i = 0; i < l->len; i++) ktl_fsum_add(&a, l->data[i]);
    return ktl_fsum_done(a);
}

