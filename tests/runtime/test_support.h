/* Stand-in for the program section of a generated file, for runtime tests.
 *
 * A runtime test is `#include "kestal_runtime.c"`, then this file, then its
 * own `static void ktl_main(void) {...}`. This file defines the five other
 * names a program section must define, the way the compiler would for a
 * program whose classes are the 27 built-in exception classes (plus the
 * test's own, see below), and a few checking helpers.
 *
 * Before including it a test may define:
 *   KTL_TEST_SRC_NAME    the source path shown in tracebacks ("test.ktl");
 *   KTL_TEST_CLASSES(X)  extra classes X(Name, base id), ids from 27 on,
 *                        named KT_C_Name in the enumeration below;
 *   KT_RAND_SEED         the first state of kt_rand (1).
 * Program globals that must survive collections go in `ktl_G.slot`, which is
 * registered as a root like the generated globals struct. `ktl_src_name` may
 * be reassigned at run time, and `kt_exc_text_hook` stands in for a user
 * __str__. Checks: KT_CHECK(cond), KT_CHECK_STR(ktl_str, "text"); a failed
 * check names its line on standard error and exits with status 99.
 * Output: KT_TRY(stmt) prints an exception stmt raises as "Class: text"
 * (KT_TRY_INLINE without the line end), KT_CAPTURE(stmt) gives what stmt
 * prints as a string. kt_rand(n) draws from [0, n) with a 64-bit LCG
 * whose formula the python3 oracles repeat.
 */
#ifndef KESTAL_TEST_SUPPORT_H
#define KESTAL_TEST_SUPPORT_H

#ifndef KTL_TEST_SRC_NAME
#define KTL_TEST_SRC_NAME "test.ktl"
#endif
#ifndef KTL_TEST_CLASSES
#define KTL_TEST_CLASSES(X)
#endif
#ifndef KT_RAND_SEED
#define KT_RAND_SEED 1
#endif

enum {
    KT_C_FIRST_USER = KTL_E_COUNT - 1,
#define KT_CLASS_ENUM(name, base) KT_C_##name,
    KTL_TEST_CLASSES(KT_CLASS_ENUM)
#undef KT_CLASS_ENUM
    KT_C_COUNT
};

static const char *const kt_class_names[] = {
#define KT_CLASS_NAME(name, base) #name,
    KTL_BUILTIN_EXCEPTIONS(KT_CLASS_NAME) KTL_TEST_CLASSES(KT_CLASS_NAME)
#undef KT_CLASS_NAME
};

static const int32_t kt_class_bases[] = {
#define KT_CLASS_BASE(name, base) base,
    KTL_BUILTIN_EXCEPTIONS(KT_CLASS_BASE) KTL_TEST_CLASSES(KT_CLASS_BASE)
#undef KT_CLASS_BASE
};

static const char *ktl_src_name = KTL_TEST_SRC_NAME;

static struct {
    void *slot[16];
} ktl_G;

static void ktl_register_globals(void) {
    ktl_gc_add_root(&ktl_G, sizeof ktl_G);
}

static const char *ktl_class_name(int32_t id) {
    return id >= 0 && id < KT_C_COUNT ? kt_class_names[id] : "?";
}

static bool ktl_isa(int32_t cls, int32_t base) {
    for (; cls >= 0 && cls < KT_C_COUNT; cls = kt_class_bases[cls]) {
        if (cls == base) return true;
    }
    return false;
}

/* str() of an exception: the stored text, or what the test's hook returns
   (a stand-in for a user __str__). */
static ktl_str (*kt_exc_text_hook)(void *e);

static ktl_str ktl_exc_text(void *e) {
    if (kt_exc_text_hook) return kt_exc_text_hook(e);
    return ((ktl_exc *)e)->str;
}

/* Checks: a failure names the test line on standard error and exits with
   status 99 (program output still buffered is dropped). */
static __attribute__((unused)) void kt_fail(int line, const char *what) {
    fprintf(stderr, "check failed at line %d: %s\n", line, what);
    fflush(stderr);
    _exit(99);
}

#define KT_CHECK(cond) ((cond) ? (void)0 : kt_fail(__LINE__, #cond))

static __attribute__((unused)) bool kt_str_is(ktl_str s, const char *want) {
    size_t n = strlen(want);
    return (size_t)s.len == n && memcmp(s.p, want, n) == 0;
}

#define KT_CHECK_STR(s, want) (kt_str_is((s), (want)) ? (void)0 : kt_fail_str(__LINE__, (s), (want)))

static __attribute__((unused)) void kt_fail_str(int line, ktl_str got, const char *want) {
    fprintf(stderr, "check failed at line %d: got \"%.*s\", want \"%s\"\n", line, (int)got.len,
            got.p, want);
    fflush(stderr);
    _exit(99);
}

/* Output helpers shared by the tests that compare with a python3 oracle. */

/* An exception as Python's traceback ends it, "Class: text", with no line
   end. */
static __attribute__((unused)) void kt_print_exc(void *o) {
    ktl_exc *e = (ktl_exc *)o;
    const char *n = ktl_class_name(e->cls);
    ktl_write(n, strlen(n));
    ktl_write(": ", 2);
    ktl_print_s(e->str);
}

/* The same and a line end: what a Python test prints in its except arm. */
static __attribute__((unused)) void kt_exc_line(void *o) {
    kt_print_exc(o);
    ktl_newline();
}

/* Runs stmt under a handler, as generated code runs a try body; an
   exception it raises is passed to on_exc (a function of the exception's
   void *). The handler is popped on both paths, so KT_TRYs nest and follow
   each other freely. */
#define KT_TRY_WITH(stmt, on_exc)                                                                  \
    do {                                                                                           \
        ktl_handler h_;                                                                            \
        ktl_try_enter(&h_);                                                                        \
        if (ktl_setjmp(h_.jb) == 0) {                                                              \
            stmt;                                                                                  \
            ktl_htop = h_.prev;                                                                    \
        } else {                                                                                   \
            on_exc(ktl_try_land(&h_));                                                             \
        }                                                                                          \
    } while (0)

/* Runs stmt; an exception prints "Class: text" and a line end. */
#define KT_TRY(stmt) KT_TRY_WITH(stmt, kt_exc_line)

/* Runs stmt; an exception prints "Class: text" with no line end, for
   output that continues on the same line. */
#define KT_TRY_INLINE(stmt) KT_TRY_WITH(stmt, kt_print_exc)

/* Knuth's MMIX LCG; the top 31 bits of the state are the draw, because
   the low bits of a power-of-two LCG have short periods. */
static __attribute__((unused)) uint64_t kt_lcg = KT_RAND_SEED;

static __attribute__((unused)) int64_t kt_rand(int64_t n) {
    kt_lcg = kt_lcg * 6364136223846793005ULL + 1442695040888963407ULL;
    return (int64_t)((kt_lcg >> 33) % (uint64_t)n);
}

/* What stmt prints, as a string: the output is captured around it, the way
   str() of a container is built. */
#define KT_CAPTURE(stmt)                                                                           \
    __extension__({                                                                                \
        ktl_sb kt_cap_b_;                                                                          \
        ktl_sb_init(&kt_cap_b_);                                                                   \
        ktl_capstate kt_cap_s_ = ktl_cap_begin(&kt_cap_b_);                                        \
        stmt;                                                                                      \
        ktl_cap_end(kt_cap_s_);                                                                    \
        ktl_sb_done(&kt_cap_b_);                                                                   \
    })

#endif
