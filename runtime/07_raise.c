/* ---- Raise functions: exceptions of the built-in classes, and sys.exit ----
 *
 * The runtime's own errors are built-in exceptions with one string argument
 * and no source line, as Python reports them. Every function here is cold and
 * never returns, so the checks that call them cost a predicted branch.
 */

/* Raises a built-in exception whose one argument is msg. str() of a KeyError
   is the repr of its key, as in Python. */
static KTL_COLD KTL_NORETURN void ktl_raise_str(int32_t cls, ktl_str msg) {
    ktl_str r = ktl_repr_str(msg);
    ktl_exc *e = ktl_exc_new(cls, cls == KTL_E_KeyError ? r : msg, r);
    ktl_exc_line = 0;
    ktl_exc_fn = NULL;
    ktl_reraise(e);
}

static KTL_COLD KTL_NORETURN void ktl_raise_c(int32_t cls, const char *msg) {
    ktl_raise_str(cls, ktl_str_copy(msg, (int64_t)strlen(msg)));
}

/* Longer messages than the buffer are cut; every caller bounds its
   variable parts well below it. */
static KTL_COLD KTL_NORETURN void ktl_raise_fmt(int32_t cls, const char *fmt, ...) {
    char buf[600];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    ktl_raise_c(cls, buf);
}

/* KeyError whose text is the key's repr, printed by generated code. */
static KTL_COLD KTL_NORETURN void ktl_key_error_repr(ktl_str r) {
    ktl_exc *e = ktl_exc_new(KTL_E_KeyError, r, r);
    ktl_exc_line = 0;
    ktl_exc_fn = NULL;
    ktl_reraise(e);
}

static KTL_COLD KTL_NORETURN void ktl_cmp_type_error(const char *op, const char *a, const char *b) {
    ktl_raise_fmt(KTL_E_TypeError, "'%s' not supported between instances of '%s' and '%s'", op, a, b);
}

static KTL_COLD KTL_NORETURN void ktl_zero_div(void) {
    ktl_raise_c(KTL_E_ZeroDivisionError, "division by zero");
}

/* `what` is "string", "list" or "range object". */
static KTL_COLD KTL_NORETURN void ktl_index_error(const char *what, int64_t i, int64_t n) {
    (void)i;
    (void)n;
    ktl_raise_fmt(KTL_E_IndexError, "%s index out of range", what);
}

#include <sys/resource.h>

/* The usable range of the main thread's stack: up from the top of the
   "[stack]" mapping less the stack's size limit (an unlimited stack taken as
   8 GiB). Where that mapping doesn't hold the entry's frame (no /proc, or a
   tool that runs the program on a stack of its own), the top is taken as
   the entry's frame. */
static KTL_COLD void ktl_stack_limits_main(void) {
    uintptr_t top = (uintptr_t)ktl_stack_base;
    FILE *maps = fopen("/proc/self/maps", "r");
    if (maps) {
        char line[512];
        while (fgets(line, sizeof line, maps)) {
            char *dash = strchr(line, '-');
            if (!dash || !strstr(line, "[stack]")) continue;
            uintptr_t lo = (uintptr_t)strtoull(line, NULL, 16);
            uintptr_t hi = (uintptr_t)strtoull(dash + 1, NULL, 16);
            if (lo <= top && top < hi) top = hi;
            break;
        }
        fclose(maps);
    }
    struct rlimit r;
    uintptr_t size = (uintptr_t)8 << 30;
    if (getrlimit(RLIMIT_STACK, &r) == 0 && r.rlim_cur != RLIM_INFINITY && r.rlim_cur < size)
        size = (uintptr_t)r.rlim_cur;
    ktl_stack_limits_set(top > size ? top - size : 0, top);
}

/* The check of a recursive function's entry (KTL_RECURSION_CHECK). */
static KTL_COLD void ktl_recursion_check(int64_t depth) {
    if (ktl_stack_limit == UINTPTR_MAX) ktl_stack_limits_main();
    if (depth > ktl_depth_limit || (uintptr_t)__builtin_frame_address(0) < ktl_stack_limit)
        ktl_raise_c(KTL_E_RecursionError, "maximum recursion depth exceeded");
}

/* sys.exit(code): ends the program at once unless a `try` is active, which
   may then catch the SystemExit. */
static KTL_COLD KTL_NORETURN void ktl_sys_exit(int64_t code) {
    if (!ktl_htop) ktl_exit(code);
    char buf[24];
    int n = snprintf(buf, sizeof buf, "%lld", (long long)code);
    ktl_str t = ktl_str_copy(buf, n);
    ktl_exc *e = ktl_exc_new(KTL_E_SystemExit, t, t);
    ktl_exc_line = 0;
    ktl_exc_fn = NULL;
    ktl_reraise(e);
}

/* sys.exit(message): the message goes to standard error and the status is
   1, unless a `try` is active. */
static KTL_COLD KTL_NORETURN void ktl_sys_exit_s(ktl_str msg) {
    if (ktl_htop) {
        ktl_exc *e = ktl_exc_new(KTL_E_SystemExit, msg, ktl_repr_str(msg));
        ktl_exc_line = 0;
        ktl_exc_fn = NULL;
        ktl_reraise(e);
    }
    ktl_exiting = 1;
    ktl_cap_abandon();
    ktl_flush();
    ktl_files_flush_all();
    fprintf(stderr, "%.*s\n", (int)msg.len, msg.p);
    fflush(stderr);
    exit(1);
}


