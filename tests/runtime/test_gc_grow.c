// Growing large blocks without a copy: a block whose following pages are
// free (or not handed out yet) takes them in place; a block that can't
// extend has its pages moved to a new run (on Linux), and its old pages come
// back free and zero. Either way the used bytes survive, the bytes after
// them read zero, and the grown block stays alive through collections.
#include "kestal_runtime.c"
#include "test_support.h"

KTL_DEFINE_DICT(D_ii, int64_t, int64_t, ktl_hash_i, KTL_EQ, ktl_print_i, ktl_print_i, KTL_EQ, KTL_NOSCAN)

static size_t kt_block_size(void *p) {
    size_t size = 0;
    ktl_page *pg;
    void *b = ktl_gc_block(p, &size, &pg);
    return b == p ? size : 0;
}

static void kt_fill(int64_t *p, size_t n, int64_t seed) {
    for (size_t i = 0; i < n; i++) p[i] = seed + (int64_t)i * 7;
}

static bool kt_filled(const int64_t *p, size_t n, int64_t seed) {
    for (size_t i = 0; i < n; i++)
        if (p[i] != seed + (int64_t)i * 7) return false;
    return true;
}

static bool kt_zero(const char *p, size_t n) {
    for (size_t i = 0; i < n; i++)
        if (p[i]) return false;
    return true;
}

// The block at the top of the heap grows in place; bytes past the used part
// (stale items beyond a list's length) are cleared.
static void kt_in_place(void) {
    size_t used = 2 * KTL_PAGE, words = used / 8;
    int64_t *a = (int64_t *)ktl_gc_alloc(3 * KTL_PAGE, KTL_SCAN);
    kt_fill(a, 3 * KTL_PAGE / 8, 1);
    int64_t *b = (int64_t *)ktl_gc_realloc(a, used, 6 * KTL_PAGE, KTL_SCAN);
    KT_CHECK(b == a);
    KT_CHECK(kt_block_size(b) == 6 * KTL_PAGE);
    KT_CHECK(kt_filled(b, words, 1));
    KT_CHECK(kt_zero((char *)b + used, 4 * KTL_PAGE));
}

// A block hemmed in by a later block moves (or, off Linux, is copied); the
// pages it left are free and read zero.
static void kt_moved(void) {
    size_t np = 8, used = np * KTL_PAGE;
    int64_t *a = (int64_t *)ktl_gc_alloc(used, KTL_SCAN);
    ktl_G.slot[0] = ktl_gc_alloc(KTL_MAX_SMALL + 1, KTL_SCAN);
    kt_fill(a, used / 8, 5);
    size_t first = (size_t)((char *)a - ktl_heap) >> KTL_PAGE_SHIFT;
    int64_t *b = (int64_t *)ktl_gc_realloc(a, used, 2 * used, KTL_SCAN);
    KT_CHECK(b != a);
    KT_CHECK(kt_block_size(b) == 2 * used);
    KT_CHECK(kt_filled(b, used / 8, 5));
    KT_CHECK(kt_zero((char *)b + used, used));
    for (size_t j = 0; j < np; j++) KT_CHECK(ktl_pages[first + j]->kind == KTL_PG_FREE);
    KT_CHECK(kt_zero((char *)a, used));
    ktl_G.slot[1] = b;
    ktl_gc_collect();
    KT_CHECK(kt_block_size(b) == 2 * used && kt_filled(b, used / 8, 5));
    ktl_G.slot[1] = NULL;
}

// Lists of ints and strings and a dict grown item by item past many pages,
// with small values allocated in between and collections on the way.
static void kt_containers(void) {
    L_i *xs = L_i_new(0);
    L_s *ss = L_s_new(0);
    D_ii *d = D_ii_new(0);
    ktl_G.slot[2] = xs;
    ktl_G.slot[3] = ss;
    ktl_G.slot[4] = d;
    for (int64_t i = 0; i < 300000; i++) {
        L_i_push(xs, i * 3);
        L_s_push(ss, ktl_int_str(i));
        D_ii_set(d, i, -i);
    }
    for (int64_t i = 0; i < 300000; i++) {
        KT_CHECK(xs->data[i] == i * 3);
        KT_CHECK(ktl_str_eq(ss->data[i], ktl_int_str(i)));
        KT_CHECK(D_ii_get(d, i, 1) == -i);
    }
    KT_CHECK(d->len == 300000);
}

static void ktl_main(void) {
    kt_in_place();
    kt_moved();
    kt_containers();
    ktl_write("OK\n", 3);
}
