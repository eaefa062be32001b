/* ---- Start-up and the process entry ----
 *
 * The C entry point records where the collector's stack scan ends, starts
 * the heap and registers the roots, builds sys.argv, then runs the program
 * from a separate, never inlined function so that everything the program
 * keeps on the stack lies below the entry's frame. On the normal way out all
 * output is written and, when KESTAL_MEMSTATS is set, the memory use is
 * reported on standard error.
 */

#include <sys/resource.h>

static void ktl_gc_start(void) {
    ktl_gc_init();
    ktl_gc_add_root(&ktl_argv, sizeof ktl_argv);
    ktl_gc_add_root(&ktl_open_files, sizeof ktl_open_files);
    ktl_gc_add_root((void *)ktl_stdin, sizeof *ktl_stdin);
    ktl_gc_add_root(&ktl_cur_exc, sizeof ktl_cur_exc);
    ktl_register_globals();
}

/* Peak resident memory in bytes (0 when the system won't say). */
static size_t ktl_peak_rss(void) {
    struct rusage u;
    if (getrusage(RUSAGE_SELF, &u) != 0) return 0;
    return (size_t)u.ru_maxrss * 1024;
}

static void ktl_memstats(void) {
    if (!getenv("KESTAL_MEMSTATS")) return;
    fprintf(stderr, "kestal: peak memory %llu KB, heap %llu KB, live %llu KB, %llu collections\n",
            (unsigned long long)(ktl_peak_rss() / 1024),
            (unsigned long long)((ktl_heap_pages << KTL_PAGE_SHIFT) / 1024),
            (unsigned long long)(ktl_gc_live / 1024), (unsigned long long)ktl_gc_count);
    fflush(stderr);
}

/* Runs the program. Kept out of line so that the program's frames lie below
   the entry's frame, where the stack scan ends. */
static __attribute__((noinline)) void ktl_start(void) {
    ktl_tty = ktl_isatty_stdout();
    for (int i = 0; i < 128; i++) ktl_ascii[i] = (char)i;
    struct timespec ts;
    timespec_get(&ts, TIME_UTC);
    ktl_seed((int64_t)((uint64_t)ts.tv_nsec ^ ((uint64_t)ts.tv_sec << 20)));
    ktl_files_init();
    ktl_main();
    ktl_exiting = 1;
    ktl_flush();
    ktl_files_flush_all();
    ktl_memstats();
}

int main(int argc, char **argv) {
    ktl_stack_base = __builtin_frame_address(0);
    ktl_gc_start();
    ktl_argv = L_s_new(argc);
    for (int i = 0; i < argc; i++) L_s_push(ktl_argv, ktl_mkstr(argv[i], (int64_t)strlen(argv[i])));
    const char *argv0 = getenv("KESTAL_ARGV0");
    if (argv0 && argc > 0) ktl_argv->data[0] = ktl_mkstr(argv0, (int64_t)strlen(argv0));
    ktl_start();
    return 0;
}

#pragma GCC diagnostic pop
