/* ---- Memory: the conservative mark-sweep collector ----
 *
 * Every heap value (string bytes, list storage, dict and set tables, objects,
 * exceptions, files) lives in one reserved address range cut into 64 KiB
 * pages. A small request is served from a per-class free list; a page serves
 * blocks of one size class and one memory kind; a request above 8 KiB takes
 * whole pages. The collector is conservative and never moves anything: any
 * aligned word on the stack, in the registers, in a registered root or in a
 * scanned block (of an object, only the words of its pointer fields) that
 * points anywhere into a block keeps the block alive. So
 * generated code stores plain pointers and string views into the middle of
 * blocks, and never registers temporaries.
 *
 * Invariant: a free block of KTL_SCAN or KTL_LIST memory is all zero except
 * its link word, so handing it out costs one store. Pages fresh from the
 * operating system are zero already and are not cleared again.
 *
 * Compile with KTL_GC_STRESS defined to collect on every allocation: a value
 * the collector misses is then freed, and reused, at once.
 */

#define KTL_PAGE_SHIFT 16
#define KTL_PAGE ((size_t)1 << KTL_PAGE_SHIFT)
#define KTL_HEAP_MAX ((size_t)64 << 30)
#define KTL_MAX_SMALL 8192
#define KTL_NCLS 32
/* The heap grows by what it holds live, and at least by this much, between
   collections: small enough that a program churning through short-lived
   values keeps reusing cache-warm blocks instead of touching fresh pages. */
#define KTL_GC_MIN ((size_t)2 << 20)
#define KTL_MAX_ROOTS 16

/* Memory kinds, named by the caller on every allocation. KTL_GROW is a
   string built by concatenation whose first 8 bytes count the bytes in use;
   it is not scanned. KTL_LIST is a list's header, laid out as ktl_list_hdr:
   the collector marks its item block and scans only the len items in use,
   never the spare capacity after them, which a list writes before it reads
   (so a stale item left there by pop or clear is not kept alive, and fresh
   capacity is never touched by a collection). KTL_OBJ is an object of a
   class, whose first 4 bytes are its class id: the collector reads only the
   words its class's scan mask names (ktl_obj_masks). */
enum { KTL_NOSCAN = 0, KTL_SCAN = 1, KTL_GROW = 2, KTL_LIST = 3, KTL_OBJ = 4, KTL_NKIND = 5 };

typedef struct {
    void *data;
    int64_t len;
    int64_t cap;
    /* The size of one item in bytes. */
    int64_t isz;
} ktl_list_hdr;

/* Whether free blocks of kind m are kept zeroed (the scanned kinds). */
static inline bool ktl_kind_zeroed(int m) { return m == KTL_SCAN || m == KTL_LIST || m == KTL_OBJ; }

/* The scan mask of each class id, set by the program at start-up: bit i
   (i < 63) says word i of an object of the class may hold a heap pointer;
   bit 63 says every word from the 63rd to the end of the block may. A class
   id outside the table (none set, or the garbage link word of a free block
   reached by a stale pointer) scans the whole block. */
#define KTL_OBJ_REST ((uint64_t)1 << 63)
KTL_VAR const uint64_t *ktl_obj_masks;
KTL_VAR uint32_t ktl_obj_nmasks;

/* The scan mask bits of the bytes [off, off + size) of an object: the words
   they touch, as a constant expression for the program's mask table. */
#define KTL_WORD_BITS(off, size)                                                                   \
    ((off) / 8 >= 63 ? KTL_OBJ_REST                                                                \
                     : (((off) + (size) + 7) / 8 >= 64 ? ~(uint64_t)0                              \
                                                       : ((uint64_t)1 << (((off) + (size) + 7) / 8)) - 1) & \
                           ~(((uint64_t)1 << ((off) / 8)) - 1))
#define KTL_FIELD_BITS(T, f) KTL_WORD_BITS(offsetof(T, f), sizeof(((T *)0)->f))

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
    /* ceil(2^48 / bsize): the block number of an offset o in the page is
       (o * bmagic) >> 48, exactly, for every o below 64 KiB. */
    uint64_t bmagic;
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

KTL_VAR char *ktl_heap;
KTL_VAR size_t ktl_heap_pages;
/* Pages the reservation holds: 1,048,576 for the full 64 GiB, fewer when the
   system only granted a smaller range. */
KTL_VAR size_t ktl_heap_max_pages;
/* Bytes made usable so far when the range was reserved without access
   (only after the fallback of ktl_gc_init); SIZE_MAX when the whole range
   is usable from the start. */
KTL_VAR size_t ktl_heap_commit;
KTL_VAR ktl_page **ktl_pages;
KTL_VAR size_t ktl_free_pages;
KTL_VAR size_t ktl_free_hint;
KTL_VAR KTL_TLS ktl_free *ktl_fl[KTL_NKIND][KTL_NCLS];
KTL_VAR uint32_t ktl_cls_size[KTL_NCLS];
KTL_VAR size_t ktl_gc_grown;
KTL_VAR size_t ktl_gc_limit KTL_INIT(KTL_GC_MIN);
KTL_VAR size_t ktl_gc_live;
KTL_VAR size_t ktl_gc_count;
KTL_VAR bool ktl_gc_min_set;
KTL_VAR size_t ktl_gc_min_env;
KTL_VAR void *ktl_stack_base;
KTL_VAR int ktl_gc_off;
KTL_VAR ktl_root ktl_roots[KTL_MAX_ROOTS];
KTL_VAR int ktl_nroots;
/* The mark stack: ranges [lo, hi) of marked blocks still to be scanned. */
typedef struct {
    char *lo;
    char *hi;
} ktl_range_todo;
KTL_VAR ktl_range_todo *ktl_mstack;
KTL_VAR size_t ktl_mstack_n;
KTL_VAR size_t ktl_mstack_cap;

#include <sys/mman.h>
#ifndef MAP_NORESERVE
#define MAP_NORESERVE 0
#endif
#ifndef MAP_ANONYMOUS
#define MAP_ANONYMOUS MAP_ANON
#endif

/* Asks for 2 MiB pages over [p, p + n) where the system offers them on
   request: one first-touch fault then serves 32 heap pages instead of 512
   faults of 4 KiB, which dominate a program that fills tens of megabytes
   (building a big list of strings). A system without them ignores this. */
static void ktl_heap_advise(void *p, size_t n) {
#if defined(MADV_HUGEPAGE)
    (void)madvise(p, n, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

/* Taking and freeing pages is shared by the threads of parallel loops; it
   happens once per 64 KiB, so a spin lock is enough. */
#ifdef KTL_PARALLEL
KTL_VAR int ktl_heap_lk;
/* Whether this thread holds the lock: a worker's fatal error under it (out
   of memory) lets it go before the worker leaves its share. */
KTL_VAR KTL_TLS bool ktl_heap_held;
static inline void ktl_heap_lock(void) {
    while (__atomic_exchange_n(&ktl_heap_lk, 1, __ATOMIC_ACQUIRE)) {
        while (__atomic_load_n(&ktl_heap_lk, __ATOMIC_RELAXED)) {
#if defined(__x86_64__) || defined(__i386__)
            __builtin_ia32_pause();
#endif
        }
    }
    ktl_heap_held = true;
}
static inline void ktl_heap_unlock(void) {
    ktl_heap_held = false;
    __atomic_store_n(&ktl_heap_lk, 0, __ATOMIC_RELEASE);
}
#else
#define ktl_heap_lock() ((void)0)
#define ktl_heap_unlock() ((void)0)
#endif

KTL_RT KTL_COLD KTL_NORETURN void ktl_oom(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD KTL_NORETURN void ktl_oom(void) {
#ifdef KTL_PARALLEL
    if (ktl_heap_held) ktl_heap_unlock();
#endif
    ktl_panic("out of memory");
}
#endif

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
    if (mprotect(ktl_heap + ktl_heap_commit, to - ktl_heap_commit, PROT_READ | PROT_WRITE) != 0)
        ktl_oom();
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
    /* Atomic because ktl_gc_block reads it without the lock. */
    __atomic_store_n(&ktl_heap_pages, first + n, __ATOMIC_RELAXED);
    return first;
}

/* The head of a free list, or NULL; a scanned block's link is cleared,
   which leaves it all zero. */
static inline void *ktl_fl_pop(int m, int c) {
    ktl_free *b = ktl_fl[m][c];
    if (KTL_LIKELY(b != NULL)) {
        ktl_fl[m][c] = b->next;
        if (ktl_kind_zeroed(m)) b->next = NULL;
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

KTL_RT KTL_COLD void ktl_gc_maybe_collect(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void ktl_gc_maybe_collect(void) {
    if (!ktl_gc_off && ktl_gc_grown >= ktl_gc_limit) ktl_gc_collect();
}
#endif

/* An empty free list: collect when the heap has grown enough, else carve a
   new page into blocks of class c. */
KTL_RT KTL_COLD void *ktl_gc_refill(int m, int c);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void *ktl_gc_refill(int m, int c) {
    if (!ktl_gc_off && ktl_gc_grown >= ktl_gc_limit) {
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
    pg->bmagic = (((uint64_t)1 << 48) + bs - 1) / bs;
    pg->nblocks = (uint32_t)(KTL_PAGE / bs);
    pg->npages = 0;
    pg->head = 0;
    if (ktl_kind_zeroed(m) && !pg->fresh) memset(base, 0, KTL_PAGE);
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
#endif

/* Takes np whole pages for one large block of memory kind m: the first
   marked large, the others pointing back to it. Returns the first page's
   index, and in *fresh whether every page is still zero from the system. */
KTL_RT KTL_COLD size_t ktl_gc_take_large(size_t np, int m, bool *fresh);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD size_t ktl_gc_take_large(size_t np, int m, bool *fresh) {
    ktl_gc_maybe_collect();
    if (np > ktl_heap_max_pages) ktl_oom();
    size_t i = ktl_gc_take(np);
    if (KTL_UNLIKELY(i == SIZE_MAX)) {
        if (!ktl_gc_off) ktl_gc_collect();
        i = ktl_gc_take(np);
        if (i == SIZE_MAX) ktl_oom();
    }
    ktl_page *first = ktl_page_desc(i, np);
    bool all_fresh = first->fresh;
    first->kind = KTL_PG_LARGE;
    first->mem = (uint8_t)m;
    first->npages = (uint32_t)np;
    first->fresh = 0;
    for (size_t j = 1; j < np; j++) {
        ktl_page *pg = ktl_page_desc(i + j, 1);
        all_fresh = all_fresh && pg->fresh;
        pg->kind = KTL_PG_TAIL;
        pg->mem = (uint8_t)m;
        pg->head = (uint32_t)i;
        pg->fresh = 0;
    }
    ktl_gc_grown += np << KTL_PAGE_SHIFT;
    ktl_heap_unlock();
    *fresh = all_fresh;
    return i;
}
#endif

/* Above 8 KiB: whole pages. Large blocks start on a page boundary. */
KTL_RT KTL_COLD void *ktl_gc_alloc_large(size_t n, int m);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void *ktl_gc_alloc_large(size_t n, int m) {
    if (n > (ktl_heap_max_pages << KTL_PAGE_SHIFT)) ktl_oom();
    size_t np = (n + KTL_PAGE - 1) >> KTL_PAGE_SHIFT;
    bool fresh;
    size_t i = ktl_gc_take_large(np, m, &fresh);
    char *p = ktl_heap + (i << KTL_PAGE_SHIFT);
    if (ktl_kind_zeroed(m) && !fresh) memset(p, 0, np << KTL_PAGE_SHIFT);
    return p;
}
#endif

/* A block of at least n bytes of memory kind m; memory of the scanned
   kinds (KTL_SCAN, KTL_LIST, KTL_OBJ) comes zeroed. Never fails: running out of memory ends the program. */
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

/* An object of a class in memory kind m: KTL_OBJ (read through its class's
   scan mask; the caller stores the class id before anything else can
   allocate), KTL_SCAN, or KTL_NOSCAN for a class whose fields hold no heap
   pointers, which the collector marks but never scans; free blocks of that
   kind are not kept zeroed, so it is cleared here. */
static inline void *ktl_obj_new_in(size_t n, int m) {
    void *p = ktl_gc_alloc(n ? n : 1, m);
    if (m == KTL_NOSCAN) memset(p, 0, n ? n : 1);
    return p;
}

static inline char *ktl_alloc_bytes(size_t n) {
    return (char *)ktl_gc_alloc(n ? n : 1, KTL_NOSCAN);
}

/* ktl_gc_alloc out of line, for allocations made once per operation that
   is itself long (a keyed sort), where the inline fast path only adds code. */
KTL_RT void *ktl_gc_alloc_out(size_t n, int m);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void *ktl_gc_alloc_out(size_t n, int m) {
    return ktl_gc_alloc(n, m);
}
#endif

KTL_RT void *ktl_gc_zalloc(size_t n);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void *ktl_gc_zalloc(size_t n) {
    void *p = ktl_gc_alloc(n ? n : 1, KTL_NOSCAN);
    memset(p, 0, n ? n : 1);
    return p;
}
#endif

/* The start of the block holding p, with its size and page, or NULL when p
   is not inside a block: outside the pages handed out, in a free page, or in
   the bytes after a small page's last whole block. */
static void *ktl_gc_block(const void *p, size_t *size, ktl_page **page) {
    uintptr_t off = (uintptr_t)p - (uintptr_t)ktl_heap;
    /* Other threads of a parallel loop may be adding pages meanwhile; a
       block of this thread's lies below either count. */
    size_t pages = __atomic_load_n(&ktl_heap_pages, __ATOMIC_RELAXED);
    if (off >= (uintptr_t)pages << KTL_PAGE_SHIFT) return NULL;
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
    size_t b = (size_t)(((off & (KTL_PAGE - 1)) * pg->bmagic) >> 48);
    if (b >= pg->nblocks) return NULL;
    *size = pg->bsize;
    *page = pg;
    return ktl_heap + (i << KTL_PAGE_SHIFT) + b * pg->bsize;
}

/* Gives a block back at once, for callers that know nothing else refers to
   it. Anything but the start of a block (NULL, an interior pointer, memory
   outside the heap) is ignored. */
KTL_RT void ktl_gc_free(void *p);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_gc_free(void *p) {
    size_t size = 0;
    ktl_page *pg = NULL;
    void *b = ktl_gc_block(p, &size, &pg);
    if (!b || b != p) return;
    if (pg->kind == KTL_PG_SMALL) {
        if (ktl_kind_zeroed(pg->mem)) memset(b, 0, size);
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
#endif

/* Growing a large block copies nothing where it can: the pages after it
   join it when they are free or not handed out yet; else, on Linux, a block
   of at least KTL_MOVE_PAGES pages has its pages moved to the new run by
   mremap, and its old range is mapped afresh, so those pages go back to the
   system and come out zero and untouched. A copy into fresh pages would
   touch every page twice (a page fault each, which dominates list growth).
   Returns NULL where neither applies; the caller then copies. The bytes of
   the grown block from oldn on are zero for scanned memory, as in a copy. */
#if defined(__linux__)
#define KTL_MOVE_PAGES 4
#ifndef MREMAP_MAYMOVE
#define MREMAP_MAYMOVE 1
#endif
#ifndef MREMAP_FIXED
#define MREMAP_FIXED 2
#endif
extern void *mremap(void *old_address, size_t old_size, size_t new_size, int flags, ...);
#endif

/* Joins the pages [i + np, i + np2) to the large block at page i when all
   are free or above the pages handed out; false, changing nothing, else. */
static bool ktl_gc_extend_large(size_t i, size_t np, size_t np2, int m, bool *fresh) {
    if (np2 > ktl_heap_max_pages || i + np2 > ktl_heap_max_pages) return false;
    ktl_heap_lock();
    for (size_t j = i + np; j < i + np2 && j < ktl_heap_pages; j++) {
        if (ktl_pages[j]->kind != KTL_PG_FREE) {
            ktl_heap_unlock();
            return false;
        }
    }
    bool all_fresh = true;
    for (size_t j = i + np; j < i + np2; j++) {
        if (j < ktl_heap_pages) ktl_free_pages--;
        ktl_page *pg = ktl_page_desc(j, 1);
        all_fresh = all_fresh && pg->fresh;
        pg->kind = KTL_PG_TAIL;
        pg->mem = (uint8_t)m;
        pg->head = (uint32_t)i;
        pg->fresh = 0;
    }
    if (i + np2 > ktl_heap_pages) ktl_heap_pages = i + np2;
    ktl_pages[i]->npages = (uint32_t)np2;
    ktl_gc_grown += (np2 - np) << KTL_PAGE_SHIFT;
    ktl_heap_unlock();
    *fresh = all_fresh;
    return true;
}

KTL_RT KTL_COLD void *ktl_gc_grow_large(void *old, size_t oldn, size_t n, int m);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD void *ktl_gc_grow_large(void *old, size_t oldn, size_t n, int m) {
    size_t size = 0;
    ktl_page *pg = NULL;
    if (!old || n <= KTL_MAX_SMALL || ktl_gc_block(old, &size, &pg) != old) return NULL;
    if (pg->kind != KTL_PG_LARGE || pg->mem != (uint8_t)m || oldn > size) return NULL;
    if (n > (ktl_heap_max_pages << KTL_PAGE_SHIFT)) ktl_oom();
    size_t i = (size_t)((char *)old - ktl_heap) >> KTL_PAGE_SHIFT;
    size_t np = pg->npages, np2 = (n + KTL_PAGE - 1) >> KTL_PAGE_SHIFT;
    if (np2 <= np) return NULL;
    size_t bytes = np << KTL_PAGE_SHIFT, added = (np2 - np) << KTL_PAGE_SHIFT;
    bool fresh = false;
    char *p = NULL;
    if (ktl_gc_extend_large(i, np, np2, m, &fresh)) {
        p = (char *)old;
    } else {
#ifdef KTL_MOVE_PAGES
        if (np < KTL_MOVE_PAGES) return NULL;
        size_t i2 = ktl_gc_take_large(np2, m, &fresh);
        p = ktl_heap + (i2 << KTL_PAGE_SHIFT);
        if (mremap(old, bytes, bytes, MREMAP_MAYMOVE | MREMAP_FIXED, p) != (void *)p) {
            memcpy(p, old, oldn);
            if (ktl_kind_zeroed(m)) memset(p + oldn, 0, bytes - oldn);
            if (ktl_kind_zeroed(m) && !fresh) memset(p + bytes, 0, added);
            ktl_gc_free(old);
            return p;
        }
        if (mmap(old, bytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED, -1, 0) != old)
            ktl_panic("out of memory (can't map the heap again)");
        ktl_heap_advise(old, bytes);
        ktl_heap_lock();
        for (size_t j = 0; j < np; j++) {
            ktl_pages[i + j]->kind = KTL_PG_FREE;
            ktl_pages[i + j]->fresh = 1;
        }
        ktl_free_pages += np;
        if (i < ktl_free_hint) ktl_free_hint = i;
        ktl_heap_unlock();
#else
        return NULL;
#endif
    }
    if (ktl_kind_zeroed(m)) {
        memset(p + oldn, 0, bytes - oldn);
        if (!fresh) memset(p + bytes, 0, added);
    }
    return p;
}
#endif

KTL_RT void *ktl_gc_realloc(void *old, size_t oldn, size_t n, int m);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void *ktl_gc_realloc(void *old, size_t oldn, size_t n, int m) {
    void *p = ktl_gc_grow_large(old, oldn, n, m);
    if (p) return p;
    p = ktl_gc_alloc(n, m);
    if (old) memcpy(p, old, oldn < n ? oldn : n);
    ktl_gc_free(old);
    return p;
}
#endif

/* Registers n bytes at p as a root range, scanned at every collection. */
KTL_RT void ktl_gc_add_root(void *p, size_t n);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_gc_add_root(void *p, size_t n) {
    if (ktl_nroots == KTL_MAX_ROOTS) ktl_panic("too many collector roots");
    ktl_roots[ktl_nroots].p = p;
    ktl_roots[ktl_nroots].n = n;
    ktl_nroots++;
}
#endif

static KTL_COLD void ktl_gc_mstack_grow(void) {
    size_t cap = ktl_mstack_cap ? ktl_mstack_cap * 2 : 4096;
    ktl_range_todo *s = (ktl_range_todo *)realloc(ktl_mstack, cap * sizeof(ktl_range_todo));
    if (!s) ktl_oom();
    ktl_mstack = s;
    ktl_mstack_cap = cap;
}

/* Queues [lo, hi) for scanning; an odd hi marks an object block of KTL_OBJ
   memory, [lo, hi - 1), scanned by its class's mask. */
static inline __attribute__((always_inline)) void ktl_gc_push(char *lo, char *hi) {
    if (KTL_UNLIKELY(ktl_mstack_n == ktl_mstack_cap)) ktl_gc_mstack_grow();
    ktl_mstack[ktl_mstack_n].lo = lo;
    ktl_mstack[ktl_mstack_n].hi = hi;
    ktl_mstack_n++;
}

/* Marks the block holding the address w; returns its start, with its size
   and memory kind, when it was not marked before, else NULL (also for an
   address outside every block). */
static inline __attribute__((always_inline)) char *ktl_gc_mark_block(uintptr_t w, uintptr_t heap_bytes, size_t *size, int *mem) {
    uintptr_t off = w - (uintptr_t)ktl_heap;
    if (off >= heap_bytes) return NULL;
    size_t i = off >> KTL_PAGE_SHIFT;
    ktl_page *pg = ktl_pages[i];
    if (pg->kind == KTL_PG_TAIL) {
        i = pg->head;
        pg = ktl_pages[i];
    }
    if (pg->kind == KTL_PG_SMALL) {
        size_t b = (size_t)(((off & (KTL_PAGE - 1)) * pg->bmagic) >> 48);
        if (b >= pg->nblocks) return NULL;
        uint64_t bit = (uint64_t)1 << (b & 63);
        if (pg->marks[b >> 6] & bit) return NULL;
        pg->marks[b >> 6] |= bit;
        *size = pg->bsize;
        *mem = pg->mem;
        return ktl_heap + (i << KTL_PAGE_SHIFT) + b * pg->bsize;
    }
    if (pg->kind == KTL_PG_LARGE) {
        if (pg->marks[0] & 1) return NULL;
        pg->marks[0] |= 1;
        *size = (size_t)pg->npages << KTL_PAGE_SHIFT;
        *mem = pg->mem;
        return ktl_heap + (i << KTL_PAGE_SHIFT);
    }
    return NULL;
}

/* A list header just marked: its item block is marked, and only the items
   in use are queued for scanning. A header whose item block is already
   marked was reached some other way, and that block is queued whole. */
static void ktl_gc_mark_list(const ktl_list_hdr *h, uintptr_t heap_bytes) {
    size_t size = 0;
    int mem = 0;
    char *block = ktl_gc_mark_block((uintptr_t)h->data, heap_bytes, &size, &mem);
    if (!block || mem == KTL_NOSCAN || mem == KTL_GROW) return;
    char *lo = (char *)h->data, *end = block + size;
    size_t room = (size_t)(end - lo);
    if (mem == KTL_SCAN && h->len > 0 && h->isz > 0) {
        size_t used = (uint64_t)h->len > room / (uint64_t)h->isz ? room : (size_t)h->len * (size_t)h->isz;
        ktl_gc_push(lo, lo + used);
    } else if (mem != KTL_SCAN) {
        ktl_gc_push(block, end);
    }
}

/* Queues a block just marked by its memory kind: a scanned block goes on
   the mark stack instead of being scanned here, so marking never recurses. */
static inline __attribute__((always_inline)) void ktl_gc_mark_found(char *block, size_t size,
                                                                    int mem,
                                                                    uintptr_t heap_bytes) {
    if (mem == KTL_OBJ) ktl_gc_push(block, block + size + 1);
    else if (mem == KTL_SCAN) ktl_gc_push(block, block + size);
    else if (mem == KTL_LIST) ktl_gc_mark_list((const ktl_list_hdr *)(void *)block, heap_bytes);
}

/* Marks the block a candidate word points into. The block's address is
   computed only for a kind that is read. */
static inline __attribute__((always_inline)) void ktl_gc_mark_word(uintptr_t w,
                                                                   uintptr_t heap_bytes) {
    uintptr_t off = w - (uintptr_t)ktl_heap;
    if (off >= heap_bytes) return;
    ktl_page *pg = ktl_pages[off >> KTL_PAGE_SHIFT];
    if (KTL_LIKELY(pg->kind == KTL_PG_SMALL)) {
        size_t b = (size_t)(((off & (KTL_PAGE - 1)) * pg->bmagic) >> 48);
        if (b >= pg->nblocks) return;
        uint64_t bit = (uint64_t)1 << (b & 63);
        uint64_t *marks = &pg->marks[b >> 6];
        if (*marks & bit) return;
        *marks |= bit;
        int mem = pg->mem;
        if (mem == KTL_NOSCAN || mem == KTL_GROW) return;
        char *block = ktl_heap + (off & ~(uintptr_t)(KTL_PAGE - 1)) + b * pg->bsize;
        ktl_gc_mark_found(block, pg->bsize, mem, heap_bytes);
        return;
    }
    size_t i = off >> KTL_PAGE_SHIFT;
    if (pg->kind == KTL_PG_TAIL) {
        i = pg->head;
        pg = ktl_pages[i];
    }
    if (pg->kind != KTL_PG_LARGE || (pg->marks[0] & 1)) return;
    pg->marks[0] |= 1;
    ktl_gc_mark_found(ktl_heap + (i << KTL_PAGE_SHIFT), (size_t)pg->npages << KTL_PAGE_SHIFT,
                      pg->mem, heap_bytes);
}

/* Every 8-byte aligned word that lies wholly inside [lo, hi). */
static void ktl_gc_scan(const void *lo, const void *hi, uintptr_t heap_bytes) {
    uintptr_t a = ((uintptr_t)lo + 7) & ~(uintptr_t)7;
    uintptr_t end = (uintptr_t)hi;
    for (; a + 8 <= end; a += 8) ktl_gc_mark_word(*(const ktl_word *)a, heap_bytes);
}

/* The words of the object block [b, end) that its class's mask names. */
static inline void ktl_gc_scan_obj(const char *b, const char *end, uintptr_t heap_bytes) {
    uint32_t cls;
    memcpy(&cls, b, sizeof cls);
    uint64_t mask = cls < ktl_obj_nmasks ? ktl_obj_masks[cls] : ~(uint64_t)0;
    size_t words = (size_t)(end - b) / 8;
    uint64_t m = mask & ~KTL_OBJ_REST;
    if (words < 63) m &= ((uint64_t)1 << words) - 1;
    const ktl_word *w = (const ktl_word *)(const void *)b;
    for (; m; m &= m - 1) ktl_gc_mark_word(w[__builtin_ctzll(m)], heap_bytes);
    if ((mask & KTL_OBJ_REST) && words > 63) ktl_gc_scan(b + 63 * 8, end, heap_bytes);
}

static void ktl_gc_drain(uintptr_t heap_bytes) {
    while (ktl_mstack_n) {
        ktl_range_todo r = ktl_mstack[--ktl_mstack_n];
        if ((uintptr_t)r.hi & 1) ktl_gc_scan_obj(r.lo, r.hi - 1, heap_bytes);
        else ktl_gc_scan(r.lo, r.hi, heap_bytes);
    }
}

/* Whether the block starting at p was marked in this collection. */
static bool ktl_gc_marked(const void *p) {
    uintptr_t off = (uintptr_t)p - (uintptr_t)ktl_heap;
    if (off >= ((uintptr_t)ktl_heap_pages << KTL_PAGE_SHIFT)) return true;
    size_t i = off >> KTL_PAGE_SHIFT;
    ktl_page *pg = ktl_pages[i];
    if (pg->kind == KTL_PG_SMALL) {
        size_t b = (size_t)(((off & (KTL_PAGE - 1)) * pg->bmagic) >> 48);
        return (pg->marks[b >> 6] >> (b & 63)) & 1;
    }
    if (pg->kind == KTL_PG_LARGE) return pg->marks[0] & 1;
    return true;
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
            if (ktl_kind_zeroed(pg->mem)) memset(f, 0, pg->bsize);
            f->next = *list;
            *list = f;
        }
    }
    return live;
}

/* The collection proper, called from ktl_gc_collect with the callee-saved
   registers already stored in the caller's frame, which lies between this
   frame and the stack base. */
KTL_RT KTL_COLD __attribute__((noinline)) void ktl_gc_collect_spilled(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD __attribute__((noinline)) void ktl_gc_collect_spilled(void) {
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
    ktl_files_close_unreached();
    size_t live = ktl_gc_sweep();
    ktl_free_hint = 0;
    ktl_gc_live = live;
    ktl_gc_grown = 0;
    ktl_gc_limit = ktl_gc_min_set ? ktl_gc_min_env : (live > KTL_GC_MIN ? live : KTL_GC_MIN);
}
#endif

/* One full collection. A heap pointer may live only in a callee-saved
   register of some caller. setjmp can't be trusted to expose those: glibc
   mangles the saved frame pointer. So every callee-saved register is stored
   in this frame explicitly (and __builtin_unwind_init makes the compiler
   save them all in the prologue as well) before the scan, which starts below
   this frame. */
KTL_RT KTL_COLD __attribute__((noinline)) void ktl_gc_collect(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT KTL_COLD __attribute__((noinline)) void ktl_gc_collect(void) {
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
#endif

/* Reserves the heap's address range. The full 64 GiB is reserved without
   committing memory; where the system refuses that much (a `ulimit -v`,
   strict overcommit), a range reserved without access is used instead and
   made usable as pages are handed out, halving the size until a reservation
   succeeds. Half of such a fallback range is given back, so that the C heap
   (page descriptors, buffers) keeps room of its own. */
KTL_RT void ktl_gc_init(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_gc_init(void) {
    for (int c = 0; c < KTL_NCLS; c++) ktl_cls_size[c] = ktl_class_block_size(c);
    size_t size = KTL_HEAP_MAX;
    char *heap = NULL;
    /* 2 MiB more than the range, so that it can start on a 2 MiB boundary,
       where huge pages can back it from its first page. */
    size_t align = (size_t)2 << 20;
    void *p = mmap(NULL, size + align, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
        uintptr_t at = ((uintptr_t)p + align - 1) & ~(uintptr_t)(align - 1);
        size_t head = at - (uintptr_t)p;
        if (head) munmap(p, head);
        if (align - head) munmap((char *)at + size, align - head);
        p = (void *)at;
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
    if (heap) {
        ktl_heap_advise(heap, size);
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
#endif


