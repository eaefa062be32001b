// Millions of short-lived blocks (about 3 GB in all, small and large, scanned
// and not) with a small collection threshold, while a ring of live blocks is
// replaced at random: every live block keeps its contents, the heap stays
// near the live size plus the threshold, and the peak memory stays bounded.
// env: KESTAL_GC_MIN=4000000
#include "kestal_runtime.c"
#include "test_support.h"
#include <sys/resource.h>

#define KT_RING 2048

typedef struct {
    uint64_t stamp;
    size_t n;
    // A scanned block's last word points at a no-scan block it owns.
    unsigned char *bytes;
} kt_item;

static uint64_t kt_rng = 88172645463325252ull;
static uint64_t kt_next(void) {
    kt_rng ^= kt_rng << 13;
    kt_rng ^= kt_rng >> 7;
    kt_rng ^= kt_rng << 17;
    return kt_rng;
}

static kt_item *kt_make(uint64_t stamp) {
    size_t n = 8 + kt_next() % 600;
    if (stamp % 997 == 0) n = 20000 + kt_next() % 150000;
    kt_item *it = (kt_item *)ktl_alloc(sizeof(kt_item));
    it->stamp = stamp;
    it->n = n;
    it->bytes = (unsigned char *)ktl_alloc_bytes(n);
    memset(it->bytes, (int)(stamp & 0xff), n);
    return it;
}

static void kt_verify(const kt_item *it) {
    KT_CHECK(it->bytes != NULL && it->bytes[0] == (unsigned char)(it->stamp & 0xff));
    KT_CHECK(it->bytes[it->n - 1] == (unsigned char)(it->stamp & 0xff));
}

static void ktl_main(void) {
    kt_item **ring = (kt_item **)ktl_alloc(KT_RING * sizeof(kt_item *));
    ktl_G.slot[0] = ring;
    for (int i = 0; i < KT_RING; i++) ring[i] = kt_make((uint64_t)i);
    uint64_t total = 0;
    uint64_t stamp = KT_RING;
    size_t max_heap_pages = 0;
    while (total < (3ull << 30)) {
        // Garbage: a burst of blocks nobody keeps.
        for (int k = 0; k < 16; k++) {
            size_t n = 16 + kt_next() % 700;
            char *g = (char *)ktl_gc_alloc(n, (int)(k & 1));
            g[0] = 1;
            total += n;
        }
        // Replace one live item, checking the one it replaces.
        size_t at = kt_next() % KT_RING;
        kt_verify(ring[at]);
        ring[at] = kt_make(stamp++);
        total += sizeof(kt_item) + ring[at]->n;
        if (ktl_heap_pages > max_heap_pages) max_heap_pages = ktl_heap_pages;
    }
    for (int i = 0; i < KT_RING; i++) kt_verify(ring[i]);
    // Live data is about 1.5 MB, with large items it rarely passes 4 MB; the
    // heap may grow by the threshold (4 MB) between collections.
    size_t heap_mb = (max_heap_pages << KTL_PAGE_SHIFT) >> 20;
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    size_t peak_mb = (size_t)u.ru_maxrss / 1024;
    if (heap_mb > 24 || peak_mb > 64 || ktl_gc_count < 300) {
        fprintf(stderr, "heap %zu MB, peak %zu MB, %zu collections\n", heap_mb, peak_mb, ktl_gc_count);
        kt_fail(__LINE__, "memory not bounded");
    }
    ktl_write("OK\n", 3);
}
