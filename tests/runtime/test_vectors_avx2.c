/* The string and scan checks (test_str_methods.c, test_simd.c) built with
 * 32-byte AVX2 vectors; the output is test_str_methods.py's. */
// cflags: -mavx2
// requires-cpu: avx2
#define KT_VARIANT 1
#include "kestal_runtime.c"
#include "test_support.h"

/* The checks themselves, after the runtime and the support names. */
#include "test_str_methods.c"

#include "test_simd.c"
#if !defined(KTL_VW) || KTL_VW != 32
#error "expected the AVX2 vector layer"
#endif

static void ktl_main(void) {
    simd_main();
    str_methods_main();
}
