/* The string and scan checks (test_str_methods.c, test_simd.c) built with no
 * vector code, so only the scalar loops run; the output is
 * test_str_methods.py's. */
// cflags: -U__SSE2__ -U__AVX2__
#define KT_VARIANT 1
#include "kestal_runtime.c"
#include "test_support.h"

/* The checks themselves, after the runtime and the support names. */
#include "test_str_methods.c"

#include "test_simd.c"
#ifdef KTL_VW
#error "expected no vector layer"
#endif

static void ktl_main(void) {
    simd_main();
    str_methods_main();
}
