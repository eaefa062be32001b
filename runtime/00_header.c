/* Kestal runtime.
 *
 * This text is pasted, unchanged, at the head of every C file the compiler
 * generates; the program's own section follows it. It gives generated code
 * everything it calls at run time: the collected heap, strings, lists, dicts,
 * sets, files, exceptions, output buffering and number formatting, and the C
 * entry point. Every function and global is `static`, so the C compiler can
 * inline what a program uses and drop the rest; there is no runtime library
 * to link (a build may still precompile the out-of-line part once: see the
 * two forms below). It is written for Linux: the system calls are POSIX ones, and
 * a few details (file times, peak memory) are Linux's.
 *
 * Switches read from the lines the compiler writes before this text:
 * KTL_UNCHECKED (no index or zero-divisor checks), KTL_PARALLEL (per-thread
 * runtime state and the thread pool of parallel loops), KTL_GROUPING
 * (digit-grouping support of f-string formats).
 */

/* ---- Header: includes, hints, the string view ---- */

/* A program uses a few of the runtime's static functions; the C compiler
   drops the rest, so warnings about the unused ones say nothing. They are
   silenced for the runtime text only: the program section that follows gets
   every warning again. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-const-variable"

/* The thread pool asks for the process's CPU affinity, a GNU extension. */
#if defined(KTL_PARALLEL) && !defined(_GNU_SOURCE)
#define _GNU_SOURCE 1
#endif

#include <stdint.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <math.h>
#include <time.h>
#include <errno.h>
#include <setjmp.h>
#include <stdarg.h>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>

static inline bool ktl_isatty_stdout(void) {
    return isatty(fileno(stdout)) != 0;
}

/* The jumps of `try` and `raise`; glibc's setjmp leaves the signal mask
   alone, so a `try` costs no system call. */
#define ktl_setjmp setjmp
#define ktl_longjmp longjmp

/* Vector level of the byte scans: follows the target of the C compiler
   (-march=native by default), so a build uses the widest vectors its
   machine has. The scans use GNU vector types and a few builtins rather
   than the intrinsics headers, which under -march=native are some 30,000
   lines for every build to read. */
#if defined(__AVX2__)
#define KTL_AVX2 1
#elif defined(__SSE2__)
#define KTL_SSE2 1
#endif

#define KTL_LIKELY(x) __builtin_expect(!!(x), 1)
#define KTL_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define KTL_COLD __attribute__((cold, noinline))
/* Helpers called from every f-string and str() build: inlined, each copy
   costs the C compiler's optimiser more than the call costs at run time. */
#define KTL_NOINLINE __attribute__((noinline))
#define KTL_NORETURN __attribute__((noreturn))
/* Before a loop not worth its vector version (its code and its compile
   time). Only clang takes it; gcc 12 has no such pragma. */
#if defined(__clang__)
#define KTL_NO_VECTORIZE _Pragma("clang loop vectorize(disable) interleave(disable)")
#else
#define KTL_NO_VECTORIZE
#endif

/* Per-thread state (output buffer, capture, free lists, handler chain,
   current exception, worker flag) is thread-local only in programs that run
   parallel loops; the others keep plain globals. */
#ifdef KTL_PARALLEL
#define KTL_TLS _Thread_local
#else
#define KTL_TLS
#endif

/* Two forms of one text. Pasted whole before a program (the one-file form),
   every function and global is static. A build may instead compile the
   out-of-line, program-independent part once into an object of its own
   (KTL_SPLIT_RUNTIME) and each program against it (KTL_SPLIT_PROGRAM): the
   functions that part holds (KTL_RT) are then only declared in the
   program's text, the shared state (KTL_VAR) is defined in the object
   alone, and what the program section defines for the runtime (KTL_PROG)
   links across. Everything else stays static in both, so the inline fast
   paths are compiled with the program as before. */
#define KTL_HIDDEN __attribute__((visibility("hidden")))
#if defined(KTL_SPLIT_PROGRAM)
#define KTL_RT KTL_HIDDEN
#define KTL_VAR extern KTL_HIDDEN
#define KTL_INIT(...)
#define KTL_PROG KTL_HIDDEN
#define KTL_PROG_DECL extern KTL_HIDDEN
#elif defined(KTL_SPLIT_RUNTIME)
#define KTL_RT KTL_HIDDEN
#define KTL_VAR KTL_HIDDEN
#define KTL_INIT(...) = __VA_ARGS__
#define KTL_PROG KTL_HIDDEN
#define KTL_PROG_DECL extern KTL_HIDDEN
#else
#define KTL_RT static
#define KTL_VAR static
#define KTL_INIT(...) = __VA_ARGS__
#define KTL_PROG static
#define KTL_PROG_DECL static
#endif

#define KTL_PI 3.14159265358979323846
#define KTL_E 2.71828182845904523536
#define KTL_TAU 6.28318530717958647692

/* A string is an immutable view of UTF-8 bytes, passed by value. Slices and
   strip() share the bytes of their source; the bytes are never
   NUL-terminated. */
typedef struct {
    const char *p;
    int64_t len;
} ktl_str;

#define KTL_LIT(s) ((ktl_str){(s), (int64_t)(sizeof(s) - 1)})

static inline ktl_str ktl_mkstr(const char *p, int64_t len) {
    return (ktl_str){p, len};
}

/* The string builder (defined with the builders) is named early because the
   output capture holds a pointer to one. */
typedef struct ktl_sb ktl_sb;

/* chr() of an ASCII code is a one-byte view into this table (filled at
   start-up). */
KTL_VAR char ktl_ascii[128];

/* Declared ahead of first use: runtime functions defined further down. */
static char *ktl_alloc_bytes(size_t n);
KTL_RT void ktl_cap_spill(const char *p, size_t n);
KTL_RT void ktl_files_flush_all(void);
KTL_RT void ktl_files_close_unreached(void);
KTL_RT void ktl_gc_collect(void);

/* Declared here, defined by the program section that follows the runtime. */
KTL_PROG void ktl_register_globals(void);
KTL_PROG const char *ktl_class_name(int32_t id);
KTL_PROG bool ktl_isa(int32_t cls, int32_t base);
KTL_PROG ktl_str ktl_exc_text(void *e);
KTL_PROG_DECL const char *ktl_src_name;
KTL_PROG void ktl_main(void);

/* A copy of n bytes in the collected heap (no-scan memory); n may be 0. */
static ktl_str ktl_str_copy(const char *p, int64_t n) {
    char *q = ktl_alloc_bytes((size_t)n);
    if (n > 0) memcpy(q, p, (size_t)n);
    return (ktl_str){q, n};
}


