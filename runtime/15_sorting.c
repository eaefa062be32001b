/* ---- Sorting, list algorithms, sums ----
 *
 * Two sorts, both instantiated per item type with the comparison inlined as
 * a macro (never a function pointer), each as NAME (ascending) and NAME_desc
 * (descending):
 *   - KTL_DEFINE_SORT: an in-place quicksort (median of three, Hoare
 *     partition, insertion sort below 17 items). Not stable; used where equal
 *     items can't be told apart (ints, bools, strs) and by keyed sorts, whose
 *     records break ties by the item's first index. Descending uses the
 *     mirrored order.
 *   - KTL_DEFINE_STABLE_SORT: Python's own list sort (natural runs, binary
 *     insertion up to the minimum run, powersort merging with galloping), so
 *     that a user __lt__ sees the same pairs in the same order as under
 *     CPython 3.11 and 3.12 (3.13 finds runs differently). Python's sort is
 *     stable, and items can tie without being the same (0.0 and -0.0, objects
 *     ordered by __lt__, tuples holding them), so every list sorted without a
 *     key uses it unless its equal items are indistinguishable. Descending
 *     reverses, sorts ascending and reverses back, as Python does.
 * Both finish and stay inside the array even when LESS is not a consistent
 * order (a __lt__ that answers true for every pair); the order is then
 * unspecified.
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

/* The quicksort in both directions, for the list algorithms. */
#define KTL_DEFINE_SORT_BOTH(NAME, T, LESS)                                                        \
    static inline bool NAME##_gt(T a, T b) { return LESS(b, a); }                                  \
    KTL_DEFINE_SORT(NAME, T, LESS)                                                                 \
    KTL_DEFINE_SORT(NAME##_desc, T, NAME##_gt)

/* The stable sort's constants and its two helpers that don't depend on the
   item type, as in CPython's listobject.c. */
#define KTL_MIN_GALLOP 7
/* Powersort keeps at most about log2(n) runs pending. */
#define KTL_MAX_RUNS 85

/* The shortest run worth merging: n itself below 64, else a number in
   [32, 64] such that n divided by it is, or is just under, a power of 2. */
static inline int64_t ktl_sort_minrun(int64_t n) {
    int64_t r = 0;
    while (n >= 64) {
        r |= n & 1;
        n >>= 1;
    }
    return n + r;
}

/* The powersort depth of the boundary between the run [s1, s1 + n1) and the
   run of n2 items after it, in a list of n: the first bit where the
   binary fractions of the two runs' midpoints over n differ. */
static int ktl_sort_power(int64_t s1, int64_t n1, int64_t n2, int64_t n) {
    int result = 0;
    int64_t a = 2 * s1 + n1, b = a + n1 + n2;
    for (;;) {
        ++result;
        if (a >= n) {
            a -= n;
            b -= n;
        } else if (b >= n) {
            break;
        }
        a <<= 1;
        b <<= 1;
    }
    return result;
}

/* The stable sort. A merge copies its shorter run into tmp (MEM is its memory
   kind, made at the first merge with room for n / 2 items), so every item is
   always in the list or in tmp while a user __lt__ runs and perhaps
   collects. With GUARD (items whose comparison can run user code, and so
   raise) a sort pushes one handler, and a merge notes before each
   comparison where the items still only in tmp belong; an exception copies
   them there, reverses a descending sort back and goes on, so the list holds
   every item once, in the order CPython leaves it. Binary insertion moves
   nothing until its search is done. */
#define KTL_DEFINE_STABLE_SORT(NAME, T, LESS, MEM) KTL_DEFINE_STABLE_SORT_G(NAME, T, LESS, MEM, 0)
#define KTL_DEFINE_STABLE_SORT_G(NAME, T, LESS, MEM, GUARD)                                        \
    typedef struct {                                                                               \
        int64_t base, len;                                                                         \
        int power;                                                                                 \
    } NAME##_run;                                                                                  \
    typedef struct {                                                                               \
        T *a;                                                                                      \
        T *tmp;                                                                                    \
        /* What an exception must put back: tmp's npend items from pend                            \
           belong at gap. */                                                                       \
        T *gap, *pend;                                                                             \
        int64_t n, min_gallop, npend;                                                              \
        int nruns;                                                                                 \
        NAME##_run runs[KTL_MAX_RUNS];                                                             \
    } NAME##_state;                                                                                \
    static inline void NAME##_note(NAME##_state *st, T *gap, T *pend, int64_t npend) {             \
        if (GUARD) {                                                                               \
            st->gap = gap;                                                                         \
            st->pend = pend;                                                                       \
            st->npend = npend;                                                                     \
        }                                                                                          \
    }                                                                                              \
    static void NAME##_reverse(T *a, int64_t n) {                                                  \
        for (int64_t i = 0, j = n - 1; i < j; i++, j--) {                                          \
            T t = a[i];                                                                            \
            a[i] = a[j];                                                                           \
            a[j] = t;                                                                              \
        }                                                                                          \
    }                                                                                              \
    /* Where key goes in the sorted a[0, n), before the items equal to it,                         \
       searching out from a[hint]. */                                                              \
    static int64_t NAME##_gallop_left(T key, T *a, int64_t n, int64_t hint) {                      \
        int64_t ofs = 1, last = 0;                                                                 \
        if (LESS(a[hint], key)) {                                                                  \
            int64_t max = n - hint;                                                                \
            while (ofs < max && LESS(a[hint + ofs], key)) {                                        \
                last = ofs;                                                                        \
                ofs = (ofs << 1) + 1;                                                              \
            }                                                                                      \
            if (ofs > max) ofs = max;                                                              \
            last += hint;                                                                          \
            ofs += hint;                                                                           \
        } else {                                                                                   \
            int64_t max = hint + 1;                                                                \
            while (ofs < max && !LESS(a[hint - ofs], key)) {                                       \
                last = ofs;                                                                        \
                ofs = (ofs << 1) + 1;                                                              \
            }                                                                                      \
            if (ofs > max) ofs = max;                                                              \
            int64_t k = last;                                                                      \
            last = hint - ofs;                                                                     \
            ofs = hint - k;                                                                        \
        }                                                                                          \
        for (++last; last < ofs;) {                                                                \
            int64_t m = last + ((ofs - last) >> 1);                                                \
            if (LESS(a[m], key)) last = m + 1;                                                     \
            else ofs = m;                                                                          \
        }                                                                                          \
        return ofs;                                                                                \
    }                                                                                              \
    /* Where key goes in the sorted a[0, n), after the items equal to it. */                       \
    static int64_t NAME##_gallop_right(T key, T *a, int64_t n, int64_t hint) {                     \
        int64_t ofs = 1, last = 0;                                                                 \
        if (LESS(key, a[hint])) {                                                                  \
            int64_t max = hint + 1;                                                                \
            while (ofs < max && LESS(key, a[hint - ofs])) {                                        \
                last = ofs;                                                                        \
                ofs = (ofs << 1) + 1;                                                              \
            }                                                                                      \
            if (ofs > max) ofs = max;                                                              \
            int64_t k = last;                                                                      \
            last = hint - ofs;                                                                     \
            ofs = hint - k;                                                                        \
        } else {                                                                                   \
            int64_t max = n - hint;                                                                \
            while (ofs < max && !LESS(key, a[hint + ofs])) {                                       \
                last = ofs;                                                                        \
                ofs = (ofs << 1) + 1;                                                              \
            }                                                                                      \
            if (ofs > max) ofs = max;                                                              \
            last += hint;                                                                          \
            ofs += hint;                                                                           \
        }                                                                                          \
        for (++last; last < ofs;) {                                                                \
            int64_t m = last + ((ofs - last) >> 1);                                                \
            if (LESS(key, a[m])) ofs = m;                                                          \
            else last = m + 1;                                                                     \
        }                                                                                          \
        return ofs;                                                                                \
    }                                                                                              \
    /* Sorts a[0, n) whose first `start` items are sorted: each next item is                       \
       placed by binary search (it stays in the list while compared). */                           \
    static void NAME##_binarysort(T *a, int64_t n, int64_t start) {                                \
        if (start == 0) start = 1;                                                                 \
        for (; start < n; ++start) {                                                               \
            int64_t l = 0, r = start;                                                              \
            T pivot = a[start];                                                                    \
            do {                                                                                   \
                int64_t p = l + ((r - l) >> 1);                                                    \
                if (LESS(pivot, a[p])) r = p;                                                      \
                else l = p + 1;                                                                    \
            } while (l < r);                                                                       \
            for (int64_t p = start; p > l; --p) a[p] = a[p - 1];                                   \
            a[l] = pivot;                                                                          \
        }                                                                                          \
    }                                                                                              \
    /* The length of the run at the start of a[0, n): non-descending, or                           \
       strictly descending (*descending set). */                                                   \
    static int64_t NAME##_count_run(T *a, int64_t n, bool *descending) {                           \
        *descending = false;                                                                       \
        if (n == 1) return 1;                                                                      \
        int64_t k = 2;                                                                             \
        if (LESS(a[1], a[0])) {                                                                    \
            *descending = true;                                                                    \
            while (k < n && LESS(a[k], a[k - 1])) k++;                                             \
        } else {                                                                                   \
            while (k < n && !LESS(a[k], a[k - 1])) k++;                                            \
        }                                                                                          \
        return k;                                                                                  \
    }                                                                                              \
    /* Merges the adjacent runs a[0, na) and b[0, nb) with na <= nb: a goes to                     \
       tmp and the merge fills the list from the left. */                                          \
    static void NAME##_merge_lo(NAME##_state *st, T *a, int64_t na, T *b, int64_t nb) {            \
        T *dest = a;                                                                               \
        int64_t min_gallop, acount, bcount, k;                                                     \
        memcpy(st->tmp, a, (size_t)na * sizeof(T));                                                \
        a = st->tmp;                                                                               \
        *dest++ = *b++;                                                                            \
        if (--nb == 0) goto done;                                                                  \
        if (na == 1) goto copy_b;                                                                  \
        min_gallop = st->min_gallop;                                                               \
        for (;;) {                                                                                 \
            acount = bcount = 0;                                                                   \
            for (;;) {                                                                             \
                NAME##_note(st, dest, a, na);                                                      \
                if (LESS(*b, *a)) {                                                                \
                    *dest++ = *b++;                                                                \
                    ++bcount;                                                                      \
                    acount = 0;                                                                    \
                    if (--nb == 0) goto done;                                                      \
                    if (bcount >= min_gallop) break;                                               \
                } else {                                                                           \
                    *dest++ = *a++;                                                                \
                    ++acount;                                                                      \
                    bcount = 0;                                                                    \
                    if (--na == 1) goto copy_b;                                                    \
                    if (acount >= min_gallop) break;                                               \
                }                                                                                  \
            }                                                                                      \
            ++min_gallop;                                                                          \
            do {                                                                                   \
                min_gallop -= min_gallop > 1;                                                      \
                st->min_gallop = min_gallop;                                                       \
                NAME##_note(st, dest, a, na);                                                      \
                k = acount = NAME##_gallop_right(*b, a, na, 0);                                    \
                if (k) {                                                                           \
                    memcpy(dest, a, (size_t)k * sizeof(T));                                        \
                    dest += k;                                                                     \
                    a += k;                                                                        \
                    na -= k;                                                                       \
                    if (na == 1) goto copy_b;                                                      \
                    /* Only an inconsistent LESS empties a here. */                                \
                    if (na == 0) goto done;                                                        \
                }                                                                                  \
                *dest++ = *b++;                                                                    \
                if (--nb == 0) goto done;                                                          \
                NAME##_note(st, dest, a, na);                                                      \
                k = bcount = NAME##_gallop_left(*a, b, nb, 0);                                     \
                if (k) {                                                                           \
                    memmove(dest, b, (size_t)k * sizeof(T));                                       \
                    dest += k;                                                                     \
                    b += k;                                                                        \
                    nb -= k;                                                                       \
                    if (nb == 0) goto done;                                                        \
                }                                                                                  \
                *dest++ = *a++;                                                                    \
                if (--na == 1) goto copy_b;                                                        \
            } while (acount >= KTL_MIN_GALLOP || bcount >= KTL_MIN_GALLOP);                        \
            st->min_gallop = ++min_gallop;                                                         \
        }                                                                                          \
    done:                                                                                          \
        if (na) memcpy(dest, a, (size_t)na * sizeof(T));                                           \
        return;                                                                                    \
    copy_b:                                                                                        \
        /* The last item of a comes after all that is left of b. */                                \
        memmove(dest, b, (size_t)nb * sizeof(T));                                                  \
        dest[nb] = *a;                                                                             \
    }                                                                                              \
    /* The same with na > nb: b goes to tmp and the merge fills the list from                      \
       the right. */                                                                               \
    static void NAME##_merge_hi(NAME##_state *st, T *a, int64_t na, T *b, int64_t nb) {            \
        T *dest = b + nb - 1;                                                                      \
        T *basea = a;                                                                              \
        T *baseb = st->tmp;                                                                        \
        int64_t min_gallop, acount, bcount, k;                                                     \
        memcpy(st->tmp, b, (size_t)nb * sizeof(T));                                                \
        b = st->tmp + nb - 1;                                                                      \
        a += na - 1;                                                                               \
        *dest-- = *a--;                                                                            \
        if (--na == 0) goto done;                                                                  \
        if (nb == 1) goto copy_a;                                                                  \
        min_gallop = st->min_gallop;                                                               \
        for (;;) {                                                                                 \
            acount = bcount = 0;                                                                   \
            for (;;) {                                                                             \
                NAME##_note(st, dest - (nb - 1), baseb, nb);                                       \
                if (LESS(*b, *a)) {                                                                \
                    *dest-- = *a--;                                                                \
                    ++acount;                                                                      \
                    bcount = 0;                                                                    \
                    if (--na == 0) goto done;                                                      \
                    if (acount >= min_gallop) break;                                               \
                } else {                                                                           \
                    *dest-- = *b--;                                                                \
                    ++bcount;                                                                      \
                    acount = 0;                                                                    \
                    if (--nb == 1) goto copy_a;                                                    \
                    if (bcount >= min_gallop) break;                                               \
                }                                                                                  \
            }                                                                                      \
            ++min_gallop;                                                                          \
            do {                                                                                   \
                min_gallop -= min_gallop > 1;                                                      \
                st->min_gallop = min_gallop;                                                       \
                NAME##_note(st, dest - (nb - 1), baseb, nb);                                       \
                k = acount = na - NAME##_gallop_right(*b, basea, na, na - 1);                      \
                if (k) {                                                                           \
                    dest -= k;                                                                     \
                    a -= k;                                                                        \
                    memmove(dest + 1, a + 1, (size_t)k * sizeof(T));                               \
                    na -= k;                                                                       \
                    if (na == 0) goto done;                                                        \
                }                                                                                  \
                *dest-- = *b--;                                                                    \
                if (--nb == 1) goto copy_a;                                                        \
                NAME##_note(st, dest - (nb - 1), baseb, nb);                                       \
                k = bcount = nb - NAME##_gallop_left(*a, baseb, nb, nb - 1);                       \
                if (k) {                                                                           \
                    dest -= k;                                                                     \
                    b -= k;                                                                        \
                    memcpy(dest + 1, b + 1, (size_t)k * sizeof(T));                                \
                    nb -= k;                                                                       \
                    if (nb == 1) goto copy_a;                                                      \
                    /* Only an inconsistent LESS empties b here. */                                \
                    if (nb == 0) goto done;                                                        \
                }                                                                                  \
                *dest-- = *a--;                                                                    \
                if (--na == 0) goto done;                                                          \
            } while (acount >= KTL_MIN_GALLOP || bcount >= KTL_MIN_GALLOP);                        \
            st->min_gallop = ++min_gallop;                                                         \
        }                                                                                          \
    done:                                                                                          \
        if (nb) memcpy(dest - (nb - 1), baseb, (size_t)nb * sizeof(T));                            \
        return;                                                                                    \
    copy_a:                                                                                        \
        /* The first item of b comes before all that is left of a. */                              \
        dest -= na;                                                                                \
        a -= na;                                                                                   \
        memmove(dest + 1, a + 1, (size_t)na * sizeof(T));                                          \
        *dest = *b;                                                                                \
    }                                                                                              \
    /* Merges pending runs i and i + 1. */                                                         \
    static void NAME##_merge_at(NAME##_state *st, int i) {                                         \
        T *a = st->a + st->runs[i].base;                                                           \
        T *b = st->a + st->runs[i + 1].base;                                                       \
        int64_t na = st->runs[i].len, nb = st->runs[i + 1].len;                                    \
        st->runs[i].len = na + nb;                                                                 \
        if (i == st->nruns - 3) st->runs[i + 1] = st->runs[i + 2];                                 \
        --st->nruns;                                                                               \
        /* The items of a before b's first and those of b after a's last                           \
           are in place already. */                                                                \
        int64_t k = NAME##_gallop_right(*b, a, na, 0);                                             \
        a += k;                                                                                    \
        na -= k;                                                                                   \
        if (na == 0) return;                                                                       \
        nb = NAME##_gallop_left(a[na - 1], b, nb, nb - 1);                                         \
        if (nb <= 0) return;                                                                       \
        if (!st->tmp) st->tmp = (T *)ktl_gc_alloc((size_t)(st->n / 2) * sizeof(T), MEM);           \
        if (na <= nb) NAME##_merge_lo(st, a, na, b, nb);                                           \
        else NAME##_merge_hi(st, a, na, b, nb);                                                    \
        NAME##_note(st, NULL, NULL, 0);                                                            \
    }                                                                                              \
    /* Sorts st->a[0, st->n), n >= 2. */                                                           \
    static void NAME##_runs(NAME##_state *st) {                                                    \
        T *a = st->a;                                                                              \
        int64_t n = st->n;                                                                         \
        int64_t minrun = ktl_sort_minrun(n), lo = 0, left = n;                                     \
        do {                                                                                       \
            bool descending;                                                                       \
            int64_t run = NAME##_count_run(a + lo, left, &descending);                             \
            if (descending) NAME##_reverse(a + lo, run);                                           \
            if (run < minrun) {                                                                    \
                int64_t force = left <= minrun ? left : minrun;                                    \
                NAME##_binarysort(a + lo, force, run);                                             \
                run = force;                                                                       \
            }                                                                                      \
            if (st->nruns) {                                                                       \
                NAME##_run *top = &st->runs[st->nruns - 1];                                        \
                int power = ktl_sort_power(top->base, top->len, run, n);                           \
                while (st->nruns > 1 && st->runs[st->nruns - 2].power > power)                     \
                    NAME##_merge_at(st, st->nruns - 2);                                            \
                st->runs[st->nruns - 1].power = power;                                             \
            }                                                                                      \
            st->runs[st->nruns].base = lo;                                                         \
            st->runs[st->nruns].len = run;                                                         \
            st->runs[st->nruns].power = 0;                                                         \
            st->nruns++;                                                                           \
            lo += run;                                                                             \
            left -= run;                                                                           \
        } while (left);                                                                            \
        while (st->nruns > 1) {                                                                    \
            int i = st->nruns - 2;                                                                 \
            if (i > 0 && st->runs[i - 1].len < st->runs[i + 1].len) --i;                           \
            NAME##_merge_at(st, i);                                                                \
        }                                                                                          \
    }                                                                                              \
    /* The sort under its handler: the state lives in the caller's frame, so                       \
       it is all there after the jump. */                                                          \
    static KTL_NOINLINE void NAME##_guarded(NAME##_state *st, bool rev) {                          \
        ktl_handler h;                                                                             \
        ktl_try_enter(&h);                                                                         \
        if (ktl_setjmp(h.jb)) {                                                                    \
            void *e = ktl_try_land(&h);                                                            \
            if (st->npend) memcpy(st->gap, st->pend, (size_t)st->npend * sizeof(T));               \
            if (rev) NAME##_reverse(st->a, st->n);                                                 \
            if (st->tmp) ktl_gc_free(st->tmp);                                                     \
            ktl_reraise(e);                                                                        \
        }                                                                                          \
        NAME##_runs(st);                                                                           \
        ktl_htop = h.prev;                                                                         \
    }                                                                                              \
    /* Descending reverses, sorts ascending and reverses back. */                                  \
    static void NAME##_sort(T *a, int64_t n, bool rev) {                                           \
        if (n < 2) return;                                                                         \
        NAME##_state st;                                                                           \
        st.a = a;                                                                                  \
        st.tmp = NULL;                                                                             \
        st.n = n;                                                                                  \
        st.min_gallop = KTL_MIN_GALLOP;                                                            \
        st.nruns = 0;                                                                              \
        st.npend = 0;                                                                              \
        if (rev) NAME##_reverse(a, n);                                                             \
        if (GUARD) NAME##_guarded(&st, rev);                                                       \
        else NAME##_runs(&st);                                                                     \
        if (rev) NAME##_reverse(a, n);                                                             \
        if (st.tmp) ktl_gc_free(st.tmp);                                                           \
    }                                                                                              \
    static void NAME(T *a, int64_t n) { NAME##_sort(a, n, false); }                                \
    static void NAME##_desc(T *a, int64_t n) { NAME##_sort(a, n, true); }

/* The stable sort with its temporary block's memory kind fixed. */
#define KTL_DEFINE_STABLE_SORT_SCAN(NAME, T, LESS) KTL_DEFINE_STABLE_SORT(NAME, T, LESS, KTL_SCAN)
#define KTL_DEFINE_STABLE_SORT_NOSCAN(NAME, T, LESS) KTL_DEFINE_STABLE_SORT(NAME, T, LESS, KTL_NOSCAN)
/* The stable sort of items whose comparison can run user code. */
#define KTL_DEFINE_STABLE_SORT_GUARDED(NAME, T, LESS) KTL_DEFINE_STABLE_SORT_G(NAME, T, LESS, KTL_SCAN, 1)

/* min() or max() of an empty list. */
static KTL_COLD KTL_NORETURN void ktl_empty_error(const char *fn) {
    ktl_raise_fmt(KTL_E_ValueError, "%s() iterable argument is empty", fn);
}

/* sort, sort descending, sorted, min and max of a list type whose items are
   ordered by LESS. The compiler's instantiations sort stably (items may hold
   pointers, so the merge sort's block is scanned). */
#define KTL_DEFINE_LIST_ALGOS(L, T, LESS) KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, KTL_DEFINE_STABLE_SORT_SCAN)
/* The same for items whose comparison can run a user __lt__, which may raise. */
#define KTL_DEFINE_LIST_ALGOS_GUARDED(L, T, LESS)                                                  \
    KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, KTL_DEFINE_STABLE_SORT_GUARDED)

/* SORTDEF is the sort to instantiate in both directions: a stable one, or
   KTL_DEFINE_SORT_BOTH where equal items are indistinguishable. */
#define KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, SORTDEF)                                            \
    SORTDEF(ktl_sort_raw_##L, T, LESS)                                                             \
    static inline void ktl_sort_##L(L *l) { ktl_sort_raw_##L(l->data, l->len); }                   \
    static inline void ktl_rsort_##L(L *l) { ktl_sort_raw_##L##_desc(l->data, l->len); }           \
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
KTL_DEFINE_LIST_ALGOS_WITH(L_i, int64_t, KTL_LT, KTL_DEFINE_SORT_BOTH)
KTL_DEFINE_LIST_ALGOS_WITH(L_f, double, KTL_LT, KTL_DEFINE_STABLE_SORT_NOSCAN)
KTL_DEFINE_LIST_ALGOS_WITH(L_b, bool, KTL_LT, KTL_DEFINE_SORT_BOTH)
KTL_DEFINE_LIST_ALGOS_WITH(L_s, ktl_str, KTL_STR_LT, KTL_DEFINE_SORT_BOTH)

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

