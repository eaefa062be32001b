/* ---- Output: the 64 KiB output buffer, capture, fatal exit ----
 *
 * Everything a program prints goes into one buffer that is written in 64 KiB
 * blocks (or at every newline on a terminal). A capture (str() of a
 * container, repr(), f-string fields) redirects printing into a string
 * builder without any cost on the printing path: while a capture is active,
 * the bytes from ktl_cap_from to ktl_olen belong to it and the bytes before
 * it are ordinary output still to be written. Only the flush looks at the
 * capture.
 */

#define KTL_OBUF_SIZE ((size_t)1 << 16)

KTL_VAR KTL_TLS char ktl_obuf[1 << 16];
KTL_VAR KTL_TLS size_t ktl_olen;
KTL_VAR bool ktl_tty;
KTL_VAR KTL_TLS ktl_sb *ktl_cap;
KTL_VAR KTL_TLS size_t ktl_cap_from;

typedef struct {
    ktl_sb *cap;
    size_t from;
} ktl_capstate;

/* Set once the process has started to end (ktl_exit, ktl_panic, the
   uncaught-exception report): from then on no `try` may catch anything, so a
   failure while flushing cannot jump back into the program. */
KTL_VAR volatile int ktl_exiting;

/* Makes the exit status 1 from inside exit(): output was lost while the
   program was already ending, which must not pass for success. */
static void ktl_exit_lost_data(void) { _exit(1); }

KTL_RT void ktl_exit_status_one(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_exit_status_one(void) {
    static bool registered;
    if (registered) return;
    registered = true;
    atexit(ktl_exit_lost_data);
}
#endif

/* Ends the program once standard output can't be written (a full device, a
   closed descriptor): nothing printed after it could show, so carrying on
   would report success for lost output. While the program runs, the files
   are written and it ends at once with status 1; once it is already ending,
   the message is written and the exit status becomes 1, so the rest of the
   way out (a traceback, the other files) still happens. */
KTL_RT KTL_COLD void ktl_out_failed(int err);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_out_failed(int err) {
    static volatile int reported;
    if (reported) return;
    reported = 1;
    bool ending = ktl_exiting;
    ktl_exiting = 1;
    ktl_olen = 0;
    ktl_cap_from = 0;
    ktl_cap = NULL;
    if (!ending) ktl_files_flush_all();
    fprintf(stderr, "Kestal runtime error: write failed: <stdout>: [Errno %d] %s\n", err,
            strerror(err));
    fflush(stderr);
    if (!ending) exit(1);
    ktl_exit_status_one();
}
#endif

/* Hands n bytes to stdio's standard output; a failure ends the program. */
static void ktl_out_put(const char *p, size_t n) {
    if (n && fwrite(p, 1, n, stdout) != n) ktl_out_failed(errno ? errno : EIO);
}

static void ktl_out_sync(void) {
    if (fflush(stdout) != 0) ktl_out_failed(errno ? errno : EIO);
}

/* Captured bytes always leave the buffer first, into the builder; ordinary
   output printed before the capture began stays at the front until it fills
   half the buffer, so it is never interleaved with captured bytes. */
KTL_RT KTL_COLD void ktl_flush(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_flush(void) {
    if (ktl_cap) {
        if (ktl_olen > ktl_cap_from) ktl_cap_spill(ktl_obuf + ktl_cap_from, ktl_olen - ktl_cap_from);
        ktl_olen = ktl_cap_from;
        if (ktl_olen < KTL_OBUF_SIZE / 2) return;
        size_t n = ktl_olen;
        ktl_olen = 0;
        ktl_cap_from = 0;
        ktl_out_put(ktl_obuf, n);
        return;
    }
    if (ktl_olen) {
        size_t n = ktl_olen;
        ktl_olen = 0;
        ktl_out_put(ktl_obuf, n);
    }
    ktl_out_sync();
}
#endif

KTL_RT KTL_COLD void ktl_write_slow(const char *p, size_t n);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_write_slow(const char *p, size_t n) {
    ktl_flush();
    if (n > KTL_OBUF_SIZE - ktl_olen) {
        if (ktl_cap) ktl_cap_spill(p, n);
        else ktl_out_put(p, n);
        return;
    }
    memcpy(ktl_obuf + ktl_olen, p, n);
    ktl_olen += n;
}
#endif

static inline void ktl_write(const char *p, size_t n) {
    if (KTL_UNLIKELY(n > KTL_OBUF_SIZE - ktl_olen)) {
        ktl_write_slow(p, n);
        return;
    }
    memcpy(ktl_obuf + ktl_olen, p, n);
    ktl_olen += n;
}

static inline void ktl_putc(char c) {
    if (KTL_UNLIKELY(ktl_olen == KTL_OBUF_SIZE)) ktl_flush();
    ktl_obuf[ktl_olen++] = c;
}

static inline void ktl_newline(void) {
    ktl_putc('\n');
    if (ktl_tty) ktl_flush();
}

/* Begins capturing into b and returns the capture it interrupts. A capture
   already active first takes its buffered bytes, so that only the new
   capture's bytes are ever in the buffer. */
static ktl_capstate ktl_cap_begin(ktl_sb *b) {
    ktl_capstate old = {ktl_cap, ktl_cap_from};
    if (ktl_cap) {
        if (ktl_olen > ktl_cap_from) ktl_cap_spill(ktl_obuf + ktl_cap_from, ktl_olen - ktl_cap_from);
        ktl_olen = ktl_cap_from;
    }
    ktl_cap = b;
    ktl_cap_from = ktl_olen;
    return old;
}

/* Ends the current capture; an outer capture resumes at ktl_cap_from, its
   earlier bytes having been handed to its builder by the nested begin. */
static void ktl_cap_end(ktl_capstate old) {
    if (ktl_olen > ktl_cap_from) ktl_cap_spill(ktl_obuf + ktl_cap_from, ktl_olen - ktl_cap_from);
    ktl_olen = ktl_cap_from;
    ktl_cap = old.cap;
}

/* Lets user code run in the middle of a capture: a __str__ or __repr__ that
   a printing function calls writes where it would without the capture, and
   only the text it returns is captured. The bytes captured so far go to
   the builder, so the buffer holds only ordinary output while the user code
   prints; resuming starts the capture again after that output. Outside a
   capture both are a test of one pointer. */
static inline ktl_capstate ktl_cap_pause(void) {
    ktl_capstate s = {ktl_cap, ktl_cap_from};
    if (KTL_UNLIKELY(ktl_cap != NULL)) {
        if (ktl_olen > ktl_cap_from) ktl_cap_spill(ktl_obuf + ktl_cap_from, ktl_olen - ktl_cap_from);
        ktl_olen = ktl_cap_from;
        ktl_cap = NULL;
    }
    return s;
}

static inline void ktl_cap_resume(ktl_capstate s) {
    if (KTL_UNLIKELY(s.cap != NULL)) {
        ktl_cap = s.cap;
        ktl_cap_from = ktl_olen;
    }
}

/* Drops the bytes of the active capture that are still buffered and ends all
   captures, keeping the ordinary output in front of them. The text being
   built is abandoned; the ordinary output is what the exit paths flush. */
KTL_RT void ktl_cap_abandon(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_cap_abandon(void) {
    if (ktl_cap) {
        ktl_olen = ktl_cap_from;
        ktl_cap = NULL;
    }
}
#endif

/* Ends the program for conditions no `try` can catch (out of memory, a
   negative integer exponent, the generated code's own fatal checks). Safe to
   re-enter: a failure while flushing (out of memory while a capture grows,
   say) only writes its message and exits. */
#ifdef KTL_PARALLEL
/* Set while a worker thread runs its share of a parallel loop: the worker
   hands its fatal error to the loop's calling thread, which ends the
   program once every thread has stopped (see the thread pool). */
KTL_VAR KTL_TLS void (*ktl_panic_hook)(const char *msg);
#endif

KTL_RT KTL_COLD KTL_NORETURN void ktl_panic(const char *msg);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD KTL_NORETURN void ktl_panic(const char *msg) {
    static volatile int entered;
#ifdef KTL_PARALLEL
    if (ktl_panic_hook && !ktl_exiting) ktl_panic_hook(msg);
#endif
    if (!entered) {
        entered = 1;
        ktl_exiting = 1;
        ktl_cap_abandon();
        ktl_flush();
        ktl_files_flush_all();
    }
    fprintf(stderr, "Kestal runtime error: %s\n", msg);
    fflush(stderr);
    exit(1);
}
#endif

/* Ends the program with the given status after writing all output. */
KTL_RT KTL_COLD KTL_NORETURN void ktl_exit(int64_t code);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD KTL_NORETURN void ktl_exit(int64_t code) {
    ktl_exiting = 1;
    ktl_cap_abandon();
    ktl_flush();
    ktl_files_flush_all();
    exit((int)code);
}
#endif


