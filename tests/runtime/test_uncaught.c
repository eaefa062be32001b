// An uncaught exception raised by a `raise` statement: the output printed
// before it is written, then the traceback with the File line, the source
// line read from test_uncaught.ktl (leading blanks and tabs dropped) and the
// class and text; the status is 1. sys.argv[0] is the KESTAL_ARGV0 path.
// expect-status: 1
// env: KESTAL_ARGV0=test_uncaught.ktl
// warnings: error
#define KTL_TEST_SRC_NAME "test_uncaught.ktl"
#include "kestal_runtime.c"
#include "test_support.h"
#include <libgen.h>

static void ktl_main(void) {
    // The source path is relative to the folder of this file.
    char dir[4096];
    snprintf(dir, sizeof dir, "%s", __FILE__);
    if (chdir(dirname(dir)) != 0) kt_fail(__LINE__, "chdir");
    ktl_write("argv[0] = ", 10);
    ktl_print_s(ktl_argv->data[0]);
    ktl_newline();
    ktl_write("computing", 9);
    ktl_newline();
    ktl_str text = KTL_LIT("bad value 3");
    ktl_raise_at(ktl_exc_new(KTL_E_ValueError, text, ktl_repr_str(text)), 6, "check");
}
