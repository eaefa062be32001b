/* Compiled unchecked: zero divisors raise nothing and never trap, and the
 * overflowing pair INT64_MIN and -1 still gives wrapped results. */
// warnings: error
#define KTL_UNCHECKED 1
#include "kestal_runtime.c"
#include "test_support.h"

static volatile int64_t zero = 0, minus_one = -1;

static void ktl_main(void) {
    KT_CHECK(ktl_floordiv(7, zero) == 0);
    KT_CHECK(ktl_mod(7, zero) == 0);
    KT_CHECK(ktl_floordiv(INT64_MIN, minus_one) == INT64_MIN);
    KT_CHECK(ktl_mod(INT64_MIN, minus_one) == 0);
    KT_CHECK(isinf(ktl_fdiv(1.0, (double)zero)));
    KT_CHECK(isnan(ktl_fmod(1.0, (double)zero)));
    KT_CHECK(ktl_floordiv(-7, 2) == -4 && ktl_mod(-7, 2) == 1);
    ktl_write("OK\n", 3);
}
