// A list repetition whose length times the count overflows ends the program
// as out of memory before anything is allocated, and the output printed
// before it is still written.
// expect-status: 1
#include "kestal_runtime.c"
#include "test_support.h"

static void ktl_main(void) {
    L_i *l = L_i_new(0);
    L_i_push(l, 1);
    L_i_push(l, 2);
    L_i_push(l, 3);
    ktl_print_L_i(L_i_rep(l, 2));
    ktl_newline();
    // 3 * (2^62 + 1) wraps to a small positive count if unchecked.
    L_i *r = L_i_rep(l, ((int64_t)1 << 62) + 1);
    ktl_print_i(r->len);
    ktl_newline();
}
