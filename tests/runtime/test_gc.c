// The collector's contract: size classes and block lookup, zeroed scanned
// memory, freeing, what keeps a block alive (stack words, callee-saved
// registers, string views into the middle, roots, scanned blocks) and what
// does not (no-scan memory), and the reuse of freed pages.
// warnings: error
#include "kestal_runtime.c"
#include "test_support.h"

#define KT_MAGIC 0x6b657374616c2121ull

typedef struct kt_node {
    uint64_t magic;
    struct kt_node *next;
    int64_t value;
} kt_node;

static size_t kt_block_size(void *p) {
    size_t size = 0;
    ktl_page *pg;
    void *b = ktl_gc_block(p, &size, &pg);
    return b == p ? size : 0;
}

// Overwrites a large part of the dead stack below the caller, so that stale
// copies of pointers left there by earlier calls can't keep blocks alive and
// hide a fault of the test.
static __attribute__((noinline)) void kt_scrub_stack(void) {
    volatile char junk[32768];
    memset((char *)junk, 0, sizeof junk);
}

static __attribute__((noinline)) void kt_collect(void) {
    kt_scrub_stack();
    ktl_gc_collect();
}

static void kt_size_classes(void) {
    // Every request gets the smallest class that holds it.
    for (size_t n = 1; n <= KTL_MAX_SMALL; n++) {
        int c = ktl_size_class(n);
        KT_CHECK(c >= 0 && c < KTL_NCLS && ktl_cls_size[c] >= n);
        KT_CHECK(c == 0 || ktl_cls_size[c - 1] < n);
    }
    static const struct {
        size_t request;
        size_t block;
    } table[] = {
        {0, 16},      {1, 16},      {16, 16},      {17, 32},      {128, 128},      {129, 160},
        {1000, 1024}, {1025, 1280}, {8191, 8192},  {8192, 8192},  {8193, 65536},  {65536, 65536},
        {65537, 131072}, {1000000, 1048576},
    };
    for (size_t i = 0; i < sizeof table / sizeof table[0]; i++) {
        void *p = ktl_gc_alloc(table[i].request, KTL_NOSCAN);
        KT_CHECK(kt_block_size(p) == table[i].block);
        KT_CHECK(((uintptr_t)p & 15) == 0);
        if (table[i].request > KTL_MAX_SMALL) KT_CHECK(((uintptr_t)p & (KTL_PAGE - 1)) == 0);
    }
    KT_CHECK(ktl_cls_size[31] == 8192 && ktl_cls_size[8] == 160 && ktl_cls_size[7] == 128);
}

static void kt_lookup_and_free(void) {
    // An interior pointer resolves to its block; the bytes after a page's
    // last whole block, memory outside the heap and NULL belong to none.
    char *b = (char *)ktl_gc_alloc(48, KTL_NOSCAN);
    size_t size;
    ktl_page *pg;
    KT_CHECK(ktl_gc_block(b + 47, &size, &pg) == b && size == 48 && pg->bsize == 48);
    char *page = ktl_heap + (((size_t)(b - ktl_heap)) & ~(KTL_PAGE - 1));
    KT_CHECK(ktl_gc_block(page + 65535, &size, &pg) == NULL);
    KT_CHECK(ktl_gc_block(page + 65519, &size, &pg) != NULL);
    static char outside[64];
    KT_CHECK(ktl_gc_block(outside, &size, &pg) == NULL);
    KT_CHECK(ktl_gc_block(NULL, &size, &pg) == NULL);
    char *big = (char *)ktl_gc_alloc(200000, KTL_NOSCAN);
    KT_CHECK(ktl_gc_block(big + 150000, &size, &pg) == big && size == 4 * KTL_PAGE);

    // Freeing anything but a block's start does nothing: the block keeps its
    // bytes and is not handed out again.
    memset(b, 7, 48);
    ktl_gc_free(b + 16);
    ktl_gc_free(outside);
    ktl_gc_free(NULL);
    for (int i = 0; i < 100; i++) KT_CHECK(ktl_gc_alloc(48, KTL_NOSCAN) != b);
    KT_CHECK(b[0] == 7 && b[47] == 7);

    // A freed scanned block comes back zeroed; a freed large block's pages
    // are reused.
    uint64_t *s = (uint64_t *)ktl_alloc(64);
    for (int i = 0; i < 8; i++) s[i] = ~0ull;
    ktl_gc_free(s);
    uint64_t *t = (uint64_t *)ktl_alloc(64);
    KT_CHECK(t == s);
    for (int i = 0; i < 8; i++) KT_CHECK(t[i] == 0);
    size_t pages = ktl_heap_pages;
    ktl_gc_free(big);
    char *big2 = (char *)ktl_gc_alloc(3 * KTL_PAGE, KTL_SCAN);
    KT_CHECK(big2 == big && ktl_heap_pages == pages);
    for (size_t i = 0; i < 3 * KTL_PAGE; i += 4096) KT_CHECK(big2[i] == 0);

    // realloc copies and frees the old block.
    char *r = ktl_alloc_bytes(100);
    memcpy(r, "0123456789", 10);
    char *r2 = (char *)ktl_gc_realloc(r, 10, 5000, KTL_NOSCAN);
    KT_CHECK(memcmp(r2, "0123456789", 10) == 0 && kt_block_size(r2) == 5120);
    KT_CHECK(ktl_alloc_bytes(100) == r);
}

static kt_node *kt_list(int n) {
    kt_node *head = NULL;
    for (int i = 0; i < n; i++) {
        kt_node *x = (kt_node *)ktl_alloc(sizeof(kt_node));
        x->magic = KT_MAGIC;
        x->value = i;
        x->next = head;
        head = x;
    }
    return head;
}

static void kt_check_list(const kt_node *x, int n) {
    for (int i = n - 1; i >= 0; i--, x = x->next) {
        KT_CHECK(x && x->magic == KT_MAGIC && x->value == i);
    }
    KT_CHECK(x == NULL);
}

// Allocates and drops about `bytes` in small blocks of every class.
static void kt_garbage(size_t bytes) {
    for (size_t done = 0, i = 0; done < bytes; i++) {
        size_t n = 16 + (i * 2654435761u) % 3000;
        uint64_t *p = (uint64_t *)ktl_gc_alloc(n, (int)(i % 2));
        p[0] = ~0ull;
        p[1] = (uintptr_t)p;
        done += n;
    }
}

// A string view that points into the middle of its block keeps the block.
static __attribute__((noinline)) ktl_str kt_middle_view(void) {
    char *p = ktl_alloc_bytes(1000);
    for (int i = 0; i < 1000; i++) p[i] = (char)('a' + i % 26);
    return ktl_mkstr(p + 500, 10);
}

static void kt_liveness(void) {
    // Locals, a string view, a global.
    kt_node *local = kt_list(5000);
    ktl_str view = kt_middle_view();
    ktl_G.slot[0] = kt_list(300);
    // Only a no-scan block refers to this one, so nothing keeps it.
    kt_node **hidden = (kt_node **)ktl_alloc_bytes(sizeof(kt_node *));
    *hidden = kt_list(1);
    ktl_G.slot[1] = hidden;
    size_t before = ktl_gc_count;
    kt_collect();
    kt_garbage(20u << 20);
    kt_collect();
    KT_CHECK(ktl_gc_count >= before + 2);
    kt_check_list(local, 5000);
    kt_check_list((kt_node *)ktl_G.slot[0], 300);
    KT_CHECK(memcmp(view.p, "ghijklmnop", 10) == 0);
    KT_CHECK((*hidden)->magic != KT_MAGIC);
    ktl_G.slot[0] = NULL;
    ktl_G.slot[1] = NULL;
}

// Objects whose class ids name the masks below, and one whose class id is
// outside the table; each holds lists at words its mask names and not.
static __attribute__((noinline)) void kt_make_objects(void) {
    uint64_t *a = (uint64_t *)ktl_obj_new_in(32, KTL_OBJ);
    uint64_t *b = (uint64_t *)ktl_obj_new_in(640, KTL_OBJ);
    uint64_t *c = (uint64_t *)ktl_obj_new_in(48, KTL_OBJ);
    a[0] = 0;
    b[0] = 1;
    c[0] = 7;
    a[1] = (uintptr_t)kt_list(200);
    a[2] = (uintptr_t)kt_list(1);
    b[2] = (uintptr_t)kt_list(300);
    b[5] = (uintptr_t)kt_list(1);
    b[70] = (uintptr_t)kt_list(400);
    c[4] = (uintptr_t)kt_list(500);
    ktl_G.slot[0] = a;
    ktl_G.slot[1] = b;
    ktl_G.slot[2] = c;
}

// An object block is read only at the words its class's scan mask names;
// the last mask bit stands for every word from the 63rd on, and a class id
// outside the table reads the whole block.
static void kt_object_masks(void) {
    static const uint64_t masks[] = {KTL_WORD_BITS(8, 8), KTL_WORD_BITS(16, 8) | KTL_OBJ_REST};
    KT_CHECK(KTL_WORD_BITS(8, 16) == 6 && KTL_WORD_BITS(4, 8) == 3);
    KT_CHECK(KTL_WORD_BITS(496, 16) == (3ull << 62) && KTL_WORD_BITS(512, 8) == KTL_OBJ_REST);
    ktl_obj_masks = masks;
    ktl_obj_nmasks = 2;
    kt_make_objects();
    kt_collect();
    kt_garbage(20u << 20);
    kt_collect();
    uint64_t *a = (uint64_t *)ktl_G.slot[0], *b = (uint64_t *)ktl_G.slot[1];
    kt_check_list((kt_node *)a[1], 200);
    kt_check_list((kt_node *)b[2], 300);
    kt_check_list((kt_node *)b[70], 400);
    kt_check_list((kt_node *)((uint64_t *)ktl_G.slot[2])[4], 500);
    KT_CHECK(((kt_node *)a[2])->magic != KT_MAGIC && ((kt_node *)b[5])->magic != KT_MAGIC);
    ktl_G.slot[0] = ktl_G.slot[1] = ktl_G.slot[2] = NULL;
    ktl_obj_masks = NULL;
    ktl_obj_nmasks = 0;
}

// After a collection that frees every block of a page, the page serves any
// class and kind, and a scanned block taken from it reads as zero.
static void kt_page_reuse(void) {
    kt_collect();
    size_t pages = ktl_heap_pages;
    for (int i = 0; i < 40000; i++) memset(ktl_gc_alloc(16, KTL_NOSCAN), 0xff, 16);
    kt_collect();
    KT_CHECK(ktl_free_pages >= 8);
    size_t pages_mid = ktl_heap_pages;
    KT_CHECK(pages_mid >= pages);
    for (int i = 0; i < 64; i++) {
        uint64_t *p = (uint64_t *)ktl_alloc(4096);
        KT_CHECK((size_t)((char *)p - ktl_heap) < (pages_mid << KTL_PAGE_SHIFT));
        for (int j = 0; j < 512; j++) KT_CHECK(p[j] == 0);
    }
    KT_CHECK(ktl_heap_pages == pages_mid);
}

// Without KESTAL_GC_MIN the heap may grow by what it holds live, at least
// KTL_GC_MIN, between collections.
static __attribute__((noinline)) void kt_keep_48mb(void) {
    void **keep = (void **)ktl_alloc(48 * sizeof(void *));
    ktl_G.slot[2] = keep;
    for (int i = 0; i < 48; i++) keep[i] = ktl_alloc_bytes(1 << 20);
}

static void kt_default_limit(void) {
    kt_keep_48mb();
    kt_collect();
    KT_CHECK(ktl_gc_live >= (48u << 20) && ktl_gc_limit == ktl_gc_live);
    ktl_G.slot[2] = NULL;
    kt_collect();
    KT_CHECK(ktl_gc_live < (4u << 20) && ktl_gc_limit == KTL_GC_MIN);
    size_t count = ktl_gc_count;
    size_t pages = ktl_heap_pages;
    kt_garbage(200u << 20);
    // At least one collection per few KTL_GC_MIN of garbage; and, as the
    // limit counts every page taken (blocks of 32 classes and two kinds
    // each start a page), at most one per page of garbage.
    size_t collections = ktl_gc_count - count;
    KT_CHECK(collections >= (200u << 20) / KTL_GC_MIN / 4);
    KT_CHECK(collections <= (200u << 20) / KTL_PAGE);
    KT_CHECK(ktl_heap_pages == pages);
}

#if defined(__x86_64__)
// Callee-saved registers hold the only copy of six pointers (each stored
// elsewhere only masked) while a collection runs. rbp is the register that
// glibc's setjmp mangles.
static uintptr_t kt_masked[6];
#define KT_MASK ((uintptr_t)0xa5a5a5a5a5a5a5a5ull)

static __attribute__((noinline)) void kt_collect_holding_registers(void) {
    // The operands sit in caller-saved registers, so that loading the six
    // callee-saved ones can't overwrite them.
    uintptr_t *masked = kt_masked;
    uintptr_t mask = KT_MASK;
    void (*collect)(void) = ktl_gc_collect;
    __asm__ volatile(
        "lea -128(%%rsp), %%rsp\n\t"
        "push %%rbp\n\t"
        "push %%rbx\n\t"
        "push %%r12\n\t"
        "push %%r13\n\t"
        "push %%r14\n\t"
        "push %%r15\n\t"
        "mov 0(%0), %%rbp\n\t"
        "xor %1, %%rbp\n\t"
        "mov 8(%0), %%rbx\n\t"
        "xor %1, %%rbx\n\t"
        "mov 16(%0), %%r12\n\t"
        "xor %1, %%r12\n\t"
        "mov 24(%0), %%r13\n\t"
        "xor %1, %%r13\n\t"
        "mov 32(%0), %%r14\n\t"
        "xor %1, %%r14\n\t"
        "mov 40(%0), %%r15\n\t"
        "xor %1, %%r15\n\t"
        "xor %1, %1\n\t"
        "mov %%rsp, %%rax\n\t"
        "and $-16, %%rsp\n\t"
        "push %%rax\n\t"
        "push %%rax\n\t"
        "call *%2\n\t"
        "pop %%rax\n\t"
        "pop %%rsp\n\t"
        "pop %%r15\n\t"
        "pop %%r14\n\t"
        "pop %%r13\n\t"
        "pop %%r12\n\t"
        "pop %%rbx\n\t"
        "pop %%rbp\n\t"
        "lea 128(%%rsp), %%rsp\n\t"
        : "+c"(masked), "+d"(mask), "+S"(collect)
        :
        : "rax", "rdi", "r8", "r9", "r10", "r11", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3",
          "xmm4", "xmm5", "xmm6", "xmm7", "xmm8", "xmm9", "xmm10", "xmm11", "xmm12", "xmm13",
          "xmm14", "xmm15");
}

static __attribute__((noinline)) void kt_make_register_nodes(void) {
    for (int i = 0; i < 6; i++) {
        kt_node *x = (kt_node *)ktl_alloc(sizeof(kt_node));
        x->magic = KT_MAGIC;
        x->value = 100 + i;
        kt_masked[i] = (uintptr_t)x ^ KT_MASK;
    }
}

static void kt_registers(void) {
    kt_make_register_nodes();
    kt_scrub_stack();
    kt_collect_holding_registers();
    // Anything the collection missed is zeroed and handed out again here;
    // no collection may run meanwhile, as nothing else refers to the nodes.
    ktl_gc_off = 1;
    kt_garbage(4u << 20);
    ktl_gc_off = 0;
    for (int i = 0; i < 6; i++) {
        kt_node *x = (kt_node *)(kt_masked[i] ^ KT_MASK);
        if (x->magic != KT_MAGIC || x->value != 100 + i) {
            fprintf(stderr, "pointer held in callee-saved register %d was lost\n", i);
            kt_fail(__LINE__, "register root");
        }
    }
}
#else
static void kt_registers(void) {}
#endif

static void ktl_main(void) {
    kt_registers();
    kt_size_classes();
    kt_lookup_and_free();
    kt_liveness();
    kt_object_masks();
    kt_page_reuse();
    kt_default_limit();
    ktl_write("OK\n", 3);
}
