// try/except as generated code lowers it: entering, landing, matching by
// class, re-raising to an outer handler, the handler chain on every way out,
// captures abandoned by a raise, sys.exit caught by a handler, the texts of
// the raise functions, and the handled exception surviving collections
// (every page refill collects here).
// env: KESTAL_GC_MIN=1
// warnings: error
#define KTL_TEST_CLASSES(X) X(AppError, KTL_E_Exception) X(DeepError, KT_C_AppError)
#include "kestal_runtime.c"
#include "test_support.h"

// One `try` with one except clause for class `cls`: runs body, returns the
// exception it raised when it matches (NULL when the body returned), and
// passes any other exception on like the generated landing does.
static ktl_exc *kt_try(void (*body)(void), int32_t cls) {
    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        body();
        ktl_htop = h.prev;
        return NULL;
    }
    ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
    if (!ktl_isa(e->cls, cls)) ktl_reraise(e);
    return e;
}

static void b_nothing(void) {}
static void b_value_error(void) {
    ktl_raise_at(ktl_exc_new(KTL_E_ValueError, KTL_LIT("bad"), KTL_LIT("'bad'")), 12, "f");
}
static void b_key_error(void) { ktl_raise_c(KTL_E_KeyError, "k"); }
static void b_deep(void) { ktl_raise_c(KT_C_DeepError, "deep"); }

// The inner handler catches ValueError only; a KeyError passes through it.
static void b_inner_value_only(void) {
    kt_try(b_key_error, KTL_E_ValueError);
    kt_fail(__LINE__, "the KeyError was swallowed");
}

static void b_sys_exit(void) { ktl_sys_exit(5); }
static void b_sys_exit_s(void) { ktl_sys_exit_s(KTL_LIT("it's over")); }
static void b_index(void) { ktl_index_error("string", 9, 2); }
static void b_zero(void) { ktl_zero_div(); }
static void b_cmp(void) { ktl_cmp_type_error("<", "Point", "int"); }
static void b_key_repr(void) { ktl_key_error_repr(KTL_LIT("(1, 'a')")); }

static void b_long_fmt(void) {
    static char big[1000];
    memset(big, 'x', sizeof big - 1);
    ktl_raise_fmt(KTL_E_ValueError, "v=%s", big);
}

// Raises from inside a capture nested in the capture of the caller.
static void b_raise_in_capture(void) {
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_cap_begin(&b);
    ktl_write("half-done", 9);
    ktl_raise_c(KTL_E_RuntimeError, "in capture");
}

static void b_return_through_cleanup(void) {
    for (volatile int i = 0; i < 3; i++) {
        ktl_handler h;
        ktl_try_enter(&h);
        if (ktl_setjmp(h.jb) == 0) {
            if (i == 1) {
                // `break` out of the protected block pops the handler.
                ktl_htop = h.prev;
                break;
            }
            ktl_htop = h.prev;
        } else {
            ktl_try_land(&h);
        }
    }
}

static ktl_str kt_capture_repr(void *e) {
    return KT_CAPTURE(ktl_print_exc_repr(e));
}

static void kt_churn(void) {
    for (int i = 0; i < 200000; i++) {
        char *p = ktl_alloc_bytes(100);
        memset(p, 0x5a, 100);
        ktl_exc *x = (ktl_exc *)ktl_alloc(sizeof(ktl_exc));
        x->cls = -1;
    }
    ktl_gc_collect();
}

static void ktl_main(void) {
    // Class tests of the built-in table and the test's own classes.
    KT_CHECK(ktl_isa(KTL_E_ZeroDivisionError, KTL_E_ArithmeticError));
    KT_CHECK(ktl_isa(KTL_E_ZeroDivisionError, KTL_E_BaseException));
    KT_CHECK(!ktl_isa(KTL_E_SystemExit, KTL_E_Exception));
    KT_CHECK(ktl_isa(KTL_E_UnsupportedOperation, KTL_E_OSError));
    KT_CHECK(ktl_isa(KT_C_DeepError, KTL_E_Exception) && !ktl_isa(KT_C_AppError, KT_C_DeepError));
    KT_CHECK(KTL_E_ValueError == 26 && KTL_E_COUNT == 27 && KTL_E_RecursionError == 23);

    // A body that returns pops its handler.
    KT_CHECK(kt_try(b_nothing, KTL_E_Exception) == NULL && ktl_htop == NULL);

    // Landing: the exception, its line and function, the chain popped.
    ktl_exc *e = kt_try(b_value_error, KTL_E_Exception);
    KT_CHECK(e && e->cls == KTL_E_ValueError && ktl_htop == NULL);
    KT_CHECK(ktl_exc_line == 12 && strcmp(ktl_exc_fn, "f") == 0);
    KT_CHECK_STR(kt_capture_repr(e), "ValueError('bad')");

    // A runtime raise records line 0.
    e = kt_try(b_index, KTL_E_LookupError);
    KT_CHECK(e && e->cls == KTL_E_IndexError && ktl_exc_line == 0);
    KT_CHECK_STR(e->str, "string index out of range");
    KT_CHECK_STR(e->args, "'string index out of range'");

    // Re-raise from an inner landing reaches the outer handler with the same
    // object; both handlers are gone afterwards.
    e = kt_try(b_inner_value_only, KTL_E_LookupError);
    KT_CHECK(e && e->cls == KTL_E_KeyError && ktl_htop == NULL && ktl_cur_exc == e);
    KT_CHECK_STR(e->str, "'k'");
    KT_CHECK_STR(e->args, "'k'");
    KT_CHECK_STR(kt_capture_repr(e), "KeyError('k')");

    // A user subclass is caught by its base.
    e = kt_try(b_deep, KT_C_AppError);
    KT_CHECK(e && e->cls == KT_C_DeepError);

    // Leaving a protected block early pops its handler on the way out.
    b_return_through_cleanup();
    KT_CHECK(ktl_htop == NULL);

    // sys.exit inside a try raises SystemExit that a handler can catch.
    e = kt_try(b_sys_exit, KTL_E_BaseException);
    KT_CHECK(e && e->cls == KTL_E_SystemExit);
    KT_CHECK_STR(e->str, "5");
    KT_CHECK_STR(e->args, "5");
    e = kt_try(b_sys_exit_s, KTL_E_SystemExit);
    KT_CHECK(e && e->cls == KTL_E_SystemExit);
    KT_CHECK_STR(e->str, "it's over");
    KT_CHECK_STR(e->args, "\"it's over\"");

    // Messages of the raise functions.
    e = kt_try(b_zero, KTL_E_ArithmeticError);
    KT_CHECK(e && e->cls == KTL_E_ZeroDivisionError);
    KT_CHECK_STR(e->str, "division by zero");
    e = kt_try(b_cmp, KTL_E_TypeError);
    KT_CHECK_STR(e->str, "'<' not supported between instances of 'Point' and 'int'");
    e = kt_try(b_key_repr, KTL_E_KeyError);
    KT_CHECK_STR(e->str, "(1, 'a')");
    KT_CHECK_STR(e->args, "(1, 'a')");
    e = kt_try(b_long_fmt, KTL_E_ValueError);
    KT_CHECK(e->str.len == 599 && memcmp(e->str.p, "v=xxx", 5) == 0);

    // A raise inside a capture nested in another capture: the landing drops
    // the inner capture's bytes and makes the outer capture current again.
    ktl_write("A", 1);
    ktl_sb outer;
    ktl_sb_init(&outer);
    ktl_capstate cs = ktl_cap_begin(&outer);
    ktl_write("x", 1);
    e = kt_try(b_raise_in_capture, KTL_E_RuntimeError);
    KT_CHECK(e && ktl_cap == &outer);
    ktl_write("y", 1);
    ktl_cap_end(cs);
    KT_CHECK(ktl_cap == NULL);
    KT_CHECK_STR(ktl_sb_done(&outer), "xy");
    // Without an outer capture the landing ends the capture altogether.
    e = kt_try(b_raise_in_capture, KTL_E_RuntimeError);
    KT_CHECK(e && ktl_cap == NULL);
    ktl_write("B", 1);
    KT_CHECK(ktl_olen == 2 && memcmp(ktl_obuf, "AB", 2) == 0);
    ktl_olen = 0;

    // The handled exception is held only by ktl_cur_exc (a root) and this
    // frame; it survives collections that recycle everything around it.
    e = kt_try(b_value_error, KTL_E_ValueError);
    uintptr_t hidden = (uintptr_t)e ^ 0x5555;
    e = NULL;
    kt_churn();
    ktl_exc *back = (ktl_exc *)(hidden ^ 0x5555);
    KT_CHECK(back == ktl_cur_exc && back->cls == KTL_E_ValueError);
    KT_CHECK_STR(back->str, "bad");
    ktl_write("OK\n", 3);
}
