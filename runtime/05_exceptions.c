/* ---- Exceptions: objects, class ids, handlers, the uncaught report ----
 *
 * A `try` pushes a handler holding a jmp_buf on the C stack; raising stores
 * the exception and longjmps to the innermost handler, so code outside `try`
 * pays nothing. With no handler, the exception ends the process: SystemExit
 * with its code, anything else with a Python-style traceback and status 1.
 */

/* The built-in exception classes with their bases, in class-id order. The
   compiler's class table lists the same 27 classes first, so its class ids
   and these numbers agree. */
#define KTL_BUILTIN_EXCEPTIONS(X)                                                   \
    X(BaseException, -1)                                                            \
    X(SystemExit, KTL_E_BaseException)                                              \
    X(KeyboardInterrupt, KTL_E_BaseException)                                       \
    X(Exception, KTL_E_BaseException)                                               \
    X(ArithmeticError, KTL_E_Exception)                                             \
    X(ZeroDivisionError, KTL_E_ArithmeticError)                                     \
    X(OverflowError, KTL_E_ArithmeticError)                                         \
    X(AssertionError, KTL_E_Exception)                                              \
    X(AttributeError, KTL_E_Exception)                                              \
    X(EOFError, KTL_E_Exception)                                                    \
    X(LookupError, KTL_E_Exception)                                                 \
    X(IndexError, KTL_E_LookupError)                                                \
    X(KeyError, KTL_E_LookupError)                                                  \
    X(NameError, KTL_E_Exception)                                                   \
    X(OSError, KTL_E_Exception)                                                     \
    X(FileNotFoundError, KTL_E_OSError)                                             \
    X(FileExistsError, KTL_E_OSError)                                               \
    X(PermissionError, KTL_E_OSError)                                               \
    X(IsADirectoryError, KTL_E_OSError)                                             \
    X(NotADirectoryError, KTL_E_OSError)                                            \
    X(UnsupportedOperation, KTL_E_OSError)                                          \
    X(RuntimeError, KTL_E_Exception)                                                \
    X(NotImplementedError, KTL_E_RuntimeError)                                      \
    X(RecursionError, KTL_E_RuntimeError)                                           \
    X(StopIteration, KTL_E_Exception)                                               \
    X(TypeError, KTL_E_Exception)                                                   \
    X(ValueError, KTL_E_Exception)

enum {
#define KTL_EXC_ENUM(name, base) KTL_E_##name,
    KTL_BUILTIN_EXCEPTIONS(KTL_EXC_ENUM)
#undef KTL_EXC_ENUM
    KTL_E_COUNT
};

/* The header of every exception object (user exception classes add their
   fields after these three). It lives in scanned heap memory. */
typedef struct {
    int32_t cls;
    ktl_str str;
    ktl_str args;
} ktl_exc;

/* The objects whose dataclass repr is running on this thread, innermost
   last. A repr of one of them from inside its own gives "..." instead, so
   objects that refer back to themselves print finitely, while an object
   reached twice without a cycle prints in full both times. A `try` records
   the count and landing there truncates to it, so a repr that an exception
   left never stays in progress. */
KTL_VAR KTL_TLS void **ktl_repr_busy;
KTL_VAR KTL_TLS int64_t ktl_repr_len;
KTL_VAR KTL_TLS int64_t ktl_repr_cap;

KTL_RT KTL_COLD void ktl_repr_grow(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_repr_grow(void) {
    int64_t cap = ktl_repr_cap ? 2 * ktl_repr_cap : 16;
    void **busy = (void **)realloc(ktl_repr_busy, (size_t)cap * sizeof(void *));
    if (!busy) ktl_panic("out of memory");
    ktl_repr_busy = busy;
    ktl_repr_cap = cap;
}
#endif

/* Starts the dataclass repr of o: false (and o marked in progress until
   ktl_repr_leave) when none of o is running, true when one is, and the
   caller gives "..." without calling ktl_repr_leave. */
static inline bool ktl_repr_enter(void *o) {
    for (int64_t i = ktl_repr_len; i-- > 0;)
        if (ktl_repr_busy[i] == o) return true;
    if (KTL_UNLIKELY(ktl_repr_len == ktl_repr_cap)) ktl_repr_grow();
    ktl_repr_busy[ktl_repr_len++] = o;
    return false;
}

static inline void ktl_repr_leave(void) { ktl_repr_len--; }

/* One entered `try`; lives on the C stack of the function holding it. */
typedef struct ktl_handler {
    jmp_buf jb;
    struct ktl_handler *prev;
    ktl_sb *cap;
    int64_t reprs;
} ktl_handler;

KTL_VAR KTL_TLS ktl_handler *ktl_htop;
KTL_VAR KTL_TLS void *ktl_cur_exc;
/* Where the current exception was raised: the source line (0 when the
   runtime raised it) and the function's name. */
KTL_VAR KTL_TLS int64_t ktl_exc_line;
KTL_VAR KTL_TLS const char *ktl_exc_fn;

/* Too-deep recursion. A function that can reach itself through calls takes
   (unless it has a base-case wrapper, below) its depth as a hidden first
   argument, `ktl_dp`: its callers pass their
   own depth plus one, and code outside such functions sees this constant
   -1 (so the first call has depth 0). Its entry checks the stack position
   against ktl_stack_limit (and, under clang, the depth against
   ktl_depth_limit), both per thread, and raises RecursionError there: the
   limit leaves room below it for the handlers to run. A stack exhausted
   anywhere else ends the program through the stack-fault handler (see the
   start-up section).

   A recursion the C compiler turns into a loop (`return f(n + 1) + 1`, or
   two functions calling each other in tail position) never grows the
   stack, so a stack check alone would never fire. Under gcc every call of
   such a function is followed by an empty volatile asm (KTL_RCALL), so no
   call is a tail call or the accumulator of a loop, every level takes
   stack, and the check is the stack position at every entry; the depth
   argument is then unused and gcc drops it. Under clang, whose loop for a
   call in accumulator position is worth far more, the loop is kept: the
   depth counts its turns (a register, so it needs no restoring when an
   exception leaves the recursion), and at depths 0, 64, 128 ... the entry
   compares both limits (the room below the limit also covers the up to 64
   frames between checks). The depth has to be counted in the turns of that
   loop, a register carried across its call, and costs fib about a tenth of
   its time. A function whose body begins with base cases that call nothing
   (`if n < 2: return n`) gets an inline wrapper with those base cases (`w`
   before its name), and under clang (KTL_RSPLIT) every call goes through
   the wrapper, so a call that would only return a base case is never made;
   the function itself, kept out of line (KTL_RBODY), skips them. gcc, which
   makes its own copies of such calls, calls the function directly and
   keeps the base cases in it. Such a function takes no depth under either
   compiler: its calls are kept calls (KTL_RCALL_KEPT) and its entry checks
   the stack position (KTL_STACK_CHECK), which costs clang less than
   carrying the depth. It calls the functions that take a depth with depth
   0 (it sees the constant below), so they check at once. A cycle through
   both kinds stays caught: each turn makes a kept call of a function with
   a wrapper, which takes stack and checks the stack position. */
static const int64_t ktl_dp = -1;
#if defined(__x86_64__)
#define KTL_STACK_POS(sp) __asm__("mov %%rsp, %0" : "=r"(sp))
#elif defined(__aarch64__)
#define KTL_STACK_POS(sp) __asm__("mov %0, sp" : "=r"(sp))
#else
#define KTL_STACK_POS(sp) (sp) = (uintptr_t)__builtin_frame_address(0)
#endif
/* Every level takes stack: the call stays a call, and the entry compares
   the stack position with the thread's limit. */
#define KTL_STACK_CHECK()                                                              \
    do {                                                                               \
        uintptr_t ktl_sp;                                                              \
        KTL_STACK_POS(ktl_sp);                                                         \
        if (KTL_UNLIKELY(ktl_sp < ktl_stack_limit)) ktl_recursion_check(0);           \
    } while (0)
#define KTL_RCALL_KEPT(type, call)                                                     \
    ({                                                                                 \
        type ktl_rv = (call);                                                          \
        __asm__ volatile("");                                                          \
        ktl_rv;                                                                        \
    })
#define KTL_RCALL_KEPT_NONE(call)                                                      \
    ({                                                                                 \
        (call);                                                                        \
        __asm__ volatile("");                                                          \
    })
#ifdef __clang__
#define KTL_RECURSION_CHECK()                                                          \
    if (KTL_UNLIKELY((ktl_dp & 63) == 0)) ktl_recursion_check(ktl_dp)
#define KTL_RCALL(type, call) (call)
#define KTL_RCALL_NONE(call) (call)
#define KTL_RSPLIT 1
#define KTL_RSPLIT_CALL(wrapper, body) wrapper
#define KTL_RBODY __attribute__((noinline))
#else
#define KTL_RSPLIT 0
#define KTL_RSPLIT_CALL(wrapper, body) body
#define KTL_RBODY
#define KTL_RECURSION_CHECK() KTL_STACK_CHECK()
#define KTL_RCALL(type, call) KTL_RCALL_KEPT(type, call)
#define KTL_RCALL_NONE(call) KTL_RCALL_KEPT_NONE(call)
#endif
/* The lowest stack address a check accepts (the highest address while not
   known yet: the first check then finds it), and a depth no recursion
   reaches without exhausting the stack, since every call that stays a call
   takes at least 16 bytes. */
KTL_VAR KTL_TLS uintptr_t ktl_stack_limit KTL_INIT(UINTPTR_MAX);
KTL_VAR KTL_TLS int64_t ktl_depth_limit KTL_INIT(INT64_MAX);

/* Sets the limits for a stack whose usable addresses are [lo, hi). The room
   kept for handlers is an eighth of the stack, at least 1 MiB and at most
   8 MiB, and never more than half of it. */
static void ktl_stack_limits_set(uintptr_t lo, uintptr_t hi) {
    uintptr_t size = hi > lo ? hi - lo : 0;
    uintptr_t room = size / 8;
    if (room < ((uintptr_t)1 << 20)) room = (uintptr_t)1 << 20;
    if (room > ((uintptr_t)8 << 20)) room = (uintptr_t)8 << 20;
    if (room > size / 2) room = size / 2;
    ktl_stack_limit = lo + room;
    ktl_depth_limit = (int64_t)((size - room) / 16);
}

static inline void ktl_try_enter(ktl_handler *h) {
    h->prev = ktl_htop;
    h->cap = ktl_cap;
    h->reprs = ktl_repr_len;
    ktl_htop = h;
}

/* Pops h after a jump to it and returns the exception. A capture that began
   inside the `try` was abandoned by the jump: its buffered bytes are dropped
   and the capture active at the `try` becomes current again, after the
   ordinary output (a paused capture leaves only ordinary output behind). The
   dataclass reprs begun inside the `try` were abandoned too. */
static void *ktl_try_land(ktl_handler *h) {
    ktl_htop = h->prev;
    ktl_repr_len = h->reprs;
    if (ktl_cap != h->cap) {
        if (ktl_cap) ktl_olen = ktl_cap_from;
        ktl_cap = h->cap;
        ktl_cap_from = ktl_olen;
    }
    return ktl_cur_exc;
}

static ktl_exc *ktl_exc_new(int32_t cls, ktl_str str, ktl_str args) {
    ktl_exc *e = (ktl_exc *)ktl_alloc(sizeof(ktl_exc));
    e->cls = cls;
    e->str = str;
    e->args = args;
    return e;
}

/* repr(e) of an exception without a user __repr__: ValueError('bad'). */
KTL_RT void ktl_print_exc_repr(void *o);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_print_exc_repr(void *o) {
    ktl_exc *e = (ktl_exc *)o;
    const char *name = ktl_class_name(e->cls);
    ktl_write(name, strlen(name));
    ktl_putc('(');
    ktl_write(e->args.p, (size_t)e->args.len);
    ktl_putc(')');
}
#endif

/* Writes line `line` of the source file, without its leading blanks, as the
   traceback's source excerpt. Like CPython, the file is read now; a file that
   can't be read prints nothing. */
KTL_RT KTL_COLD void ktl_print_src_line(const char *path, int64_t line);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_print_src_line(const char *path, int64_t line) {
    if (!path) return;
    FILE *f = fopen(path, "rb");
    if (!f) return;
    int c = 0;
    for (int64_t at = 1; at < line; at++) {
        while ((c = getc(f)) != EOF && c != '\n') {}
        if (c == EOF) break;
    }
    char text[400];
    size_t n = 0;
    if (c != EOF) {
        while ((c = getc(f)) != EOF && c != '\n' && c != '\r') {
            if (n < sizeof text) text[n++] = (char)c;
        }
    }
    fclose(f);
    size_t i = 0;
    while (i < n && (text[i] == ' ' || text[i] == '\t')) i++;
    if (i < n) fprintf(stderr, "    %.*s\n", (int)(n - i), text + i);
}
#endif

/* An optional sign, then at least one digit and nothing else. */
KTL_RT bool ktl_exit_code_text(ktl_str t, int *code);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT bool ktl_exit_code_text(ktl_str t, int *code) {
    int64_t i = 0;
    bool neg = false;
    if (t.len > 0 && (t.p[0] == '+' || t.p[0] == '-')) {
        neg = t.p[0] == '-';
        i = 1;
    }
    if (i >= t.len) return false;
    uint64_t v = 0;
    for (; i < t.len; i++) {
        if (t.p[i] < '0' || t.p[i] > '9') return false;
        v = v * 10 + (uint64_t)(t.p[i] - '0');
    }
    *code = (int)(neg ? (int64_t)(0 - v) : (int64_t)v);
    return true;
}
#endif

/* Ends the process for an exception no handler caught. Re-entered only when
   a user __str__ or the writing of the files' buffers raises in here; that
   second report uses the stored text and skips the flushing, so the process
   still ends. */
KTL_RT KTL_COLD KTL_NORETURN void ktl_uncaught(void *e);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD KTL_NORETURN void ktl_uncaught(void *e) {
    static volatile int entered;
    ktl_cap_abandon();
    /* No repr is running any more: a user __str__ called below starts afresh. */
    ktl_repr_len = 0;
    ktl_exc *x = (ktl_exc *)e;
    ktl_str text;
    if (!entered) {
        entered = 1;
        /* A user __str__ may still use `try` inside itself; what it raises
           and catches there must not replace the reported position. */
        int64_t line = ktl_exc_line;
        const char *fn = ktl_exc_fn;
        text = ktl_exc_text(e);
        ktl_exc_line = line;
        ktl_exc_fn = fn;
        ktl_exiting = 1;
        ktl_flush();
        ktl_files_flush_all();
    } else {
        text = x->str;
    }
    fflush(stdout);
    if (ktl_isa(x->cls, KTL_E_SystemExit)) {
        int code = 1;
        if (text.len == 0) exit(0);
        if (ktl_exit_code_text(text, &code)) exit(code);
        fprintf(stderr, "%.*s\n", (int)text.len, text.p);
        exit(1);
    }
    /* A recursion too deep is reported in its last line only, as the
       stack-fault handler reports it: a traceback of the innermost frame
       alone would say nothing the line doesn't. */
    if (x->cls == KTL_E_RecursionError && ktl_exc_line == 0) {
        fprintf(stderr, "RecursionError: %.*s\n", (int)text.len, text.p);
        fflush(stderr);
        exit(1);
    }
    fputs("Traceback (most recent call last):\n", stderr);
    if (ktl_exc_line > 0) {
        fprintf(stderr, "  File \"%s\", line %lld, in %s\n", ktl_src_name ? ktl_src_name : "",
                (long long)ktl_exc_line, ktl_exc_fn ? ktl_exc_fn : "<module>");
        ktl_print_src_line(ktl_src_name, ktl_exc_line);
    }
    fputs(x->cls == KTL_E_UnsupportedOperation ? "io.UnsupportedOperation" : ktl_class_name(x->cls),
          stderr);
    if (text.len > 0) fprintf(stderr, ": %.*s", (int)text.len, text.p);
    fputc('\n', stderr);
    fflush(stderr);
    exit(1);
}
#endif

/* Raises e again (or for the first time, once its line is recorded): jumps
   to the innermost handler, or ends the process when there is none. Once the
   process is ending, no handler may catch anything. */
static KTL_COLD KTL_NORETURN void ktl_reraise(void *e) {
    ktl_cur_exc = e;
    if (!ktl_htop || ktl_exiting) ktl_uncaught(e);
    ktl_longjmp(ktl_htop->jb, 1);
}

/* A `raise` statement at source line `line` of function `fn` ("<module>" at
   top level). */
static KTL_COLD KTL_NORETURN void ktl_raise_at(void *e, int64_t line, const char *fn) {
    ktl_exc_line = line;
    ktl_exc_fn = fn;
    ktl_reraise(e);
}


