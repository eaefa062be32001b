// time, random and input(): the generator's numbers for a seed (against its
// definition in python3), randint's bounds and errors, choice of nothing,
// strftime against python3 (UTC, results past 512 bytes, refused codes),
// sleep resuming after a signal, input() with universal newlines and EOF.
// env: TZ=UTC
// stdin: first line\r\nsecond\rthird\nlast
#include "kestal_runtime.c"
#include "test_support.h"
#include <signal.h>
#include <sys/time.h>

static volatile int kt_alarms;
static void kt_on_alarm(int sig) { kt_alarms++; }

static void kt_random(void) {
    const int64_t seeds[] = {1, 0, -1, 42, INT64_MIN};
    for (int k = 0; k < 5; k++) {
        ktl_seed(seeds[k]);
        for (int i = 0; i < 3; i++) {
            ktl_print_f(ktl_random());
            ktl_putc(' ');
        }
        ktl_print_i(ktl_randint(1, 6));
        ktl_putc(' ');
        ktl_print_i(ktl_randint(-1000000000000, 1000000000000));
        ktl_putc(' ');
        ktl_print_i(ktl_randint(INT64_MIN, INT64_MAX));
        ktl_putc(' ');
        ktl_print_i(ktl_randint(7, 7));
        ktl_putc(' ');
        ktl_print_i(ktl_choice_index(10));
        ktl_newline();
    }
    ktl_seed(3);
    for (int i = 0; i < 1000; i++) {
        int64_t r = ktl_randint(-2, 2);
        KT_CHECK(r >= -2 && r <= 2);
        double f = ktl_random();
        KT_CHECK(f >= 0.0 && f < 1.0);
    }
    KT_TRY(ktl_randint(5, 4));
    KT_TRY(ktl_choice_index(0));
}

static void kt_strftime(void) {
    ktl_str fmts[] = {KTL_LIT("%Y-%m-%d %H:%M:%S"), KTL_LIT("%a %A %b %B %j %U %W %w %y %p %I %%"),
                      KTL_LIT(""), KTL_LIT("plain text"), KTL_LIT("%c|%x|%X")};
    double ts[] = {0.0, 1e9 + 0.75, -0.5, 1700000000.0};
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 4; j++) {
            ktl_print_repr_s(ktl_time_strftime(fmts[i], ts[j]));
            ktl_newline();
        }
    ktl_sb b;
    ktl_sb_init(&b);
    for (int i = 0; i < 300; i++) ktl_sb_add(&b, KTL_LIT("%Y"));
    ktl_str long_text = ktl_time_strftime(ktl_sb_done(&b), 0.0);
    ktl_print_i(long_text.len);
    ktl_newline();
    KT_TRY(ktl_time_strftime(KTL_LIT("%Q"), 0.0));
    KT_TRY(ktl_time_strftime(KTL_LIT("100%"), 0.0));
    KT_TRY(ktl_time_strftime(KTL_LIT("%Y"), NAN));
}

static void kt_time(void) {
    double t0 = ktl_time();
    KT_CHECK(t0 > 1.6e9);
    // Alarms every 5 ms interrupt the 60 ms sleep; it still lasts 60 ms.
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = kt_on_alarm;
    sigaction(SIGALRM, &sa, NULL);
    // Nothing may be left to write while the alarms run: a write interrupted
    // by a signal is not what this checks.
    ktl_flush();
    struct itimerval it = {{0, 5000}, {0, 5000}};
    setitimer(ITIMER_REAL, &it, NULL);
    ktl_sleep(0.06);
    struct itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, NULL);
    double t1 = ktl_time();
    KT_CHECK(kt_alarms > 0);
    KT_CHECK(t1 - t0 >= 0.06);
    ktl_sleep(-1.0);
    ktl_sleep(NAN);
}

static void kt_input(void) {
    ktl_print_repr_s(ktl_input(KTL_LIT("name? ")));
    ktl_newline();
    ktl_print_repr_s(ktl_file_readline(ktl_stdin));
    ktl_newline();
    ktl_print_repr_s(ktl_input(KTL_LIT("")));
    ktl_newline();
    ktl_print_repr_s(ktl_input(KTL_LIT("> ")));
    ktl_newline();
    KT_TRY(ktl_input(KTL_LIT("more? ")));
    ktl_print_repr_s(ktl_file_readline(ktl_stdin));
    ktl_newline();
}

static void ktl_main(void) {
    kt_random();
    kt_strftime();
    kt_time();
    kt_input();
}
