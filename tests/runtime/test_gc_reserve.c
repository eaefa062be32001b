// Start-up under an address-space limit too small for the full heap
// reservation: the heap falls back to a smaller range (made usable as pages
// are handed out), programs still run, and exhausting that range ends the
// program with the out-of-memory panic. The collection threshold is set out
// of reach, so only a full range can start a collection here.
// run-under: sh -c 'ulimit -v 500000 && exec "$0"'
// env: KESTAL_GC_MIN=1000000000000
#include "kestal_runtime.c"
#include "test_support.h"
#include <sys/wait.h>

static void kt_exhaust(void) {
    // Everything stays reachable through the chain, so the heap must grow.
    void **chain = NULL;
    for (;;) {
        void **b = (void **)ktl_alloc(1 << 20);
        b[0] = chain;
        chain = b;
        ktl_G.slot[2] = chain;
    }
}

static void ktl_main(void) {
    KT_CHECK(ktl_heap_max_pages < (KTL_HEAP_MAX >> KTL_PAGE_SHIFT));
    KT_CHECK(ktl_heap_max_pages >= 1024);
    KT_CHECK(ktl_heap_commit != SIZE_MAX);

    // 48 MB kept alive in blocks of 64 KiB and in small blocks, with 256 MB
    // of garbage around them: more than the range holds.
    void **keep = (void **)ktl_alloc(768 * sizeof(void *));
    ktl_G.slot[0] = keep;
    for (int i = 0; i < 768; i++) {
        keep[i] = ktl_alloc_bytes(KTL_PAGE);
        memset(keep[i], i & 0xff, KTL_PAGE);
    }
    uint64_t **small = (uint64_t **)ktl_alloc(100000 * sizeof(uint64_t *));
    ktl_G.slot[1] = small;
    for (int i = 0; i < 100000; i++) {
        small[i] = (uint64_t *)ktl_alloc(64);
        small[i][7] = (uint64_t)i;
    }
    for (size_t total = 0; total < (256u << 20); total += 3000) {
        char *g = ktl_alloc_bytes(3000);
        g[2999] = 1;
    }
    KT_CHECK(ktl_gc_count > 0);
    for (int i = 0; i < 768; i++) {
        const unsigned char *p = (const unsigned char *)keep[i];
        KT_CHECK(p[0] == (i & 0xff) && p[KTL_PAGE - 1] == (i & 0xff));
    }
    for (int i = 0; i < 100000; i++) KT_CHECK(small[i][7] == (uint64_t)i && small[i][0] == 0);

    // Filling the smaller range ends the program cleanly.
    fflush(stdout);
    int pe[2];
    if (pipe(pe)) kt_fail(__LINE__, "pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pe[1], 2);
        close(pe[0]);
        kt_exhaust();
    }
    close(pe[1]);
    char err[256] = {0};
    ssize_t n = read(pe[0], err, sizeof err - 1);
    int st = 0;
    waitpid(pid, &st, 0);
    KT_CHECK(n > 0 && strcmp(err, "Kestal runtime error: out of memory\n") == 0);
    KT_CHECK(WIFEXITED(st) && WEXITSTATUS(st) == 1);
    ktl_write("OK\n", 3);
}
