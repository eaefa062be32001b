/* An int raised to a negative int has no int result: the program ends with
 * the runtime error (no `try` catches it), after the output printed before
 * it is written. */
// expect-status: 1
#include "kestal_runtime.c"
#include "test_support.h"

static volatile int64_t minus_one = -1;

static void ktl_main(void) {
    ktl_print_i(ktl_ipow(2, 62));
    ktl_newline();
    ktl_print_i(ktl_ipow(2, 64));
    ktl_newline();
    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        ktl_print_i(ktl_ipow(2, minus_one));
        ktl_newline();
        ktl_htop = h.prev;
    } else {
        ktl_try_land(&h);
        ktl_write("caught\n", 7);
    }
}
