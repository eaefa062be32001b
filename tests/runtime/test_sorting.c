// Sorting against python3: sorts without a key are stable where items tie
// without being the same (0.0 and -0.0, objects ordered by __lt__, tuples
// holding them), ascending and descending; int and str sorts on the
// quicksort with many equal items; keyed sorts through records that break
// ties by index; min and max keep the first of equal extremes; a __lt__ that
// is no order still finishes inside the list, and one that raises leaves
// every item in it once. Sums are checked directly.
// The collector runs at every page refill, so everything is checked under it.
// env: KESTAL_GC_MIN=1
#include "kestal_runtime.c"
#define KT_RAND_SEED 99
#include "test_support.h"

typedef struct Obj {
    int64_t key, id;
} Obj;
static inline bool kt_obj_lt(Obj *a, Obj *b) { return a->key < b->key; }
static inline bool kt_always(Obj *a, Obj *b) { return true; }
KTL_DEFINE_LIST(L_O, Obj *, KTL_EQ, KTL_SCAN)
KTL_DEFINE_LIST_ALGOS(L_O, Obj *, kt_obj_lt)
KTL_DEFINE_LIST(L_Q, Obj *, KTL_EQ, KTL_SCAN)
KTL_DEFINE_LIST_ALGOS(L_Q, Obj *, kt_always)

typedef struct T_1f { double f0; } T_1f;
static inline bool T_1f_eq(T_1f a, T_1f b) { return KTL_EQ(a.f0, b.f0); }
static inline int T_1f_cmp(T_1f a, T_1f b) { int c; if ((c = KTL_CMP(a.f0, b.f0))) return c; return 0; }
static inline bool T_1f_lt(T_1f a, T_1f b) { return T_1f_cmp(a, b) < 0; }
static void ktl_print_T_1f(T_1f t) { ktl_putc('('); ktl_print_f(t.f0); ktl_putc(','); ktl_putc(')'); }
// A __lt__ that raises once its budget of comparisons is spent, on the
// guarded sort the compiler uses for items that can run user code.
static int64_t kt_budget;
static ktl_exc *kt_raised;
static inline bool kt_budget_lt(Obj *a, Obj *b) {
    if (kt_budget-- == 0) {
        kt_raised = ktl_exc_new(KTL_E_ValueError, ktl_mkstr("spent", 5), ktl_mkstr("'spent'", 7));
        ktl_raise_at(kt_raised, 42, "__lt__");
    }
    return a->key < b->key;
}
KTL_DEFINE_LIST(L_R, Obj *, KTL_EQ, KTL_SCAN)
KTL_DEFINE_LIST_ALGOS_GUARDED(L_R, Obj *, kt_budget_lt)

// Sorts n objects with a budget of comparisons: an exception must reach
// the caller's handler unchanged, with its line, and leave every item in
// the list once.
static void kt_check_raising(int64_t n, int64_t budget, bool reverse) {
    L_R *l = L_R_new(0);
    for (int64_t i = 0; i < n; i++) {
        Obj *x = (Obj *)ktl_obj_new(sizeof(Obj));
        x->key = kt_rand(n);
        x->id = i;
        L_R_push(l, x);
    }
    kt_budget = budget;
    kt_raised = NULL;
    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        if (reverse) ktl_rsort_L_R(l);
        else ktl_sort_L_R(l);
        ktl_htop = h.prev;
        KT_CHECK(kt_budget >= 0);
    } else {
        ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
        KT_CHECK(e == kt_raised && ktl_exc_line == 42 && strcmp(ktl_exc_fn, "__lt__") == 0);
    }
    KT_CHECK(ktl_htop == h.prev);
    bool *seen = (bool *)ktl_gc_zalloc((size_t)n);
    KT_CHECK(l->len == n);
    for (int64_t i = 0; i < n; i++) {
        int64_t id = l->data[i]->id;
        KT_CHECK(id >= 0 && id < n && !seen[id]);
        seen[id] = true;
    }
}

KTL_DEFINE_LIST(L_T_1f, T_1f, T_1f_eq, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_T_1f, ktl_print_T_1f)
KTL_DEFINE_LIST_ALGOS(L_T_1f, T_1f, T_1f_lt)

// The records of a keyed sort, as the compiler writes them for int keys.
typedef struct { int64_t k; int64_t i; } KP_i;
static inline bool KP_i_lt(KP_i a, KP_i b) { int c = KTL_CMP(a.k, b.k); return c < 0 || (c == 0 && a.i < b.i); }
static inline bool KP_i_gt(KP_i a, KP_i b) { int c = KTL_CMP(a.k, b.k); return c > 0 || (c == 0 && a.i < b.i); }
KTL_DEFINE_SORT(ktl_ksort_KP_i, KP_i, KP_i_lt)
KTL_DEFINE_SORT(ktl_ksort_KP_i_desc, KP_i, KP_i_gt)

// Comparisons that are no order at all, for the quicksort.
static uint64_t kt_coin = 5;
static inline bool kt_random_less(int64_t a, int64_t b) {
    kt_coin = kt_coin * 6364136223846793005ULL + 1442695040888963407ULL;
    return (kt_coin >> 40) & 1;
}
#define KT_ALWAYS(a, b) ((void)(a), (void)(b), true)
KTL_DEFINE_SORT(kt_sort_random, int64_t, kt_random_less)
KTL_DEFINE_SORT(kt_sort_always, int64_t, KT_ALWAYS)

// Sorts 0..n-1 with an inconsistent comparison: it must finish with every
// item still there once.
static void kt_check_chaos(void (*sort)(int64_t *, int64_t), int64_t n) {
    int64_t *a = (int64_t *)ktl_gc_alloc(sizeof(int64_t) * (size_t)n, KTL_NOSCAN);
    for (int64_t i = 0; i < n; i++) a[i] = i;
    sort(a, n);
    bool *seen = (bool *)ktl_gc_zalloc((size_t)n);
    for (int64_t i = 0; i < n; i++) {
        KT_CHECK(a[i] >= 0 && a[i] < n && !seen[a[i]]);
        seen[a[i]] = true;
    }
}

static const double kt_pool[] = {0.0, -0.0, 1.0, -1.0, 0.5, -0.0, 2.5};

static void kt_objs(L_O *l) {
    ktl_putc('[');
    for (int64_t i = 0; i < l->len; i++) {
        if (i) ktl_putc(' ');
        ktl_print_i(l->data[i]->id);
    }
    ktl_putc(']');
    ktl_newline();
}

static void kt_keyed(L_s *words, bool reverse) {
    int64_t n = words->len;
    KP_i *kp = (KP_i *)ktl_gc_alloc(sizeof(KP_i) * (size_t)n, KTL_NOSCAN);
    for (int64_t i = 0; i < n; i++) {
        kp[i].k = words->data[i].len;
        kp[i].i = i;
    }
    if (reverse) ktl_ksort_KP_i_desc(kp, n);
    else ktl_ksort_KP_i(kp, n);
    L_s *out = L_s_new(n);
    for (int64_t i = 0; i < n; i++) L_s_push(out, words->data[kp[i].i]);
    ktl_print_L_s(out);
    ktl_newline();
}

static void ktl_main(void) {
    const int64_t sizes[] = {0, 1, 5, 16, 17, 40, 300};
    for (int s = 0; s < 7; s++) {
        int64_t n = sizes[s];
        L_f *f = L_f_new(0);
        for (int64_t i = 0; i < n; i++) L_f_push(f, kt_pool[kt_rand(7)]);
        ktl_print_L_f(ktl_sorted_L_f(f));
        ktl_newline();
        ktl_rsort_L_f(f);
        ktl_print_L_f(f);
        ktl_newline();
        L_O *o = L_O_new(0);
        for (int64_t i = 0; i < n; i++) {
            Obj *x = (Obj *)ktl_obj_new(sizeof(Obj));
            x->key = kt_rand(n / 4 + 1);
            x->id = i;
            L_O_push(o, x);
        }
        L_O *o2 = L_O_slice(o, 0, INT64_MAX);
        ktl_sort_L_O(o);
        kt_objs(o);
        ktl_rsort_L_O(o2);
        kt_objs(o2);
        if (n) {
            ktl_print_i(ktl_min_L_O(o2)->id);
            ktl_putc(' ');
            ktl_print_i(ktl_max_L_O(o2)->id);
            ktl_newline();
        }
        L_T_1f *t = L_T_1f_new(0);
        for (int64_t i = 0; i < n; i++) L_T_1f_push(t, (T_1f){kt_pool[kt_rand(2)]});
        ktl_print_L_T_1f(ktl_sorted_L_T_1f(t));
        ktl_newline();
        if (n) {
            ktl_print_T_1f(ktl_min_L_T_1f(t));
            ktl_print_T_1f(ktl_max_L_T_1f(t));
            ktl_newline();
        }
        // A __lt__ that is true for every pair: any order, but every item
        // stays in the list exactly once.
        L_Q *q = L_Q_new(0);
        for (int64_t i = 0; i < n; i++) L_Q_push(q, o->data[i]);
        ktl_sort_L_Q(q);
        ktl_rsort_L_Q(q);
        int64_t seen = 0;
        for (int64_t i = 0; i < n; i++) seen += q->data[i]->id;
        KT_CHECK(seen == n * (n - 1) / 2);
    }
    for (int64_t n = 0; n < 300; n += 17) {
        kt_check_chaos(kt_sort_random, n);
        kt_check_chaos(kt_sort_always, n);
    }
    kt_check_chaos(kt_sort_random, 5000);
    kt_check_chaos(kt_sort_always, 5000);
    // Quicksort of ints with many equal items, all equal, and already sorted.
    L_i *a = L_i_new(0);
    for (int64_t i = 0; i < 3000; i++) L_i_push(a, kt_rand(50) - 25);
    L_i *sorted = ktl_sorted_L_i(a);
    for (int64_t i = 0; i < 3000; i += 97) ktl_print_i(sorted->data[i]);
    ktl_newline();
    ktl_rsort_L_i(a);
    for (int64_t i = 0; i < 3000; i += 97) ktl_print_i(a->data[i]);
    ktl_newline();
    L_i *same = L_i_rep(L_i_from(1, (int64_t[]){7}), 5000);
    ktl_sort_L_i(same);
    KT_CHECK(same->len == 5000 && same->data[0] == 7 && same->data[4999] == 7);
    ktl_sort_L_i(sorted);
    ktl_print_i(ktl_min_L_i(sorted));
    ktl_print_i(ktl_max_L_i(sorted));
    ktl_newline();
    L_s *w = L_s_new(0);
    const char *words[] = {"pear", "fig", "apple", "kiwi", "date", "plum", "lime", "banana", "cherry", "melon"};
    for (int i = 0; i < 40; i++) {
        const char *x = words[kt_rand(10)];
        L_s_push(w, ktl_mkstr(x, (int64_t)strlen(x)));
    }
    ktl_print_L_s(ktl_sorted_L_s(w));
    ktl_newline();
    kt_keyed(w, false);
    kt_keyed(w, true);
    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        ktl_min_L_i(L_i_new(0));
        ktl_htop = h.prev;
    } else {
        ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
        ktl_print_s(e->str);
        ktl_newline();
    }
    for (int64_t n = 10; n <= 700; n = n * 3 + 1)
        for (int64_t budget = 0; budget < n * 12; budget += n / 3 + 1) {
            kt_check_raising(n, budget, false);
            kt_check_raising(n, budget, true);
        }
    // Sums: Neumaier's compensation, and ints wrapping.
    L_f *tenth = L_f_new(0);
    for (int i = 0; i < 10; i++) L_f_push(tenth, 0.1);
    KT_CHECK(ktl_sum_L_f(tenth) == 1.0);
    KT_CHECK(ktl_sum_L_f(L_f_from(3, (double[]){1e100, 1.0, -1e100})) == 1.0);
    KT_CHECK(isinf(ktl_sum_L_f(L_f_from(2, (double[]){INFINITY, 1.0}))));
    KT_CHECK(ktl_sum_L_i(L_i_from(2, (int64_t[]){INT64_MAX, 1})) == INT64_MIN);
}
