// Ranges against python3 over bounds and steps up to the int64 extremes:
// len() (OverflowError past INT64_MAX values, where the loop count stays
// INT64_MAX), membership, indexing from both ends and out of range, equality
// and printing, and the zero step.
#include "kestal_runtime.c"
#include "test_support.h"

static const int64_t kt_ends[] = {INT64_MIN, INT64_MIN + 1, -10, -1, 0, 1, 3, 10, INT64_MAX - 1, INT64_MAX};
static const int64_t kt_steps[] = {1, 2, 3, -1, -2, -7, INT64_MAX, INT64_MIN, 5};

static void ktl_main(void) {
    ktl_range prev = ktl_range_new(0, 0, 1);
    for (int a = 0; a < 10; a++)
        for (int b = 0; b < 10; b++)
            for (int s = 0; s < 9; s++) {
                ktl_range r = ktl_range_new(kt_ends[a], kt_ends[b], kt_steps[s]);
                ktl_print_range(r);
                ktl_putc(' ');
                KT_TRY_INLINE(ktl_print_i(ktl_range_len_checked(r)));
                KT_CHECK(ktl_range_len(r) == (int64_t)(ktl_range_ulen(r) > INT64_MAX ? INT64_MAX : ktl_range_ulen(r)));
                ktl_putc(' ');
                const int64_t xs[] = {r.start, r.stop, r.start + r.step, r.stop - 1, 0, INT64_MIN, INT64_MAX, 2};
                for (int k = 0; k < 8; k++) ktl_print_b(ktl_range_contains(r, xs[k]));
                const int64_t is[] = {0, 1, -1, -2, 5};
                for (int k = 0; k < 5; k++) {
                    ktl_putc(' ');
                    KT_TRY_INLINE(ktl_print_i(ktl_range_at(r, is[k])));
                }
                ktl_putc(' ');
                ktl_print_b(ktl_range_eq(r, prev));
                ktl_newline();
                prev = r;
            }
    const int64_t eqs[][6] = {{0, 3, 2, 0, 4, 2}, {0, 0, 1, 5, 1, 1}, {3, 4, 1, 3, 100, 97}, {0, 10, 3, 0, 11, 3}};
    for (int k = 0; k < 4; k++) {
        ktl_print_b(ktl_range_eq(ktl_range_new(eqs[k][0], eqs[k][1], eqs[k][2]),
                                 ktl_range_new(eqs[k][3], eqs[k][4], eqs[k][5])));
    }
    ktl_newline();
    KT_TRY_INLINE(ktl_range_new(1, 2, 0));
    ktl_newline();
}
