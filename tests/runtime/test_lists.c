// Lists against python3: slices of every bound and step (omitted bounds
// included), slice deletion and assignment (plain, extended, of the list
// itself, of the wrong size), indexes from both ends and out of range, pop,
// insert, extend, repetition, concatenation, search, comparison and
// printing of the four predefined lists.
// The collector runs at every page refill, so everything is checked under it.
// env: KESTAL_GC_MIN=1
#include "kestal_runtime.c"
#include "test_support.h"

#define NONE KTL_NOIDX

static const int64_t kt_bounds[] = {NONE, -12, -3, -1, 0, 2, 5, 9, 12};
static const int64_t kt_steps[] = {1, 2, 3, -1, -2, -4, 10};
#define KT_NB ((int)(sizeof kt_bounds / sizeof kt_bounds[0]))
#define KT_NS ((int)(sizeof kt_steps / sizeof kt_steps[0]))

static L_i *kt_range_list(int64_t from, int64_t n) {
    L_i *l = L_i_new(0);
    for (int64_t i = 0; i < n; i++) L_i_push(l, from + i);
    return l;
}

static void kt_pl(L_i *l) {
    ktl_print_L_i(l);
    ktl_newline();
}

static void kt_slices(void) {
    L_i *a = kt_range_list(0, 10);
    for (int i = 0; i < KT_NB; i++)
        for (int j = 0; j < KT_NB; j++) kt_pl(L_i_slice(a, kt_bounds[i], kt_bounds[j]));
    for (int i = 0; i < KT_NB; i++)
        for (int j = 0; j < KT_NB; j++)
            for (int k = 0; k < KT_NS; k++) kt_pl(L_i_slice_step(a, kt_bounds[i], kt_bounds[j], kt_steps[k]));
    KT_TRY(L_i_slice_step(a, 0, 5, 0));
    kt_pl(a);
}

static void kt_del_and_assign(void) {
    for (int i = 0; i < KT_NB; i++)
        for (int j = 0; j < KT_NB; j++)
            for (int k = 0; k < KT_NS; k++) {
                int64_t lo = kt_bounds[i], hi = kt_bounds[j], step = kt_steps[k];
                L_i *a = kt_range_list(0, 10);
                L_i_delslice(a, lo, hi, step);
                kt_pl(a);
                int64_t l2 = lo, h2 = hi;
                int64_t count = ktl_slice_adjust(10, &l2, &h2, step);
                a = kt_range_list(0, 10);
                L_i_setslice_step(a, lo, hi, step, kt_range_list(100, count));
                kt_pl(a);
                a = kt_range_list(0, 10);
                KT_TRY(L_i_setslice_step(a, lo, hi, step, kt_range_list(100, count + 1)));
                kt_pl(a);
            }
    for (int i = 0; i < KT_NB; i++)
        for (int j = 0; j < KT_NB; j++) {
            L_i *a = kt_range_list(0, 10);
            L_i_setslice(a, kt_bounds[i], kt_bounds[j], kt_range_list(70, 2));
            kt_pl(a);
        }
    // The source is the list itself: the assignment reads a copy.
    L_i *a = kt_range_list(0, 6);
    L_i_setslice(a, 2, 4, a);
    kt_pl(a);
    a = kt_range_list(0, 6);
    L_i_setslice_step(a, NONE, NONE, -1, a);
    kt_pl(a);
    a = kt_range_list(0, 5);
    L_i_delslice(a, NONE, NONE, -2);
    kt_pl(a);
}

static void kt_indexes(void) {
    L_i *a = kt_range_list(10, 10);
    for (int64_t i = -12; i <= 12; i++) {
        KT_TRY(ktl_print_i(*L_i_at(a, i)); ktl_newline());
    }
    for (int64_t i = -12; i <= 12; i += 3) {
        L_i *b = kt_range_list(0, 10);
        KT_TRY(ktl_print_i(L_i_pop_at(b, i)); ktl_newline());
        kt_pl(b);
    }
    L_i *e = L_i_new(0);
    KT_TRY(L_i_pop(e));
    KT_TRY(L_i_pop_at(e, 0));
    L_i *one = kt_range_list(7, 1);
    ktl_print_i(*L_i_at(one, -1));
    ktl_newline();
    ktl_print_i(L_i_pop(one));
    ktl_newline();
    const int64_t at[] = {-100, -3, -1, 0, 1, 3, 100};
    for (int k = 0; k < 7; k++) {
        L_i *b = kt_range_list(0, 3);
        L_i_insert(b, at[k], 99);
        kt_pl(b);
    }
}

static void kt_growth_and_search(void) {
    L_i *a = L_i_new(0);
    KT_CHECK(a->cap == 4);
    for (int i = 0; i < 4; i++) L_i_push(a, i);
    KT_CHECK(a->cap == 4);
    L_i_push(a, 4);
    KT_CHECK(a->cap == 8);
    L_i_extend(a, a);
    kt_pl(a);
    const int64_t reps[] = {-1, 0, 1, 3};
    for (int k = 0; k < 4; k++) kt_pl(L_i_rep(kt_range_list(1, 2), reps[k]));
    kt_pl(L_i_rep(L_i_new(0), 5));
    kt_pl(L_i_cat(kt_range_list(0, 2), kt_range_list(5, 3)));
    L_i_reverse(a);
    kt_pl(a);
    ktl_print_i(L_i_index(a, 3));
    ktl_print_i(L_i_count(a, 3));
    ktl_print_b(L_i_contains(a, 4));
    ktl_print_b(L_i_contains(a, 5));
    ktl_newline();
    KT_TRY(L_i_index(a, 42));
    // Comparisons: equality and the three-way order.
    L_i *xs[] = {kt_range_list(1, 2), kt_range_list(1, 3), kt_range_list(2, 1), L_i_new(0)};
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            ktl_print_b(L_i_eq(xs[i], xs[j]));
            ktl_putc(' ');
            ktl_print_i(L_i_cmp(xs[i], xs[j]));
            ktl_putc(' ');
        }
        ktl_newline();
    }
}

static void kt_other_lists(void) {
    L_s *s = L_s_new(0);
    L_s_push(s, KTL_LIT("it's"));
    L_s_push(s, KTL_LIT("a\n"));
    L_s_push(s, KTL_LIT(""));
    ktl_print_L_s(s);
    ktl_newline();
    ktl_print_i(L_s_index(s, KTL_LIT("")));
    ktl_print_b(L_s_contains(s, KTL_LIT("a")));
    ktl_newline();
    L_s *t = L_s_slice_step(s, NONE, NONE, -1);
    int c = L_s_cmp(s, t);
    ktl_print_i((c > 0) - (c < 0));
    ktl_print_b(L_s_eq(s, L_s_slice(s, 0, INT64_MAX)));
    ktl_newline();
    const double fs[] = {0.5, -0.0, 1e16, 0.1};
    L_f *f = L_f_from(4, fs);
    ktl_print_L_f(f);
    ktl_print_i(L_f_index(f, 0.0));
    ktl_print_i(L_f_count(f, 0.1));
    ktl_newline();
    const bool bs[] = {true, false};
    ktl_print_L_b(L_b_from(2, bs));
    ktl_newline();
    // The int search runs on the vector scan: check it past a vector's width.
    L_i *big = kt_range_list(0, 1000);
    KT_CHECK(L_i_find(big, 999) == 999 && L_i_find(big, 1000) == -1 && L_i_count(big, 500) == 1);
}

static void ktl_main(void) {
    kt_slices();
    kt_del_and_assign();
    kt_indexes();
    kt_growth_and_search();
    kt_other_lists();
    KT_TRY(ktl_unpack_check(3, 2));
    KT_TRY(ktl_unpack_check(1, 2));
    ktl_unpack_check(2, 2);
}
