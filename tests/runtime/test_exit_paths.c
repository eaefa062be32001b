// Every way a program ends, each run in a child process whose standard
// output, standard error and exit status are checked: uncaught exceptions and
// their tracebacks, SystemExit codes, sys.exit, ktl_exit and ktl_panic (also
// while an output capture is active, and when memory runs out while a capture
// grows), the normal return with KESTAL_MEMSTATS, sys.argv with
// KESTAL_ARGV0, standard output on a full device at each way out, a stack
// exhausted outside the recursion checks (the fault handler writes the
// open files), signals that end the program (their handler writes the open
// files too) and an uncaught RecursionError of a check.
#define KTL_TEST_CLASSES(X) X(MyExit, KTL_E_SystemExit) X(MyError, KTL_E_ValueError)
#include "kestal_runtime.c"
#include "test_support.h"
#include <sys/resource.h>
#include <sys/wait.h>

typedef struct {
    const char *name;
    void (*run)(void);
    int status;
    const char *out;
    // The expected standard error; when it ends in "*", only its start.
    const char *err;
} kt_case;

static char kt_src[64];
static char kt_exe[4096];

static ktl_exc *kt_exc(int32_t cls, const char *text) {
    ktl_str t = ktl_str_copy(text, (int64_t)strlen(text));
    return ktl_exc_new(cls, t, ktl_repr_str(t));
}

static void kt_write_src(void) {
    FILE *f = fopen(kt_src, "wb");
    fputs("def f(n):\n    x = n\n \t  raise ValueError(\"bad \" + str(x))\r\nf(1)\n", f);
    fclose(f);
    ktl_src_name = kt_src;
}

static void c_traceback(void) {
    kt_write_src();
    ktl_write("before\n", 7);
    ktl_raise_at(kt_exc(KTL_E_ValueError, "bad 1"), 3, "f");
}

static void c_traceback_no_text(void) {
    kt_write_src();
    ktl_raise_at(kt_exc(KTL_E_ValueError, ""), 4, "<module>");
}

static void c_source_missing(void) {
    ktl_src_name = "no-such-dir/missing.ktl";
    ktl_raise_at(kt_exc(KT_C_MyError, "gone"), 2, "g");
}

static void c_line_past_end(void) {
    kt_write_src();
    ktl_raise_at(kt_exc(KTL_E_ValueError, "x"), 40, "f");
}

static void c_runtime_index(void) {
    ktl_index_error("list", 5, 3);
}

static void c_key_error(void) {
    ktl_raise_c(KTL_E_KeyError, "a");
}

static void c_unsupported(void) {
    ktl_raise_fmt(KTL_E_UnsupportedOperation, "not %s", "readable");
}

static void c_exit_3(void) { ktl_raise_at(kt_exc(KTL_E_SystemExit, "3"), 5, "g"); }
static void c_exit_empty(void) { ktl_raise_at(kt_exc(KTL_E_SystemExit, ""), 5, "g"); }
static void c_exit_bye(void) { ktl_raise_at(kt_exc(KTL_E_SystemExit, "bye"), 5, "g"); }
static void c_exit_plus(void) { ktl_raise_c(KTL_E_SystemExit, "+7"); }
static void c_exit_minus(void) { ktl_raise_c(KTL_E_SystemExit, "-1"); }
static void c_exit_sign_only(void) { ktl_raise_c(KTL_E_SystemExit, "-"); }
static void c_exit_digits_then_text(void) { ktl_raise_c(KTL_E_SystemExit, "1x"); }
static void c_exit_subclass(void) { ktl_raise_c(KT_C_MyExit, "9"); }

static void c_sys_exit(void) {
    ktl_write("out", 3);
    ktl_sys_exit(4);
}

static void c_sys_exit_s(void) {
    ktl_write("x\n", 2);
    ktl_sys_exit_s(KTL_LIT("msg"));
}

static void c_uncaught_in_capture(void) {
    ktl_write("keep\n", 5);
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_cap_begin(&b);
    ktl_write("lost", 4);
    ktl_raise_c(KTL_E_RuntimeError, "boom");
}

static void c_panic_in_capture(void) {
    ktl_write("keep\n", 5);
    ktl_sb b1, b2;
    ktl_sb_init(&b1);
    ktl_sb_init(&b2);
    ktl_cap_begin(&b1);
    ktl_write("lost1", 5);
    ktl_cap_begin(&b2);
    ktl_write("lost2", 5);
    ktl_panic("out of memory");
}

static void c_exit_in_capture(void) {
    ktl_write("keep", 4);
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_cap_begin(&b);
    ktl_write("lost", 4);
    ktl_exit(7);
}

static void c_sys_exit_in_capture(void) {
    ktl_write("keep", 4);
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_cap_begin(&b);
    ktl_write("lost", 4);
    ktl_sys_exit(6);
}

// 40,000 bytes of ordinary output stay buffered when a capture begins; a
// 30,000-byte capture then overflows the buffer, which writes the ordinary
// output out; the panic must not lose or repeat any of it.
static void c_panic_after_spill(void) {
    static char a[40000], b[30000];
    memset(a, 'a', sizeof a);
    memset(b, 'b', sizeof b);
    ktl_write(a, sizeof a);
    ktl_sb sb;
    ktl_sb_init(&sb);
    ktl_cap_begin(&sb);
    ktl_write(b, sizeof b);
    ktl_write("c\n", 2);
    ktl_panic("stop");
}

// The capture's builder outgrows the address space that is left: the
// panic raised from inside the flush must not recurse into the capture, and
// the ordinary output printed before the capture is still written.
static void c_oom_while_capture_grows(void) {
    ktl_write("keep\n", 5);
    long pages = 0, rss = 0;
    FILE *f = fopen("/proc/self/statm", "r");
    if (!f || fscanf(f, "%ld %ld", &pages, &rss) != 2) kt_fail(__LINE__, "statm");
    fclose(f);
    struct rlimit lim;
    lim.rlim_cur = lim.rlim_max = (rlim_t)pages * (rlim_t)sysconf(_SC_PAGESIZE) + (48u << 20);
    setrlimit(RLIMIT_AS, &lim);
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_cap_begin(&b);
    static char chunk[1 << 16];
    memset(chunk, 'z', sizeof chunk);
    for (int i = 0; i < 100000; i++) ktl_write(chunk, sizeof chunk);
    kt_fail(__LINE__, "the capture never ran out of memory");
}

static void c_normal_return(void) {
    setenv("KESTAL_MEMSTATS", "1", 1);
    ktl_write("tail", 4);
}

// A user __str__ that raises while the uncaught report asks for the text:
// the second report uses the stored text and the process still ends.
static ktl_str kt_raising_str(void *e) {
    ktl_raise_c(KTL_E_ValueError, "in str");
}

static void c_str_raises(void) {
    kt_exc_text_hook = kt_raising_str;
    ktl_raise_c(KT_C_MyError, "orig");
}

// A __str__ may still catch its own exceptions while the report runs.
static ktl_str kt_catching_str(void *e) {
    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        ktl_raise_c(KTL_E_KeyError, "k");
    } else {
        ktl_exc *x = (ktl_exc *)ktl_try_land(&h);
        return x->str;
    }
}

static void c_str_catches(void) {
    kt_write_src();
    kt_exc_text_hook = kt_catching_str;
    ktl_raise_at(kt_exc(KT_C_MyError, "orig"), 2, "g");
}

// Standard output that can't be written: every way out ends with the
// message and status 1; while the program runs it ends at once ("after"
// never shows).
static void kt_stdout_full(void) {
    int fd = open("/dev/full", O_WRONLY);
    if (fd < 0) kt_fail(__LINE__, "open /dev/full");
    dup2(fd, 1);
    close(fd);
}

static void c_full_at_return(void) {
    kt_stdout_full();
    ktl_write("x\n", 2);
}

static void c_full_at_exit_0(void) {
    kt_stdout_full();
    ktl_write("x\n", 2);
    ktl_exit(0);
}

static void c_full_while_running(void) {
    kt_stdout_full();
    for (int i = 0; i < 20000; i++) ktl_write("line\n", 5);
    fputs("after\n", stderr);
}

static void c_full_at_uncaught(void) {
    kt_stdout_full();
    ktl_write("x\n", 2);
    ktl_raise_c(KTL_E_ValueError, "bad");
}

// A recursion the compiler can neither inline nor turn into a loop.
static __attribute__((noinline)) int kt_overflow(volatile int n) {
    volatile char pad[256];
    pad[n & 255] = (char)n;
    return kt_overflow(n + 1) + pad[(n * 7) & 255];
}

// Waits for the child that wrote the file, prints the file, removes it and
// ends with the child's status (128 plus a signal's number).
static void kt_show_file_after(pid_t pid, const char *path) {
    int st = 0;
    waitpid(pid, &st, 0);
    FILE *in = fopen(path, "rb");
    char text[64] = "";
    size_t n = in ? fread(text, 1, sizeof text - 1, in) : 0;
    if (in) fclose(in);
    remove(path);
    ktl_write(text, n);
    ktl_exit(WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
}

// The stack runs out in code without checks: the fault handler writes the
// output and the files' buffers before it ends the process, which a second
// process checks by printing the file after the first has ended.
static void c_stack_fault_files(void) {
    char path[64];
    snprintf(path, sizeof path, "kt-files-%d.txt", (int)getpid());
    pid_t pid = fork();
    if (pid == 0) {
        ktl_file *f = ktl_open(ktl_mkstr(path, (int64_t)strlen(path)), KTL_LIT("w"));
        ktl_file_write(f, KTL_LIT("in the file\n"));
        ktl_write("printed\n", 8);
        kt_overflow(0);
    }
    kt_show_file_after(pid, path);
}

// A signal that ends the program (Ctrl-C, a request to terminate, a broken
// pipe) first writes the open files' buffers and, but for a broken pipe,
// the buffered output; the process still ends by the signal.
static void kt_signal_files(int sig) {
    char path[64];
    snprintf(path, sizeof path, "kt-signal-%d.txt", (int)getpid());
    pid_t pid = fork();
    if (pid == 0) {
        // The test may run with the signal ignored (started in the
        // background): the handler is set where it starts out at default.
        signal(sig, SIG_DFL);
        ktl_signals_start();
        ktl_file *f = ktl_open(ktl_mkstr(path, (int64_t)strlen(path)), KTL_LIT("w"));
        ktl_file_write(f, KTL_LIT("in the file\n"));
        ktl_write("printed\n", 8);
        raise(sig);
        ktl_write("after\n", 6);
        ktl_exit(0);
    }
    kt_show_file_after(pid, path);
}

static void c_sigint_files(void) { kt_signal_files(SIGINT); }
static void c_sigterm_files(void) { kt_signal_files(SIGTERM); }
static void c_sigpipe_files(void) { kt_signal_files(SIGPIPE); }

// A SIGSEGV sent with kill() is no fault of the program's stack: it ends
// the program at once, by the signal.
static void c_sigsegv_sent(void) {
    kill(getpid(), SIGSEGV);
    ktl_write("after\n", 6);
}

static void c_recursion_uncaught(void) {
    ktl_write("before\n", 7);
    ktl_raise_c(KTL_E_RecursionError, "maximum recursion depth exceeded");
}

static void kt_exec_argv(bool with_argv0) {
    if (with_argv0) setenv("KESTAL_ARGV0", "dir/pr\xc3\xb6g.ktl", 1);
    else unsetenv("KESTAL_ARGV0");
    char *args[] = {"self-name", "--print-argv", "x y", NULL};
    execv(kt_exe, args);
    kt_fail(__LINE__, "execv");
}

static void c_argv0(void) { kt_exec_argv(true); }
static void c_argv_plain(void) { kt_exec_argv(false); }

static char kt_expect_spill[40001];

#define KT_FULL "Kestal runtime error: write failed: <stdout>: [Errno 28] No space left on device\n"

static const kt_case kt_cases[] = {
    {"traceback", c_traceback, 1, "before\n",
     "Traceback (most recent call last):\n  File \"@\", line 3, in f\n"
     "    raise ValueError(\"bad \" + str(x))\nValueError: bad 1\n"},
    {"traceback without text", c_traceback_no_text, 1, "",
     "Traceback (most recent call last):\n  File \"@\", line 4, in <module>\n    f(1)\nValueError\n"},
    {"source missing", c_source_missing, 1, "",
     "Traceback (most recent call last):\n  File \"no-such-dir/missing.ktl\", line 2, in g\n"
     "MyError: gone\n"},
    {"line past the end", c_line_past_end, 1, "",
     "Traceback (most recent call last):\n  File \"@\", line 40, in f\nValueError: x\n"},
    {"runtime error has no File line", c_runtime_index, 1, "",
     "Traceback (most recent call last):\nIndexError: list index out of range\n"},
    {"key error", c_key_error, 1, "", "Traceback (most recent call last):\nKeyError: 'a'\n"},
    {"unsupported operation", c_unsupported, 1, "",
     "Traceback (most recent call last):\nio.UnsupportedOperation: not readable\n"},
    {"SystemExit 3", c_exit_3, 3, "", ""},
    {"SystemExit empty", c_exit_empty, 0, "", ""},
    {"SystemExit bye", c_exit_bye, 1, "", "bye\n"},
    {"SystemExit +7", c_exit_plus, 7, "", ""},
    {"SystemExit -1", c_exit_minus, 255, "", ""},
    {"SystemExit sign only", c_exit_sign_only, 1, "", "-\n"},
    {"SystemExit 1x", c_exit_digits_then_text, 1, "", "1x\n"},
    {"SystemExit subclass", c_exit_subclass, 9, "", ""},
    {"sys.exit(4)", c_sys_exit, 4, "out", ""},
    {"sys.exit('msg')", c_sys_exit_s, 1, "x\n", "msg\n"},
    {"uncaught in capture", c_uncaught_in_capture, 1, "keep\n",
     "Traceback (most recent call last):\nRuntimeError: boom\n"},
    {"panic in nested captures", c_panic_in_capture, 1, "keep\n",
     "Kestal runtime error: out of memory\n"},
    {"ktl_exit in capture", c_exit_in_capture, 7, "keep", ""},
    {"sys.exit in capture", c_sys_exit_in_capture, 6, "keep", ""},
    {"panic after a spill", c_panic_after_spill, 1, kt_expect_spill,
     "Kestal runtime error: stop\n"},
    {"out of memory while a capture grows", c_oom_while_capture_grows, 1, "keep\n",
     "Kestal runtime error: out of memory\n"},
    {"normal return", c_normal_return, 0, "tail", "kestal: peak memory *"},
    {"__str__ raises", c_str_raises, 1, "",
     "Traceback (most recent call last):\nValueError: in str\n"},
    {"__str__ catches", c_str_catches, 1, "",
     "Traceback (most recent call last):\n  File \"@\", line 2, in g\n    x = n\nMyError: 'k'\n"},
    {"stdout full at the normal return", c_full_at_return, 1, "", KT_FULL},
    {"stdout full at ktl_exit(0)", c_full_at_exit_0, 1, "", KT_FULL},
    {"stdout full while running", c_full_while_running, 1, "", KT_FULL},
    {"stdout full at an uncaught exception", c_full_at_uncaught, 1, "",
     KT_FULL "Traceback (most recent call last):\nValueError: bad\n"},
    {"stack fault writes the files", c_stack_fault_files, 1, "printed\nin the file\n",
     "RecursionError: maximum recursion depth exceeded\n"},
    {"Ctrl-C writes the files", c_sigint_files, 128 + SIGINT, "printed\nin the file\n", ""},
    {"SIGTERM writes the files", c_sigterm_files, 128 + SIGTERM, "printed\nin the file\n", ""},
    {"broken pipe writes the files", c_sigpipe_files, 128 + SIGPIPE, "in the file\n", ""},
    {"SIGSEGV sent by kill", c_sigsegv_sent, 128 + SIGSEGV, "", ""},
    {"uncaught RecursionError of a check", c_recursion_uncaught, 1, "before\n",
     "RecursionError: maximum recursion depth exceeded\n"},
    {"KESTAL_ARGV0", c_argv0, 0, "dir/pr\xc3\xb6g.ktl|--print-argv|x y\n", ""},
    {"argv without KESTAL_ARGV0", c_argv_plain, 0, "self-name|--print-argv|x y\n", ""},
};

// Reads both pipes to their ends (the child writes little to each).
static size_t kt_read_all(int fd, char *buf, size_t cap) {
    size_t n = 0;
    for (;;) {
        ssize_t r = read(fd, buf + n, cap - 1 - n);
        if (r <= 0) break;
        n += (size_t)r;
        if (n == cap - 1) break;
    }
    buf[n] = 0;
    close(fd);
    return n;
}

// The expected text with "@" replaced by the source file's name.
static void kt_expand(const char *want, char *out, size_t cap) {
    size_t n = 0;
    for (; *want && n + 64 < cap; want++) {
        if (*want == '@') n += (size_t)snprintf(out + n, cap - n, "%s", kt_src);
        else out[n++] = *want;
    }
    out[n] = 0;
}

static int kt_check(const kt_case *c, int status, const char *out, size_t outn, const char *err) {
    static char want_err[1024];
    kt_expand(c->err, want_err, sizeof want_err);
    int bad = 0;
    if (status != c->status) {
        fprintf(stderr, "[%s] status %d, want %d\n", c->name, status, c->status);
        bad = 1;
    }
    if (outn != strlen(c->out) || memcmp(out, c->out, outn) != 0) {
        fprintf(stderr, "[%s] stdout %zu bytes \"%.200s\", want \"%.200s\"\n", c->name, outn, out,
                c->out);
        bad = 1;
    }
    size_t n = strlen(want_err);
    bool prefix = n > 0 && want_err[n - 1] == '*';
    bool err_ok = prefix ? strncmp(err, want_err, n - 1) == 0 : strcmp(err, want_err) == 0;
    if (!err_ok) {
        fprintf(stderr, "[%s] stderr \"%s\", want \"%s\"\n", c->name, err, want_err);
        bad = 1;
    }
    return bad;
}

static void ktl_main(void) {
    if (ktl_argv->len == 3 && kt_str_is(ktl_argv->data[1], "--print-argv")) {
        for (int64_t i = 0; i < ktl_argv->len; i++) {
            if (i) ktl_putc('|');
            ktl_print_s(ktl_argv->data[i]);
        }
        ktl_newline();
        return;
    }
    ssize_t n = readlink("/proc/self/exe", kt_exe, sizeof kt_exe - 1);
    if (n <= 0) kt_fail(__LINE__, "readlink");
    kt_exe[n] = 0;
    snprintf(kt_src, sizeof kt_src, "prog-%d.ktl", (int)getpid());
    memset(kt_expect_spill, 'a', 40000);
    int failures = 0;
    for (size_t i = 0; i < sizeof kt_cases / sizeof kt_cases[0]; i++) {
        const kt_case *c = &kt_cases[i];
        int po[2], pe[2];
        if (pipe(po) || pipe(pe)) kt_fail(__LINE__, "pipe");
        ktl_flush();
        fflush(stderr);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(po[1], 1);
            dup2(pe[1], 2);
            close(po[0]);
            close(pe[0]);
            close(po[1]);
            close(pe[1]);
            c->run();
            // Returning from ktl_main is the normal way out of the child.
            return;
        }
        close(po[1]);
        close(pe[1]);
        static char out[1 << 17], err[1 << 13];
        size_t outn = kt_read_all(po[0], out, sizeof out);
        kt_read_all(pe[0], err, sizeof err);
        int st = 0;
        waitpid(pid, &st, 0);
        int status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        failures += kt_check(c, status, out, outn, err);
    }
    remove(kt_src);
    if (failures) {
        fprintf(stderr, "%d cases failed\n", failures);
        exit(1);
    }
}
