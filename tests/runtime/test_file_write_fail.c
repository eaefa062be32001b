// A file whose data can't be written: flush() raises OSError while the
// program runs; data still pending at exit is reported on standard error and
// the exit status says failure, after all other output was written.
// expect-status: 1
#include "kestal_runtime.c"
#include "test_support.h"

static void ktl_main(void) {
    ktl_file *f = ktl_open(KTL_LIT("/dev/full"), KTL_LIT("w"));
    ktl_file_write(f, KTL_LIT("lost"));
    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        ktl_file_flush(f);
        ktl_htop = h.prev;
        ktl_write("no error\n", 9);
    } else {
        ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
        ktl_write(ktl_class_name(e->cls), strlen(ktl_class_name(e->cls)));
        ktl_write(": ", 2);
        ktl_print_s(e->str);
        ktl_newline();
    }
    ktl_file_write(f, KTL_LIT("pending at exit"));
    ktl_write("done\n", 5);
}
