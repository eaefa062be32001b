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

KTL_RT void ktl_gc_start(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_gc_start(void) {
    ktl_gc_init();
    ktl_gc_add_root(&ktl_argv, sizeof ktl_argv);
    ktl_gc_add_root((void *)ktl_stdin, sizeof *ktl_stdin);
    ktl_gc_add_root(&ktl_cur_exc, sizeof ktl_cur_exc);
    ktl_register_globals();
}
#endif

/* Peak resident memory in bytes (0 when the system won't say). */
KTL_RT size_t ktl_peak_rss(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT size_t ktl_peak_rss(void) {
    struct rusage u;
    if (getrusage(RUSAGE_SELF, &u) != 0) return 0;
    return (size_t)u.ru_maxrss * 1024;
}
#endif

KTL_RT void ktl_memstats(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_memstats(void) {
    if (!getenv("KESTAL_MEMSTATS")) return;
    fprintf(stderr, "kestal: peak memory %llu KB, heap %llu KB, live %llu KB, %llu collections\n",
            (unsigned long long)(ktl_peak_rss() / 1024),
            (unsigned long long)((ktl_heap_pages << KTL_PAGE_SHIFT) / 1024),
            (unsigned long long)(ktl_gc_live / 1024), (unsigned long long)ktl_gc_count);
    fflush(stderr);
}
#endif

/* Stack overflow. A recursion too deep raises RecursionError at the entry
 * of a recursive function (see the exceptions section); this handler is the
 * last resort for a stack exhausted anywhere else. The main thread's stack
 * ends in the kernel's guard gap; a fault there is handled on an alternate
 * signal stack: the buffered standard output and the pending buffer of every
 * open file are written with write(2), and the process ends like Python's
 * uncaught RecursionError, with one line on standard error and status 1.
 * Apart from one fflush of stdout (whose buffer holds bytes only after an
 * output larger than ktl_obuf; its lock is recursive, so a fault inside
 * stdio can't deadlock it) only async-signal-safe calls are made; the
 * traceback's source line would need more of stdio and is left out. Any
 * other fault is handed back to the default action.
 */

#include <signal.h>

KTL_VAR char ktl_altstack[1 << 16];
/* The lowest address the stack may grow to, less the guard gap. */
KTL_VAR uintptr_t ktl_stack_floor;

/* Writes every open file's pending buffer; a fault may have come in the
   middle of a write, so a buffer's length is read once and only bytes
   before it are written. */
KTL_RT void ktl_stack_fault_files(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_stack_fault_files(void) {
    ktl_open_files = ktl_files_reversed(ktl_open_files);
    for (ktl_file *f = ktl_open_files; f; f = ktl_file_next(f)) {
        int64_t n = f->wlen;
        if (f->wbuf && n > 0 && n <= KTL_WBUF && f->fd >= 0) {
            f->wlen = 0;
            (void)ktl_write_fd(f->fd, f->wbuf, n);
        }
    }
    ktl_open_files = ktl_files_reversed(ktl_open_files);
}
#endif

KTL_RT void ktl_stack_fault(int sig, siginfo_t *info, void *context);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_stack_fault(int sig, siginfo_t *info, void *context) {
    (void)context;
    /* Sent by kill(), not raised by a fault: the default action, at once
       (returning would just go on with the program). */
    if (info->si_code <= 0) {
        signal(sig, SIG_DFL);
        raise(sig);
        return;
    }
    uintptr_t at = (uintptr_t)info->si_addr;
    static const char msg[] = "RecursionError: maximum recursion depth exceeded\n";
    if (at >= ktl_stack_floor && at < (uintptr_t)ktl_stack_base) {
        /* Captured bytes are dropped; ordinary output before them stays. The
           stdio buffer only ever holds bytes older than ktl_obuf's. */
        size_t n = ktl_cap ? ktl_cap_from : ktl_olen;
        fflush(stdout);
        (void)ktl_write_fd(1, ktl_obuf, (int64_t)n);
        ktl_stack_fault_files();
        (void)ktl_write_fd(2, msg, (int64_t)(sizeof msg - 1));
        _exit(1);
    }
#ifdef KTL_PARALLEL
    /* A worker's stack: the calling thread's output was written before the
       loop started, and a worker prints nothing; the calling thread waits
       for the loop, so the open files are not being written. */
    if (at >= ktl_worker_stack_lo && at < ktl_worker_stack_hi) {
        fflush(stdout);
        ktl_stack_fault_files();
        (void)ktl_write_fd(2, msg, (int64_t)(sizeof msg - 1));
        _exit(1);
    }
#endif
    signal(sig, SIG_DFL);
}
#endif

/* Installs the handler for faults on the main thread's stack. The guard
   range reaches 16 MiB below the stack's limit, well past the kernel's
   guard gap; an unlimited stack is taken as 8 GiB. */
KTL_RT void ktl_stack_guard_start(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_stack_guard_start(void) {
    struct rlimit r;
    uintptr_t limit = (uintptr_t)8 << 30;
    if (getrlimit(RLIMIT_STACK, &r) == 0 && r.rlim_cur != RLIM_INFINITY && r.rlim_cur < limit)
        limit = (uintptr_t)r.rlim_cur;
    uintptr_t base = (uintptr_t)ktl_stack_base;
    uintptr_t reach = limit + ((uintptr_t)16 << 20);
    ktl_stack_floor = base > reach ? base - reach : 0;
    stack_t alt;
    alt.ss_sp = ktl_altstack;
    alt.ss_size = sizeof ktl_altstack;
    alt.ss_flags = 0;
    if (sigaltstack(&alt, NULL) != 0) return;
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = ktl_stack_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGSEGV, &sa, NULL);
    sigaction(SIGBUS, &sa, NULL);
}
#endif

/* Runs the program. Kept out of line so that the program's frames lie below
   the entry's frame, where the stack scan ends. */
KTL_RT __attribute__((noinline)) void ktl_start(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT __attribute__((noinline)) void ktl_start(void) {
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
#endif

/* Ctrl-C, a hang-up, a request to terminate and a broken pipe end the
   program by the signal, as they would without a handler, but first the
   buffered standard output (not for a broken pipe, which is usually that
   output's own) and the pending buffer of every open file are written, so
   nothing the program wrote is lost. A signal the program was started
   ignoring stays ignored. */
KTL_RT void ktl_end_by_signal(int sig);
KTL_RT void ktl_signals_start(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_end_by_signal(int sig) {
    if (sig != SIGPIPE) {
        size_t n = ktl_cap ? ktl_cap_from : ktl_olen;
        fflush(stdout);
        (void)ktl_write_fd(1, ktl_obuf, (int64_t)n);
    }
    ktl_stack_fault_files();
    signal(sig, SIG_DFL);
    raise(sig);
}

KTL_RT void ktl_signals_start(void) {
    static const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
    for (size_t i = 0; i < sizeof signals / sizeof signals[0]; i++) {
        struct sigaction old;
        if (sigaction(signals[i], NULL, &old) != 0 || old.sa_handler != SIG_DFL) continue;
        struct sigaction sa;
        memset(&sa, 0, sizeof sa);
        sa.sa_handler = ktl_end_by_signal;
        sigemptyset(&sa.sa_mask);
        sigaction(signals[i], &sa, NULL);
    }
}

int main(int argc, char **argv) {
    ktl_stack_base = __builtin_frame_address(0);
    ktl_stack_guard_start();
    ktl_signals_start();
    ktl_gc_start();
    ktl_argv = L_s_new(argc);
    for (int i = 0; i < argc; i++) L_s_push(ktl_argv, ktl_mkstr(argv[i], (int64_t)strlen(argv[i])));
    const char *argv0 = getenv("KESTAL_ARGV0");
    if (argv0 && argc > 0) ktl_argv->data[0] = ktl_mkstr(argv0, (int64_t)strlen(argv0));
    ktl_start();
    return 0;
}
#endif

#pragma GCC diagnostic pop
