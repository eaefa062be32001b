/* The string checks of test_str_methods.c with a collection on every
 * allocation: a string the collector fails to keep alive is freed and reused
 * at once, and the output no longer matches Python's. */
// cflags: -DKTL_GC_STRESS -DKT_APPENDS=3000
#include "test_str_methods.c"
