/* Kestal runtime.
 *
 * This text is pasted, unchanged, at the head of every C file the compiler
 * generates; the program's own section follows it. It gives generated code
 * everything it calls at run time: the collected heap, strings, lists, dicts,
 * sets, files, exceptions, output buffering and number formatting, and the C
 * entry point. Every function and global is `static`, so the C compiler can
 * inline what a program uses and drop the rest; there is no runtime library
 * to link. The same text builds on Windows and on POSIX systems (chosen by
 * `_WIN32` and `__APPLE__`).
 *
 * Switches read from the lines the compiler writes before this text:
 * KTL_UNCHECKED (no index or zero-divisor checks), KTL_PARALLEL (per-thread
 * runtime state and the thread pool of parallel loops), KTL_GROUPING
 * (digit-grouping support of f-string formats).
 */

/* ---- Header: includes, platform declarations, hints, the string view ---- */

/* A program uses a few of the runtime's static functions; the C compiler
   drops the rest, so warnings about the unused ones say nothing. They are
   silenced for the runtime text only: the program section that follows gets
   every warning again. */
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-const-variable"

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
#ifdef _WIN32
#include <io.h>
#include <direct.h>
#include <wchar.h>
#else
#include <unistd.h>
#include <dirent.h>
#endif

/* The Windows header is never included (it costs about 0.4 s per compile);
   the few calls the runtime makes are declared here by hand. */
#ifdef _WIN32
#define KTL_WINAPI __declspec(dllimport) __stdcall
KTL_WINAPI int SetConsoleOutputCP(unsigned int cp);
KTL_WINAPI void Sleep(unsigned long ms);
KTL_WINAPI int MultiByteToWideChar(unsigned int cp, unsigned long flags, const char *src,
                                   int srclen, wchar_t *dst, int dstlen);
KTL_WINAPI int WideCharToMultiByte(unsigned int cp, unsigned long flags, const wchar_t *src,
                                   int srclen, char *dst, int dstlen, const char *defchar,
                                   int *useddef);
#endif

static inline bool ktl_isatty_stdout(void) {
#ifdef _WIN32
    return _isatty(_fileno(stdout)) != 0;
#else
    return isatty(fileno(stdout)) != 0;
#endif
}

/* macOS's setjmp also saves the signal mask, a system call on every `try`. */
#ifdef __APPLE__
#define ktl_setjmp _setjmp
#define ktl_longjmp _longjmp
#else
#define ktl_setjmp setjmp
#define ktl_longjmp longjmp
#endif

/* Vector level of the byte scans: follows the target of the C compiler
   (-march=native by default), so a build uses the widest vectors its
   machine has. Without SSE2 no intrinsics header is included at all. */
#if defined(__AVX2__)
#include <immintrin.h>
#define KTL_AVX2 1
#elif defined(__SSE2__)
#include <emmintrin.h>
#define KTL_SSE2 1
#endif

#define KTL_LIKELY(x) __builtin_expect(!!(x), 1)
#define KTL_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define KTL_COLD __attribute__((cold, noinline))
#define KTL_NORETURN __attribute__((noreturn))

/* Per-thread state (output buffer, capture, free lists, handler chain,
   current exception, worker flag) is thread-local only in programs that run
   parallel loops; the others keep plain globals. */
#ifdef KTL_PARALLEL
#define KTL_TLS _Thread_local
#else
#define KTL_TLS
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
static char ktl_ascii[128];

/* Declared ahead of first use: runtime functions defined further down. */
static char *ktl_alloc_bytes(size_t n);
static void ktl_cap_spill(const char *p, size_t n);
static void ktl_files_flush_all(void);
static void ktl_gc_collect(void);

/* Declared here, defined by the program section that follows the runtime. */
static void ktl_register_globals(void);
static const char *ktl_class_name(int32_t id);
static bool ktl_isa(int32_t cls, int32_t base);
static ktl_str ktl_exc_text(void *e);
static const char *ktl_src_name;
static void ktl_main(void);

/* A copy of n bytes in the collected heap (no-scan memory); n may be 0. */
static ktl_str ktl_str_copy(const char *p, int64_t n) {
    char *q = ktl_alloc_bytes((size_t)n);
    if (n > 0) memcpy(q, p, (size_t)n);
    return (ktl_str){q, n};
}


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

static KTL_TLS char ktl_obuf[1 << 16];
static KTL_TLS size_t ktl_olen;
static bool ktl_tty;
static KTL_TLS ktl_sb *ktl_cap;
static KTL_TLS size_t ktl_cap_from;

typedef struct {
    ktl_sb *cap;
    size_t from;
} ktl_capstate;

/* Set once the process has started to end (ktl_exit, ktl_panic, the
   uncaught-exception report): from then on no `try` may catch anything, so a
   failure while flushing cannot jump back into the program. */
static volatile int ktl_exiting;

/* Captured bytes always leave the buffer first, into the builder; ordinary
   output printed before the capture began stays at the front until it fills
   half the buffer, so it is never interleaved with captured bytes. */
static KTL_COLD void ktl_flush(void) {
    if (ktl_cap) {
        if (ktl_olen > ktl_cap_from) ktl_cap_spill(ktl_obuf + ktl_cap_from, ktl_olen - ktl_cap_from);
        ktl_olen = ktl_cap_from;
        if (ktl_olen < KTL_OBUF_SIZE / 2) return;
        fwrite(ktl_obuf, 1, ktl_olen, stdout);
        ktl_olen = 0;
        ktl_cap_from = 0;
        return;
    }
    if (ktl_olen) {
        fwrite(ktl_obuf, 1, ktl_olen, stdout);
        ktl_olen = 0;
    }
    fflush(stdout);
}

static KTL_COLD void ktl_write_slow(const char *p, size_t n) {
    ktl_flush();
    if (n > KTL_OBUF_SIZE - ktl_olen) {
        if (ktl_cap) ktl_cap_spill(p, n);
        else fwrite(p, 1, n, stdout);
        return;
    }
    memcpy(ktl_obuf + ktl_olen, p, n);
    ktl_olen += n;
}

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

/* Drops the bytes of the active capture that are still buffered and ends all
   captures, keeping the ordinary output in front of them. The text being
   built is abandoned; the ordinary output is what the exit paths flush. */
static void ktl_cap_abandon(void) {
    if (ktl_cap) {
        ktl_olen = ktl_cap_from;
        ktl_cap = NULL;
    }
}

/* Ends the program for conditions no `try` can catch (out of memory, a
   negative integer exponent, the generated code's own fatal checks). Safe to
   re-enter: a failure while flushing (out of memory while a capture grows,
   say) only writes its message and exits. */
static KTL_COLD KTL_NORETURN void ktl_panic(const char *msg) {
    static volatile int entered;
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

/* Ends the program with the given status after writing all output. */
static KTL_COLD KTL_NORETURN void ktl_exit(int64_t code) {
    ktl_exiting = 1;
    ktl_cap_abandon();
    ktl_flush();
    ktl_files_flush_all();
    exit((int)code);
}


/* ---- Memory: the conservative mark-sweep collector ----
 *
 * Every heap value (string bytes, list storage, dict and set tables, objects,
 * exceptions, files) lives in one reserved address range cut into 64 KiB
 * pages. A small request is served from a per-class free list; a page serves
 * blocks of one size class and one memory kind; a request above 8 KiB takes
 * whole pages. The collector is conservative and never moves anything: any
 * aligned word on the stack, in the registers, in a registered root or in a
 * scanned block that points anywhere into a block keeps the block alive. So
 * generated code stores plain pointers and string views into the middle of
 * blocks, and never registers temporaries.
 *
 * Invariant: a free block of KTL_SCAN memory is all zero except its link
 * word, so handing it out costs one store. Pages fresh from the operating
 * system are zero already and are not cleared again.
 *
 * Compile with KTL_GC_STRESS defined to collect on every allocation: a value
 * the collector misses is then freed, and reused, at once.
 */

#define KTL_PAGE_SHIFT 16
#define KTL_PAGE ((size_t)1 << KTL_PAGE_SHIFT)
#define KTL_HEAP_MAX ((size_t)64 << 30)
#define KTL_MAX_SMALL 8192
#define KTL_NCLS 32
#define KTL_GC_MIN ((size_t)32 << 20)
#define KTL_MAX_ROOTS 16

/* Memory kinds, named by the caller on every allocation. KTL_GROW is a
   string built by concatenation whose first 8 bytes count the bytes in use;
   it is not scanned. */
enum { KTL_NOSCAN = 0, KTL_SCAN = 1, KTL_GROW = 2, KTL_NKIND = 3 };

enum { KTL_PG_FREE = 0, KTL_PG_SMALL = 1, KTL_PG_LARGE = 2, KTL_PG_TAIL = 3 };

typedef struct ktl_page {
    uint8_t kind;
    uint8_t mem;
    uint8_t cls;
    /* Never used since the operating system handed it out, so still zero. */
    uint8_t fresh;
    uint32_t bsize;
    uint32_t nblocks;
    uint32_t npages;
    uint32_t head;
    /* One bit per block (4,096 blocks of the 16-byte class); a large block
       uses bit 0 of word 0. */
    uint64_t marks[64];
} ktl_page;

typedef struct ktl_free {
    struct ktl_free *next;
} ktl_free;

typedef struct {
    void *p;
    size_t n;
} ktl_root;

/* A word read from the stack or from a block, whatever its declared type. */
typedef uintptr_t __attribute__((may_alias)) ktl_word;

static char *ktl_heap;
static size_t ktl_heap_pages;
/* Pages the reservation holds: 1,048,576 for the full 64 GiB, fewer when the
   system only granted a smaller range. */
static size_t ktl_heap_max_pages;
/* Bytes made usable so far when the range was reserved without access
   (Windows always; elsewhere only after the fallback of ktl_gc_init);
   SIZE_MAX when the whole range is usable from the start. */
static size_t ktl_heap_commit;
static ktl_page **ktl_pages;
static size_t ktl_free_pages;
static size_t ktl_free_hint;
static KTL_TLS ktl_free *ktl_fl[KTL_NKIND][KTL_NCLS];
static uint32_t ktl_cls_size[KTL_NCLS];
static size_t ktl_gc_grown;
static size_t ktl_gc_limit = KTL_GC_MIN;
static size_t ktl_gc_live;
static size_t ktl_gc_count;
static bool ktl_gc_min_set;
static size_t ktl_gc_min_env;
static void *ktl_stack_base;
static int ktl_gc_off;
static ktl_root ktl_roots[KTL_MAX_ROOTS];
static int ktl_nroots;
static void **ktl_mstack;
static size_t ktl_mstack_n;
static size_t ktl_mstack_cap;

#ifdef _WIN32
KTL_WINAPI void *VirtualAlloc(void *addr, size_t size, unsigned long type, unsigned long prot);
KTL_WINAPI int VirtualFree(void *addr, size_t size, unsigned long type);
#else
#include <sys/mman.h>
#ifndef MAP_NORESERVE
#define MAP_NORESERVE 0
#endif
#ifndef MAP_ANONYMOUS
#define MAP_ANONYMOUS MAP_ANON
#endif
#endif

/* Taking and freeing pages is shared by the threads of parallel loops; it
   happens once per 64 KiB, so a spin lock is enough. */
#ifdef KTL_PARALLEL
static int ktl_heap_lk;
static inline void ktl_heap_lock(void) {
    while (__atomic_exchange_n(&ktl_heap_lk, 1, __ATOMIC_ACQUIRE)) {
        while (__atomic_load_n(&ktl_heap_lk, __ATOMIC_RELAXED)) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    }
}
static inline void ktl_heap_unlock(void) {
    __atomic_store_n(&ktl_heap_lk, 0, __ATOMIC_RELEASE);
}
#else
#define ktl_heap_lock() ((void)0)
#define ktl_heap_unlock() ((void)0)
#endif

static KTL_COLD KTL_NORETURN void ktl_oom(void) {
    ktl_panic("out of memory");
}

/* The smallest class whose blocks hold n bytes (n from 0 to 8,192): eight
   classes of 16-byte steps up to 128, then four per doubling. */
static inline int ktl_size_class(size_t n) {
    if (n <= 128) return n ? (int)((n - 1) >> 4) : 0;
    int k = 63 - __builtin_clzll((unsigned long long)(n - 1));
    return 8 + (k - 7) * 4 + (int)((n - 1) >> (k - 2)) - 4;
}

static uint32_t ktl_class_block_size(int c) {
    if (c < 8) return (uint32_t)(c + 1) * 16;
    return (uint32_t)((c - 8) % 4 + 5) << ((c - 8) / 4 + 5);
}

static void *ktl_xmalloc(size_t n) {
    void *p = malloc(n ? n : 1);
    if (KTL_UNLIKELY(!p)) ktl_oom();
    return p;
}

/* Makes the range up to the end of page i + n - 1 usable where the
   reservation was made without access, in 4 MiB steps. */
static void ktl_heap_commit_to(size_t end_page) {
    size_t want = end_page << KTL_PAGE_SHIFT;
    if (want <= ktl_heap_commit) return;
    size_t step = (size_t)4 << 20;
    size_t limit = ktl_heap_max_pages << KTL_PAGE_SHIFT;
    size_t to = (want + step - 1) / step * step;
    if (to > limit) to = limit;
#ifdef _WIN32
    if (!VirtualAlloc(ktl_heap + ktl_heap_commit, to - ktl_heap_commit, 0x1000, 0x04)) ktl_oom();
#else
    if (mprotect(ktl_heap + ktl_heap_commit, to - ktl_heap_commit, PROT_READ | PROT_WRITE) != 0)
        ktl_oom();
#endif
    ktl_heap_commit = to;
}

/* The descriptor of page i, created on first use; makes pages i to
   i + n - 1 usable. */
static ktl_page *ktl_page_desc(size_t i, size_t n) {
    ktl_page *pg = ktl_pages[i];
    if (!pg) {
        pg = (ktl_page *)calloc(1, sizeof(ktl_page));
        if (!pg) ktl_oom();
        pg->fresh = 1;
        ktl_pages[i] = pg;
    }
    ktl_heap_commit_to(i + n);
    return pg;
}

/* The first index of n consecutive free pages: a run among the pages handed
   out when there is one, else new pages at the top; SIZE_MAX when the
   reservation can't hold them. Called under the heap lock. */
static size_t ktl_take_pages(size_t n) {
    if (ktl_free_pages >= n) {
        size_t run = 0;
        for (size_t i = n == 1 ? ktl_free_hint : 0; i < ktl_heap_pages; i++) {
            if (ktl_pages[i]->kind != KTL_PG_FREE) {
                run = 0;
                continue;
            }
            if (++run == n) {
                ktl_free_pages -= n;
                if (n == 1) ktl_free_hint = i + 1;
                return i + 1 - n;
            }
        }
    }
    if (n > ktl_heap_max_pages - ktl_heap_pages) return SIZE_MAX;
    size_t first = ktl_heap_pages;
    ktl_heap_pages += n;
    return first;
}

/* The head of a free list, or NULL; a scanned block's link is cleared,
   which leaves it all zero. */
static inline void *ktl_fl_pop(int m, int c) {
    ktl_free *b = ktl_fl[m][c];
    if (KTL_LIKELY(b != NULL)) {
        ktl_fl[m][c] = b->next;
        if (m == KTL_SCAN) b->next = NULL;
    }
    return b;
}

/* Takes n pages and returns with the heap lock held, or returns SIZE_MAX
   without the lock when the reservation is full. */
static size_t ktl_gc_take(size_t n) {
    ktl_heap_lock();
    size_t i = ktl_take_pages(n);
    if (KTL_UNLIKELY(i == SIZE_MAX)) ktl_heap_unlock();
    return i;
}

static KTL_COLD void ktl_gc_maybe_collect(void) {
    if (ktl_gc_grown >= ktl_gc_limit && !ktl_gc_off) ktl_gc_collect();
}

/* An empty free list: collect when the heap has grown enough, else carve a
   new page into blocks of class c. */
static KTL_COLD void *ktl_gc_refill(int m, int c) {
    if (ktl_gc_grown >= ktl_gc_limit && !ktl_gc_off) {
        ktl_gc_collect();
        void *b = ktl_fl_pop(m, c);
        if (b) return b;
    }
    size_t i = ktl_gc_take(1);
    if (KTL_UNLIKELY(i == SIZE_MAX)) {
        /* A full reservation (the system may grant less than 64 GiB) is not
           the end yet: one collection may free blocks or pages. */
        if (!ktl_gc_off) ktl_gc_collect();
        void *b = ktl_fl_pop(m, c);
        if (b) return b;
        i = ktl_gc_take(1);
        if (i == SIZE_MAX) ktl_oom();
    }
    ktl_page *pg = ktl_page_desc(i, 1);
    ktl_gc_grown += KTL_PAGE;
    ktl_heap_unlock();
    char *base = ktl_heap + (i << KTL_PAGE_SHIFT);
    uint32_t bs = ktl_cls_size[c];
    pg->kind = KTL_PG_SMALL;
    pg->mem = (uint8_t)m;
    pg->cls = (uint8_t)c;
    pg->bsize = bs;
    pg->nblocks = (uint32_t)(KTL_PAGE / bs);
    pg->npages = 0;
    pg->head = 0;
    if (m == KTL_SCAN && !pg->fresh) memset(base, 0, KTL_PAGE);
    pg->fresh = 0;
    ktl_free *head = NULL;
    for (uint32_t j = pg->nblocks - 1; j >= 1; j--) {
        ktl_free *f = (ktl_free *)(base + (size_t)j * bs);
        f->next = head;
        head = f;
    }
    ktl_fl[m][c] = head;
    return base;
}

/* Above 8 KiB: whole pages, the first marked large and the others pointing
   back to it. Large blocks start on a page boundary. */
static KTL_COLD void *ktl_gc_alloc_large(size_t n, int m) {
    ktl_gc_maybe_collect();
    if (n > (ktl_heap_max_pages << KTL_PAGE_SHIFT)) ktl_oom();
    size_t np = (n + KTL_PAGE - 1) >> KTL_PAGE_SHIFT;
    size_t i = ktl_gc_take(np);
    if (KTL_UNLIKELY(i == SIZE_MAX)) {
        if (!ktl_gc_off) ktl_gc_collect();
        i = ktl_gc_take(np);
        if (i == SIZE_MAX) ktl_oom();
    }
    ktl_page *first = ktl_page_desc(i, np);
    bool fresh = first->fresh;
    first->kind = KTL_PG_LARGE;
    first->mem = (uint8_t)m;
    first->npages = (uint32_t)np;
    first->fresh = 0;
    for (size_t j = 1; j < np; j++) {
        ktl_page *pg = ktl_page_desc(i + j, 1);
        fresh = fresh && pg->fresh;
        pg->kind = KTL_PG_TAIL;
        pg->mem = (uint8_t)m;
        pg->head = (uint32_t)i;
        pg->fresh = 0;
    }
    ktl_gc_grown += np << KTL_PAGE_SHIFT;
    ktl_heap_unlock();
    char *p = ktl_heap + (i << KTL_PAGE_SHIFT);
    if (m == KTL_SCAN && !fresh) memset(p, 0, np << KTL_PAGE_SHIFT);
    return p;
}

/* A block of at least n bytes of memory kind m; KTL_SCAN memory comes
   zeroed. Never fails: running out of memory ends the program. */
static inline void *ktl_gc_alloc(size_t n, int m) {
#ifdef KTL_GC_STRESS
    if (!ktl_gc_off) ktl_gc_collect();
#endif
    if (KTL_LIKELY(n <= KTL_MAX_SMALL)) {
        int c = ktl_size_class(n);
        void *b = ktl_fl_pop(m, c);
        if (KTL_LIKELY(b != NULL)) return b;
        return ktl_gc_refill(m, c);
    }
    return ktl_gc_alloc_large(n, m);
}

static inline void *ktl_alloc(size_t n) {
    return ktl_gc_alloc(n ? n : 1, KTL_SCAN);
}

/* Objects start zeroed: fields read before they are assigned read as 0,
   NULL or the empty string. */
static inline void *ktl_obj_new(size_t n) {
    return ktl_gc_alloc(n ? n : 1, KTL_SCAN);
}

static inline char *ktl_alloc_bytes(size_t n) {
    return (char *)ktl_gc_alloc(n ? n : 1, KTL_NOSCAN);
}

static void *ktl_gc_zalloc(size_t n) {
    void *p = ktl_gc_alloc(n ? n : 1, KTL_NOSCAN);
    memset(p, 0, n ? n : 1);
    return p;
}

/* The start of the block holding p, with its size and page, or NULL when p
   is not inside a block: outside the pages handed out, in a free page, or in
   the bytes after a small page's last whole block. */
static void *ktl_gc_block(const void *p, size_t *size, ktl_page **page) {
    uintptr_t off = (uintptr_t)p - (uintptr_t)ktl_heap;
    if (off >= (uintptr_t)ktl_heap_pages << KTL_PAGE_SHIFT) return NULL;
    size_t i = off >> KTL_PAGE_SHIFT;
    ktl_page *pg = ktl_pages[i];
    if (!pg) return NULL;
    if (pg->kind == KTL_PG_TAIL) {
        i = pg->head;
        pg = ktl_pages[i];
    }
    if (pg->kind == KTL_PG_LARGE) {
        *size = (size_t)pg->npages << KTL_PAGE_SHIFT;
        *page = pg;
        return ktl_heap + (i << KTL_PAGE_SHIFT);
    }
    if (pg->kind != KTL_PG_SMALL) return NULL;
    size_t b = (off & (KTL_PAGE - 1)) / pg->bsize;
    if (b >= pg->nblocks) return NULL;
    *size = pg->bsize;
    *page = pg;
    return ktl_heap + (i << KTL_PAGE_SHIFT) + b * pg->bsize;
}

/* Gives a block back at once, for callers that know nothing else refers to
   it. Anything but the start of a block (NULL, an interior pointer, memory
   outside the heap) is ignored. */
static void ktl_gc_free(void *p) {
    size_t size = 0;
    ktl_page *pg = NULL;
    void *b = ktl_gc_block(p, &size, &pg);
    if (!b || b != p) return;
    if (pg->kind == KTL_PG_SMALL) {
        if (pg->mem == KTL_SCAN) memset(b, 0, size);
        ktl_free *f = (ktl_free *)b;
        f->next = ktl_fl[pg->mem][pg->cls];
        ktl_fl[pg->mem][pg->cls] = f;
        return;
    }
    size_t i = (size_t)((char *)b - ktl_heap) >> KTL_PAGE_SHIFT;
    size_t np = pg->npages;
    ktl_heap_lock();
    for (size_t j = 0; j < np; j++) ktl_pages[i + j]->kind = KTL_PG_FREE;
    ktl_free_pages += np;
    if (i < ktl_free_hint) ktl_free_hint = i;
    ktl_heap_unlock();
}

static void *ktl_gc_realloc(void *old, size_t oldn, size_t n, int m) {
    void *p = ktl_gc_alloc(n, m);
    if (old) memcpy(p, old, oldn < n ? oldn : n);
    ktl_gc_free(old);
    return p;
}

/* Registers n bytes at p as a root range, scanned at every collection. */
static void ktl_gc_add_root(void *p, size_t n) {
    if (ktl_nroots == KTL_MAX_ROOTS) ktl_panic("too many collector roots");
    ktl_roots[ktl_nroots].p = p;
    ktl_roots[ktl_nroots].n = n;
    ktl_nroots++;
}

/* Marks the block a candidate word points into; a scanned block goes on the
   mark stack instead of being scanned here, so marking never recurses. */
static inline void ktl_gc_mark_word(uintptr_t w, uintptr_t heap_bytes) {
    uintptr_t off = w - (uintptr_t)ktl_heap;
    if (off >= heap_bytes) return;
    size_t i = off >> KTL_PAGE_SHIFT;
    ktl_page *pg = ktl_pages[i];
    char *block;
    if (pg->kind == KTL_PG_TAIL) {
        i = pg->head;
        pg = ktl_pages[i];
    }
    if (pg->kind == KTL_PG_SMALL) {
        size_t b = (off & (KTL_PAGE - 1)) / pg->bsize;
        if (b >= pg->nblocks) return;
        uint64_t bit = (uint64_t)1 << (b & 63);
        if (pg->marks[b >> 6] & bit) return;
        pg->marks[b >> 6] |= bit;
        if (pg->mem != KTL_SCAN) return;
        block = ktl_heap + (i << KTL_PAGE_SHIFT) + b * pg->bsize;
    } else if (pg->kind == KTL_PG_LARGE) {
        if (pg->marks[0] & 1) return;
        pg->marks[0] |= 1;
        if (pg->mem != KTL_SCAN) return;
        block = ktl_heap + (i << KTL_PAGE_SHIFT);
    } else {
        return;
    }
    if (ktl_mstack_n == ktl_mstack_cap) {
        size_t cap = ktl_mstack_cap ? ktl_mstack_cap * 2 : 4096;
        void **s = (void **)realloc(ktl_mstack, cap * sizeof(void *));
        if (!s) ktl_oom();
        ktl_mstack = s;
        ktl_mstack_cap = cap;
    }
    ktl_mstack[ktl_mstack_n++] = block;
}

/* Every 8-byte aligned word that lies wholly inside [lo, hi). */
static void ktl_gc_scan(const void *lo, const void *hi, uintptr_t heap_bytes) {
    uintptr_t a = ((uintptr_t)lo + 7) & ~(uintptr_t)7;
    uintptr_t end = (uintptr_t)hi;
    for (; a + 8 <= end; a += 8) ktl_gc_mark_word(*(const ktl_word *)a, heap_bytes);
}

static void ktl_gc_drain(uintptr_t heap_bytes) {
    while (ktl_mstack_n) {
        char *b = (char *)ktl_mstack[--ktl_mstack_n];
        ktl_page *pg = ktl_pages[(size_t)(b - ktl_heap) >> KTL_PAGE_SHIFT];
        size_t size = pg->kind == KTL_PG_LARGE ? (size_t)pg->npages << KTL_PAGE_SHIFT : pg->bsize;
        ktl_gc_scan(b, b + size, heap_bytes);
    }
}

static void ktl_gc_clear_marks(void) {
    for (size_t i = 0; i < ktl_heap_pages; i++) {
        ktl_page *pg = ktl_pages[i];
        if (pg->kind == KTL_PG_SMALL) memset(pg->marks, 0, (pg->nblocks + 63) / 64 * 8);
        else if (pg->kind == KTL_PG_LARGE) pg->marks[0] = 0;
    }
}

/* Frees what was not marked, from the top page down: each rebuilt free list
   then runs in ascending address order, so allocation walks upward. */
static size_t ktl_gc_sweep(void) {
    size_t live = 0;
    memset(ktl_fl, 0, sizeof ktl_fl);
    for (size_t i = ktl_heap_pages; i-- > 0;) {
        ktl_page *pg = ktl_pages[i];
        if (pg->kind == KTL_PG_LARGE) {
            size_t np = pg->npages;
            if (pg->marks[0] & 1) {
                live += np << KTL_PAGE_SHIFT;
                continue;
            }
            for (size_t j = 0; j < np; j++) ktl_pages[i + j]->kind = KTL_PG_FREE;
            ktl_free_pages += np;
            continue;
        }
        if (pg->kind != KTL_PG_SMALL) continue;
        size_t marked = 0;
        size_t words = (pg->nblocks + 63) / 64;
        for (size_t w = 0; w < words; w++) marked += (size_t)__builtin_popcountll(pg->marks[w]);
        if (marked == 0) {
            pg->kind = KTL_PG_FREE;
            ktl_free_pages++;
            continue;
        }
        live += marked * pg->bsize;
        char *base = ktl_heap + (i << KTL_PAGE_SHIFT);
        ktl_free **list = &ktl_fl[pg->mem][pg->cls];
        for (size_t b = pg->nblocks; b-- > 0;) {
            if (pg->marks[b >> 6] & ((uint64_t)1 << (b & 63))) continue;
            ktl_free *f = (ktl_free *)(base + b * pg->bsize);
            if (pg->mem == KTL_SCAN) memset(f, 0, pg->bsize);
            f->next = *list;
            *list = f;
        }
    }
    return live;
}

/* The collection proper, called from ktl_gc_collect with the callee-saved
   registers already stored in the caller's frame, which lies between this
   frame and the stack base. */
static KTL_COLD __attribute__((noinline)) void ktl_gc_collect_spilled(void) {
    volatile char here = 0;
    uintptr_t heap_bytes = (uintptr_t)ktl_heap_pages << KTL_PAGE_SHIFT;
    ktl_gc_count++;
    ktl_gc_clear_marks();
    if (ktl_stack_base) ktl_gc_scan((const void *)&here, ktl_stack_base, heap_bytes);
    ktl_gc_drain(heap_bytes);
    for (int r = 0; r < ktl_nroots; r++) {
        ktl_gc_scan(ktl_roots[r].p, (const char *)ktl_roots[r].p + ktl_roots[r].n, heap_bytes);
        ktl_gc_drain(heap_bytes);
    }
    size_t live = ktl_gc_sweep();
    ktl_free_hint = 0;
    ktl_gc_live = live;
    ktl_gc_grown = 0;
    ktl_gc_limit = ktl_gc_min_set ? ktl_gc_min_env : (live > KTL_GC_MIN ? live : KTL_GC_MIN);
}

/* One full collection. A heap pointer may live only in a callee-saved
   register of some caller. setjmp can't be trusted to expose those: glibc
   mangles the saved frame pointer. So every callee-saved register is stored
   in this frame explicitly (and __builtin_unwind_init makes the compiler
   save them all in the prologue as well) before the scan, which starts below
   this frame. */
static KTL_COLD __attribute__((noinline)) void ktl_gc_collect(void) {
    if (!ktl_heap) return;
    __builtin_unwind_init();
    void *volatile regs[8] = {0};
#if defined(__x86_64__)
    __asm__ volatile(
        "movq %%rbx, 0(%0)\n\t"
        "movq %%rbp, 8(%0)\n\t"
        "movq %%r12, 16(%0)\n\t"
        "movq %%r13, 24(%0)\n\t"
        "movq %%r14, 32(%0)\n\t"
        "movq %%r15, 40(%0)\n\t"
#ifdef _WIN32
        /* Callee-saved in the Windows calling convention too. */
        "movq %%rsi, 48(%0)\n\t"
        "movq %%rdi, 56(%0)\n\t"
#endif
        :
        : "r"(regs)
        : "memory");
#else
    jmp_buf jb;
    ktl_setjmp(jb);
    regs[0] = (void *)&jb;
#endif
    ktl_gc_collect_spilled();
    /* Keeps the call above from becoming a tail call, which would pop this
       frame and its saved registers before the scan. */
    __asm__ volatile("" : : "r"(regs) : "memory");
}

/* Reserves the heap's address range. The full 64 GiB is reserved without
   committing memory; where the system refuses that much (a `ulimit -v`,
   strict overcommit), a range reserved without access is used instead and
   made usable as pages are handed out, halving the size until a reservation
   succeeds. Half of such a fallback range is given back, so that the C heap
   (page descriptors, buffers) keeps room of its own. */
static void ktl_gc_init(void) {
    for (int c = 0; c < KTL_NCLS; c++) ktl_cls_size[c] = ktl_class_block_size(c);
    size_t size = KTL_HEAP_MAX;
    char *heap = NULL;
#ifdef _WIN32
    heap = (char *)VirtualAlloc(NULL, size, 0x2000, 0x01);
    if (!heap) {
        for (size /= 2; size >= 16 * KTL_PAGE; size /= 2) {
            void *p = VirtualAlloc(NULL, size, 0x2000, 0x01);
            if (!p) continue;
            VirtualFree(p, 0, 0x8000);
            size /= 2;
            heap = (char *)VirtualAlloc(NULL, size, 0x2000, 0x01);
            break;
        }
    }
    ktl_heap_commit = 0;
#else
    void *p = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    if (p != MAP_FAILED) {
        heap = (char *)p;
        ktl_heap_commit = SIZE_MAX;
    } else {
        for (size /= 2; size >= 16 * KTL_PAGE; size /= 2) {
            p = mmap(NULL, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
            if (p == MAP_FAILED) continue;
            size /= 2;
            munmap((char *)p + size, size);
            heap = (char *)p;
            ktl_heap_commit = 0;
            break;
        }
    }
#endif
    if (heap) {
        ktl_heap_max_pages = size >> KTL_PAGE_SHIFT;
        ktl_pages = (ktl_page **)calloc(ktl_heap_max_pages, sizeof(ktl_page *));
    }
    if (!heap || !ktl_pages) ktl_panic("out of memory (can't reserve the heap)");
    ktl_heap = heap;
    const char *min = getenv("KESTAL_GC_MIN");
    if (min) {
        ktl_gc_min_set = true;
        ktl_gc_min_env = (size_t)strtoull(min, NULL, 10);
        ktl_gc_limit = ktl_gc_min_env;
    }
}


/* ---- Number text and the printing of scalars and string reprs ----
 *
 * Integers and floats become exactly the text Python's str() and repr() give
 * them: floats in the shortest form that reads back as the same double
 * (found by formatting at increasing precision and reading back with
 * strtod), "nan" and "inf" without a sign for NaN. The print functions append
 * to the output buffer; a capture turns the same calls into string building.
 */

/* Smallest positive normal double: below it a double carries fewer than 53
   significant bits, so its shortest text may have fewer digits than the
   15-digit rounding shows. */
#define KTL_DBL_MIN_NORMAL 2.2250738585072014e-308

/* The decimal text of v into out (at most 20 bytes); returns the length. The
   magnitude is taken as unsigned, so INT64_MIN works. */
static int ktl_i2a(int64_t v, char *out) {
    char tmp[20];
    uint64_t u = v < 0 ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
    int n = 0;
    do {
        tmp[n++] = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    int k = 0;
    if (v < 0)
        out[k++] = '-';
    while (n)
        out[k++] = tmp[--n];
    return k;
}

/* A decimal significand: the sign, the digits without the point, and the
   decimal exponent of the first digit. */
typedef struct {
    bool neg;
    int nd;
    int x;
    char dig[24];
} ktl_dec;

/* Reads a "%.*e" text into d. */
static void ktl_dec_read(const char *t, ktl_dec *d) {
    d->neg = *t == '-';
    if (d->neg)
        t++;
    d->nd = 0;
    for (; *t && *t != 'e'; t++)
        if (*t != '.')
            d->dig[d->nd++] = *t;
    d->x = atoi(t + 1);
}

/* The double nearest to d (strtod rounds correctly). */
static double ktl_dec_value(const ktl_dec *d) {
    char t[48];
    int k = 0;
    if (d->neg)
        t[k++] = '-';
    t[k++] = d->dig[0];
    t[k++] = '.';
    memcpy(t + k, d->dig + 1, (size_t)(d->nd - 1));
    k += d->nd - 1;
    snprintf(t + k, sizeof t - (size_t)k, "e%d", d->x);
    return strtod(t, NULL);
}

/* Adds one unit in the last digit (9.99 becomes 1.00 with the exponent one
   up). */
static void ktl_dec_bump(ktl_dec *d) {
    int i = d->nd - 1;
    while (i >= 0 && d->dig[i] == '9')
        d->dig[i--] = '0';
    if (i >= 0) {
        d->dig[i]++;
    } else {
        d->dig[0] = '1';
        d->x++;
    }
}

/* Writes d in Python's repr layout: trailing zeros dropped, fixed notation
   for decimal exponents -4 to 15, scientific otherwise. */
static int ktl_dec_layout(ktl_dec *d, char *out) {
    int k = 0, nd = d->nd, x = d->x;
    const char *dig = d->dig;
    if (d->neg)
        out[k++] = '-';
    while (nd > 1 && dig[nd - 1] == '0')
        nd--;
    if (x >= -4 && x <= 15) {
        if (x >= 0) {
            for (int i = 0; i <= x; i++)
                out[k++] = i < nd ? dig[i] : '0';
            out[k++] = '.';
            if (nd > x + 1)
                for (int i = x + 1; i < nd; i++)
                    out[k++] = dig[i];
            else
                out[k++] = '0';
        } else {
            out[k++] = '0';
            out[k++] = '.';
            for (int i = 0; i < -x - 1; i++)
                out[k++] = '0';
            for (int i = 0; i < nd; i++)
                out[k++] = dig[i];
        }
        return k;
    }
    out[k++] = dig[0];
    if (nd > 1) {
        out[k++] = '.';
        for (int i = 1; i < nd; i++)
            out[k++] = dig[i];
    }
    out[k++] = 'e';
    out[k++] = x < 0 ? '-' : '+';
    int ax = x < 0 ? -x : x;
    if (ax >= 100)
        out[k++] = (char)('0' + ax / 100);
    out[k++] = (char)('0' + ax / 10 % 10);
    out[k++] = (char)('0' + ax % 10);
    return k;
}

/* Python's repr() of a float into out (40 bytes suffice); returns the
   length: the shortest decimal that reads back as v, the nearest to v among
   equally short ones. */
static int ktl_f2a(double v, char *out) {
    if (v != v) {
        memcpy(out, "nan", 3);
        return 3;
    }
    if (isinf(v)) {
        if (v < 0) {
            memcpy(out, "-inf", 4);
            return 4;
        }
        memcpy(out, "inf", 3);
        return 3;
    }
    /* The magnitude test comes first, so the conversion is always defined. */
    if (fabs(v) < 1e16 && v == (double)(int64_t)v && !(v == 0 && signbit(v))) {
        int n = ktl_i2a((int64_t)v, out);
        out[n++] = '.';
        out[n++] = '0';
        return n;
    }
    /* For a normal double, any round-tripping text of at most 15 digits is
       the 15-digit rounding with its zeros dropped, so the search starts
       there; subnormals hold fewer bits and start at one digit. The nearest
       text of a given length can miss where the next one up still reads
       back: at a power of two the gap to the double above is twice the gap
       below, so that neighbour is tried too. 17 digits always read back. */
    char buf[40];
    ktl_dec d;
    for (int prec = fabs(v) < KTL_DBL_MIN_NORMAL ? 0 : 14; prec < 16; prec++) {
        snprintf(buf, sizeof buf, "%.*e", prec, v);
        ktl_dec_read(buf, &d);
        double r = ktl_dec_value(&d);
        if (r == v)
            return ktl_dec_layout(&d, out);
        if (fabs(r) < fabs(v)) {
            ktl_dec_bump(&d);
            if (ktl_dec_value(&d) == v)
                return ktl_dec_layout(&d, out);
        }
    }
    snprintf(buf, sizeof buf, "%.16e", v);
    ktl_dec_read(buf, &d);
    return ktl_dec_layout(&d, out);
}

static ktl_str ktl_int_str(int64_t v) {
    char buf[24];
    int n = ktl_i2a(v, buf);
    return ktl_str_copy(buf, n);
}

static ktl_str ktl_float_str(double v) {
    char buf[40];
    int n = ktl_f2a(v, buf);
    return ktl_str_copy(buf, n);
}

static inline ktl_str ktl_bool_str(bool v) {
    return v ? KTL_LIT("True") : KTL_LIT("False");
}

static void ktl_print_i(int64_t v) {
    char buf[24];
    ktl_write(buf, (size_t)ktl_i2a(v, buf));
}

static void ktl_print_f(double v) {
    char buf[40];
    ktl_write(buf, (size_t)ktl_f2a(v, buf));
}

static inline void ktl_print_b(bool v) {
    if (v)
        ktl_write("True", 4);
    else
        ktl_write("False", 5);
}

static inline void ktl_print_s(ktl_str s) {
    if (s.len > 0)
        ktl_write(s.p, (size_t)s.len);
}

static inline void ktl_print_none(uint8_t v) {
    (void)v;
    ktl_write("None", 4);
}

/* Python's repr() of a string: apostrophes unless the text holds an
   apostrophe and no double quote; backslash escapes for the quote, the
   backslash, \n \t \r, and \xNN for the other control bytes and 127. Bytes
   from 128 up (UTF-8 sequences) pass unchanged. */
static void ktl_print_repr_s(ktl_str s) {
    char q = '\'';
    if (s.len > 0 && memchr(s.p, '\'', (size_t)s.len) && !memchr(s.p, '"', (size_t)s.len))
        q = '"';
    ktl_putc(q);
    int64_t run = 0;
    for (int64_t i = 0; i < s.len; i++) {
        unsigned char c = (unsigned char)s.p[i];
        if (c >= 32 && c != 127 && c != '\\' && c != (unsigned char)q)
            continue;
        if (i > run)
            ktl_write(s.p + run, (size_t)(i - run));
        run = i + 1;
        char esc[4] = {'\\', (char)c, 0, 0};
        int n = 2;
        if (c == '\n')
            esc[1] = 'n';
        else if (c == '\t')
            esc[1] = 't';
        else if (c == '\r')
            esc[1] = 'r';
        else if (c < 32 || c == 127) {
            static const char hex[] = "0123456789abcdef";
            esc[1] = 'x';
            esc[2] = hex[c >> 4];
            esc[3] = hex[c & 15];
            n = 4;
        }
        ktl_write(esc, (size_t)n);
    }
    if (s.len > run)
        ktl_write(s.p + run, (size_t)(s.len - run));
    ktl_putc(q);
}

/* ---- String builder, number formats, digit grouping, capture spill ----
 *
 * f-strings, str() of containers and joins build their text in a ktl_sb on
 * the C stack: the first 200 bytes go to its inline buffer, longer texts to a
 * C-heap buffer that doubles; ktl_sb_done copies the finished text once into
 * the collected heap. A builder must not be copied by value (its pointer may
 * point at its own inline buffer). Formatted numbers are never cut: a text
 * longer than the stack buffer is formatted again straight into the builder.
 */

struct ktl_sb {
    char *p;
    int64_t len;
    int64_t cap;
    char inl[200];
};

static inline void ktl_sb_init(ktl_sb *b) {
    b->p = b->inl;
    b->len = 0;
    b->cap = (int64_t)sizeof b->inl;
}

/* Makes room for `extra` more bytes: the capacity doubles until it holds
   them. A size that cannot be represented ends the program as out of
   memory, like a failed allocation. */
static KTL_COLD void ktl_sb_grow(ktl_sb *b, int64_t extra) {
    if (extra < 0 || extra > INT64_MAX - b->len)
        ktl_panic("out of memory");
    int64_t need = b->len + extra, cap = b->cap;
    while (cap < need)
        cap = cap > INT64_MAX / 2 ? need : cap * 2;
    char *np = (char *)ktl_xmalloc((size_t)cap);
    if (b->len)
        memcpy(np, b->p, (size_t)b->len);
    if (b->p != b->inl)
        free(b->p);
    b->p = np;
    b->cap = cap;
}

static inline void ktl_sb_reserve(ktl_sb *b, int64_t extra) {
    if (KTL_UNLIKELY(extra > b->cap - b->len))
        ktl_sb_grow(b, extra);
}

static inline void ktl_sb_add(ktl_sb *b, ktl_str s) {
    if (s.len <= 0)
        return;
    ktl_sb_reserve(b, s.len);
    memcpy(b->p + b->len, s.p, (size_t)s.len);
    b->len += s.len;
}

static inline void ktl_sb_putc(ktl_sb *b, char c) {
    ktl_sb_reserve(b, 1);
    b->p[b->len++] = c;
}

/* Appends n copies of byte c. */
static void ktl_sb_fill(ktl_sb *b, char c, int64_t n) {
    if (n <= 0)
        return;
    ktl_sb_reserve(b, n);
    memset(b->p + b->len, c, (size_t)n);
    b->len += n;
}

static void ktl_sb_int(ktl_sb *b, int64_t v) {
    char buf[24];
    ktl_sb_add(b, ktl_mkstr(buf, ktl_i2a(v, buf)));
}

static void ktl_sb_float(ktl_sb *b, double v) {
    char buf[40];
    ktl_sb_add(b, ktl_mkstr(buf, ktl_f2a(v, buf)));
}

/* Frees the heap buffer of a builder that is abandoned rather than done. */
static inline void ktl_sb_free(ktl_sb *b) {
    if (b->p != b->inl)
        free(b->p);
    ktl_sb_init(b);
}

/* The finished text, copied into the collected heap (an empty text needs
   no copy); the builder's heap buffer is freed and the builder must not be
   used again. */
static ktl_str ktl_sb_done(ktl_sb *b) {
    ktl_str r = b->len ? ktl_str_copy(b->p, b->len) : KTL_LIT("");
    if (b->p != b->inl)
        free(b->p);
    b->p = b->inl;
    b->len = 0;
    return r;
}

/* printf formats of f-string fields: the text goes through a stack buffer
   of `bufsize` bytes, and when snprintf reports a longer text (a wide
   field) it is formatted again directly into the builder at its full size.
   A format error (negative result) appends nothing. */
#define KTL_SB_FMT(b, bufsize, fmt, v)                                                             \
    do {                                                                                           \
        char ktl_fbuf_[bufsize];                                                                   \
        int ktl_fn_ = snprintf(ktl_fbuf_, sizeof ktl_fbuf_, fmt, v);                               \
        if (ktl_fn_ < 0)                                                                           \
            break;                                                                                 \
        if ((size_t)ktl_fn_ < sizeof ktl_fbuf_) {                                                  \
            ktl_sb_add(b, ktl_mkstr(ktl_fbuf_, ktl_fn_));                                          \
            break;                                                                                 \
        }                                                                                          \
        ktl_sb_reserve(b, (int64_t)ktl_fn_ + 1);                                                   \
        snprintf((b)->p + (b)->len, (size_t)ktl_fn_ + 1, fmt, v);                                  \
        (b)->len += ktl_fn_;                                                                       \
    } while (0)

static void ktl_sb_fmt_i(ktl_sb *b, const char *fmt, int64_t v) {
    KTL_SB_FMT(b, 160, fmt, (long long)v);
}

/* A NaN prints without its sign, as Python never shows "-nan" (the NaN an
   invalid operation produces on x86 has its sign bit set). */
static void ktl_sb_fmt_f(ktl_sb *b, const char *fmt, double v) {
    if (v != v)
        v = fabs(v);
    KTL_SB_FMT(b, 400, fmt, v);
}

/* s padded with blanks to `width` bytes: blanks after s when `left`, before
   it otherwise; nothing when s is already that long. */
static void ktl_sb_pad(ktl_sb *b, ktl_str s, int64_t width, bool left) {
    if (width <= s.len) {
        ktl_sb_add(b, s);
        return;
    }
    int64_t pad = width - s.len;
    ktl_sb_reserve(b, width);
    if (!left)
        ktl_sb_fill(b, ' ', pad);
    ktl_sb_add(b, s);
    if (left)
        ktl_sb_fill(b, ' ', pad);
}

#ifdef KTL_GROUPING
/* Inserts sep into the run of digits that follows an optional sign, after
   every digit that has a positive multiple of three digits still to come in
   the run; the rest (point, fraction, exponent, or "inf"/"nan") is copied
   unchanged. The result is padded to width. The work area is sized from the
   text, so nothing is ever cut. */
static void ktl_sb_group(ktl_sb *b, ktl_str t, char sep, int64_t width, bool left) {
    ktl_sb g;
    ktl_sb_init(&g);
    ktl_sb_reserve(&g, t.len + t.len / 3 + 1);
    int64_t i = 0;
    if (i < t.len && (t.p[i] == '-' || t.p[i] == '+'))
        g.p[g.len++] = t.p[i++];
    int64_t run = 0;
    while (i + run < t.len && t.p[i + run] >= '0' && t.p[i + run] <= '9')
        run++;
    for (int64_t k = 0; k < run; k++) {
        g.p[g.len++] = t.p[i + k];
        int64_t rest = run - 1 - k;
        if (rest > 0 && rest % 3 == 0)
            g.p[g.len++] = sep;
    }
    i += run;
    memcpy(g.p + g.len, t.p + i, (size_t)(t.len - i));
    g.len += t.len - i;
    ktl_sb_pad(b, ktl_mkstr(g.p, g.len), width, left);
    ktl_sb_free(&g);
}

static void ktl_sb_group_i(ktl_sb *b, const char *fmt, int64_t v, char sep, int64_t width,
                           bool left) {
    ktl_sb t;
    ktl_sb_init(&t);
    ktl_sb_fmt_i(&t, fmt, v);
    ktl_sb_group(b, ktl_mkstr(t.p, t.len), sep, width, left);
    ktl_sb_free(&t);
}

static void ktl_sb_group_f(ktl_sb *b, const char *fmt, double v, char sep, int64_t width,
                           bool left) {
    ktl_sb t;
    ktl_sb_init(&t);
    ktl_sb_fmt_f(&t, fmt, v);
    ktl_sb_group(b, ktl_mkstr(t.p, t.len), sep, width, left);
    ktl_sb_free(&t);
}
#endif

/* Bytes that leave the output buffer while a capture is active go to the
   capture's builder. */
static void ktl_cap_spill(const char *p, size_t n) {
    ktl_sb_add(ktl_cap, ktl_mkstr(p, (int64_t)n));
}

/* repr() of a string as a new string: the printing function under a
   capture. */
static ktl_str ktl_repr_str(ktl_str s) {
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_capstate cs = ktl_cap_begin(&b);
    ktl_print_repr_s(s);
    ktl_cap_end(cs);
    return ktl_sb_done(&b);
}

/* How an instance of a class without __str__ and __repr__ prints. */
static void ktl_print_obj_default(const char *cls, const void *o) {
    char buf[64];
    ktl_write("<__main__.", 10);
    ktl_write(cls, strlen(cls));
    int n = snprintf(buf, sizeof buf, " object at 0x%016llX>", (unsigned long long)(uintptr_t)o);
    ktl_write(buf, (size_t)n);
}

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

/* One entered `try`; lives on the C stack of the function holding it. */
typedef struct ktl_handler {
    jmp_buf jb;
    struct ktl_handler *prev;
    ktl_sb *cap;
} ktl_handler;

static KTL_TLS ktl_handler *ktl_htop;
static KTL_TLS void *ktl_cur_exc;
/* Where the current exception was raised: the source line (0 when the
   runtime raised it) and the function's name. */
static KTL_TLS int64_t ktl_exc_line;
static KTL_TLS const char *ktl_exc_fn;

static inline void ktl_try_enter(ktl_handler *h) {
    h->prev = ktl_htop;
    h->cap = ktl_cap;
    ktl_htop = h;
}

/* Pops h after a jump to it and returns the exception. A capture that began
   inside the `try` was abandoned by the jump: its buffered bytes are dropped
   and the capture active at the `try` becomes current again. */
static void *ktl_try_land(ktl_handler *h) {
    ktl_htop = h->prev;
    if (ktl_cap != h->cap) {
        ktl_olen = ktl_cap_from;
        ktl_cap = h->cap;
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
static void ktl_print_exc_repr(void *o) {
    ktl_exc *e = (ktl_exc *)o;
    const char *name = ktl_class_name(e->cls);
    ktl_write(name, strlen(name));
    ktl_putc('(');
    ktl_write(e->args.p, (size_t)e->args.len);
    ktl_putc(')');
}

/* Writes line `line` of the source file, without its leading blanks, as the
   traceback's source excerpt. Like CPython, the file is read now; a file that
   can't be read prints nothing. */
static KTL_COLD void ktl_print_src_line(const char *path, int64_t line) {
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

/* An optional sign, then at least one digit and nothing else. */
static bool ktl_exit_code_text(ktl_str t, int *code) {
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

/* Ends the process for an exception no handler caught. Re-entered only when
   a user __str__ or the writing of the files' buffers raises in here; that
   second report uses the stored text and skips the flushing, so the process
   still ends. */
static KTL_COLD KTL_NORETURN void ktl_uncaught(void *e) {
    static volatile int entered;
    ktl_cap_abandon();
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


/* ---- Byte scanning: the vector layer and the scans built on it ----
 *
 * Each scan is written once over a handful of vector macros (32-byte AVX2
 * or 16-byte SSE2, chosen by the header from the compiler's target) and ends
 * with a scalar loop for the bytes that remain. Without a vector level
 * KTL_VW is undefined and only the scalar loops are compiled; they give
 * exactly the same results.
 */

/* A vector of KTL_VW bytes; comparisons give 0 or all ones per byte, and
   ktl_vmask gathers the top bit of every byte. Loads and stores are
   unaligned, so a scan may start at any byte. */
#if defined(KTL_AVX2)
typedef __m256i ktl_vec;
#define KTL_VW 32
#define KTL_VALL 0xFFFFFFFFu
#define ktl_vload(p) _mm256_loadu_si256((const __m256i *)(const void *)(p))
#define ktl_vstore(p, v) _mm256_storeu_si256((__m256i *)(void *)(p), (v))
#define ktl_vsplat(c) _mm256_set1_epi8((char)(c))
#define ktl_veq(a, b) _mm256_cmpeq_epi8((a), (b))
#define ktl_vand(a, b) _mm256_and_si256((a), (b))
#define ktl_vor(a, b) _mm256_or_si256((a), (b))
#define ktl_vxor(a, b) _mm256_xor_si256((a), (b))
#define ktl_vsub(a, b) _mm256_sub_epi8((a), (b))
#define ktl_vminu(a, b) _mm256_min_epu8((a), (b))
#define ktl_vmask(v) ((uint32_t)_mm256_movemask_epi8(v))
#elif defined(KTL_SSE2)
typedef __m128i ktl_vec;
#define KTL_VW 16
#define KTL_VALL 0xFFFFu
#define ktl_vload(p) _mm_loadu_si128((const __m128i *)(const void *)(p))
#define ktl_vstore(p, v) _mm_storeu_si128((__m128i *)(void *)(p), (v))
#define ktl_vsplat(c) _mm_set1_epi8((char)(c))
#define ktl_veq(a, b) _mm_cmpeq_epi8((a), (b))
#define ktl_vand(a, b) _mm_and_si128((a), (b))
#define ktl_vor(a, b) _mm_or_si128((a), (b))
#define ktl_vxor(a, b) _mm_xor_si128((a), (b))
#define ktl_vsub(a, b) _mm_sub_epi8((a), (b))
#define ktl_vminu(a, b) _mm_min_epu8((a), (b))
#define ktl_vmask(v) ((uint32_t)_mm_movemask_epi8(v))
#endif

#ifdef KTL_VW
/* Bytes of v in [lo, lo + span]: after subtracting lo, a byte is in range
   exactly when it is its own unsigned minimum with span. */
static inline ktl_vec ktl_vin(ktl_vec v, int lo, int span) {
    ktl_vec d = ktl_vsub(v, ktl_vsplat(lo));
    return ktl_veq(ktl_vminu(d, ktl_vsplat(span)), d);
}
#endif

/* Character classes (ASCII only); ktl_all_class takes a union of them. */
enum { KTL_DIGIT = 1, KTL_ALPHA = 2, KTL_SPACE = 4 };

/* Python's str.isspace() for ASCII: blank, 9 to 13 and 28 to 31. */
static inline bool ktl_isspace_c(char ch) {
    unsigned char c = (unsigned char)ch;
    return c == ' ' || (c >= 9 && c <= 13) || (c >= 28 && c <= 31);
}

static inline bool ktl_isdigit_c(char c) {
    return c >= '0' && c <= '9';
}

static inline bool ktl_isalpha_c(char c) {
    return (unsigned char)((c | 0x20) - 'a') <= 25;
}

static inline bool ktl_in_class(char c, int cls) {
    return ((cls & KTL_DIGIT) && ktl_isdigit_c(c)) || ((cls & KTL_ALPHA) && ktl_isalpha_c(c)) ||
           ((cls & KTL_SPACE) && ktl_isspace_c(c));
}

#ifdef KTL_VW
static inline ktl_vec ktl_vspace(ktl_vec v) {
    return ktl_vor(ktl_vor(ktl_veq(v, ktl_vsplat(' ')), ktl_vin(v, 9, 4)), ktl_vin(v, 28, 3));
}

static inline ktl_vec ktl_vclass(ktl_vec v, int cls) {
    ktl_vec m = ktl_vxor(v, v);
    if (cls & KTL_DIGIT)
        m = ktl_vor(m, ktl_vin(v, '0', 9));
    if (cls & KTL_ALPHA)
        m = ktl_vor(m, ktl_vin(ktl_vor(v, ktl_vsplat(0x20)), 'a', 25));
    if (cls & KTL_SPACE)
        m = ktl_vor(m, ktl_vspace(v));
    return m;
}
#endif

/* First index of byte c in p[0..n), or -1. */
static int64_t ktl_find_byte(const char *p, int64_t n, char c) {
    int64_t i = 0;
#ifdef KTL_VW
    ktl_vec vc = ktl_vsplat(c);
    for (; i + 2 * KTL_VW <= n; i += 2 * KTL_VW) {
        uint32_t m0 = ktl_vmask(ktl_veq(ktl_vload(p + i), vc));
        uint32_t m1 = ktl_vmask(ktl_veq(ktl_vload(p + i + KTL_VW), vc));
        if (m0)
            return i + __builtin_ctz(m0);
        if (m1)
            return i + KTL_VW + __builtin_ctz(m1);
    }
    for (; i + KTL_VW <= n; i += KTL_VW) {
        uint32_t m = ktl_vmask(ktl_veq(ktl_vload(p + i), vc));
        if (m)
            return i + __builtin_ctz(m);
    }
#endif
    for (; i < n; i++)
        if (p[i] == c)
            return i;
    return -1;
}

/* First index of the needle n[0..nl) in h[0..hl), or -1 (nl >= 1). The
   vector loop tests the needle's first, middle and last bytes at every
   candidate position at once and confirms candidates with memcmp. */
static int64_t ktl_find_raw(const char *h, int64_t hl, const char *n, int64_t nl) {
    if (nl > hl)
        return -1;
    if (nl <= 0)
        return 0;
    if (nl == 1)
        return ktl_find_byte(h, hl, n[0]);
    int64_t last = hl - nl, i = 0;
#ifdef KTL_VW
    int64_t mid = nl / 2;
    ktl_vec vf = ktl_vsplat(n[0]), vm = ktl_vsplat(n[mid]), vl = ktl_vsplat(n[nl - 1]);
#define KTL_CANDS(at)                                                                              \
    ktl_vmask(ktl_vand(                                                                            \
        ktl_vand(ktl_veq(ktl_vload(h + (at)), vf), ktl_veq(ktl_vload(h + (at) + mid), vm)),        \
        ktl_veq(ktl_vload(h + (at) + nl - 1), vl)))
    for (; i + 2 * KTL_VW <= last + 1; i += 2 * KTL_VW) {
        uint32_t m0 = KTL_CANDS(i), m1 = KTL_CANDS(i + KTL_VW);
        if (!(m0 | m1))
            continue;
        for (; m0; m0 &= m0 - 1) {
            int64_t at = i + __builtin_ctz(m0);
            if (memcmp(h + at + 1, n + 1, (size_t)(nl - 2)) == 0)
                return at;
        }
        for (; m1; m1 &= m1 - 1) {
            int64_t at = i + KTL_VW + __builtin_ctz(m1);
            if (memcmp(h + at + 1, n + 1, (size_t)(nl - 2)) == 0)
                return at;
        }
    }
    for (; i + KTL_VW <= last + 1; i += KTL_VW) {
        for (uint32_t m = KTL_CANDS(i); m; m &= m - 1) {
            int64_t at = i + __builtin_ctz(m);
            if (memcmp(h + at + 1, n + 1, (size_t)(nl - 2)) == 0)
                return at;
        }
    }
#undef KTL_CANDS
#endif
    char first = n[0], lastc = n[nl - 1];
    for (; i <= last; i++)
        if (h[i] == first && h[i + nl - 1] == lastc &&
            memcmp(h + i + 1, n + 1, (size_t)(nl - 2)) == 0)
            return i;
    return -1;
}

/* Occurrences of byte c in p[0..n). */
static int64_t ktl_count_byte(const char *p, int64_t n, char c) {
    int64_t i = 0, k = 0;
#ifdef KTL_VW
    ktl_vec vc = ktl_vsplat(c);
    for (; i + KTL_VW <= n; i += KTL_VW)
        k += __builtin_popcount(ktl_vmask(ktl_veq(ktl_vload(p + i), vc)));
#endif
    for (; i < n; i++)
        k += p[i] == c;
    return k;
}

/* Copies n bytes, flipping bit 0x20 of the bytes in [lo, lo + 25]: lo 'a'
   gives upper case, 'A' lower case. */
static void ktl_case_copy(char *dst, const char *src, int64_t n, char lo) {
    int64_t i = 0;
#ifdef KTL_VW
    ktl_vec flip = ktl_vsplat(0x20);
    for (; i + KTL_VW <= n; i += KTL_VW) {
        ktl_vec v = ktl_vload(src + i);
        ktl_vstore(dst + i, ktl_vxor(v, ktl_vand(ktl_vin(v, lo, 25), flip)));
    }
#endif
    for (; i < n; i++) {
        char c = src[i];
        dst[i] = (unsigned char)(c - lo) <= 25 ? (char)(c ^ 0x20) : c;
    }
}

/* Every byte belongs to one of the classes in cls; false for n = 0. */
static bool ktl_all_class(const char *p, int64_t n, int cls) {
    if (n <= 0)
        return false;
    int64_t i = 0;
#ifdef KTL_VW
    for (; i + KTL_VW <= n; i += KTL_VW)
        if (ktl_vmask(ktl_vclass(ktl_vload(p + i), cls)) != KTL_VALL)
            return false;
#endif
    for (; i < n; i++)
        if (!ktl_in_class(p[i], cls))
            return false;
    return true;
}

/* Bytes that start a character (are not UTF-8 continuation bytes
   10xxxxxx). */
static int64_t ktl_count_char_starts(const char *p, int64_t n) {
    int64_t i = 0, cont = 0;
#ifdef KTL_VW
    for (; i + KTL_VW <= n; i += KTL_VW)
        cont += __builtin_popcount(ktl_vmask(ktl_vin(ktl_vload(p + i), 0x80, 0x3F)));
#endif
    for (; i < n; i++)
        cont += ((unsigned char)p[i] & 0xC0) == 0x80;
    return n - cont;
}

/* Searches in number arrays for the int and float lists. Float equality is
   C's: NaN never matches, -0.0 matches 0.0 (the ordered, quiet compare).
   The masks have one bit per 64-bit lane, so a bit index is a lane index.
   SSE2 has no 64-bit integer compare: two 32-bit compares are joined with
   their swapped halves, so a lane matches only when both halves do. */
#if defined(KTL_AVX2)
#define KTL_I64W 4
#define KTL_I64MASK(p, x)                                                                          \
    ((uint32_t)_mm256_movemask_pd(_mm256_castsi256_pd(                                             \
        _mm256_cmpeq_epi64(_mm256_loadu_si256((const __m256i *)(const void *)(p)), (x)))))
#define KTL_I64SPLAT(v) _mm256_set1_epi64x((long long)(v))
#define KTL_F64MASK(p, x)                                                                          \
    ((uint32_t)_mm256_movemask_pd(_mm256_cmp_pd(_mm256_loadu_pd(p), (x), _CMP_EQ_OQ)))
#define KTL_F64SPLAT(v) _mm256_set1_pd(v)
#elif defined(KTL_SSE2)
#define KTL_I64W 2
static inline uint32_t ktl_i64mask_sse2(const int64_t *p, __m128i x) {
    __m128i e = _mm_cmpeq_epi32(_mm_loadu_si128((const __m128i *)(const void *)p), x);
    e = _mm_and_si128(e, _mm_shuffle_epi32(e, 0xB1));
    return (uint32_t)_mm_movemask_pd(_mm_castsi128_pd(e));
}
#define KTL_I64MASK(p, x) ktl_i64mask_sse2((p), (x))
#define KTL_I64SPLAT(v) _mm_set1_epi64x((long long)(v))
#define KTL_F64MASK(p, x) ((uint32_t)_mm_movemask_pd(_mm_cmpeq_pd(_mm_loadu_pd(p), (x))))
#define KTL_F64SPLAT(v) _mm_set1_pd(v)
#endif

static int64_t ktl_find_i64(const int64_t *a, int64_t n, int64_t v) {
    int64_t i = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W) {
        uint32_t m = KTL_I64MASK(a + i, KTL_I64SPLAT(v));
        if (m)
            return i + __builtin_ctz(m);
    }
#endif
    for (; i < n; i++)
        if (a[i] == v)
            return i;
    return -1;
}

static int64_t ktl_count_i64(const int64_t *a, int64_t n, int64_t v) {
    int64_t i = 0, k = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W)
        k += __builtin_popcount(KTL_I64MASK(a + i, KTL_I64SPLAT(v)));
#endif
    for (; i < n; i++)
        k += a[i] == v;
    return k;
}

static int64_t ktl_find_f64(const double *a, int64_t n, double v) {
    int64_t i = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W) {
        uint32_t m = KTL_F64MASK(a + i, KTL_F64SPLAT(v));
        if (m)
            return i + __builtin_ctz(m);
    }
#endif
    for (; i < n; i++)
        if (a[i] == v)
            return i;
    return -1;
}

static int64_t ktl_count_f64(const double *a, int64_t n, double v) {
    int64_t i = 0, k = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W)
        k += __builtin_popcount(KTL_F64MASK(a + i, KTL_F64SPLAT(v)));
#endif
    for (; i < n; i++)
        k += a[i] == v;
    return k;
}

/* ---- Strings: equality, order, concatenation, slicing, search, replace,
 * characters and number parsing ----
 *
 * Strings are immutable byte views; an operation returns a view into its
 * argument whenever the result is a contiguous part of it and allocates
 * (no-scan memory) only when bytes must change. Concatenation appends in
 * place when the left operand ends exactly at the used end of a growable
 * block, so `s += x` in a loop is amortised constant time. Indexes and
 * lengths count bytes.
 */

/* The value generated code passes for an omitted slice bound. */
#define KTL_NOIDX INT64_MIN

/* Index check: i has already been made non-negative by adding the length
   once, so one unsigned compare rejects both ends. */
#ifdef KTL_UNCHECKED
#define KTL_CHECK(what, i, n) ((void)0)
#else
#define KTL_CHECK(what, i, n)                                                                      \
    do {                                                                                           \
        if (KTL_UNLIKELY((uint64_t)(i) >= (uint64_t)(n)))                                          \
            ktl_index_error((what), (i), (n));                                                     \
    } while (0)
#endif

static KTL_COLD KTL_NORETURN void ktl_value_error(const char *msg) {
    ktl_raise_c(KTL_E_ValueError, msg);
}

static inline bool ktl_str_eq(ktl_str a, ktl_str b) {
    return a.len == b.len && (a.p == b.p || a.len == 0 || memcmp(a.p, b.p, (size_t)a.len) == 0);
}

/* Order by the bytes (unsigned) of the common prefix, then shorter first:
   -1, 0 or 1. */
static inline int ktl_str_cmp(ktl_str a, ktl_str b) {
    int64_t n = a.len < b.len ? a.len : b.len;
    int c = n > 0 ? memcmp(a.p, b.p, (size_t)n) : 0;
    if (c)
        return (c > 0) - (c < 0);
    return (a.len > b.len) - (a.len < b.len);
}

/* A growable block keeps the count of its used bytes in its first 8 bytes;
   the text starts after them. */
#define KTL_GROW_HDR 8

/* a + b. When a ends exactly at the used end of a growable block with room
   for b, b is appended in place and a lengthened view is returned: another
   view of that block ends before the new bytes or makes its own copy, so no
   string ever changes. The used count is claimed with a compare-and-swap, so
   threads appending to the same string never share bytes: the loser copies. */
static ktl_str ktl_str_cat(ktl_str a, ktl_str b) {
    if (b.len == 0)
        return a;
    if (a.len == 0)
        return b;
    if (b.len > INT64_MAX - KTL_GROW_HDR - a.len)
        ktl_panic("out of memory");
    size_t bsize = 0;
    ktl_page *pg = NULL;
    char *blk = (char *)ktl_gc_block(a.p, &bsize, &pg);
    bool grown = blk && pg->mem == KTL_GROW;
    if (grown) {
        int64_t used = 0;
        memcpy(&used, blk, sizeof used);
        if (a.p + a.len == blk + KTL_GROW_HDR + used &&
            (uint64_t)(KTL_GROW_HDR + used) + (uint64_t)b.len <= (uint64_t)bsize) {
#ifdef KTL_PARALLEL
            if (__atomic_compare_exchange_n((int64_t *)(void *)blk, &used, used + b.len, false,
                                            __ATOMIC_ACQ_REL, __ATOMIC_RELAXED)) {
                memcpy(blk + KTL_GROW_HDR + used, b.p, (size_t)b.len);
                return (ktl_str){a.p, a.len + b.len};
            }
#else
            used += b.len;
            memcpy(blk, &used, sizeof used);
            memcpy((char *)a.p + a.len, b.p, (size_t)b.len);
            return (ktl_str){a.p, a.len + b.len};
#endif
        }
    }
    int64_t n = a.len + b.len;
    int64_t room = grown && n <= (INT64_MAX - KTL_GROW_HDR) / 2 ? 2 * n : n;
    char *nb = (char *)ktl_gc_alloc((size_t)(KTL_GROW_HDR + room), KTL_GROW);
    memcpy(nb, &n, sizeof n);
    memcpy(nb + KTL_GROW_HDR, a.p, (size_t)a.len);
    memcpy(nb + KTL_GROW_HDR + a.len, b.p, (size_t)b.len);
    return (ktl_str){nb + KTL_GROW_HDR, n};
}

/* s * n: "" for n <= 0 or an empty s, s itself for n = 1. A result whose
   size does not fit raises OverflowError, as Python does. */
static ktl_str ktl_str_rep(ktl_str s, int64_t n) {
    if (n <= 0 || s.len == 0)
        return KTL_LIT("");
    if (n == 1)
        return s;
    if (s.len > INT64_MAX / n)
        ktl_raise_c(KTL_E_OverflowError, "repeated string is too long");
    int64_t total = s.len * n;
    char *p = ktl_alloc_bytes((size_t)total);
    if (s.len == 1) {
        memset(p, s.p[0], (size_t)total);
    } else {
        /* Doubling copies: each memcpy copies what is already there. */
        memcpy(p, s.p, (size_t)s.len);
        int64_t done = s.len;
        while (done < total) {
            int64_t k = done < total - done ? done : total - done;
            memcpy(p + done, p, (size_t)k);
            done += k;
        }
    }
    return (ktl_str){p, total};
}

/* s[i] as a one-byte view; a negative i counts from the end. */
static inline ktl_str ktl_str_at(ktl_str s, int64_t i) {
    if (i < 0)
        i += s.len;
    KTL_CHECK("string", i, s.len);
    return (ktl_str){s.p + i, 1};
}

/* A slice bound for step 1, as Python clamps it: negative counts from the
   end, then limited to [0, len]. */
static inline int64_t ktl_clamp(int64_t i, int64_t len) {
    if (i < 0) {
        i += len;
        if (i < 0)
            i = 0;
    } else if (i > len) {
        i = len;
    }
    return i;
}

static inline ktl_str ktl_str_slice(ktl_str s, int64_t lo, int64_t hi) {
    lo = ktl_clamp(lo, s.len);
    hi = ktl_clamp(hi, s.len);
    return (ktl_str){s.p + lo, hi > lo ? hi - lo : 0};
}

/* Python's slice.indices(): adjusts *lo and *hi (KTL_NOIDX for an omitted
   bound) for a sequence of len items and returns the number of items the
   slice selects. Computed on unsigned values, so no bound or step
   overflows. */
static int64_t ktl_slice_adjust(int64_t len, int64_t *lo, int64_t *hi, int64_t step) {
    if (step == 0)
        ktl_value_error("slice step cannot be zero");
    int64_t lower = step < 0 ? -1 : 0, upper = step < 0 ? len - 1 : len;
    int64_t *b[2] = {lo, hi};
    for (int k = 0; k < 2; k++) {
        int64_t v = *b[k];
        if (v == KTL_NOIDX) {
            v = (k == 0) == (step < 0) ? upper : lower;
        } else if (v < 0) {
            v += len;
            if (v < lower)
                v = lower;
        } else if (v > upper) {
            v = upper;
        }
        *b[k] = v;
    }
    if (step < 0) {
        if (*hi >= *lo)
            return 0;
        return (int64_t)((uint64_t)(*lo - *hi - 1) / ((uint64_t)0 - (uint64_t)step) + 1);
    }
    if (*lo >= *hi)
        return 0;
    return (int64_t)((uint64_t)(*hi - *lo - 1) / (uint64_t)step + 1);
}

/* s[lo:hi:step]: a view for step 1, a new string otherwise. */
static ktl_str ktl_str_slice_step(ktl_str s, int64_t lo, int64_t hi, int64_t step) {
    int64_t n = ktl_slice_adjust(s.len, &lo, &hi, step);
    if (n == 0)
        return KTL_LIT("");
    if (step == 1)
        return (ktl_str){s.p + lo, n};
    char *p = ktl_alloc_bytes((size_t)n);
    for (int64_t k = 0, i = lo; k < n; k++, i += step)
        p[k] = s.p[i];
    return (ktl_str){p, n};
}

/* The number of characters: bytes that are not UTF-8 continuation bytes. */
static inline int64_t ktl_utf8_len(ktl_str s) {
    return ktl_count_char_starts(s.p, s.len);
}

/* ---- Search ---- */

static inline int64_t ktl_str_find(ktl_str h, ktl_str n) {
    if (n.len == 0)
        return 0;
    return ktl_find_raw(h.p, h.len, n.p, n.len);
}

static int64_t ktl_str_rfind(ktl_str h, ktl_str n) {
    if (n.len == 0)
        return h.len;
    if (n.len > h.len)
        return -1;
    for (int64_t i = h.len - n.len; i >= 0; i--)
        if (h.p[i] == n.p[0] && memcmp(h.p + i, n.p, (size_t)n.len) == 0)
            return i;
    return -1;
}

static KTL_COLD KTL_NORETURN void ktl_substr_error(void) {
    ktl_value_error("substring not found");
}

static inline int64_t ktl_str_index(ktl_str h, ktl_str n) {
    int64_t i = ktl_str_find(h, n);
    if (KTL_UNLIKELY(i < 0))
        ktl_substr_error();
    return i;
}

static inline int64_t ktl_str_rindex(ktl_str h, ktl_str n) {
    int64_t i = ktl_str_rfind(h, n);
    if (KTL_UNLIKELY(i < 0))
        ktl_substr_error();
    return i;
}

static inline bool ktl_str_contains(ktl_str h, ktl_str n) {
    return ktl_str_find(h, n) >= 0;
}

/* Non-overlapping occurrences; len + 1 for an empty needle, as Python counts
   the empty string between characters (bytes here). */
static int64_t ktl_str_count(ktl_str h, ktl_str n) {
    if (n.len == 0)
        return h.len + 1;
    if (n.len == 1)
        return ktl_count_byte(h.p, h.len, n.p[0]);
    int64_t k = 0, at = 0;
    for (;;) {
        int64_t i = ktl_find_raw(h.p + at, h.len - at, n.p, n.len);
        if (i < 0)
            return k;
        k++;
        at += i + n.len;
    }
}

/* Every non-overlapping occurrence of old replaced, left to right, in one
   allocation of the exact size. An empty old inserts new before every
   character and at the end, as Python does ("abc" gives "-a-b-c-"); UTF-8
   sequences are never split. */
static ktl_str ktl_str_replace(ktl_str s, ktl_str old, ktl_str nw) {
    if (old.len == 0) {
        if (nw.len == 0)
            return s;
        int64_t slots = ktl_utf8_len(s) + 1;
        if (slots > (INT64_MAX - s.len) / nw.len)
            ktl_raise_c(KTL_E_OverflowError, "replace string is too long");
        int64_t total = s.len + slots * nw.len, k = 0;
        char *p = ktl_alloc_bytes((size_t)total);
        for (int64_t i = 0; i < s.len; i++) {
            if (((unsigned char)s.p[i] & 0xC0) != 0x80) {
                memcpy(p + k, nw.p, (size_t)nw.len);
                k += nw.len;
            }
            p[k++] = s.p[i];
        }
        memcpy(p + k, nw.p, (size_t)nw.len);
        return (ktl_str){p, total};
    }
    int64_t count = ktl_str_count(s, old);
    if (count == 0)
        return s;
    int64_t grow = nw.len - old.len;
    if (grow > 0 && count > (INT64_MAX - s.len) / grow)
        ktl_raise_c(KTL_E_OverflowError, "replace string is too long");
    int64_t total = s.len + count * grow;
    char *p = ktl_alloc_bytes((size_t)total);
    int64_t at = 0, k = 0;
    for (int64_t c = 0; c < count; c++) {
        int64_t i = at + ktl_find_raw(s.p + at, s.len - at, old.p, old.len);
        memcpy(p + k, s.p + at, (size_t)(i - at));
        k += i - at;
        if (nw.len)
            memcpy(p + k, nw.p, (size_t)nw.len);
        k += nw.len;
        at = i + old.len;
    }
    memcpy(p + k, s.p + at, (size_t)(s.len - at));
    return (ktl_str){p, total};
}

/* ---- Characters ---- */

/* ord(): the code point of a one-character string. Bytes are not validated:
   a lead byte without enough bytes after it gives the byte itself. */
static int64_t ktl_ord(ktl_str s) {
    int64_t chars = ktl_utf8_len(s);
    if (chars != 1) {
        if (s.len == 0)
            ktl_raise_c(KTL_E_TypeError,
                        "ord() expected a character, but string of length 0 found");
        ktl_raise_fmt(KTL_E_TypeError,
                      "ord() expected a character, but string of length %lld found",
                      (long long)chars);
    }
    const unsigned char *p = (const unsigned char *)s.p;
    unsigned c = p[0];
    if (c < 0x80 || s.len == 1)
        return c;
    if ((c & 0xE0) == 0xC0)
        return ((c & 0x1F) << 6) | (p[1] & 0x3F);
    if ((c & 0xF0) == 0xE0 && s.len >= 3)
        return ((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F);
    if (s.len >= 4)
        return ((c & 7) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    return c;
}

/* chr(): ASCII is a view into ktl_ascii (no allocation), anything else its
   UTF-8 encoding in a new block. */
static ktl_str ktl_chr(int64_t c) {
    if (c < 0 || c > 0x10FFFF)
        ktl_value_error("chr() arg not in range(0x110000)");
    if (c < 0x80)
        return (ktl_str){ktl_ascii + c, 1};
    char b[4];
    int n;
    if (c < 0x800) {
        b[0] = (char)(0xC0 | (c >> 6));
        b[1] = (char)(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        b[0] = (char)(0xE0 | (c >> 12));
        b[1] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[2] = (char)(0x80 | (c & 0x3F));
        n = 3;
    } else {
        b[0] = (char)(0xF0 | (c >> 18));
        b[1] = (char)(0x80 | ((c >> 12) & 0x3F));
        b[2] = (char)(0x80 | ((c >> 6) & 0x3F));
        b[3] = (char)(0x80 | (c & 0x3F));
        n = 4;
    }
    return ktl_str_copy(b, n);
}

/* ---- int() and float() of a string ---- */

/* ValueError with the repr of the whole argument, cut to 500 bytes. */
static KTL_COLD KTL_NORETURN void ktl_bad_literal(const char *what, ktl_str arg) {
    ktl_str r = ktl_repr_str(arg);
    ktl_raise_fmt(KTL_E_ValueError, "%s: %.*s", what, (int)(r.len < 500 ? r.len : 500), r.p);
}

static inline ktl_str ktl_strip_ws(ktl_str s) {
    int64_t a = 0, b = s.len;
    while (a < b && ktl_isspace_c(s.p[a]))
        a++;
    while (b > a && ktl_isspace_c(s.p[b - 1]))
        b--;
    return (ktl_str){s.p + a, b - a};
}

/* int(s) in base 10, as Python reads it: surrounding whitespace, one
   optional sign, digits with single underscores between them. A value
   outside the 64-bit range is an error, never a silently saturated
   number. */
static int64_t ktl_parse_int(ktl_str s) {
    static const char bad[] = "invalid literal for int() with base 10";
    ktl_str t = ktl_strip_ws(s);
    int64_t i = 0;
    bool neg = false;
    if (i < t.len && (t.p[i] == '+' || t.p[i] == '-'))
        neg = t.p[i++] == '-';
    if (i >= t.len || !ktl_isdigit_c(t.p[i]))
        ktl_bad_literal(bad, s);
    uint64_t v = 0, limit = neg ? (uint64_t)1 << 63 : ((uint64_t)1 << 63) - 1;
    bool over = false;
    for (; i < t.len; i++) {
        char c = t.p[i];
        if (c == '_' && i + 1 < t.len && ktl_isdigit_c(t.p[i + 1]) && ktl_isdigit_c(t.p[i - 1]))
            continue;
        if (!ktl_isdigit_c(c))
            ktl_bad_literal(bad, s);
        unsigned d = (unsigned)(c - '0');
        if (v > (limit - d) / 10)
            over = true;
        else
            v = v * 10 + d;
    }
    if (over)
        ktl_bad_literal("int() literal out of the 64-bit integer range", s);
    return neg ? (int64_t)((uint64_t)0 - v) : (int64_t)v;
}

/* float(s): decimal numbers with an optional exponent, inf, infinity and
   nan in any case, with an optional sign and surrounding whitespace, and
   single underscores between digits, as Python accepts them (hexadecimal
   floats and "nan(...)" are refused as Python refuses them). Texts of any
   length are read: a long one gets a C-heap buffer, freed before any
   error is raised. */
static double ktl_parse_float(ktl_str s) {
    static const char bad[] = "could not convert string to float";
    ktl_str t = ktl_strip_ws(s);
    char small[128];
    char *buf = t.len < (int64_t)sizeof small ? small : (char *)ktl_xmalloc((size_t)t.len + 1);
    bool ok = t.len > 0;
    int64_t k = 0;
    for (int64_t i = 0; ok && i < t.len; i++) {
        char c = t.p[i];
        if (c == '_') {
            ok = i > 0 && i + 1 < t.len && ktl_isdigit_c(t.p[i - 1]) && ktl_isdigit_c(t.p[i + 1]);
            continue;
        }
        ok = !(c == 'x' || c == 'X' || c == '(' || c == '\0' || ktl_isspace_c(c));
        buf[k++] = c;
    }
    buf[k] = 0;
    double v = 0;
    if (ok) {
        char *end = NULL;
        v = strtod(buf, &end);
        ok = end == buf + k;
    }
    if (buf != small)
        free(buf);
    if (!ok)
        ktl_bad_literal(bad, s);
    return v;
}

/* ---- Integer and float arithmetic with Python's semantics ----
 *
 * Integers are 64-bit and wrap (the file is compiled with -fwrapv); floor
 * division and modulo round toward negative infinity and take the divisor's
 * sign, as in Python, for ints and floats alike, and a zero divisor raises
 * ZeroDivisionError unless the program is compiled unchecked. The float
 * operations follow CPython's own algorithms step by step, so signed zeros,
 * infinities and NaNs come out as Python prints them.
 */

#ifdef KTL_UNCHECKED
#define KTL_DIVCHECK(b) ((void)0)
#else
#define KTL_DIVCHECK(b)                                                                            \
    do {                                                                                           \
        if (KTL_UNLIKELY((b) == 0))                                                                \
            ktl_zero_div();                                                                        \
    } while (0)
#endif

/* a // b. INT64_MIN // -1 wraps to INT64_MIN like every other overflow
   instead of trapping in the C division; under KTL_UNCHECKED a zero divisor
   gives 0 rather than a hardware trap. */
static inline int64_t ktl_floordiv(int64_t a, int64_t b) {
    KTL_DIVCHECK(b);
    if (KTL_UNLIKELY(b == -1))
        return (int64_t)((uint64_t)0 - (uint64_t)a);
#ifdef KTL_UNCHECKED
    if (KTL_UNLIKELY(b == 0))
        return 0;
#endif
    int64_t q = a / b, r = a % b;
    if (r != 0 && ((r < 0) != (b < 0)))
        q--;
    return q;
}

/* a % b, with the divisor's sign; x % -1 is 0 for every x. */
static inline int64_t ktl_mod(int64_t a, int64_t b) {
    KTL_DIVCHECK(b);
    if (KTL_UNLIKELY(b == -1))
        return 0;
#ifdef KTL_UNCHECKED
    if (KTL_UNLIKELY(b == 0))
        return 0;
#endif
    int64_t r = a % b;
    if (r != 0 && ((r < 0) != (b < 0)))
        r += b;
    return r;
}

static inline double ktl_fdiv(double a, double b) {
    KTL_DIVCHECK(b);
    return a / b;
}

/* a % b for floats: CPython's float remainder. A zero result takes the
   divisor's sign, so -4.0 % 2.0 is 0.0 and 4.0 % -2.0 is -0.0. */
static inline double ktl_fmod(double a, double b) {
    KTL_DIVCHECK(b);
    double m = fmod(a, b);
    if (m != 0) {
        if ((b < 0) != (m < 0))
            m += b;
    } else {
        m = copysign(0.0, b);
    }
    return m;
}

/* a // b for floats: CPython's divmod quotient, which is exact where
   floor(a / b) is not (1 // 0.1 is 9.0, though 1 / 0.1 rounds to 10.0). */
static inline double ktl_ffloordiv(double a, double b) {
    KTL_DIVCHECK(b);
    double m = fmod(a, b);
    double div = (a - m) / b;
    if (m != 0 && ((b < 0) != (m < 0)))
        div -= 1.0;
    if (div != 0) {
        double f = floor(div);
        if (div - f > 0.5)
            f += 1.0;
        return f;
    }
    return copysign(0.0, a / b);
}

/* b ** e by repeated squaring, wrapping on overflow. A negative exponent
   has no int result; it ends the program. */
static int64_t ktl_ipow(int64_t b, int64_t e) {
    if (KTL_UNLIKELY(e < 0))
        ktl_panic("negative exponent in int ** int (use a float, e.g. 2.0 ** -1)");
    uint64_t r = 1, x = (uint64_t)b;
    while (e) {
        if (e & 1)
            r *= x;
        x *= x;
        e >>= 1;
    }
    return (int64_t)r;
}

/* An int compared with a float exactly, as Python compares them: -1, 0 or 1
   as i is below, equal to or above d, and 2 when d is NaN. Converting i to
   double first would round above 2**53 (2**53 + 1 == 2.0**53 would hold). */
static inline int ktl_cmp_if(int64_t i, double d) {
    if (d != d)
        return 2;
    if (d >= 9223372036854775808.0)
        return -1;
    if (d < -9223372036854775808.0)
        return 1;
    double fl = floor(d);
    int64_t k = (int64_t)fl;
    if (i != k)
        return i < k ? -1 : 1;
    return fl < d ? -1 : 0;
}
static inline bool ktl_if_eq(int64_t i, double d) {
    return ktl_cmp_if(i, d) == 0;
}
static inline bool ktl_if_lt(int64_t i, double d) {
    return ktl_cmp_if(i, d) == -1;
}
static inline bool ktl_if_le(int64_t i, double d) {
    int c = ktl_cmp_if(i, d);
    return c == -1 || c == 0;
}
static inline bool ktl_if_gt(int64_t i, double d) {
    return ktl_cmp_if(i, d) == 1;
}
static inline bool ktl_if_ge(int64_t i, double d) {
    int c = ktl_cmp_if(i, d);
    return c == 0 || c == 1;
}

/* a ** b for floats. C's pow agrees with Python wherever Python gives a
   float; where Python raises, so does this: a zero base with a negative
   exponent (ZeroDivisionError, unless unchecked) and a finite result too big
   for a double (OverflowError). A negative base with a fractional exponent
   has a complex result in Python, which no Kestal type holds: ValueError. */
static double ktl_fpow(double a, double b) {
    double r = pow(a, b);
    if (KTL_UNLIKELY(!isfinite(r)) && isfinite(a) && isfinite(b)) {
#ifndef KTL_UNCHECKED
        if (a == 0.0)
            ktl_raise_c(KTL_E_ZeroDivisionError, "0.0 cannot be raised to a negative power");
#endif
        if (r != r)
            ktl_value_error("negative number cannot be raised to a fractional power");
        if (a != 0.0)
            ktl_raise_c(KTL_E_OverflowError, "(34, 'Numerical result out of range')");
    }
    return r;
}

/* a << n and a >> n with the count taken as it is, never masked: a count of
   64 or more shifts every bit out (0, or -1 for a negative a >> n), and a
   negative count raises ValueError. Unchecked, a negative count reads as a
   huge unsigned one and shifts everything out the same way. */
#ifdef KTL_UNCHECKED
#define KTL_SHIFTCHECK(n) ((void)0)
#else
#define KTL_SHIFTCHECK(n)                                                                          \
    do {                                                                                           \
        if (KTL_UNLIKELY((n) < 0))                                                                 \
            ktl_value_error("negative shift count");                                               \
    } while (0)
#endif
static inline int64_t ktl_shl(int64_t a, int64_t n) {
    KTL_SHIFTCHECK(n);
    return (uint64_t)n >= 64 ? 0 : (int64_t)((uint64_t)a << n);
}
static inline int64_t ktl_shr(int64_t a, int64_t n) {
    KTL_SHIFTCHECK(n);
    return (uint64_t)n >= 64 ? (a < 0 ? -1 : 0) : a >> n;
}

static inline int64_t ktl_imin(int64_t a, int64_t b) {
    return a < b ? a : b;
}
static inline int64_t ktl_imax(int64_t a, int64_t b) {
    return a > b ? a : b;
}
/* As Python's min() and max() fold: the first value is kept unless the
   second is strictly smaller (larger). So min(1.0, nan) is 1.0, min(nan,
   1.0) is nan, and min(0.0, -0.0) is 0.0. */
static inline double ktl_fmin(double a, double b) {
    return b < a ? b : a;
}
static inline double ktl_fmax(double a, double b) {
    return b > a ? b : a;
}
static inline int64_t ktl_iabs(int64_t a) {
    return a < 0 ? -a : a;
}

/* A whole-number double as int64: infinities raise OverflowError and NaN
   ValueError with Python's texts; a value outside the 64-bit range raises
   OverflowError instead of being converted with undefined behaviour. */
static int64_t ktl_float_to_int(double r) {
    if (KTL_UNLIKELY(!(r >= -9223372036854775808.0 && r < 9223372036854775808.0))) {
        if (r != r)
            ktl_value_error("cannot convert float NaN to integer");
        if (isinf(r))
            ktl_raise_c(KTL_E_OverflowError, "cannot convert float infinity to integer");
        ktl_raise_c(KTL_E_OverflowError, "int too large to convert to a 64-bit integer");
    }
    return (int64_t)r;
}

/* round(x): halves to even (nearbyint in the default rounding mode). */
static inline int64_t ktl_round(double x) {
    return ktl_float_to_int(nearbyint(x));
}

/* round(x, n) with n < 0 for a finite x: the integral part's exact digits
   are rounded at the 10^-n place, halves to even, with the fraction (when
   not zero) breaking a tie upward; the decimal text is then read back. */
static double ktl_round_neg(double x, int64_t n) {
    double ip = trunc(x);
    bool frac = x != ip;
    char buf[400];
    int len = snprintf(buf, sizeof buf, "%.0f", fabs(ip));
    int64_t keep = len + n;
    if (keep < 0)
        return 0.0 * x;
    /* digits[keep] decides; a leading "0" makes room for a carry. */
    char d[402];
    d[0] = '0';
    memcpy(d + 1, buf, (size_t)len);
    int64_t cut = keep + 1;
    bool up = false;
    if (cut <= len) {
        char c = d[cut];
        bool rest = frac;
        for (int64_t i = cut + 1; i <= len && !rest; i++)
            rest = d[i] != '0';
        up = c > '5' || (c == '5' && (rest || (d[cut - 1] - '0') % 2 == 1));
        for (int64_t i = cut; i <= len; i++)
            d[i] = '0';
        for (int64_t i = cut - 1; up && i >= 0; i--) {
            if (d[i] == '9') {
                d[i] = '0';
            } else {
                d[i]++;
                up = false;
            }
        }
    }
    d[len + 1] = 0;
    double r = strtod(d, NULL);
    if (isinf(r))
        ktl_raise_c(KTL_E_OverflowError, "rounded value too large to represent");
    return signbit(x) ? -r : r;
}

/* round(x, n) as Python computes it: the exact value of the double is
   rounded (halves to even), so round(2.675, 2) is 2.67. Infinities and NaN
   stay as they are; n beyond the digits a double can hold leaves x
   unchanged, and n <= -309 gives a zero of x's sign. */
static double ktl_round_n(double x, int64_t n) {
    if (!isfinite(x) || n > 323)
        return x;
    if (n < -308)
        return 0.0 * x;
    if (n < 0)
        return ktl_round_neg(x, n);
    if (fabs(x) >= 1e16)
        return x;
    char buf[400];
    snprintf(buf, sizeof buf, "%.*f", (int)n, x);
    return strtod(buf, NULL);
}

/* round(v, n) of an int, an int as in Python: n >= 0 leaves v unchanged,
   n < 0 rounds to a multiple of 10^-n with halves to even. A result outside
   the 64-bit range raises OverflowError; the work is in 128 bits, so no
   step can overflow. */
static int64_t ktl_iround_n(int64_t v, int64_t n) {
    if (n >= 0)
        return v;
    if (n < -19)
        return 0;
    __int128 p = 1;
    for (int64_t i = 0; i < -n; i++)
        p *= 10;
    __int128 q = v / p, r = v % p;
    if (r < 0) {
        r += p;
        q -= 1;
    }
    if (2 * r > p || (2 * r == p && (q & 1)))
        q += 1;
    __int128 out = q * p;
    if (out > INT64_MAX || out < INT64_MIN)
        ktl_raise_c(KTL_E_OverflowError, "int too large to convert to a 64-bit integer");
    return (int64_t)out;
}

/* math.isqrt(n): the exact floor of the square root. The double estimate
   can be off by one either way above 2^52, so it is corrected with exact
   unsigned 128-bit squares. */
static int64_t ktl_isqrt(int64_t n) {
    if (n < 0)
        ktl_value_error("isqrt() argument must be nonnegative");
    unsigned __int128 m = (unsigned __int128)n;
    uint64_t r = (uint64_t)sqrt((double)n);
    while ((unsigned __int128)r * r > m)
        r--;
    while ((unsigned __int128)(r + 1) * (r + 1) <= m)
        r++;
    return (int64_t)r;
}

/* ---- Lists: the list macros and the four predefined lists ----
 *
 * A list is a growable array of unboxed items: a list of int is an array of
 * int64_t, a list of str an array of ktl_str, a list of objects an array of
 * pointers. KTL_DEFINE_LIST instantiates one list type per item type, with
 * functions named after the type by token pasting (L_s_new, L_s_push); the
 * runtime instantiates L_i, L_f, L_b and L_s here and the compiler every other
 * item type it meets. The items live in one block of the memory kind given
 * at definition (KTL_NOSCAN for numbers, so the collector never reads them);
 * growing copies them into a new block and frees the old one at once, so a
 * pointer to an item is valid only until the next push, insert, extend or
 * slice assignment on that list.
 */

#define KTL_EQ(a, b) ((a) == (b))
#define KTL_CMP(a, b) (((a) > (b)) - ((a) < (b)))
#define KTL_STR_EQ(a, b) ktl_str_eq((a), (b))
#define KTL_LT(a, b) ((a) < (b))
#define KTL_STR_LT(a, b) (ktl_str_cmp((a), (b)) < 0)

/* Bytes for n items of `size` bytes. A count whose bytes can't even be
   addressed is a request no heap can serve: it ends the program like any
   other exhausted allocation, before anything is allocated or written. */
static inline size_t ktl_items_bytes(int64_t n, size_t size) {
    if (KTL_UNLIKELY(n < 0 || (uint64_t)n > (uint64_t)INT64_MAX / size)) ktl_panic("out of memory");
    return (size_t)n * size;
}

/* s[lo:hi] with step 1: Python clamps each bound into [0, len] after counting
   a negative one from the end, and an upper bound below the lower one gives
   an empty slice at lo. INT64_MIN stands for an omitted bound. */
static inline void ktl_list_clamp(int64_t len, int64_t *lo, int64_t *hi) {
    int64_t a = *lo, b = *hi;
    if (a == INT64_MIN) a = 0;
    if (b == INT64_MIN) b = len;
    if (a < 0) {
        a += len;
        if (a < 0) a = 0;
    } else if (a > len) {
        a = len;
    }
    if (b < 0) {
        b += len;
        if (b < 0) b = 0;
    } else if (b > len) {
        b = len;
    }
    if (b < a) b = a;
    *lo = a;
    *hi = b;
}

static KTL_COLD KTL_NORETURN void ktl_list_index_error(void) {
    ktl_raise_c(KTL_E_ValueError, "list.index(x): x not in list");
}

static KTL_COLD KTL_NORETURN void ktl_pop_empty_error(void) {
    ktl_raise_c(KTL_E_IndexError, "pop from empty list");
}

static KTL_COLD KTL_NORETURN void ktl_slice_size_error(int64_t got, int64_t want) {
    ktl_raise_fmt(KTL_E_ValueError, "attempt to assign sequence of size %lld to extended slice of size %lld",
                  (long long)got, (long long)want);
}

/* find and count by a plain loop over EQ. */
#define KTL_DEFINE_LIST_SEARCH(L, T, EQ)                                                           \
    static int64_t L##_find(L *l, T v) {                                                           \
        for (int64_t i = 0; i < l->len; i++)                                                       \
            if (EQ(l->data[i], v)) return i;                                                       \
        return -1;                                                                                 \
    }                                                                                              \
    static int64_t L##_count(L *l, T v) {                                                          \
        int64_t c = 0;                                                                             \
        for (int64_t i = 0; i < l->len; i++)                                                       \
            if (EQ(l->data[i], v)) c++;                                                            \
        return c;                                                                                  \
    }

/* find and count of int and float lists through the vector scans. */
#define KTL_SIMD_EQ_int64_t(L, T, EQ)                                                              \
    static inline int64_t L##_find(L *l, T v) { return ktl_find_i64(l->data, l->len, v); }         \
    static inline int64_t L##_count(L *l, T v) { return ktl_count_i64(l->data, l->len, v); }
#define KTL_SIMD_EQ_double(L, T, EQ)                                                               \
    static inline int64_t L##_find(L *l, T v) { return ktl_find_f64(l->data, l->len, v); }         \
    static inline int64_t L##_count(L *l, T v) { return ktl_count_f64(l->data, l->len, v); }

#define KTL_DEFINE_LIST(L, T, EQ, SCAN) KTL_DEFINE_LIST_WITH(L, T, KTL_DEFINE_LIST_SEARCH, EQ, SCAN)

/* The core of a list type. SCAN is the memory kind of the item array:
   KTL_SCAN when items can hold heap pointers, else KTL_NOSCAN. */
#define KTL_DEFINE_LIST_WITH(L, T, SEARCH, EQ, SCAN)                                               \
    typedef struct L {                                                                             \
        T *data;                                                                                   \
        int64_t len;                                                                               \
        int64_t cap;                                                                               \
    } L;                                                                                           \
    static L *L##_new(int64_t cap) {                                                               \
        if (cap < 4) cap = 4;                                                                      \
        L *l = (L *)ktl_alloc(sizeof(L));                                                          \
        l->data = (T *)ktl_gc_alloc(ktl_items_bytes(cap, sizeof(T)), SCAN);                        \
        l->cap = cap;                                                                              \
        return l;                                                                                  \
    }                                                                                              \
    /* Makes room for `need` items in all. */                                                      \
    static KTL_COLD void L##_grow(L *l, int64_t need) {                                            \
        int64_t cap = l->cap > INT64_MAX / 2 ? INT64_MAX : 2 * l->cap;                             \
        if (cap < need) cap = need;                                                                \
        size_t bytes = ktl_items_bytes(cap, sizeof(T));                                            \
        l->data = (T *)ktl_gc_realloc(l->data, (size_t)l->len * sizeof(T), bytes, SCAN);           \
        l->cap = cap;                                                                              \
    }                                                                                              \
    static inline void L##_reserve(L *l, int64_t need) {                                           \
        if (KTL_UNLIKELY(need > l->cap)) L##_grow(l, need);                                        \
    }                                                                                              \
    static L *L##_from(int64_t n, T const *src) {                                                  \
        L *l = L##_new(n);                                                                         \
        if (n > 0) memcpy(l->data, src, (size_t)n * sizeof(T));                                    \
        l->len = n > 0 ? n : 0;                                                                    \
        return l;                                                                                  \
    }                                                                                              \
    static inline void L##_push(L *l, T v) {                                                       \
        if (KTL_UNLIKELY(l->len == l->cap)) L##_grow(l, l->len + 1);                               \
        l->data[l->len++] = v;                                                                     \
    }                                                                                              \
    static inline T *L##_at(L *l, int64_t i) {                                                     \
        if (i < 0) i += l->len;                                                                    \
        KTL_CHECK("list", i, l->len);                                                              \
        return &l->data[i];                                                                        \
    }                                                                                              \
    static inline T L##_pop(L *l) {                                                                \
        if (KTL_UNLIKELY(l->len == 0)) ktl_pop_empty_error();                                      \
        return l->data[--l->len];                                                                  \
    }                                                                                              \
    /* Python reports an empty list before looking at the index. */                                \
    static T L##_pop_at(L *l, int64_t i) {                                                         \
        if (KTL_UNLIKELY(l->len == 0)) ktl_pop_empty_error();                                      \
        if (i < 0) i += l->len;                                                                    \
        KTL_CHECK("pop", i, l->len);                                                               \
        T v = l->data[i];                                                                          \
        memmove(l->data + i, l->data + i + 1, (size_t)(l->len - i - 1) * sizeof(T));               \
        l->len--;                                                                                  \
        return v;                                                                                  \
    }                                                                                              \
    static void L##_insert(L *l, int64_t i, T v) {                                                 \
        if (i < 0) {                                                                               \
            i += l->len;                                                                           \
            if (i < 0) i = 0;                                                                      \
        } else if (i > l->len) {                                                                   \
            i = l->len;                                                                            \
        }                                                                                          \
        L##_reserve(l, l->len + 1);                                                                \
        memmove(l->data + i + 1, l->data + i, (size_t)(l->len - i) * sizeof(T));                   \
        l->data[i] = v;                                                                            \
        l->len++;                                                                                  \
    }                                                                                              \
    /* o may be l itself: its length is read before the list grows. */                             \
    static void L##_extend(L *l, L *o) {                                                           \
        int64_t n = o->len;                                                                        \
        if (n == 0) return;                                                                        \
        L##_reserve(l, l->len + n);                                                                \
        memcpy(l->data + l->len, o->data, (size_t)n * sizeof(T));                                  \
        l->len += n;                                                                               \
    }                                                                                              \
    /* len * n is checked before anything is allocated. */                                         \
    static L *L##_rep(L *src, int64_t n) {                                                         \
        int64_t len = src->len;                                                                    \
        if (n <= 0 || len == 0) return L##_new(0);                                                 \
        if (KTL_UNLIKELY(n > INT64_MAX / len)) ktl_panic("out of memory");                         \
        int64_t total = len * n;                                                                   \
        L *l = L##_new(total);                                                                     \
        memcpy(l->data, src->data, (size_t)len * sizeof(T));                                       \
        int64_t have = len;                                                                        \
        while (have < total) {                                                                     \
            int64_t c = have <= total - have ? have : total - have;                                \
            memcpy(l->data + have, l->data, (size_t)c * sizeof(T));                                \
            have += c;                                                                             \
        }                                                                                          \
        l->len = total;                                                                            \
        return l;                                                                                  \
    }                                                                                              \
    static L *L##_cat(L *a, L *b) {                                                                \
        L *l = L##_new(a->len + b->len);                                                           \
        if (a->len) memcpy(l->data, a->data, (size_t)a->len * sizeof(T));                          \
        if (b->len) memcpy(l->data + a->len, b->data, (size_t)b->len * sizeof(T));                 \
        l->len = a->len + b->len;                                                                  \
        return l;                                                                                  \
    }                                                                                              \
    static L *L##_slice(L *s, int64_t lo, int64_t hi) {                                            \
        ktl_list_clamp(s->len, &lo, &hi);                                                          \
        return L##_from(hi - lo, s->data + lo);                                                    \
    }                                                                                              \
    static L *L##_slice_step(L *s, int64_t lo, int64_t hi, int64_t step) {                         \
        int64_t n = ktl_slice_adjust(s->len, &lo, &hi, step);                                      \
        if (step == 1) return L##_from(n, s->data + lo);                                           \
        L *l = L##_new(n);                                                                         \
        for (int64_t k = 0, i = lo; k < n; k++, i += step) l->data[k] = s->data[i];                \
        l->len = n > 0 ? n : 0;                                                                    \
        return l;                                                                                  \
    }                                                                                              \
    static void L##_reverse(L *l) {                                                                \
        for (int64_t i = 0, j = l->len - 1; i < j; i++, j--) {                                     \
            T t = l->data[i];                                                                      \
            l->data[i] = l->data[j];                                                               \
            l->data[j] = t;                                                                        \
        }                                                                                          \
    }                                                                                              \
    /* l[lo:hi] = src with step 1; src may be l itself. */                                         \
    static void L##_setslice(L *l, int64_t lo, int64_t hi, L *src) {                               \
        ktl_list_clamp(l->len, &lo, &hi);                                                          \
        if (src == l) src = L##_from(l->len, l->data);                                             \
        int64_t m = src->len, newlen = l->len - (hi - lo) + m;                                     \
        L##_reserve(l, newlen);                                                                    \
        memmove(l->data + lo + m, l->data + hi, (size_t)(l->len - hi) * sizeof(T));                \
        if (m) memcpy(l->data + lo, src->data, (size_t)m * sizeof(T));                             \
        if (newlen < l->len) memset(l->data + newlen, 0, (size_t)(l->len - newlen) * sizeof(T));   \
        l->len = newlen;                                                                           \
    }                                                                                              \
    static void L##_setslice_step(L *l, int64_t lo, int64_t hi, int64_t step, L *src) {            \
        if (step == 1 && lo != INT64_MIN && hi != INT64_MIN) {                                     \
            L##_setslice(l, lo, hi, src);                                                          \
            return;                                                                                \
        }                                                                                          \
        int64_t n = ktl_slice_adjust(l->len, &lo, &hi, step);                                      \
        if (step == 1) {                                                                           \
            L##_setslice(l, lo, lo + n, src);                                                      \
            return;                                                                                \
        }                                                                                          \
        if (src->len != n) ktl_slice_size_error(src->len, n);                                      \
        if (src == l) src = L##_from(l->len, l->data);                                             \
        for (int64_t k = 0, i = lo; k < n; k++, i += step) l->data[i] = src->data[k];              \
    }                                                                                              \
    /* del l[lo:hi:step]: one pass keeps every item past the last deleted one                      \
       or off the step grid, compacting in place. */                                               \
    static void L##_delslice(L *l, int64_t lo, int64_t hi, int64_t step) {                         \
        int64_t n = ktl_slice_adjust(l->len, &lo, &hi, step);                                      \
        if (n <= 0) return;                                                                        \
        if (step < 0) {                                                                            \
            lo += (n - 1) * step;                                                                  \
            step = -step;                                                                          \
        }                                                                                          \
        int64_t last = lo + (n - 1) * step, j = lo;                                                \
        for (int64_t i = lo; i < l->len; i++)                                                      \
            if (i > last || (i - lo) % step != 0) l->data[j++] = l->data[i];                       \
        memset(l->data + j, 0, (size_t)(l->len - j) * sizeof(T));                                  \
        l->len = j;                                                                                \
    }                                                                                              \
    SEARCH(L, T, EQ)                                                                               \
    static inline bool L##_contains(L *l, T v) { return L##_find(l, v) >= 0; }                     \
    static int64_t L##_index(L *l, T v) {                                                          \
        int64_t i = L##_find(l, v);                                                                \
        if (KTL_UNLIKELY(i < 0)) ktl_list_index_error();                                           \
        return i;                                                                                  \
    }                                                                                              \
    static bool L##_eq(L *a, L *b) {                                                               \
        if (a == b) return true;                                                                   \
        if (a->len != b->len) return false;                                                        \
        for (int64_t i = 0; i < a->len; i++)                                                       \
            if (!(EQ(a->data[i], b->data[i]))) return false;                                       \
        return true;                                                                               \
    }

/* "[" then the items printed with PRINT, separated by ", ", then "]". */
#define KTL_DEFINE_LIST_PRINT(L, PRINT)                                                            \
    static void ktl_print_##L(L *l) {                                                              \
        ktl_putc('[');                                                                             \
        for (int64_t i = 0; i < l->len; i++) {                                                     \
            if (i) ktl_write(", ", 2);                                                             \
            PRINT(l->data[i]);                                                                     \
        }                                                                                          \
        ktl_putc(']');                                                                             \
    }

/* Lexicographic order: the first items that differ decide, else the shorter
   list comes first. */
#define KTL_DEFINE_LIST_CMP(L, CMP)                                                                \
    static int L##_cmp(L *a, L *b) {                                                               \
        int64_t n = a->len < b->len ? a->len : b->len;                                             \
        for (int64_t i = 0; i < n; i++) {                                                          \
            int c = CMP(a->data[i], b->data[i]);                                                   \
            if (c) return c;                                                                       \
        }                                                                                          \
        return (a->len > b->len) - (a->len < b->len);                                              \
    }                                                                                              \
    static inline bool L##_lt(L *a, L *b) { return L##_cmp(a, b) < 0; }

KTL_DEFINE_LIST_WITH(L_i, int64_t, KTL_SIMD_EQ_int64_t, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_i, ktl_print_i)
KTL_DEFINE_LIST_CMP(L_i, KTL_CMP)

KTL_DEFINE_LIST_WITH(L_f, double, KTL_SIMD_EQ_double, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_f, ktl_print_f)
KTL_DEFINE_LIST_CMP(L_f, KTL_CMP)

KTL_DEFINE_LIST_WITH(L_b, bool, KTL_DEFINE_LIST_SEARCH, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_LIST_PRINT(L_b, ktl_print_b)
KTL_DEFINE_LIST_CMP(L_b, KTL_CMP)

KTL_DEFINE_LIST_WITH(L_s, ktl_str, KTL_DEFINE_LIST_SEARCH, KTL_STR_EQ, KTL_SCAN)
KTL_DEFINE_LIST_PRINT(L_s, ktl_print_repr_s)
KTL_DEFINE_LIST_CMP(L_s, ktl_str_cmp)

/* ---- Split, join, partition and line splitting ----
 *
 * Pieces are views into the string being split, never copies; a split
 * counts its pieces first so that the list is allocated once at its final
 * size, and a join computes its total length first so that the result is
 * one allocation. Whitespace is ASCII whitespace (ktl_isspace_c).
 */

static KTL_COLD KTL_NORETURN void ktl_empty_sep(void) {
    ktl_value_error("empty separator");
}

/* s.split(sep) with at most maxsplit splits from the left (no limit when
   maxsplit is negative). One-byte separators walk the match masks of each
   vector; longer ones repeat the needle search. */
static L_s *ktl_str_split_n(ktl_str s, ktl_str sep, int64_t maxsplit) {
    if (sep.len == 0)
        ktl_empty_sep();
    int64_t pieces = ktl_str_count(s, sep) + 1;
    if (maxsplit >= 0 && pieces > maxsplit + 1)
        pieces = maxsplit + 1;
    L_s *l = L_s_new(pieces);
    int64_t at = 0, cuts = pieces - 1;
    if (sep.len == 1) {
        char c = sep.p[0];
        int64_t i = 0;
#ifdef KTL_VW
        ktl_vec vc = ktl_vsplat(c);
        for (; cuts > 0 && i + KTL_VW <= s.len; i += KTL_VW) {
            for (uint32_t m = ktl_vmask(ktl_veq(ktl_vload(s.p + i), vc)); m && cuts > 0;
                 m &= m - 1) {
                int64_t j = i + __builtin_ctz(m);
                L_s_push(l, (ktl_str){s.p + at, j - at});
                at = j + 1;
                cuts--;
            }
        }
#endif
        for (; cuts > 0 && i < s.len; i++) {
            if (s.p[i] != c)
                continue;
            L_s_push(l, (ktl_str){s.p + at, i - at});
            at = i + 1;
            cuts--;
        }
    } else {
        for (; cuts > 0; cuts--) {
            int64_t j = at + ktl_find_raw(s.p + at, s.len - at, sep.p, sep.len);
            L_s_push(l, (ktl_str){s.p + at, j - at});
            at = j + sep.len;
        }
    }
    L_s_push(l, (ktl_str){s.p + at, s.len - at});
    return l;
}

static inline L_s *ktl_str_split(ktl_str s, ktl_str sep) {
    return ktl_str_split_n(s, sep, -1);
}

/* len(s.split(sep)) without building the list. */
static inline int64_t ktl_str_split_count(ktl_str s, ktl_str sep) {
    if (sep.len == 0)
        ktl_empty_sep();
    return ktl_str_count(s, sep) + 1;
}

/* len(s.split()): the non-whitespace bytes that start s or follow
   whitespace. Per vector, the word starts are the non-whitespace bits whose
   previous byte is whitespace (the whitespace mask shifted up by one, the
   last bit of the previous vector carried in). */
static int64_t ktl_str_count_words(ktl_str s) {
    int64_t i = 0, k = 0;
    uint32_t carry = 1;
#ifdef KTL_VW
    for (; i + KTL_VW <= s.len; i += KTL_VW) {
        uint32_t ws = ktl_vmask(ktl_vspace(ktl_vload(s.p + i)));
        uint32_t prev = (uint32_t)((((uint64_t)ws << 1) | carry) & KTL_VALL);
        k += __builtin_popcount(~ws & prev & KTL_VALL);
        carry = (ws >> (KTL_VW - 1)) & 1;
    }
#endif
    bool prev_ws = carry != 0;
    for (; i < s.len; i++) {
        bool ws = ktl_isspace_c(s.p[i]);
        k += !ws && prev_ws;
        prev_ws = ws;
    }
    return k;
}

/* s.split() with at most maxsplit splits (no limit when negative): runs of
   whitespace separate the pieces and no piece is empty; after the last
   split, the rest from its first non-whitespace byte is the final piece and
   keeps its trailing whitespace, as in Python. */
static L_s *ktl_str_split_ws_n(ktl_str s, int64_t maxsplit) {
    int64_t words = ktl_str_count_words(s);
    if (maxsplit >= 0 && words > maxsplit + 1)
        words = maxsplit + 1;
    L_s *l = L_s_new(words);
    int64_t i = 0, splits = 0;
    while (i < s.len) {
        while (i < s.len && ktl_isspace_c(s.p[i]))
            i++;
        if (i >= s.len)
            break;
        if (maxsplit >= 0 && splits == maxsplit) {
            L_s_push(l, (ktl_str){s.p + i, s.len - i});
            break;
        }
        int64_t j = i;
        while (j < s.len && !ktl_isspace_c(s.p[j]))
            j++;
        L_s_push(l, (ktl_str){s.p + i, j - i});
        splits++;
        i = j;
    }
    return l;
}

static inline L_s *ktl_str_split_ws(ktl_str s) {
    return ktl_str_split_ws_n(s, -1);
}

/* The length of the line end at s[i] (0 when s[i] ends no line): \n, \v,
   \f, 0x1C to 0x1E, \r or \r\n, and the UTF-8 forms of U+0085, U+2028 and
   U+2029. */
static inline int ktl_line_end(ktl_str s, int64_t i) {
    unsigned char c = (unsigned char)s.p[i];
    if (c == '\n' || c == '\v' || c == '\f' || (c >= 0x1C && c <= 0x1E))
        return 1;
    if (c == '\r')
        return i + 1 < s.len && s.p[i + 1] == '\n' ? 2 : 1;
    if (c == 0xC2 && i + 1 < s.len && (unsigned char)s.p[i + 1] == 0x85)
        return 2;
    if (c == 0xE2 && i + 2 < s.len && (unsigned char)s.p[i + 1] == 0x80 &&
        ((unsigned char)s.p[i + 2] == 0xA8 || (unsigned char)s.p[i + 2] == 0xA9))
        return 3;
    return 0;
}

static L_s *ktl_str_splitlines(ktl_str s, bool keepends) {
    L_s *l = L_s_new(0);
    int64_t start = 0, i = 0;
    while (i < s.len) {
        int e = ktl_line_end(s, i);
        if (!e) {
            i++;
            continue;
        }
        L_s_push(l, (ktl_str){s.p + start, i - start + (keepends ? e : 0)});
        i += e;
        start = i;
    }
    if (start < s.len)
        L_s_push(l, (ktl_str){s.p + start, s.len - start});
    return l;
}

/* out[0..2] = before, sep, after around the first occurrence of sep; (s,
   "", "") when there is none. */
static void ktl_str_partition(ktl_str s, ktl_str sep, ktl_str *out) {
    if (sep.len == 0)
        ktl_empty_sep();
    int64_t i = ktl_str_find(s, sep);
    if (i < 0) {
        out[0] = s;
        out[1] = out[2] = KTL_LIT("");
        return;
    }
    out[0] = (ktl_str){s.p, i};
    out[1] = (ktl_str){s.p + i, sep.len};
    out[2] = (ktl_str){s.p + i + sep.len, s.len - i - sep.len};
}

/* The same around the last occurrence; ("", "", s) when there is none. */
static void ktl_str_rpartition(ktl_str s, ktl_str sep, ktl_str *out) {
    if (sep.len == 0)
        ktl_empty_sep();
    int64_t i = ktl_str_rfind(s, sep);
    if (i < 0) {
        out[0] = out[1] = KTL_LIT("");
        out[2] = s;
        return;
    }
    out[0] = (ktl_str){s.p, i};
    out[1] = (ktl_str){s.p + i, sep.len};
    out[2] = (ktl_str){s.p + i + sep.len, s.len - i - sep.len};
}

/* sep.join(items): "" for no items, the item itself for one, else one new
   string of the exact total length. */
static ktl_str ktl_str_join(ktl_str sep, L_s *items) {
    int64_t n = items->len;
    if (n == 0)
        return KTL_LIT("");
    if (n == 1)
        return items->data[0];
    int64_t total = 0;
    for (int64_t i = 0; i < n; i++) {
        if (items->data[i].len > INT64_MAX - total)
            ktl_panic("out of memory");
        total += items->data[i].len;
    }
    if (sep.len && (n - 1 > (INT64_MAX - total) / sep.len))
        ktl_panic("out of memory");
    total += sep.len * (n - 1);
    char *p = ktl_alloc_bytes((size_t)total);
    int64_t k = 0;
    for (int64_t i = 0; i < n; i++) {
        if (i && sep.len) {
            memcpy(p + k, sep.p, (size_t)sep.len);
            k += sep.len;
        }
        ktl_str it = items->data[i];
        if (it.len)
            memcpy(p + k, it.p, (size_t)it.len);
        k += it.len;
    }
    return (ktl_str){p, total};
}

/* ---- More str methods: strip, case, character classes, affixes, padding ----
 *
 * Case rules and character classes are ASCII only: other bytes (every byte
 * of a multi-byte UTF-8 character) are never changed and belong to no
 * class. Strip and affix removal return views; case changes and padding
 * allocate the new text once. Padding widths count bytes, the fill must be
 * one character.
 */

static inline ktl_str ktl_str_lstrip(ktl_str s) {
    int64_t a = 0;
    while (a < s.len && ktl_isspace_c(s.p[a]))
        a++;
    return (ktl_str){s.p + a, s.len - a};
}

static inline ktl_str ktl_str_rstrip(ktl_str s) {
    int64_t b = s.len;
    while (b > 0 && ktl_isspace_c(s.p[b - 1]))
        b--;
    return (ktl_str){s.p, b};
}

static inline ktl_str ktl_str_strip(ktl_str s) {
    return ktl_str_rstrip(ktl_str_lstrip(s));
}

/* The length of the UTF-8 character at p[0], at most n: a lead byte's
   length when its continuation bytes follow, else 1 (a stray byte is a
   character of its own). */
static inline int64_t ktl_char_len(const char *p, int64_t n) {
    unsigned char c = (unsigned char)p[0];
    int64_t k = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (k > n)
        return 1;
    for (int64_t i = 1; i < k; i++)
        if (((unsigned char)p[i] & 0xC0) != 0x80)
            return 1;
    return k;
}

/* The character c[0..k) is one of the characters of chars. Whole
   characters are compared, so stripping never cuts a multi-byte character
   that merely shares bytes with one in chars. */
static bool ktl_char_in(const char *c, int64_t k, ktl_str chars) {
    for (int64_t i = 0; i < chars.len;) {
        int64_t m = ktl_char_len(chars.p + i, chars.len - i);
        if (m == k && memcmp(chars.p + i, c, (size_t)k) == 0)
            return true;
        i += m;
    }
    return false;
}

static ktl_str ktl_str_lstrip_c(ktl_str s, ktl_str chars) {
    int64_t a = 0;
    while (a < s.len) {
        int64_t k = ktl_char_len(s.p + a, s.len - a);
        if (!ktl_char_in(s.p + a, k, chars))
            break;
        a += k;
    }
    return (ktl_str){s.p + a, s.len - a};
}

static ktl_str ktl_str_rstrip_c(ktl_str s, ktl_str chars) {
    int64_t b = s.len;
    while (b > 0) {
        /* The last character: back over up to three continuation bytes to
           a lead byte whose character ends exactly at b. */
        int64_t st = b - 1;
        while (st > 0 && b - st < 4 && ((unsigned char)s.p[st] & 0xC0) == 0x80)
            st--;
        if (st + ktl_char_len(s.p + st, b - st) != b)
            st = b - 1;
        if (!ktl_char_in(s.p + st, b - st, chars))
            break;
        b = st;
    }
    return (ktl_str){s.p, b};
}

static inline ktl_str ktl_str_strip_c(ktl_str s, ktl_str chars) {
    return ktl_str_rstrip_c(ktl_str_lstrip_c(s, chars), chars);
}

static ktl_str ktl_str_upper(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    ktl_case_copy(p, s.p, s.len, 'a');
    return (ktl_str){p, s.len};
}

static ktl_str ktl_str_lower(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    ktl_case_copy(p, s.p, s.len, 'A');
    return (ktl_str){p, s.len};
}

/* A letter after a letter becomes lower case, any other letter upper
   case. */
static ktl_str ktl_str_title(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    bool prev = false;
    for (int64_t i = 0; i < s.len; i++) {
        char c = s.p[i];
        bool alpha = ktl_isalpha_c(c);
        p[i] = alpha ? (char)(prev ? (c | 0x20) : (c & ~0x20)) : c;
        prev = alpha;
    }
    return (ktl_str){p, s.len};
}

static ktl_str ktl_str_capitalize(ktl_str s) {
    if (s.len == 0)
        return s;
    char *p = ktl_alloc_bytes((size_t)s.len);
    ktl_case_copy(p, s.p, s.len, 'A');
    if (p[0] >= 'a' && p[0] <= 'z')
        p[0] = (char)(p[0] - 32);
    return (ktl_str){p, s.len};
}

static inline bool ktl_str_isdigit(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_DIGIT);
}
static inline bool ktl_str_isalpha(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_ALPHA);
}
static inline bool ktl_str_isspace(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_SPACE);
}
static inline bool ktl_str_isalnum(ktl_str s) {
    return ktl_all_class(s.p, s.len, KTL_DIGIT | KTL_ALPHA);
}

/* No letter of the other case and at least one letter. */
static bool ktl_str_case_is(ktl_str s, char lo) {
    bool any = false;
    char other = lo == 'a' ? 'A' : 'a';
    for (int64_t i = 0; i < s.len; i++) {
        char c = s.p[i];
        if ((unsigned char)(c - other) <= 25)
            return false;
        any |= (unsigned char)(c - lo) <= 25;
    }
    return any;
}

static inline bool ktl_str_isupper(ktl_str s) {
    return ktl_str_case_is(s, 'A');
}
static inline bool ktl_str_islower(ktl_str s) {
    return ktl_str_case_is(s, 'a');
}

static inline bool ktl_str_startswith(ktl_str s, ktl_str x) {
    return x.len <= s.len && (x.len == 0 || memcmp(s.p, x.p, (size_t)x.len) == 0);
}

static inline bool ktl_str_endswith(ktl_str s, ktl_str x) {
    return x.len <= s.len && (x.len == 0 || memcmp(s.p + s.len - x.len, x.p, (size_t)x.len) == 0);
}

static inline ktl_str ktl_str_removeprefix(ktl_str s, ktl_str x) {
    return ktl_str_startswith(s, x) ? (ktl_str){s.p + x.len, s.len - x.len} : s;
}

static inline ktl_str ktl_str_removesuffix(ktl_str s, ktl_str x) {
    return ktl_str_endswith(s, x) ? (ktl_str){s.p, s.len - x.len} : s;
}

/* ---- Padding ---- */

static KTL_COLD KTL_NORETURN void ktl_fill_error(void) {
    ktl_raise_c(KTL_E_TypeError, "The fill character must be exactly one character long");
}

static inline void ktl_check_fill(ktl_str fill) {
    if (KTL_UNLIKELY(ktl_utf8_len(fill) != 1))
        ktl_fill_error();
}

/* left copies of fill, s, right copies of fill (negative counts as 0; s
   itself when both are 0). The size is checked before anything is
   allocated: a text too long to represent raises OverflowError. */
static ktl_str ktl_str_pad(ktl_str s, int64_t left, int64_t right, ktl_str fill) {
    ktl_check_fill(fill);
    if (left < 0)
        left = 0;
    if (right < 0)
        right = 0;
    if (left == 0 && right == 0)
        return s;
    int64_t room = (INT64_MAX - s.len) / fill.len;
    if (left > room || right > room - left)
        ktl_raise_c(KTL_E_OverflowError, "padded string is too long");
    int64_t total = s.len + (left + right) * fill.len;
    char *p = ktl_alloc_bytes((size_t)total), *q = p;
    if (fill.len == 1) {
        memset(q, fill.p[0], (size_t)left);
        q += left;
        memcpy(q, s.p, (size_t)s.len);
        q += s.len;
        memset(q, fill.p[0], (size_t)right);
    } else {
        for (int64_t i = 0; i < left; i++, q += fill.len)
            memcpy(q, fill.p, (size_t)fill.len);
        if (s.len)
            memcpy(q, s.p, (size_t)s.len);
        q += s.len;
        for (int64_t i = 0; i < right; i++, q += fill.len)
            memcpy(q, fill.p, (size_t)fill.len);
    }
    return (ktl_str){p, total};
}

/* The width is compared before subtracting, so a very negative width
   cannot wrap into a huge margin. */
static inline ktl_str ktl_str_ljust(ktl_str s, int64_t w, ktl_str fill) {
    ktl_check_fill(fill);
    return w <= s.len ? s : ktl_str_pad(s, 0, w - s.len, fill);
}

static inline ktl_str ktl_str_rjust(ktl_str s, int64_t w, ktl_str fill) {
    ktl_check_fill(fill);
    return w <= s.len ? s : ktl_str_pad(s, w - s.len, 0, fill);
}

/* The left margin takes the extra byte only when both the margin and the
   width are odd, as CPython rounds. */
static ktl_str ktl_str_center(ktl_str s, int64_t w, ktl_str fill) {
    ktl_check_fill(fill);
    if (w <= s.len)
        return s;
    int64_t marg = w - s.len;
    int64_t left = marg / 2 + (marg & w & 1);
    return ktl_str_pad(s, left, marg - left, fill);
}

/* Zeros inserted after a leading sign up to w bytes. */
static ktl_str ktl_str_zfill(ktl_str s, int64_t w) {
    if (s.len >= w)
        return s;
    ktl_str z = ktl_str_pad(s, w - s.len, 0, KTL_LIT("0"));
    char *p = (char *)z.p;
    if (s.len > 0 && (s.p[0] == '+' || s.p[0] == '-')) {
        p[0] = s.p[0];
        p[w - s.len] = '0';
    }
    return z;
}

/* ---- Format specs laid out as Python's format() lays them out ----
 *
 * The f-string fields whose spec printf would lay out unlike Python come
 * here: hexadecimal, octal and binary of negative ints (the sign, then the
 * magnitude, INT64_MIN included), the '#' prefixes, zero fill with an
 * explicit alignment or around inf and nan, percentages (whose width counts
 * the '%'), floats without a type letter (Python's repr-based general
 * format) and text, padded by characters rather than bytes. The compiler
 * passes the switches of the spec as KTL_FS_* flags.
 */

#define KTL_FS_PLUS 1
#define KTL_FS_ALT 2
#define KTL_FS_ZERO 4
#define KTL_FS_LEFT 8
#define KTL_FS_RIGHT 16

/* lead (sign and prefix) and body padded to `width`: the fill is '0' under
   KTL_FS_ZERO, else blanks; '<' fills after, '>' before everything, and
   with no alignment zeros go between lead and body (Python's '=') while
   blanks go before. */
static void ktl_fs_layout(ktl_sb *b, const char *lead, int64_t lead_len, const char *body,
                          int64_t body_len, int flags, int64_t width) {
    int64_t n = lead_len + body_len;
    int64_t pad = width > n ? width - n : 0;
    char fill = (flags & KTL_FS_ZERO) ? '0' : ' ';
    bool aligned = (flags & (KTL_FS_LEFT | KTL_FS_RIGHT)) != 0;
    bool inner = !aligned && (flags & KTL_FS_ZERO);
    ktl_sb_reserve(b, n + pad);
    if (!(flags & KTL_FS_LEFT) && !inner)
        ktl_sb_fill(b, fill, pad);
    memcpy(b->p + b->len, lead, (size_t)lead_len);
    b->len += lead_len;
    if (inner)
        ktl_sb_fill(b, fill, pad);
    memcpy(b->p + b->len, body, (size_t)body_len);
    b->len += body_len;
    if (flags & KTL_FS_LEFT)
        ktl_sb_fill(b, fill, pad);
}

/* An int by type 'd' (or 0), 'x', 'X', 'o' or 'b'. */
static void ktl_fs_int(ktl_sb *b, int64_t v, char type, int flags, int64_t width) {
    unsigned base = (type == 'x' || type == 'X') ? 16 : type == 'o' ? 8 : type == 'b' ? 2 : 10;
    const char *digits = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    uint64_t m = v < 0 ? (uint64_t)0 - (uint64_t)v : (uint64_t)v;
    char body[64];
    int k = (int)sizeof body;
    do {
        body[--k] = digits[m % base];
        m /= base;
    } while (m);
    char lead[3];
    int n = 0;
    if (v < 0)
        lead[n++] = '-';
    else if (flags & KTL_FS_PLUS)
        lead[n++] = '+';
    if ((flags & KTL_FS_ALT) && base != 10) {
        lead[n++] = '0';
        lead[n++] = type;
    }
    ktl_fs_layout(b, lead, n, body + k, (int64_t)sizeof body - k, flags, width);
}

/* A finite non-negative double through one printf conversion, appended at
   full length whatever the precision. */
static void ktl_fs_printf(ktl_sb *t, bool alt, int prec, char conv, double a) {
    char f[8];
    int k = 0;
    f[k++] = '%';
    if (alt)
        f[k++] = '#';
    f[k++] = '.';
    f[k++] = '*';
    f[k++] = conv;
    f[k] = 0;
    int n = snprintf(NULL, 0, f, prec, a);
    if (n < 0)
        return;
    ktl_sb_reserve(t, (int64_t)n + 1);
    snprintf(t->p + t->len, (size_t)n + 1, f, prec, a);
    t->len += n;
}

/* Removes the trailing zeros of the fraction in t[from, to), and the point
   when nothing is left after it; what follows `to` moves up. */
static void ktl_fs_strip_zeros(ktl_sb *t, int64_t from, int64_t to) {
    const char *dot = memchr(t->p + from, '.', (size_t)(to - from));
    if (!dot)
        return;
    int64_t end = to;
    while (end > from && t->p[end - 1] == '0')
        end--;
    if (t->p + end - 1 == dot)
        end--;
    memmove(t->p + end, t->p + to, (size_t)(t->len - to));
    t->len -= to - end;
}

/* A float with a precision and no type letter: 'g' with at least one
   digit after the point in fixed notation, which it leaves when the
   exponent reaches the precision minus one (Python's rule, one earlier
   than C's %g). */
static void ktl_fs_general(ktl_sb *t, double a, int prec, bool alt) {
    if (prec == 0)
        prec = 1;
    int64_t start = t->len;
    ktl_fs_printf(t, alt, prec - 1, 'e', a);
    const char *e = memchr(t->p + start, 'e', (size_t)(t->len - start));
    int x = e ? atoi(e + 1) : 0;
    if (x >= -4 && x < prec - 1) {
        t->len = start;
        ktl_fs_printf(t, alt, prec - 1 - x, 'f', a);
        if (!alt)
            ktl_fs_strip_zeros(t, start, t->len);
        if (!memchr(t->p + start, '.', (size_t)(t->len - start))) {
            ktl_sb_putc(t, '.');
            ktl_sb_putc(t, '0');
        }
    } else if (!alt && e) {
        ktl_fs_strip_zeros(t, start, e - t->p);
    }
}

/* A float by type 'e', 'E', 'f', 'g', 'G', '%' or 0 (none); prec < 0 when
   the spec gives none. A NaN never shows a minus sign, as in Python. */
static void ktl_fs_float(ktl_sb *b, double v, char type, int64_t prec, int flags, int64_t width) {
    bool alt = (flags & KTL_FS_ALT) != 0;
    char lead[1];
    int n = 0;
    if (v == v && signbit(v))
        lead[n++] = '-';
    else if (flags & KTL_FS_PLUS)
        lead[n++] = '+';
    double a = fabs(v);
    if (type == '%')
        a *= 100.0;
    int p = prec < 0 ? 6 : prec > 2147483647 ? 2147483647 : (int)prec;
    ktl_sb t;
    ktl_sb_init(&t);
    if (!isfinite(a)) {
        bool upper = type == 'E' || type == 'G';
        ktl_sb_add(&t, a != a ? (upper ? KTL_LIT("NAN") : KTL_LIT("nan"))
                              : (upper ? KTL_LIT("INF") : KTL_LIT("inf")));
    } else if (type == 0 && prec < 0) {
        char buf[48];
        int k = ktl_f2a(a, buf);
        char *e = memchr(buf, 'e', (size_t)k);
        if (alt && !memchr(buf, '.', (size_t)k) && e) {
            memmove(e + 1, e, (size_t)(buf + k - e));
            *e = '.';
            k++;
        }
        ktl_sb_add(&t, ktl_mkstr(buf, k));
    } else if (type == 0) {
        ktl_fs_general(&t, a, p, alt);
    } else {
        ktl_fs_printf(&t, alt, p, type == '%' ? 'f' : type, a);
    }
    if (type == '%')
        ktl_sb_putc(&t, '%');
    ktl_fs_layout(b, lead, n, t.p, t.len, flags, width);
    ktl_sb_free(&t);
}

/* Text padded with blanks to `width` characters (code points): before it
   under KTL_FS_RIGHT, after it otherwise. */
static void ktl_fs_text(ktl_sb *b, ktl_str s, int flags, int64_t width) {
    int64_t chars = ktl_utf8_len(s);
    int64_t pad = width > chars ? width - chars : 0;
    if (flags & KTL_FS_RIGHT)
        ktl_sb_fill(b, ' ', pad);
    ktl_sb_add(b, s);
    if (!(flags & KTL_FS_RIGHT))
        ktl_sb_fill(b, ' ', pad);
}

/* ---- Ranges ----
 *
 * A range is the value {start, stop, step}, passed by value; its step is never
 * 0. Lengths, membership and indexing work on unsigned 64-bit differences, so
 * a range that spans more than half the int64 values (range(INT64_MIN,
 * INT64_MAX)) still counts correctly.
 */

typedef struct {
    int64_t start, stop, step;
} ktl_range;

static ktl_range ktl_range_new(int64_t a, int64_t b, int64_t step) {
    if (KTL_UNLIKELY(step == 0)) ktl_raise_c(KTL_E_ValueError, "range() arg 3 must not be zero");
    return (ktl_range){a, b, step};
}

/* The number of values as an unsigned count (up to 2^64 - 1). */
static inline uint64_t ktl_range_ulen(ktl_range r) {
    if (r.step > 0) {
        if (r.start >= r.stop) return 0;
        return ((uint64_t)r.stop - (uint64_t)r.start - 1) / (uint64_t)r.step + 1;
    }
    if (r.start <= r.stop) return 0;
    return ((uint64_t)r.start - (uint64_t)r.stop - 1) / (0 - (uint64_t)r.step) + 1;
}

/* The number of values, for loops and truth tests. Only a range over nearly
   all int64 values with step 1 or -1 has more values than an int holds; it
   counts as INT64_MAX values, so a loop over it runs (practically) forever
   and it is true, as in Python. */
static inline int64_t ktl_range_len(ktl_range r) {
    uint64_t n = ktl_range_ulen(r);
    return n > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)n;
}

static KTL_COLD KTL_NORETURN void ktl_range_too_long(void) {
    ktl_raise_c(KTL_E_OverflowError, "Python int too large to convert to C ssize_t");
}

/* len(r): like Python, OverflowError when the count doesn't fit an int. */
static inline int64_t ktl_range_len_checked(ktl_range r) {
    uint64_t n = ktl_range_ulen(r);
    if (KTL_UNLIKELY(n > (uint64_t)INT64_MAX)) ktl_range_too_long();
    return (int64_t)n;
}

static inline int64_t ktl_range_at(ktl_range r, int64_t i) {
    uint64_t n = ktl_range_ulen(r), u;
    if (i < 0) {
        uint64_t back = 0 - (uint64_t)i;
#ifndef KTL_UNCHECKED
        if (KTL_UNLIKELY(back > n)) ktl_index_error("range object", i, (int64_t)n);
#endif
        u = n - back;
    } else {
        u = (uint64_t)i;
#ifndef KTL_UNCHECKED
        if (KTL_UNLIKELY(u >= n)) ktl_index_error("range object", i, (int64_t)n);
#endif
    }
    return (int64_t)((uint64_t)r.start + u * (uint64_t)r.step);
}

static bool ktl_range_contains(ktl_range r, int64_t x) {
    uint64_t d, s;
    if (r.step > 0) {
        if (x < r.start || x >= r.stop) return false;
        d = (uint64_t)x - (uint64_t)r.start;
        s = (uint64_t)r.step;
    } else {
        if (x > r.start || x <= r.stop) return false;
        d = (uint64_t)r.start - (uint64_t)x;
        s = 0 - (uint64_t)r.step;
    }
    return d % s == 0;
}

/* Equal when they produce the same numbers. */
static bool ktl_range_eq(ktl_range a, ktl_range b) {
    uint64_t n = ktl_range_ulen(a);
    if (n != ktl_range_ulen(b)) return false;
    if (n == 0) return true;
    if (a.start != b.start) return false;
    return n == 1 || a.step == b.step;
}

static void ktl_print_range(ktl_range r) {
    ktl_write("range(", 6);
    ktl_print_i(r.start);
    ktl_write(", ", 2);
    ktl_print_i(r.stop);
    if (r.step != 1) {
        ktl_write(", ", 2);
        ktl_print_i(r.step);
    }
    ktl_putc(')');
}

/* ---- Sorting, list algorithms, sums ----
 *
 * Two sorts, both instantiated per item type with the comparison inlined as
 * a macro (never a function pointer):
 *   - KTL_DEFINE_SORT: an in-place quicksort (median of three, Hoare
 *     partition, insertion sort below 17 items). Not stable; used where equal
 *     items can't be told apart (ints, bools, strs) and by keyed sorts, whose
 *     records break ties by the item's first index.
 *   - KTL_DEFINE_STABLE_SORT: a merge sort with a temporary half-size block.
 *     Python's sort is stable, and items can tie without being the same
 *     (0.0 and -0.0, objects ordered by __lt__, tuples holding them), so every
 *     list sorted without a key uses it unless its equal items are
 *     indistinguishable.
 * Both finish and stay inside the array even when LESS is not a consistent
 * order (a __lt__ that answers true for every pair); the order is then
 * unspecified. A descending sort uses the mirrored order, so equal items keep
 * their original order in both directions, as in Python.
 */

#define KTL_DEFINE_SORT(NAME, T, LESS)                                                             \
    static void NAME(T *a, int64_t n) {                                                            \
        while (n > 16) {                                                                           \
            int64_t m = (n - 1) / 2;                                                               \
            T t;                                                                                   \
            if (LESS(a[m], a[0])) t = a[m], a[m] = a[0], a[0] = t;                                 \
            if (LESS(a[n - 1], a[m])) {                                                            \
                t = a[n - 1], a[n - 1] = a[m], a[m] = t;                                           \
                if (LESS(a[m], a[0])) t = a[m], a[m] = a[0], a[0] = t;                             \
            }                                                                                      \
            T p = a[m];                                                                            \
            int64_t i = -1, j = n;                                                                 \
            for (;;) {                                                                             \
                do i++;                                                                            \
                while (i < n - 1 && LESS(a[i], p));                                                \
                do j--;                                                                            \
                while (j > 0 && LESS(p, a[j]));                                                    \
                if (i >= j) break;                                                                 \
                t = a[i], a[i] = a[j], a[j] = t;                                                   \
            }                                                                                      \
            /* Only an inconsistent LESS can leave no item on the right;                           \
               splitting anyway keeps the loop finite. */                                          \
            if (j >= n - 1) j = n - 2;                                                             \
            if (j + 1 < n - j - 1) {                                                               \
                NAME(a, j + 1);                                                                    \
                a += j + 1;                                                                        \
                n -= j + 1;                                                                        \
            } else {                                                                               \
                NAME(a + j + 1, n - j - 1);                                                        \
                n = j + 1;                                                                         \
            }                                                                                      \
        }                                                                                          \
        for (int64_t i = 1; i < n; i++) {                                                          \
            T x = a[i];                                                                            \
            int64_t k = i;                                                                         \
            while (k > 0 && LESS(x, a[k - 1])) {                                                   \
                a[k] = a[k - 1];                                                                   \
                k--;                                                                               \
            }                                                                                      \
            a[k] = x;                                                                              \
        }                                                                                          \
    }

/* Stable merge sort. The left run of each merge is copied into tmp (MEM is
   its memory kind), so every item is always in the list or in tmp while a
   user __lt__ runs and perhaps collects. */
#define KTL_DEFINE_STABLE_SORT(NAME, T, LESS, MEM)                                                 \
    static void NAME##_ins(T *a, int64_t n) {                                                      \
        for (int64_t i = 1; i < n; i++) {                                                          \
            T x = a[i];                                                                            \
            int64_t k = i;                                                                         \
            while (k > 0 && LESS(x, a[k - 1])) {                                                   \
                a[k] = a[k - 1];                                                                   \
                k--;                                                                               \
            }                                                                                      \
            a[k] = x;                                                                              \
        }                                                                                          \
    }                                                                                              \
    static void NAME##_rec(T *a, int64_t n, T *tmp) {                                              \
        if (n <= 16) {                                                                             \
            NAME##_ins(a, n);                                                                      \
            return;                                                                                \
        }                                                                                          \
        int64_t h = n / 2;                                                                         \
        NAME##_rec(a, h, tmp);                                                                     \
        NAME##_rec(a + h, n - h, tmp);                                                             \
        if (!LESS(a[h], a[h - 1])) return;                                                         \
        memcpy(tmp, a, (size_t)h * sizeof(T));                                                     \
        int64_t i = 0, j = h, k = 0;                                                               \
        while (i < h && j < n) {                                                                   \
            if (LESS(a[j], tmp[i])) a[k++] = a[j++];                                               \
            else a[k++] = tmp[i++];                                                                \
        }                                                                                          \
        while (i < h) a[k++] = tmp[i++];                                                           \
    }                                                                                              \
    static void NAME(T *a, int64_t n) {                                                            \
        if (n <= 16) {                                                                             \
            NAME##_ins(a, n);                                                                      \
            return;                                                                                \
        }                                                                                          \
        T *tmp = (T *)ktl_gc_alloc((size_t)(n / 2) * sizeof(T), MEM);                              \
        NAME##_rec(a, n, tmp);                                                                     \
        ktl_gc_free(tmp);                                                                          \
    }

/* The stable sort with its temporary block's memory kind fixed. */
#define KTL_DEFINE_STABLE_SORT_SCAN(NAME, T, LESS) KTL_DEFINE_STABLE_SORT(NAME, T, LESS, KTL_SCAN)
#define KTL_DEFINE_STABLE_SORT_NOSCAN(NAME, T, LESS) KTL_DEFINE_STABLE_SORT(NAME, T, LESS, KTL_NOSCAN)

/* min() or max() of an empty list. */
static KTL_COLD KTL_NORETURN void ktl_empty_error(const char *fn) {
    ktl_raise_fmt(KTL_E_ValueError, "%s() iterable argument is empty", fn);
}

/* sort, sort descending, sorted, min and max of a list type whose items are
   ordered by LESS. The compiler's instantiations sort stably (items may hold
   pointers, so the merge sort's block is scanned). */
#define KTL_DEFINE_LIST_ALGOS(L, T, LESS) KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, KTL_DEFINE_STABLE_SORT_SCAN)

/* SORTDEF is the sort to instantiate: a stable one, or KTL_DEFINE_SORT where
   equal items are indistinguishable. */
#define KTL_DEFINE_LIST_ALGOS_WITH(L, T, LESS, SORTDEF)                                            \
    static inline bool ktl_gt_##L(T a, T b) { return LESS(b, a); }                                 \
    SORTDEF(ktl_sort_raw_##L, T, LESS)                                                             \
    SORTDEF(ktl_rsort_raw_##L, T, ktl_gt_##L)                                                      \
    static inline void ktl_sort_##L(L *l) { ktl_sort_raw_##L(l->data, l->len); }                   \
    static inline void ktl_rsort_##L(L *l) { ktl_rsort_raw_##L(l->data, l->len); }                 \
    static L *ktl_sorted_##L(L *l) {                                                               \
        L *r = L##_from(l->len, l->data);                                                          \
        ktl_sort_raw_##L(r->data, r->len);                                                         \
        return r;                                                                                  \
    }                                                                                              \
    /* The first of equal extremes wins. */                                                        \
    static T ktl_min_##L(L *l) {                                                                   \
        if (KTL_UNLIKELY(l->len == 0)) ktl_empty_error("min");                                     \
        T m = l->data[0];                                                                          \
        for (int64_t i = 1; i < l->len; i++)                                                       \
            if (LESS(l->data[i], m)) m = l->data[i];                                               \
        return m;                                                                                  \
    }                                                                                              \
    static T ktl_max_##L(L *l) {                                                                   \
        if (KTL_UNLIKELY(l->len == 0)) ktl_empty_error("max");                                     \
        T m = l->data[0];                                                                          \
        for (int64_t i = 1; i < l->len; i++)                                                       \
            if (LESS(m, l->data[i])) m = l->data[i];                                               \
        return m;                                                                                  \
    }

/* Equal ints, bools and strs can't be told apart, so the in-place quicksort
   serves them; 0.0 and -0.0 tie but differ, so floats sort stably. */
KTL_DEFINE_LIST_ALGOS_WITH(L_i, int64_t, KTL_LT, KTL_DEFINE_SORT)
KTL_DEFINE_LIST_ALGOS_WITH(L_f, double, KTL_LT, KTL_DEFINE_STABLE_SORT_NOSCAN)
KTL_DEFINE_LIST_ALGOS_WITH(L_b, bool, KTL_LT, KTL_DEFINE_SORT)
KTL_DEFINE_LIST_ALGOS_WITH(L_s, ktl_str, KTL_STR_LT, KTL_DEFINE_SORT)

/* sum() of ints wraps on overflow, like every int operation. */
static int64_t ktl_sum_L_i(L_i *l) {
    uint64_t s = 0;
    for (int64_t i = 0; i < l->len; i++) s += (uint64_t)l->data[i];
    return (int64_t)s;
}

/* sum() of floats: Neumaier's compensated sum, as CPython computes it, so the
   sum of ten 0.1 is exactly 1.0. */
typedef struct {
    double s, c;
} ktl_fsum;

static inline void ktl_fsum_add(ktl_fsum *a, double x) {
    double t = a->s + x;
    if (fabs(a->s) >= fabs(x)) a->c += (a->s - t) + x;
    else a->c += (x - t) + a->s;
    a->s = t;
}

static inline double ktl_fsum_done(ktl_fsum a) {
    if (a.c != 0.0 && isfinite(a.c)) return a.s + a.c;
    return a.s;
}

static double ktl_sum_L_f(L_f *l) {
    ktl_fsum a = {0.0, 0.0};
    for (int64_t i = 0; i < l->len; i++) ktl_fsum_add(&a, l->data[i]);
    return ktl_fsum_done(a);
}

/* ---- Hashing of dict keys and set items; the unpacking check ----
 *
 * Two families of hashes:
 *   - table hashes (32 bits) index dicts only, so they need no relation to
 *     Python's: a multiply-xorshift mix of each 64-bit word;
 *   - CPython-compatible hashes (64 bits, never -1) place set items, so that
 *     a set of ints, bools or tuples of those iterates and prints in CPython's
 *     order. CPython randomises its string hash per process, so strings use a
 *     fixed hash of their own in both families.
 */

#define KTL_XXP1 11400714785074694791ULL
#define KTL_XXP2 14029467366897019727ULL
#define KTL_XXP5 2870177450012600261ULL

static inline uint32_t ktl_mix(uint64_t h) {
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return (uint32_t)h;
}

static inline uint64_t ktl_hash_step(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 29);
}

static inline uint32_t ktl_hash_i(int64_t x) { return ktl_mix((uint64_t)x); }
static inline uint32_t ktl_hash_b(bool x) { return x ? 1u : 0u; }

/* The word loop shared by both string hashes: the length times the golden
   ratio, then one step per little-endian 8-byte word, the last 1 to 7 bytes
   zero-filled into a final word. */
static inline uint64_t ktl_hash_words(ktl_str s) {
    uint64_t h = (uint64_t)s.len * 0x9E3779B97F4A7C15ULL;
    const unsigned char *p = (const unsigned char *)s.p;
    int64_t i = 0;
    for (; i + 8 <= s.len; i += 8) {
        uint64_t w = 0;
        for (int k = 0; k < 8; k++) w |= (uint64_t)p[i + k] << (8 * k);
        h = ktl_hash_step(h, w);
    }
    if (i < s.len) {
        uint64_t w = 0;
        for (int k = 0; i + k < s.len; k++) w |= (uint64_t)p[i + k] << (8 * k);
        h = ktl_hash_step(h, w);
    }
    return h;
}

static inline uint32_t ktl_hash_s(ktl_str s) { return ktl_mix(ktl_hash_words(s)); }

/* 2^61 - 1, the modulus of CPython's numeric hash. */
#define KTL_PYHASH_MOD ((uint64_t)0x1FFFFFFFFFFFFFFFULL)

/* CPython's hash of an int: the magnitude modulo 2^61 - 1 with x's sign;
   -1 is reserved for errors there, so it becomes -2. */
static inline int64_t ktl_pyhash_i(int64_t x) {
    uint64_t m = x < 0 ? 0 - (uint64_t)x : (uint64_t)x;
    int64_t h = (int64_t)(m % KTL_PYHASH_MOD);
    if (x < 0) h = -h;
    return h == -1 ? -2 : h;
}

static inline int64_t ktl_pyhash_b(bool x) { return x ? 1 : 0; }

static inline int64_t ktl_pyhash_s(ktl_str s) {
    uint64_t h = ktl_hash_words(s);
    h ^= h >> 31;
    return (int64_t)h == -1 ? -2 : (int64_t)h;
}

/* CPython's tuple hash (xxHash-based): start from KTL_XXP5, one step per
   field's hash, then fold in the length. */
static inline uint64_t ktl_tuphash_step(uint64_t acc, int64_t lane) {
    acc += (uint64_t)lane * KTL_XXP2;
    acc = (acc << 31) | (acc >> 33);
    return acc * KTL_XXP1;
}

static inline int64_t ktl_tuphash_done(uint64_t acc, int64_t len) {
    acc += (uint64_t)len ^ (KTL_XXP5 ^ 3527539ULL);
    return acc == (uint64_t)-1 ? 1546275796 : (int64_t)acc;
}

/* Unpacking a list of len items into n targets. */
static KTL_COLD KTL_NORETURN void ktl_unpack_error(int64_t len, int64_t n) {
    if (len > n)
        ktl_raise_fmt(KTL_E_ValueError, "too many values to unpack (expected %lld, got %lld)", (long long)n,
                      (long long)len);
    ktl_raise_fmt(KTL_E_ValueError, "not enough values to unpack (expected %lld, got %lld)", (long long)n,
                  (long long)len);
}

static inline void ktl_unpack_check(int64_t len, int64_t n) {
    if (KTL_UNLIKELY(len != n)) ktl_unpack_error(len, n);
}

/* ---- Dicts ----
 *
 * CPython's compact layout: the entries stand in insertion order in a dense
 * array, and a separate open-addressing table of 64-bit slots indexes them.
 * A slot packs the key's 32-bit table hash in its high half and the entry
 * number + 1 in its low half (0 is an empty slot, KTL_SLOT_DEL a deleted
 * one), so probes compare hashes without touching entries and re-indexing
 * never recomputes a hash.
 *
 * Invariants: cap (entry capacity) is a power of two, at least 4; the slot
 * table has 2 * cap slots; live plus deleted slots never exceed cap, so at
 * least half the slots are empty and every probe ends. A deletion only flags
 * the entry (in `dead`, created by the first deletion) and marks its slot;
 * the entry is squeezed out by the next rebuild, which happens when the entry
 * array is full.
 */

#define KTL_SLOT_DEL ((uint64_t)UINT32_MAX)
/* s holds a live entry whose hash is tag >> 32: s ^ tag is then the entry
   number + 1, which is neither 0 (empty) nor all ones (deleted). */
#define KTL_SLOT_HIT(s, tag) ((((s) ^ (tag)) - 1) < (uint64_t)UINT32_MAX - 1)
#define KTL_DICT_MAX_CAP ((int64_t)1 << 30)

static KTL_COLD KTL_NORETURN void ktl_dict_changed(void) {
    ktl_raise_c(KTL_E_RuntimeError, "dictionary changed size during iteration");
}

static inline int64_t ktl_dict_cap_for(int64_t n) {
    if (n > KTL_DICT_MAX_CAP) ktl_panic("dict too large");
    int64_t cap = 4;
    while (cap < n) cap <<= 1;
    return cap;
}

#define KTL_DEFINE_DICT(D, K, V, HASH, EQ, KPRINT, VPRINT, VEQ, SCAN)                              \
    typedef struct {                                                                               \
        K key;                                                                                     \
        V val;                                                                                     \
    } D##_ent;                                                                                     \
    typedef struct D {                                                                             \
        D##_ent *ents;                                                                             \
        uint64_t *slots;                                                                           \
        uint8_t *dead;                                                                             \
        int64_t len, n, cap, mask;                                                                 \
    } D;                                                                                           \
    static D *D##_new(int64_t n) {                                                                 \
        int64_t cap = ktl_dict_cap_for(n);                                                         \
        D *d = (D *)ktl_alloc(sizeof(D));                                                          \
        d->ents = (D##_ent *)ktl_gc_alloc((size_t)cap * sizeof(D##_ent), SCAN);                    \
        d->slots = (uint64_t *)ktl_gc_zalloc((size_t)cap * 2 * sizeof(uint64_t));                  \
        d->cap = cap;                                                                              \
        d->mask = cap * 2 - 1;                                                                     \
        return d;                                                                                  \
    }                                                                                              \
    static int64_t D##_find(D *d, K k, uint32_t h) {                                               \
        uint64_t tag = (uint64_t)h << 32, mask = (uint64_t)d->mask;                                \
        for (uint64_t i = h & mask;; i = (i + 1) & mask) {                                         \
            uint64_t s = d->slots[i];                                                              \
            if (s == 0) return -1;                                                                 \
            if (KTL_SLOT_HIT(s, tag) && EQ(d->ents[(uint32_t)s - 1].key, k))                       \
                return (int64_t)(uint32_t)s - 1;                                                   \
        }                                                                                          \
    }                                                                                              \
    /* Squeezes deleted entries out (keeping order), doubles the entry array                       \
       when the live entries still fill more than half of it, and rebuilds                         \
       the slots from the old slots, in their order, without re-hashing. */                        \
    static KTL_COLD void D##_rebuild(D *d) {                                                       \
        uint32_t *renum = NULL;                                                                    \
        if (d->dead) {                                                                             \
            renum = (uint32_t *)ktl_xmalloc((size_t)d->n * sizeof(uint32_t));                      \
            int64_t j = 0;                                                                         \
            for (int64_t i = 0; i < d->n; i++) {                                                   \
                if (d->dead[i]) continue;                                                          \
                renum[i] = (uint32_t)j;                                                            \
                d->ents[j++] = d->ents[i];                                                         \
            }                                                                                      \
            memset(d->ents + j, 0, (size_t)(d->n - j) * sizeof(D##_ent));                          \
            d->n = j;                                                                              \
            ktl_gc_free(d->dead);                                                                  \
            d->dead = NULL;                                                                        \
        }                                                                                          \
        int64_t cap = d->cap;                                                                      \
        if (d->len > cap / 2) {                                                                    \
            if (cap >= KTL_DICT_MAX_CAP) ktl_panic("dict too large");                              \
            cap *= 2;                                                                              \
            d->ents = (D##_ent *)ktl_gc_realloc(d->ents, (size_t)d->n * sizeof(D##_ent),           \
                                                (size_t)cap * sizeof(D##_ent), SCAN);              \
        }                                                                                          \
        uint64_t *old = d->slots, oldn = (uint64_t)d->mask + 1;                                    \
        uint64_t mask = (uint64_t)cap * 2 - 1;                                                     \
        uint64_t *slots = (uint64_t *)ktl_gc_zalloc((size_t)(mask + 1) * sizeof(uint64_t));        \
        for (uint64_t i = 0; i < oldn; i++) {                                                      \
            uint64_t s = old[i];                                                                   \
            if (s == 0 || s == KTL_SLOT_DEL) continue;                                             \
            uint64_t e = (uint32_t)s - 1, h = s >> 32;                                             \
            if (renum) e = renum[e];                                                               \
            uint64_t j = h & mask;                                                                 \
            while (slots[j]) j = (j + 1) & mask;                                                   \
            slots[j] = (h << 32) | (e + 1);                                                        \
        }                                                                                          \
        ktl_gc_free(old);                                                                          \
        free(renum);                                                                               \
        d->slots = slots;                                                                          \
        d->cap = cap;                                                                              \
        d->mask = (int64_t)mask;                                                                   \
    }                                                                                              \
    static void D##_insert_new(D *d, K k, V v, uint32_t h) {                                       \
        if (KTL_UNLIKELY(d->n == d->cap)) D##_rebuild(d);                                          \
        int64_t e = d->n++;                                                                        \
        d->len++;                                                                                  \
        d->ents[e].key = k;                                                                        \
        d->ents[e].val = v;                                                                        \
        uint64_t mask = (uint64_t)d->mask, i = h & mask;                                           \
        while (d->slots[i] != 0 && d->slots[i] != KTL_SLOT_DEL) i = (i + 1) & mask;                \
        d->slots[i] = ((uint64_t)h << 32) | (uint64_t)(e + 1);                                     \
    }                                                                                              \
    static void D##_set(D *d, K k, V v) {                                                          \
        uint32_t h = HASH(k);                                                                      \
        int64_t e = D##_find(d, k, h);                                                             \
        if (e >= 0) d->ents[e].val = v;                                                            \
        else D##_insert_new(d, k, v, h);                                                           \
    }                                                                                              \
    /* KeyError whose text is the key's repr. */                                                   \
    static KTL_COLD KTL_NORETURN void D##_key_error(K k) {                                         \
        ktl_sb b;                                                                                  \
        ktl_sb_init(&b);                                                                           \
        ktl_capstate cs = ktl_cap_begin(&b);                                                       \
        KPRINT(k);                                                                                 \
        ktl_cap_end(cs);                                                                           \
        ktl_key_error_repr(ktl_sb_done(&b));                                                       \
    }                                                                                              \
    static inline V *D##_at(D *d, K k) {                                                           \
        int64_t e = D##_find(d, k, HASH(k));                                                       \
        if (KTL_UNLIKELY(e < 0)) D##_key_error(k);                                                 \
        return &d->ents[e].val;                                                                    \
    }                                                                                              \
    static inline bool D##_contains(D *d, K k) { return D##_find(d, k, HASH(k)) >= 0; }            \
    static inline V D##_get(D *d, K k, V def) {                                                    \
        int64_t e = D##_find(d, k, HASH(k));                                                       \
        return e < 0 ? def : d->ents[e].val;                                                       \
    }                                                                                              \
    static V D##_setdefault(D *d, K k, V def) {                                                    \
        uint32_t h = HASH(k);                                                                      \
        int64_t e = D##_find(d, k, h);                                                             \
        if (e >= 0) return d->ents[e].val;                                                         \
        D##_insert_new(d, k, def, h);                                                              \
        return def;                                                                                \
    }                                                                                              \
    /* Unlinks k and returns its entry index (the entry stays readable until                       \
       the next insertion), or -1. */                                                              \
    static int64_t D##_remove(D *d, K k) {                                                         \
        uint32_t h = HASH(k);                                                                      \
        uint64_t tag = (uint64_t)h << 32, mask = (uint64_t)d->mask;                                \
        for (uint64_t i = h & mask;; i = (i + 1) & mask) {                                         \
            uint64_t s = d->slots[i];                                                              \
            if (s == 0) return -1;                                                                 \
            if (KTL_SLOT_HIT(s, tag) && EQ(d->ents[(uint32_t)s - 1].key, k)) {                     \
                int64_t e = (int64_t)(uint32_t)s - 1;                                              \
                d->slots[i] = KTL_SLOT_DEL;                                                        \
                if (!d->dead) d->dead = (uint8_t *)ktl_gc_zalloc((size_t)d->cap);                  \
                d->dead[e] = 1;                                                                    \
                d->len--;                                                                          \
                return e;                                                                          \
            }                                                                                      \
        }                                                                                          \
    }                                                                                              \
    static V D##_pop(D *d, K k) {                                                                  \
        int64_t e = D##_remove(d, k);                                                              \
        if (KTL_UNLIKELY(e < 0)) D##_key_error(k);                                                 \
        return d->ents[e].val;                                                                     \
    }                                                                                              \
    static V D##_pop_or(D *d, K k, V def) {                                                        \
        int64_t e = D##_remove(d, k);                                                              \
        return e < 0 ? def : d->ents[e].val;                                                       \
    }                                                                                              \
    static void D##_del(D *d, K k) {                                                               \
        if (KTL_UNLIKELY(D##_remove(d, k) < 0)) D##_key_error(k);                                  \
    }                                                                                              \
    static void D##_clear(D *d) {                                                                  \
        memset(d->ents, 0, (size_t)d->n * sizeof(D##_ent));                                        \
        memset(d->slots, 0, (size_t)(d->mask + 1) * sizeof(uint64_t));                             \
        if (d->dead) ktl_gc_free(d->dead);                                                         \
        d->dead = NULL;                                                                            \
        d->len = d->n = 0;                                                                         \
    }                                                                                              \
    static D *D##_copy(D *s) {                                                                     \
        D *d = D##_new(s->len);                                                                    \
        for (int64_t i = 0; i < s->n; i++)                                                         \
            if (!s->dead || !s->dead[i])                                                           \
                D##_insert_new(d, s->ents[i].key, s->ents[i].val, HASH(s->ents[i].key));           \
        return d;                                                                                  \
    }                                                                                              \
    static void D##_update(D *d, D *o) {                                                           \
        if (d == o) return;                                                                        \
        for (int64_t i = 0; i < o->n; i++)                                                         \
            if (!o->dead || !o->dead[i]) D##_set(d, o->ents[i].key, o->ents[i].val);               \
    }                                                                                              \
    static bool D##_eq(D *a, D *b) {                                                               \
        if (a == b) return true;                                                                   \
        if (a->len != b->len) return false;                                                        \
        for (int64_t i = 0; i < a->n; i++) {                                                       \
            if (a->dead && a->dead[i]) continue;                                                   \
            int64_t e = D##_find(b, a->ents[i].key, HASH(a->ents[i].key));                         \
            if (e < 0 || !(VEQ(a->ents[i].val, b->ents[e].val))) return false;                     \
        }                                                                                          \
        return true;                                                                               \
    }                                                                                              \
    static void ktl_print_##D(D *d) {                                                              \
        ktl_putc('{');                                                                             \
        bool first = true;                                                                         \
        for (int64_t i = 0; i < d->n; i++) {                                                       \
            if (d->dead && d->dead[i]) continue;                                                   \
            if (!first) ktl_write(", ", 2);                                                        \
            first = false;                                                                         \
            KPRINT(d->ents[i].key);                                                                \
            ktl_write(": ", 2);                                                                    \
            VPRINT(d->ents[i].val);                                                                \
        }                                                                                          \
        ktl_putc('}');                                                                             \
    }

/* ---- Sets ----
 *
 * A set is CPython's set table itself: entries {hash, key, state} in an
 * open-addressing table probed from hash & mask, 9 linear probes after each
 * start position (when they fit before the end), then a perturbed jump;
 * deleted entries become dummies (hash -1) that searches pass over. Growth,
 * deletion, copying and every whole-set operation follow the CPython
 * operation named beside it, and the hashes of ints, bools and tuples of
 * those are CPython's, so a set of such items iterates and prints in exactly
 * CPython's order. A new set uses the inline table of 8 entries in its
 * header.
 *
 * Invariant: fill (active + dummy entries) stays below 3/5 of the table
 * after every add, so a probe always reaches an empty entry.
 */

#define KTL_SET_PROBES 9
#define KTL_SET_MINSIZE 8

static KTL_COLD KTL_NORETURN void ktl_set_changed(void) {
    ktl_raise_c(KTL_E_RuntimeError, "Set changed size during iteration");
}

static KTL_COLD KTL_NORETURN void ktl_set_pop_empty(void) {
    ktl_raise_c(KTL_E_KeyError, "pop from an empty set");
}

/* The table size CPython picks for at least minused items: the smallest power
   of two from 8 up that is greater than minused. */
static inline uint64_t ktl_set_size_for(int64_t minused) {
    uint64_t n = KTL_SET_MINSIZE;
    while (n <= (uint64_t)minused) n <<= 1;
    return n;
}

/* Tables of int and bool items hold no pointers: the collector needn't read
   them (a table of other items is scanned). */
#define KTL_SET_PLAIN(K) (__builtin_types_compatible_p(K, int64_t) || __builtin_types_compatible_p(K, bool))

#define KTL_DEFINE_SET(S, K, HASH, EQ, KPRINT)                                                     \
    typedef struct {                                                                               \
        int64_t hash;                                                                              \
        K key;                                                                                     \
        uint8_t st; /* 0 empty, 1 active, 2 dummy */                                               \
    } S##_ent;                                                                                     \
    typedef struct S {                                                                             \
        S##_ent *table;                                                                            \
        int64_t fill, used, mask, finger;                                                          \
        S##_ent small[KTL_SET_MINSIZE];                                                            \
    } S;                                                                                           \
    static S *S##_new(void) {                                                                      \
        S *s = (S *)ktl_alloc(sizeof(S));                                                          \
        s->table = s->small;                                                                       \
        s->mask = KTL_SET_MINSIZE - 1;                                                             \
        return s;                                                                                  \
    }                                                                                              \
    /* set_lookkey */                                                                              \
    static int64_t S##_find(S *s, K k, int64_t h) {                                                \
        S##_ent *t = s->table;                                                                     \
        uint64_t mask = (uint64_t)s->mask, perturb = (uint64_t)h, i = (uint64_t)h & mask;          \
        for (;;) {                                                                                 \
            S##_ent *e = &t[i];                                                                    \
            int probes = i + KTL_SET_PROBES <= mask ? KTL_SET_PROBES : 0;                          \
            do {                                                                                   \
                if (e->st == 0) return -1;                                                         \
                if (e->hash == h && e->st == 1 && EQ(e->key, k)) return e - t;                     \
                e++;                                                                               \
            } while (probes--);                                                                    \
            perturb >>= 5;                                                                         \
            i = (i * 5 + 1 + perturb) & mask;                                                      \
        }                                                                                          \
    }                                                                                              \
    /* set_insert_clean: into a table without dummies, k known absent. */                          \
    static void S##_insert_clean(S##_ent *t, uint64_t mask, K k, int64_t h) {                      \
        uint64_t perturb = (uint64_t)h, i = (uint64_t)h & mask;                                    \
        S##_ent *e;                                                                                \
        for (;;) {                                                                                 \
            e = &t[i];                                                                             \
            if (e->st == 0) break;                                                                 \
            if (i + KTL_SET_PROBES <= mask) {                                                      \
                int j = 0;                                                                         \
                for (; j < KTL_SET_PROBES; j++) {                                                  \
                    e++;                                                                           \
                    if (e->st == 0) break;                                                         \
                }                                                                                  \
                if (j < KTL_SET_PROBES) break;                                                     \
            }                                                                                      \
            perturb >>= 5;                                                                         \
            i = (i * 5 + 1 + perturb) & mask;                                                      \
        }                                                                                          \
        e->hash = h;                                                                               \
        e->key = k;                                                                                \
        e->st = 1;                                                                                 \
    }                                                                                              \
    /* set_table_resize */                                                                         \
    static KTL_COLD void S##_resize(S *s, int64_t minused) {                                       \
        uint64_t size = ktl_set_size_for(minused);                                                 \
        S##_ent *old = s->table, *nt, copy[KTL_SET_MINSIZE];                                       \
        uint64_t oldn = (uint64_t)s->mask + 1;                                                     \
        bool oldheap = old != s->small;                                                            \
        if (size == KTL_SET_MINSIZE) {                                                             \
            nt = s->small;                                                                         \
            if (nt == old) {                                                                       \
                if (s->fill == s->used) return;                                                    \
                memcpy(copy, old, sizeof copy);                                                    \
                old = copy;                                                                        \
            }                                                                                      \
            memset(nt, 0, sizeof s->small);                                                        \
        } else {                                                                                   \
            size_t bytes = ktl_items_bytes((int64_t)size, sizeof(S##_ent));                        \
            void *blk = KTL_SET_PLAIN(K) ? ktl_gc_zalloc(bytes) : ktl_gc_alloc(bytes, KTL_SCAN);   \
            nt = (S##_ent *)blk;                                                                   \
        }                                                                                          \
        s->table = nt;                                                                             \
        s->mask = (int64_t)size - 1;                                                               \
        s->fill = s->used;                                                                         \
        for (uint64_t i = 0; i < oldn; i++)                                                        \
            if (old[i].st == 1) S##_insert_clean(nt, size - 1, old[i].key, old[i].hash);           \
        if (oldheap) ktl_gc_free(old);                                                             \
    }                                                                                              \
    /* set_add_entry: true when k was absent. */                                                   \
    static bool S##_add_h(S *s, K k, int64_t h) {                                                  \
        S##_ent *t = s->table, *e, *freeslot = NULL;                                               \
        uint64_t mask = (uint64_t)s->mask, perturb = (uint64_t)h, i = (uint64_t)h & mask;          \
        for (;;) {                                                                                 \
            e = &t[i];                                                                             \
            int probes = i + KTL_SET_PROBES <= mask ? KTL_SET_PROBES : 0;                          \
            do {                                                                                   \
                if (e->st == 0) goto found_unused_or_dummy;                                        \
                if (e->hash == h) {                                                                \
                    if (EQ(e->key, k)) return false;                                               \
                } else if (e->st == 2) {                                                           \
                    freeslot = e;                                                                  \
                }                                                                                  \
                e++;                                                                               \
            } while (probes--);                                                                    \
            perturb >>= 5;                                                                         \
            i = (i * 5 + 1 + perturb) & mask;                                                      \
        }                                                                                          \
    found_unused_or_dummy:                                                                         \
        if (freeslot) {                                                                            \
            freeslot->hash = h;                                                                    \
            freeslot->key = k;                                                                     \
            freeslot->st = 1;                                                                      \
            s->used++;                                                                             \
            return true;                                                                           \
        }                                                                                          \
        e->hash = h;                                                                               \
        e->key = k;                                                                                \
        e->st = 1;                                                                                 \
        s->fill++;                                                                                 \
        s->used++;                                                                                 \
        if ((uint64_t)s->fill * 5 >= mask * 3)                                                     \
            S##_resize(s, s->used > 50000 ? s->used * 2 : s->used * 4);                            \
        return true;                                                                               \
    }                                                                                              \
    static inline bool S##_add(S *s, K k) { return S##_add_h(s, k, HASH(k)); }                     \
    static inline bool S##_contains(S *s, K k) { return S##_find(s, k, HASH(k)) >= 0; }            \
    /* set_discard_entry: true when k was present. */                                              \
    static bool S##_discard_h(S *s, K k, int64_t h) {                                              \
        int64_t i = S##_find(s, k, h);                                                             \
        if (i < 0) return false;                                                                   \
        S##_ent *e = &s->table[i];                                                                 \
        memset(&e->key, 0, sizeof e->key);                                                         \
        e->hash = -1;                                                                              \
        e->st = 2;                                                                                 \
        s->used--;                                                                                 \
        return true;                                                                               \
    }                                                                                              \
    static inline bool S##_discard(S *s, K k) { return S##_discard_h(s, k, HASH(k)); }             \
    static KTL_COLD KTL_NORETURN void S##_key_error(K k) {                                         \
        ktl_sb b;                                                                                  \
        ktl_sb_init(&b);                                                                           \
        ktl_capstate cs = ktl_cap_begin(&b);                                                       \
        KPRINT(k);                                                                                 \
        ktl_cap_end(cs);                                                                           \
        ktl_key_error_repr(ktl_sb_done(&b));                                                       \
    }                                                                                              \
    static void S##_remove(S *s, K k) {                                                            \
        if (!S##_discard(s, k)) S##_key_error(k);                                                  \
    }                                                                                              \
    /* set_pop: the next active entry from the finger on, wrapping around. */                      \
    static K S##_pop(S *s) {                                                                       \
        if (KTL_UNLIKELY(s->used == 0)) ktl_set_pop_empty();                                       \
        S##_ent *e = s->table + (s->finger & s->mask), *limit = s->table + s->mask;                \
        while (e->st != 1) {                                                                       \
            e++;                                                                                   \
            if (e > limit) e = s->table;                                                           \
        }                                                                                          \
        K k = e->key;                                                                              \
        memset(&e->key, 0, sizeof e->key);                                                         \
        e->hash = -1;                                                                              \
        e->st = 2;                                                                                 \
        s->used--;                                                                                 \
        s->finger = (e - s->table) + 1;                                                            \
        return k;                                                                                  \
    }                                                                                              \
    static void S##_clear(S *s) {                                                                  \
        if (s->table != s->small) ktl_gc_free(s->table);                                           \
        memset(s->small, 0, sizeof s->small);                                                      \
        s->table = s->small;                                                                       \
        s->fill = s->used = 0;                                                                     \
        s->mask = KTL_SET_MINSIZE - 1;                                                             \
    }                                                                                              \
    /* set_merge */                                                                                \
    static void S##_merge(S *s, S *o) {                                                            \
        if (o == s || o->used == 0) return;                                                        \
        if ((s->fill + o->used) * 5 >= s->mask * 3) S##_resize(s, (s->used + o->used) * 2);        \
        S##_ent *ot = o->table;                                                                    \
        if (s->fill == 0 && s->mask == o->mask && o->fill == o->used) {                            \
            for (int64_t i = 0; i <= o->mask; i++)                                                 \
                if (ot[i].st == 1) s->table[i] = ot[i];                                            \
            s->fill = o->fill;                                                                     \
            s->used = o->used;                                                                     \
            return;                                                                                \
        }                                                                                          \
        if (s->fill == 0) {                                                                        \
            s->fill = s->used = o->used;                                                           \
            for (int64_t i = 0; i <= o->mask; i++)                                                 \
                if (ot[i].st == 1)                                                                 \
                    S##_insert_clean(s->table, (uint64_t)s->mask, ot[i].key, ot[i].hash);          \
            return;                                                                                \
        }                                                                                          \
        for (int64_t i = 0; i <= o->mask; i++)                                                     \
            if (ot[i].st == 1) S##_add_h(s, ot[i].key, ot[i].hash);                                \
    }                                                                                              \
    static S *S##_copy(S *o) {                                                                     \
        S *s = S##_new();                                                                          \
        S##_merge(s, o);                                                                           \
        return s;                                                                                  \
    }                                                                                              \
    /* A constant set display. CPython folds the constants into a frozenset                        \
       (the items added in order), which its compiler then rebuilds from                           \
       that frozenset's own table order while merging constants, and the                           \
       display copies the rebuilt one. */                                                          \
    static S *S##_from_consts(int64_t n, K const *ks) {                                            \
        S *t = S##_new();                                                                          \
        for (int64_t i = 0; i < n; i++) S##_add(t, ks[i]);                                         \
        S *u = S##_new();                                                                          \
        for (int64_t i = 0; i <= t->mask; i++)                                                     \
            if (t->table[i].st == 1) S##_add_h(u, t->table[i].key, t->table[i].hash);              \
        S *s = S##_copy(u);                                                                        \
        S##_clear(t);                                                                              \
        S##_clear(u);                                                                              \
        return s;                                                                                  \
    }                                                                                              \
    static S *S##_from(int64_t n, K const *ks) {                                                   \
        S *s = S##_new();                                                                          \
        for (int64_t i = 0; i < n; i++) S##_add(s, ks[i]);                                         \
        return s;                                                                                  \
    }                                                                                              \
    /* set_intersection: walk the smaller set, look up in the larger. */                           \
    static S *S##_and(S *a, S *b) {                                                                \
        if (a == b) return S##_copy(a);                                                            \
        S *r = S##_new();                                                                          \
        if (b->used > a->used) {                                                                   \
            S *t = a;                                                                              \
            a = b;                                                                                 \
            b = t;                                                                                 \
        }                                                                                          \
        for (int64_t i = 0; i <= b->mask; i++) {                                                   \
            S##_ent *e = &b->table[i];                                                             \
            if (e->st == 1 && S##_find(a, e->key, e->hash) >= 0) S##_add_h(r, e->key, e->hash);    \
        }                                                                                          \
        return r;                                                                                  \
    }                                                                                              \
    /* set_swap_bodies, keeping only s: s takes t's table and counts. */                           \
    static void S##_take(S *s, S *t) {                                                             \
        if (s == t) return;                                                                        \
        if (s->table != s->small) ktl_gc_free(s->table);                                           \
        if (t->table == t->small) {                                                                \
            memcpy(s->small, t->small, sizeof s->small);                                           \
            s->table = s->small;                                                                   \
        } else {                                                                                   \
            s->table = t->table;                                                                   \
        }                                                                                          \
        s->fill = t->fill;                                                                         \
        s->used = t->used;                                                                         \
        s->mask = t->mask;                                                                         \
        t->table = t->small;                                                                       \
        ktl_gc_free(t);                                                                            \
    }                                                                                              \
    static void S##_and_update(S *s, S *o) { S##_take(s, S##_and(s, o)); }                         \
    /* Resizes the dummies away when they are more than a quarter of the                           \
       table. */                                                                                   \
    static void S##_purge(S *s) {                                                                  \
        if ((uint64_t)(s->fill - s->used) <= (uint64_t)s->mask / 4) return;                        \
        S##_resize(s, s->used > 50000 ? s->used * 2 : s->used * 4);                                \
    }                                                                                              \
    /* set_difference_update_internal */                                                           \
    static void S##_diff_update(S *s, S *o) {                                                      \
        if (s == o) {                                                                              \
            S##_clear(s);                                                                          \
            return;                                                                                \
        }                                                                                          \
        if ((o->used >> 3) > s->used) o = S##_and(s, o);                                           \
        for (int64_t i = 0; i <= o->mask; i++) {                                                   \
            S##_ent *e = &o->table[i];                                                             \
            if (e->st == 1) S##_discard_h(s, e->key, e->hash);                                     \
        }                                                                                          \
        S##_purge(s);                                                                              \
    }                                                                                              \
    /* set_difference */                                                                           \
    static S *S##_sub(S *a, S *b) {                                                                \
        if ((a->used >> 2) > b->used) {                                                            \
            S *r = S##_copy(a);                                                                    \
            S##_diff_update(r, b);                                                                 \
            return r;                                                                              \
        }                                                                                          \
        S *r = S##_new();                                                                          \
        for (int64_t i = 0; i <= a->mask; i++) {                                                   \
            S##_ent *e = &a->table[i];                                                             \
            if (e->st == 1 && S##_find(b, e->key, e->hash) < 0) S##_add_h(r, e->key, e->hash);     \
        }                                                                                          \
        return r;                                                                                  \
    }                                                                                              \
    /* set_symmetric_difference_update */                                                          \
    static void S##_xor_update(S *s, S *o) {                                                       \
        if (s == o) {                                                                              \
            S##_clear(s);                                                                          \
            return;                                                                                \
        }                                                                                          \
        for (int64_t i = 0; i <= o->mask; i++) {                                                   \
            S##_ent *e = &o->table[i];                                                             \
            if (e->st == 1 && !S##_discard_h(s, e->key, e->hash)) S##_add_h(s, e->key, e->hash);   \
        }                                                                                          \
    }                                                                                              \
    /* set_symmetric_difference: a copy of b updated with a. */                                    \
    static S *S##_xor(S *a, S *b) {                                                                \
        S *r = S##_copy(b);                                                                        \
        S##_xor_update(r, a);                                                                      \
        return r;                                                                                  \
    }                                                                                              \
    static S *S##_or(S *a, S *b) {                                                                 \
        S *r = S##_copy(a);                                                                        \
        if (a != b) S##_merge(r, b);                                                               \
        return r;                                                                                  \
    }                                                                                              \
    static bool S##_issubset(S *a, S *b) {                                                         \
        if (a->used > b->used) return false;                                                       \
        for (int64_t i = 0; i <= a->mask; i++) {                                                   \
            S##_ent *e = &a->table[i];                                                             \
            if (e->st == 1 && S##_find(b, e->key, e->hash) < 0) return false;                      \
        }                                                                                          \
        return true;                                                                               \
    }                                                                                              \
    static bool S##_isdisjoint(S *a, S *b) {                                                       \
        if (a == b) return a->used == 0;                                                           \
        if (b->used > a->used) {                                                                   \
            S *t = a;                                                                              \
            a = b;                                                                                 \
            b = t;                                                                                 \
        }                                                                                          \
        for (int64_t i = 0; i <= b->mask; i++) {                                                   \
            S##_ent *e = &b->table[i];                                                             \
            if (e->st == 1 && S##_find(a, e->key, e->hash) >= 0) return false;                     \
        }                                                                                          \
        return true;                                                                               \
    }                                                                                              \
    static bool S##_eq(S *a, S *b) {                                                               \
        if (a == b) return true;                                                                   \
        return a->used == b->used && S##_issubset(a, b);                                           \
    }                                                                                              \
    static void ktl_print_##S(S *s) {                                                              \
        if (s->used == 0) {                                                                        \
            ktl_write("set()", 5);                                                                 \
            return;                                                                                \
        }                                                                                          \
        ktl_putc('{');                                                                             \
        bool first = true;                                                                         \
        for (int64_t i = 0; i <= s->mask; i++) {                                                   \
            if (s->table[i].st != 1) continue;                                                     \
            if (!first) ktl_write(", ", 2);                                                        \
            first = false;                                                                         \
            KPRINT(s->table[i].key);                                                               \
        }                                                                                          \
        ktl_putc('}');                                                                             \
    }

/* ---- Files ----
 *
 * File objects read in universal-newline text mode and write through a
 * 64 KiB buffer. Reading hands out lines as views into the read buffer, never
 * copies: a refill either appends after the bytes already read (when the
 * block has room) or takes a fresh block holding the unread rest, and an old
 * block is never reused while anything refers to it, so every line handed
 * out stays valid. "\r\n" and lone "\r" become "\n" in place as each chunk
 * arrives; a "\r" that ends one chunk is remembered, so a "\r\n" split across
 * two reads still makes one line end.
 *
 * Paths are UTF-8 strings: NUL-terminated copies here, UTF-16 on Windows. The
 * standard streams are three static file objects outside the open-files list;
 * writing to standard output goes through the program's output buffer.
 * Every failure Python reports as an exception is raised as one, with
 * Python's wording.
 */

#define KTL_RCHUNK ((int64_t)1 << 20)
#define KTL_WBUF ((int64_t)1 << 16)
/* The largest single read or write call. */
#define KTL_IO_MAX ((int64_t)1 << 30)

typedef struct ktl_file {
    int fd;
    bool readable, writable, closed, eof, cr;
    /* buf[pos..len) is read but not yet handed out; the block holds bcap
       bytes, and only bytes after len are ever written into it. */
    char *buf;
    int64_t pos, len;
    /* The write buffer, from the C heap; only for writable files. */
    char *wbuf;
    int64_t wlen;
    struct ktl_file *next;
    ktl_str name;
    int64_t bcap;
} ktl_file;

/* Files the program opened and has not closed; a collector root, so an open
   file is never collected and its buffer is written at exit. */
static ktl_file *ktl_open_files;
static ktl_file ktl_std_files[3];
static ktl_file *const ktl_stdin = &ktl_std_files[0];
static ktl_file *const ktl_stdout = &ktl_std_files[1];
static ktl_file *const ktl_stderr = &ktl_std_files[2];

/* Sets up the standard streams (called once at start-up). Standard output
   and error never use a write buffer of their own: output goes through the
   program's output buffer, errors straight to stderr. */
static void ktl_files_init(void) {
    ktl_std_files[0] = (ktl_file){.fd = 0, .readable = true, .name = KTL_LIT("<stdin>")};
    ktl_std_files[1] = (ktl_file){.fd = 1, .writable = true, .name = KTL_LIT("<stdout>")};
    ktl_std_files[2] = (ktl_file){.fd = 2, .writable = true, .name = KTL_LIT("<stderr>")};
}

static KTL_COLD KTL_NORETURN void ktl_closed_error(void) {
    ktl_raise_c(KTL_E_ValueError, "I/O operation on closed file.");
}

static KTL_COLD KTL_NORETURN void ktl_mode_error(const char *what) {
    ktl_raise_fmt(KTL_E_UnsupportedOperation, "not %s", what);
}

/* The OS error of errno `err` on `path`, as Python reports it:
   "[Errno 2] No such file or directory: 'x'", with the class picked by the
   number. */
static KTL_COLD KTL_NORETURN void ktl_os_error(int err, ktl_str path) {
    int32_t cls = err == ENOENT   ? KTL_E_FileNotFoundError
                  : err == EEXIST ? KTL_E_FileExistsError
                  : err == EACCES ? KTL_E_PermissionError
                  : err == EISDIR ? KTL_E_IsADirectoryError
                  : err == ENOTDIR ? KTL_E_NotADirectoryError
                                   : KTL_E_OSError;
    const char *desc = err == ENOENT ? "No such file or directory" : strerror(err);
    ktl_str d = ktl_mkstr(desc, (int64_t)strlen(desc));
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_sb_add(&b, KTL_LIT("[Errno "));
    ktl_sb_int(&b, err);
    ktl_sb_add(&b, KTL_LIT("] "));
    ktl_sb_add(&b, d);
    ktl_sb_add(&b, KTL_LIT(": "));
    ktl_sb_add(&b, ktl_repr_str(path));
    ktl_str text = ktl_sb_done(&b);
    ktl_sb_init(&b);
    ktl_sb_int(&b, err);
    ktl_sb_add(&b, KTL_LIT(", "));
    ktl_sb_add(&b, ktl_repr_str(d));
    ktl_str args = ktl_sb_done(&b);
    ktl_exc *e = ktl_exc_new(cls, text, args);
    ktl_exc_line = 0;
    ktl_exc_fn = NULL;
    ktl_reraise(e);
}

/* A NUL-terminated copy of a path. A path holding a NUL byte would name a
   different file to the system, so it is refused as Python refuses it. */
static char *ktl_cpath(ktl_str p) {
    if (p.len > 0 && memchr(p.p, 0, (size_t)p.len))
        ktl_raise_c(KTL_E_ValueError, "embedded null byte");
    char *c = ktl_alloc_bytes((size_t)p.len + 1);
    if (p.len > 0) memcpy(c, p.p, (size_t)p.len);
    c[p.len] = 0;
    return c;
}

#ifdef _WIN32
/* A path as NUL-terminated UTF-16 for the wide C functions. */
static wchar_t *ktl_wpath(ktl_str p) {
    char *c = ktl_cpath(p);
    int n = MultiByteToWideChar(65001, 0, c, -1, NULL, 0);
    if (n <= 0) n = 1;
    wchar_t *w = (wchar_t *)ktl_alloc_bytes((size_t)n * sizeof(wchar_t));
    w[0] = 0;
    MultiByteToWideChar(65001, 0, c, -1, w, n);
    return w;
}

/* A NUL-terminated UTF-16 name as a UTF-8 string. */
static ktl_str ktl_from_wide(const wchar_t *w) {
    int n = WideCharToMultiByte(65001, 0, w, -1, NULL, 0, NULL, NULL);
    if (n <= 1) return KTL_LIT("");
    char *c = ktl_alloc_bytes((size_t)n);
    WideCharToMultiByte(65001, 0, w, -1, c, n, NULL, NULL);
    return ktl_mkstr(c, n - 1);
}
#endif

/* Writes n bytes to a descriptor, at most 1 GiB a call, resuming after
   signals. False when a call fails or writes nothing. */
static bool ktl_write_fd(int fd, const char *p, int64_t n) {
    while (n > 0) {
        int64_t c = n > KTL_IO_MAX ? KTL_IO_MAX : n;
#ifdef _WIN32
        int w = _write(fd, p, (unsigned)c);
#else
        ssize_t w = write(fd, p, (size_t)c);
#endif
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= (int64_t)w;
    }
    return true;
}

static void ktl_write_all(int fd, const char *p, int64_t n) {
    if (!ktl_write_fd(fd, p, n)) ktl_raise_c(KTL_E_OSError, "write failed");
}

/* Writes the pending write buffer. The buffer is emptied first, so a failed
   write is reported once and never repeated at exit. */
static void ktl_file_wflush(ktl_file *f) {
    int64_t n = f->wlen;
    f->wlen = 0;
    if (n > 0) ktl_write_all(f->fd, f->wbuf, n);
}

#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

static ktl_file *ktl_open(ktl_str path, ktl_str mode) {
    ktl_str m = mode;
    if (m.len == 2 && m.p[1] == 't') m.len = 1;
    int flags = -1;
    if (m.len == 1) {
        switch (m.p[0]) {
        case 'r': flags = O_RDONLY; break;
        case 'w': flags = O_WRONLY | O_CREAT | O_TRUNC; break;
        case 'a': flags = O_WRONLY | O_CREAT | O_APPEND; break;
        case 'x': flags = O_WRONLY | O_CREAT | O_EXCL; break;
        }
    }
    if (flags < 0)
        ktl_raise_fmt(KTL_E_ValueError, "invalid mode: '%.*s' (Kestal supports 'r', 'w', 'a' and 'x')",
                      (int)(mode.len > 40 ? 40 : mode.len), mode.p);
#ifdef _WIN32
    int fd = _wopen(ktl_wpath(path), flags | O_BINARY, 0666);
#else
    int fd = open(ktl_cpath(path), flags | O_CLOEXEC, 0666);
#endif
    if (fd < 0) ktl_os_error(errno, path);
    /* A directory opens for reading on POSIX systems but can't be read;
       Python refuses it at once. */
    struct stat st;
    if (flags == O_RDONLY && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        ktl_os_error(EISDIR, path);
    }
    ktl_file *f = (ktl_file *)ktl_alloc(sizeof(ktl_file));
    f->fd = fd;
    f->readable = flags == O_RDONLY;
    f->writable = !f->readable;
    f->name = ktl_str_copy(path.p, path.len);
    if (f->writable) f->wbuf = (char *)ktl_xmalloc((size_t)KTL_WBUF);
    f->next = ktl_open_files;
    ktl_open_files = f;
    return f;
}

static inline void ktl_check_read(ktl_file *f) {
    if (KTL_UNLIKELY(f->closed)) ktl_closed_error();
    if (KTL_UNLIKELY(!f->readable)) ktl_mode_error("readable");
}

static inline void ktl_check_write(ktl_file *f) {
    if (KTL_UNLIKELY(f->closed)) ktl_closed_error();
    if (KTL_UNLIKELY(!f->writable)) ktl_mode_error("writable");
}

/* Universal newlines on a chunk just read, in place; returns its new length.
   A "\n" that completes a "\r\n" split across reads is dropped. */
static int64_t ktl_newlines(ktl_file *f, char *c, int64_t n) {
    int64_t s = f->cr && c[0] == '\n' ? 1 : 0;
    f->cr = c[n - 1] == '\r';
    int64_t r = ktl_find_byte(c + s, n - s, '\r');
    if (r < 0) {
        if (s) memmove(c, c + 1, (size_t)(n - 1));
        return n - s;
    }
    if (s) memmove(c, c + 1, (size_t)r);
    int64_t j = r, i = s + r;
    while (i < n) {
        char ch = c[i++];
        if (ch == '\r') {
            c[j++] = '\n';
            if (i < n && c[i] == '\n') i++;
        } else {
            c[j++] = ch;
        }
    }
    return j;
}

static void ktl_unlist_file(ktl_file *f) {
    for (ktl_file **pp = &ktl_open_files; *pp; pp = &(*pp)->next) {
        if (*pp == f) {
            *pp = f->next;
            break;
        }
    }
    f->next = NULL;
}

/* A file read to its end gives its descriptor back at once: nothing can read
   from it any more, and it has nothing to write, so `open(p).read()` in a
   loop never runs out of descriptors even though the collector doesn't close
   files it frees. The file still counts as open for the program. */
static void ktl_file_release(ktl_file *f) {
    if (f->writable || f->fd < 0 || (f >= ktl_std_files && f < ktl_std_files + 3)) return;
    close(f->fd);
    f->fd = -1;
    ktl_unlist_file(f);
}

/* Reads more of the file after the unread bytes (nothing at end of file). */
static KTL_COLD void ktl_file_fill(ktl_file *f) {
    if (f->eof) return;
    int64_t unread = f->len - f->pos;
    if (!f->buf || f->bcap - f->len < KTL_RCHUNK / 16) {
        int64_t size = unread > KTL_RCHUNK / 2 ? 2 * unread : KTL_RCHUNK;
        char *nb = ktl_alloc_bytes((size_t)size);
        if (unread) memcpy(nb, f->buf + f->pos, (size_t)unread);
        f->buf = nb;
        f->bcap = size;
        f->pos = 0;
        f->len = unread;
    }
    for (;;) {
        /* A prompt printed before a read of standard input must show. */
        if (f->fd == 0) ktl_flush();
        int64_t room = f->bcap - f->len;
        if (room > KTL_IO_MAX) room = KTL_IO_MAX;
#ifdef _WIN32
        int got = _read(f->fd, f->buf + f->len, (unsigned)room);
#else
        ssize_t got = read(f->fd, f->buf + f->len, (size_t)room);
#endif
        if (got < 0 && errno == EINTR) continue;
        /* A closed standard input reads as empty. */
        if (got < 0 && !(f->fd == 0 && errno == EBADF)) {
            f->eof = true;
            ktl_os_error(errno, f->name);
        }
        if (got <= 0) {
            f->eof = true;
            ktl_file_release(f);
            return;
        }
        int64_t m = ktl_newlines(f, f->buf + f->len, (int64_t)got);
        f->len += m;
        /* A chunk that was only the "\n" of a split "\r\n" gave nothing. */
        if (m > 0) return;
    }
}

/* The next line with its "\n"; at the end the unterminated rest, then "". */
static ktl_str ktl_file_readline(ktl_file *f) {
    ktl_check_read(f);
    int64_t from = 0;
    for (;;) {
        int64_t avail = f->len - f->pos;
        if (avail > from) {
            int64_t k = ktl_find_byte(f->buf + f->pos + from, avail - from, '\n');
            if (k >= 0) {
                ktl_str line = ktl_mkstr(f->buf + f->pos, from + k + 1);
                f->pos += from + k + 1;
                return line;
            }
            from = avail;
        }
        if (f->eof) {
            if (avail == 0) return KTL_LIT("");
            ktl_str rest = ktl_mkstr(f->buf + f->pos, avail);
            f->pos = f->len;
            return rest;
        }
        ktl_file_fill(f);
    }
}

/* Everything not yet read, as one view. */
static ktl_str ktl_file_read(ktl_file *f) {
    ktl_check_read(f);
    while (!f->eof) ktl_file_fill(f);
    int64_t avail = f->len - f->pos;
    if (avail == 0) return KTL_LIT("");
    ktl_str s = ktl_mkstr(f->buf + f->pos, avail);
    f->pos = f->len;
    return s;
}

static L_s *ktl_file_readlines(ktl_file *f) {
    ktl_check_read(f);
    L_s *l = L_s_new(0);
    for (;;) {
        ktl_str line = ktl_file_readline(f);
        if (line.len == 0) return l;
        L_s_push(l, line);
    }
}

/* Buffered bytes of a file other than the standard streams. */
static void ktl_file_put(ktl_file *f, const char *p, int64_t n) {
    if (f->wlen + n > KTL_WBUF) {
        ktl_file_wflush(f);
        if (n > KTL_WBUF) {
            ktl_write_all(f->fd, p, n);
            return;
        }
    }
    memcpy(f->wbuf + f->wlen, p, (size_t)n);
    f->wlen += n;
}

/* Writes s; returns its length in characters, as Python's write() does. */
static int64_t ktl_file_write(ktl_file *f, ktl_str s) {
    ktl_check_write(f);
    if (f == ktl_stdout) {
        ktl_write(s.p, (size_t)s.len);
    } else if (f == ktl_stderr) {
        ktl_flush();
        fwrite(s.p, 1, (size_t)s.len, stderr);
        fflush(stderr);
    } else {
#ifdef _WIN32
        /* The runtime does its own newline handling: text files on Windows
           end their lines in CR LF. */
        int64_t at = 0;
        for (;;) {
            int64_t k = ktl_find_byte(s.p + at, s.len - at, '\n');
            if (k < 0) break;
            ktl_file_put(f, s.p + at, k);
            ktl_file_put(f, "\r\n", 2);
            at += k + 1;
        }
        ktl_file_put(f, s.p + at, s.len - at);
#else
        ktl_file_put(f, s.p, s.len);
#endif
    }
    return ktl_utf8_len(s);
}

static void ktl_file_writelines(ktl_file *f, L_s *l) {
    ktl_check_write(f);
    for (int64_t i = 0; i < l->len; i++) ktl_file_write(f, l->data[i]);
}

static void ktl_file_flush(ktl_file *f) {
    if (KTL_UNLIKELY(f->closed)) ktl_closed_error();
    if (f == ktl_stdout) ktl_flush();
    else if (f == ktl_stderr) fflush(stderr);
    else if (f->writable) ktl_file_wflush(f);
}

/* Writes the buffer, closes the descriptor and takes the file off the open
   list. The file counts as closed even when that last write fails; the
   failure is then raised. Closing a closed file or a standard stream does
   nothing. */
static void ktl_file_close(ktl_file *f) {
    if (f->closed || (f >= ktl_std_files && f < ktl_std_files + 3)) return;
    f->closed = true;
    ktl_unlist_file(f);
    bool ok = true;
    if (f->wbuf) {
        ok = ktl_write_fd(f->fd, f->wbuf, f->wlen);
        free(f->wbuf);
        f->wbuf = NULL;
        f->wlen = 0;
    }
    f->buf = NULL;
    f->pos = f->len = f->bcap = 0;
    if (f->fd >= 0) close(f->fd);
    f->fd = -1;
    if (!ok) ktl_raise_c(KTL_E_OSError, "write failed");
}

/* print(..., file=f): b holds the text print() captured; its heap buffer is
   freed. */
static void ktl_file_print(ktl_file *f, ktl_sb *b) {
    if (f == ktl_stdout) {
        ktl_write(b->p, (size_t)b->len);
        ktl_sb_free(b);
        return;
    }
    if (f->closed || !f->writable) {
        ktl_sb_free(b);
        ktl_check_write(f);
    }
    ktl_file_write(f, ktl_mkstr(b->p, b->len));
    ktl_sb_free(b);
}

/* Ends the process with status 1 from inside exit(): a file's data was lost
   while the program was already ending, which must not pass for success. */
static void ktl_exit_lost_data(void) { _exit(1); }

/* Writes the pending buffer of every open file (at exit, at a panic, before
   an uncaught-exception report). A buffer that can't be written is reported
   on stderr and the other files are still written. While the program runs
   the failure is raised as OSError; once it is ending (nothing may raise
   then), the exit status becomes 1. */
static void ktl_files_flush_all(void) {
    static bool registered;
    bool failed = false;
    for (ktl_file *f = ktl_open_files; f; f = f->next) {
        int64_t n = f->wlen;
        f->wlen = 0;
        if (n > 0 && !ktl_write_fd(f->fd, f->wbuf, n)) {
            fprintf(stderr, "Kestal runtime error: write failed: %.*s\n", (int)f->name.len, f->name.p);
            failed = true;
        }
    }
    if (!failed) return;
    if (!ktl_exiting) ktl_raise_c(KTL_E_OSError, "write failed");
    if (!registered) {
        registered = true;
        atexit(ktl_exit_lost_data);
    }
}

/* ---- sys and os ----
 *
 * sys.argv, os and os.path. Paths are UTF-8 strings; path arithmetic (join,
 * basename, dirname, splitext) works on the bytes, as posixpath and ntpath
 * do, and never touches the file system. The functions that ask the system
 * raise Python's OS errors (FileNotFoundError and its kin) for the path
 * concerned; os.path.exists and its kinds never raise.
 */

/* sys.argv (filled at start-up). */
static L_s *ktl_argv;

#ifdef _WIN32
#define KTL_SEP '\\'
static const char ktl_sep_s[] = "\\";
static inline bool ktl_is_sep(char c) { return c == '/' || c == '\\'; }
#else
#define KTL_SEP '/'
static const char ktl_sep_s[] = "/";
static inline bool ktl_is_sep(char c) { return c == '/'; }
#endif

#ifdef _WIN32
typedef struct _stat64 ktl_stat_t;
static int ktl_stat(ktl_str p, ktl_stat_t *st) { return _wstat64(ktl_wpath(p), st); }
#else
typedef struct stat ktl_stat_t;
static int ktl_stat(ktl_str p, ktl_stat_t *st) { return stat(ktl_cpath(p), st); }
#endif

/* os.path.exists (kind 0), isfile (1), isdir (2). A path the system can't
   even name (a NUL byte in it) doesn't exist. */
static bool ktl_path_exists(ktl_str p, int kind) {
    if (p.len > 0 && memchr(p.p, 0, (size_t)p.len)) return false;
    ktl_stat_t st;
    if (ktl_stat(p, &st) != 0) return false;
    if (kind == 1) return (st.st_mode & S_IFMT) == S_IFREG;
    if (kind == 2) return (st.st_mode & S_IFMT) == S_IFDIR;
    return true;
}

static int64_t ktl_path_getsize(ktl_str p) {
    ktl_stat_t st;
    if (ktl_stat(p, &st) != 0) ktl_os_error(errno, p);
    return (int64_t)st.st_size;
}

/* Seconds since 1970 with the fraction the system keeps, as Python
   reports it. */
static double ktl_path_getmtime(ktl_str p) {
    ktl_stat_t st;
    if (ktl_stat(p, &st) != 0) ktl_os_error(errno, p);
#if defined(_WIN32)
    return (double)st.st_mtime;
#elif defined(__APPLE__)
    return (double)st.st_mtimespec.tv_sec + (double)st.st_mtimespec.tv_nsec * 1e-9;
#else
    return (double)st.st_mtim.tv_sec + (double)st.st_mtim.tv_nsec * 1e-9;
#endif
}

/* os.remove: files only. unlink never removes a directory (it fails with
   EISDIR or EPERM), as Python's os.remove doesn't. */
static void ktl_os_remove(ktl_str p) {
#ifdef _WIN32
    int r = _wunlink(ktl_wpath(p));
#else
    int r = unlink(ktl_cpath(p));
#endif
    if (r != 0) ktl_os_error(errno, p);
}

static void ktl_os_mkdir(ktl_str p) {
#ifdef _WIN32
    int r = _wmkdir(ktl_wpath(p));
#else
    int r = mkdir(ktl_cpath(p), 0777);
#endif
    if (r != 0) ktl_os_error(errno, p);
}

static void ktl_os_rmdir(ktl_str p) {
#ifdef _WIN32
    int r = _wrmdir(ktl_wpath(p));
#else
    int r = rmdir(ktl_cpath(p));
#endif
    if (r != 0) ktl_os_error(errno, p);
}

/* os.rename and os.replace: an existing target is replaced. */
static void ktl_os_rename(ktl_str a, ktl_str b) {
#ifdef _WIN32
    wchar_t *wa = ktl_wpath(a), *wb = ktl_wpath(b);
    _wunlink(wb);
    int r = _wrename(wa, wb);
#else
    int r = rename(ktl_cpath(a), ktl_cpath(b));
#endif
    if (r != 0) ktl_os_error(errno, a);
}

static ktl_str ktl_os_getcwd(void) {
#ifdef _WIN32
    wchar_t buf[4096];
    if (!_wgetcwd(buf, 4096)) ktl_raise_c(KTL_E_OSError, "getcwd failed");
    return ktl_from_wide(buf);
#else
    /* The buffer grows for directories nested deeper than 4096 bytes. */
    for (size_t size = 4096;; size *= 2) {
        char *buf = (char *)ktl_xmalloc(size);
        if (getcwd(buf, size)) {
            ktl_str s = ktl_str_copy(buf, (int64_t)strlen(buf));
            free(buf);
            return s;
        }
        int err = errno;
        free(buf);
        if (err != ERANGE || size > ((size_t)1 << 24)) ktl_raise_c(KTL_E_OSError, "getcwd failed");
    }
#endif
}

/* The variable's value, or def when it is not set. A set variable always
   gives a non-NULL view, even when empty (os.getenv(name) tests for NULL). */
static ktl_str ktl_os_getenv(ktl_str name, ktl_str def) {
    if (memchr(name.p, 0, (size_t)name.len) || memchr(name.p, '=', (size_t)name.len)) return def;
#ifdef _WIN32
    const wchar_t *v = _wgetenv(ktl_wpath(name));
    if (!v) return def;
    return ktl_from_wide(v);
#else
    const char *v = getenv(ktl_cpath(name));
    if (!v) return def;
    return ktl_mkstr(v, (int64_t)strlen(v));
#endif
}

/* The entry names without "." and "..", in the order the system gives them. */
static L_s *ktl_os_listdir(ktl_str p) {
    L_s *l = L_s_new(0);
#ifdef _WIN32
    ktl_str pat = ktl_str_cat(p, p.len && ktl_is_sep(p.p[p.len - 1]) ? KTL_LIT("*") : KTL_LIT("\\*"));
    struct _wfinddata64_t fd;
    intptr_t h = _wfindfirst64(ktl_wpath(pat), &fd);
    if (h == -1) {
        if (!ktl_path_exists(p, 0)) ktl_os_error(ENOENT, p);
        return l;
    }
    do {
        if (wcscmp(fd.name, L".") == 0 || wcscmp(fd.name, L"..") == 0) continue;
        L_s_push(l, ktl_from_wide(fd.name));
    } while (_wfindnext64(h, &fd) == 0);
    _findclose(h);
#else
    DIR *d = opendir(ktl_cpath(p));
    if (!d) ktl_os_error(errno, p);
    struct dirent *e;
    while ((e = readdir(d)) != NULL) {
        const char *n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        L_s_push(l, ktl_str_copy(n, (int64_t)strlen(n)));
    }
    closedir(d);
#endif
    return l;
}

static inline bool ktl_path_absolute(ktl_str b) {
    if (b.len > 0 && ktl_is_sep(b.p[0])) return true;
#ifdef _WIN32
    if (b.len > 1 && b.p[1] == ':') return true;
#endif
    return false;
}

/* os.path.join of two parts. */
static ktl_str ktl_path_join(ktl_str a, ktl_str b) {
    if (ktl_path_absolute(b)) return b;
    if (a.len == 0 || ktl_is_sep(a.p[a.len - 1])) return ktl_str_cat(a, b);
    int64_t n = a.len + 1 + b.len;
    char *q = ktl_alloc_bytes((size_t)n);
    memcpy(q, a.p, (size_t)a.len);
    q[a.len] = KTL_SEP;
    if (b.len) memcpy(q + a.len + 1, b.p, (size_t)b.len);
    return ktl_mkstr(q, n);
}

/* Index just after the last separator (or, on Windows, drive colon). */
static int64_t ktl_path_tail_at(ktl_str p) {
    int64_t i = p.len;
    while (i > 0 && !ktl_is_sep(p.p[i - 1])) {
#ifdef _WIN32
        if (p.p[i - 1] == ':') break;
#endif
        i--;
    }
    return i;
}

static ktl_str ktl_path_basename(ktl_str p) {
    int64_t i = ktl_path_tail_at(p);
    return ktl_mkstr(p.p + i, p.len - i);
}

/* The head without its trailing separators, unless the head is nothing but
   separators (the root stays "/") or would end at a drive colon. */
static ktl_str ktl_path_dirname(ktl_str p) {
    int64_t i = ktl_path_tail_at(p), j = i;
    while (j > 0 && ktl_is_sep(p.p[j - 1])) j--;
    if (j == 0) return ktl_mkstr(p.p, i);
#ifdef _WIN32
    if (p.p[j - 1] == ':') return ktl_mkstr(p.p, i);
#endif
    return ktl_mkstr(p.p, j);
}

/* out[0] up to the last "." of the last component, out[1] from it; dots that
   start the component don't begin an extension. */
static void ktl_path_splitext(ktl_str p, ktl_str *out) {
    int64_t start = ktl_path_tail_at(p), dot = -1;
    for (int64_t i = p.len - 1; i >= start; i--) {
        if (p.p[i] == '.') {
            dot = i;
            break;
        }
    }
    if (dot > start) {
        for (int64_t i = start; i < dot; i++) {
            if (p.p[i] != '.') {
                out[0] = ktl_mkstr(p.p, dot);
                out[1] = ktl_mkstr(p.p + dot, p.len - dot);
                return;
            }
        }
    }
    out[0] = p;
    out[1] = ktl_mkstr(p.p, 0);
}

/* ---- time, random, input ----
 *
 * time.time, monotonic and perf_counter all read the UTC clock; sleep resumes
 * after signals until the whole time has passed; strftime formats local time
 * with the codes every supported C library knows. random is xorshift64*,
 * fast and the same on every platform for a given seed (not Python's
 * Mersenne Twister: the numbers differ from CPython's). input() reads
 * standard input through the same buffer as sys.stdin, so the two mix.
 */

static double ktl_time(void) {
    struct timespec ts;
    timespec_get(&ts, TIME_UTC);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

/* time.sleep: nothing for s <= 0 (or NaN); the output is flushed first so
   that what was printed shows during the pause. */
static void ktl_sleep(double s) {
    if (!(s > 0)) return;
    if (s > 9.2e9) ktl_raise_c(KTL_E_OverflowError, "timestamp out of range for platform time_t");
    ktl_flush();
#ifdef _WIN32
    Sleep((unsigned long)(s * 1000.0));
#else
    struct timespec req, rem;
    req.tv_sec = (time_t)s;
    req.tv_nsec = (long)((s - (double)req.tv_sec) * 1e9);
    if (req.tv_nsec > 999999999L) req.tv_nsec = 999999999L;
    /* A signal ends nanosleep early; the rest of the time is slept too. */
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
#endif
}

static KTL_COLD KTL_NORETURN void ktl_strftime_code_error(void) {
    ktl_raise_c(KTL_E_ValueError, "strftime: unsupported format code");
}

/* time.strftime(fmt, t) in local time. Codes outside the portable set are
   refused before the C library sees them (the Windows one aborts on them).
   The result is never cut: the buffer grows until the text fits. */
static ktl_str ktl_time_strftime(ktl_str fmt, double t) {
    for (int64_t i = 0; i < fmt.len; i++) {
        if (fmt.p[i] != '%') continue;
        i++;
        if (i < fmt.len && fmt.p[i] == '#') i++;
        if (i >= fmt.len || fmt.p[i] == 0 || !strchr("aAbBcdHIjmMpSUwWxXyYZ%", fmt.p[i]))
            ktl_strftime_code_error();
    }
    if (memchr(fmt.p, 0, (size_t)fmt.len)) ktl_raise_c(KTL_E_ValueError, "embedded null character");
    if (!(t > -9.2e18 && t < 9.2e18)) ktl_raise_c(KTL_E_ValueError, "strftime: time out of range");
    /* Python's localtime rounds the seconds toward minus infinity. */
    time_t tt = (time_t)floor(t);
    struct tm tm;
#ifdef _WIN32
    if (localtime_s(&tm, &tt) != 0) ktl_raise_c(KTL_E_ValueError, "strftime: time out of range");
#else
    if (!localtime_r(&tt, &tm)) ktl_raise_c(KTL_E_ValueError, "strftime: time out of range");
#endif
    /* A leading blank makes every result at least one byte long, so that 0
       from strftime can only mean "too small" (an empty result is valid). */
    char *cf = ktl_alloc_bytes((size_t)fmt.len + 2);
    cf[0] = ' ';
    if (fmt.len) memcpy(cf + 1, fmt.p, (size_t)fmt.len);
    cf[fmt.len + 1] = 0;
    for (size_t cap = 512;; cap *= 2) {
        char *buf = (char *)ktl_xmalloc(cap);
        size_t n = strftime(buf, cap, cf, &tm);
        if (n > 0) {
            ktl_str r = ktl_str_copy(buf + 1, (int64_t)n - 1);
            free(buf);
            return r;
        }
        free(buf);
        /* Every code writes at most a few hundred bytes. */
        if (cap > (size_t)fmt.len * 1024 + 4096) ktl_raise_c(KTL_E_ValueError, "strftime: result too long");
    }
}

/* The state of the generator; reseeded from the clock at start-up. */
static uint64_t ktl_rng = 0x9E3779B97F4A7C15ULL;

static inline uint64_t ktl_rng_next(void) {
    uint64_t x = ktl_rng;
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    ktl_rng = x;
    return x * 0x2545F4914F6CDD1DULL;
}

static void ktl_seed(int64_t s) {
    uint64_t x = (uint64_t)s * 0x9E3779B97F4A7C15ULL + 0x632BE59BD9B4E019ULL;
    ktl_rng = x ? x : 1;
}

/* A float in [0, 1) with 53 random bits. */
static inline double ktl_random(void) { return (double)(ktl_rng_next() >> 11) * 0x1.0p-53; }

static int64_t ktl_randint(int64_t a, int64_t b) {
    if (KTL_UNLIKELY(b < a))
        ktl_raise_fmt(KTL_E_ValueError, "empty range in randint(%lld, %lld)", (long long)a, (long long)b);
    uint64_t span = (uint64_t)b - (uint64_t)a + 1, x = ktl_rng_next();
    if (span == 0) return (int64_t)x;
    return (int64_t)((uint64_t)a + x % span);
}

/* random.choice(xs): the index of the item chosen from n items. */
static int64_t ktl_choice_index(int64_t n) {
    if (KTL_UNLIKELY(n <= 0)) ktl_raise_c(KTL_E_IndexError, "Cannot choose from an empty sequence");
    return ktl_randint(0, n - 1);
}

/* input(prompt): the line without its "\n"; EOFError at the end of input. */
static ktl_str ktl_input(ktl_str prompt) {
    ktl_write(prompt.p, (size_t)prompt.len);
    ktl_flush();
    ktl_str line = ktl_file_readline(ktl_stdin);
    if (line.len == 0) ktl_raise_c(KTL_E_EOFError, "EOF when reading a line");
    if (line.p[line.len - 1] == '\n') line.len--;
    return line;
}

/* ---- Start-up and the process entry ----
 *
 * The C entry point records where the collector's stack scan ends, starts
 * the heap and registers the roots, builds sys.argv, then runs the program
 * from a separate, never inlined function so that everything the program
 * keeps on the stack lies below the entry's frame. On the normal way out all
 * output is written and, when KESTAL_MEMSTATS is set, the memory use is
 * reported on standard error.
 */

#ifdef _WIN32
typedef struct {
    unsigned long cb;
    unsigned long faults;
    size_t peak_ws;
    size_t ws;
    size_t quota_peak_paged;
    size_t quota_paged;
    size_t quota_peak_nonpaged;
    size_t quota_nonpaged;
    size_t pagefile;
    size_t peak_pagefile;
} ktl_pmc;
KTL_WINAPI void *GetCurrentProcess(void);
KTL_WINAPI int K32GetProcessMemoryInfo(void *process, ktl_pmc *counters, unsigned long cb);
#else
#include <sys/resource.h>
#endif

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
#ifdef _WIN32
    ktl_pmc c;
    memset(&c, 0, sizeof c);
    c.cb = sizeof c;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &c, sizeof c)) return 0;
    return c.peak_ws;
#else
    struct rusage u;
    if (getrusage(RUSAGE_SELF, &u) != 0) return 0;
#ifdef __APPLE__
    return (size_t)u.ru_maxrss;
#else
    return (size_t)u.ru_maxrss * 1024;
#endif
#endif
}

static void ktl_memstats(void) {
    if (!getenv("KESTAL_MEMSTATS")) return;
    /* %llu rather than %zu: older Windows C libraries don't know %zu. */
    fprintf(stderr, "kestal: peak memory %llu KB, heap %llu KB, live %llu KB, %llu collections\n",
            (unsigned long long)(ktl_peak_rss() / 1024),
            (unsigned long long)((ktl_heap_pages << KTL_PAGE_SHIFT) / 1024),
            (unsigned long long)(ktl_gc_live / 1024), (unsigned long long)ktl_gc_count);
    fflush(stderr);
}

/* Runs the program. Kept out of line so that the program's frames lie below
   the entry's frame, where the stack scan ends. */
static __attribute__((noinline)) void ktl_start(void) {
#ifdef _WIN32
    SetConsoleOutputCP(65001);
    _setmode(0, _O_BINARY);
#endif
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

#ifdef _WIN32
int wmain(int argc, wchar_t **argv) {
    ktl_stack_base = __builtin_frame_address(0);
    ktl_gc_start();
    ktl_argv = L_s_new(argc);
    for (int i = 0; i < argc; i++) L_s_push(ktl_argv, ktl_from_wide(argv[i]));
    const wchar_t *argv0 = _wgetenv(L"KESTAL_ARGV0");
    if (argv0 && argc > 0) ktl_argv->data[0] = ktl_from_wide(argv0);
    ktl_start();
    return 0;
}
#else
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
#endif

#pragma GCC diagnostic pop
