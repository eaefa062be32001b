// The thread pool of parallel loops: every iteration runs once, a long loop
// uses more than one thread, chunk sizes, the exception of an iteration
// reaches the caller once with its line and function, a loop reached from
// an iteration runs serially, collections wait for the loop, and a worker's
// fatal error ends the program from the calling thread with the output
// printed before it.
// cflags: -DKTL_PARALLEL=1
// env: KESTAL_THREADS=4
// expect-status: 1
// warnings: error
#include "kestal_runtime.c"
#include "test_support.h"

static int64_t kt_hits[1000000];
static int kt_used[KTL_MAX_THREADS];
static int64_t kt_chunk;
static int kt_inner_threads;

static void kt_count(void *env, ktl_job *job, int tid) {
    (void)env;
    int64_t lo, hi;
    while (ktl_par_claim(job, &lo, &hi)) {
        for (int64_t k = lo; k < hi; k++) {
            volatile double x = (double)k;
            for (int r = 0; r < 20; r++) x = x * 1.0000001 + 0.5;
            __atomic_add_fetch(&kt_hits[k], 1, __ATOMIC_RELAXED);
        }
        __atomic_store_n(&kt_used[tid], 1, __ATOMIC_RELAXED);
    }
    __atomic_store_n(&kt_chunk, job->chunk, __ATOMIC_RELAXED);
}

static void kt_raise_from_five(void *env, ktl_job *job, int tid) {
    (void)env;
    (void)tid;
    int64_t lo, hi;
    while (ktl_par_claim(job, &lo, &hi))
        for (int64_t k = lo; k < hi; k++)
            if (k >= 5) ktl_raise_at(ktl_exc_new(KTL_E_ValueError, KTL_LIT("five"), KTL_LIT("'five'")), 42, "f");
}

static void kt_inner(void *env, ktl_job *job, int tid) {
    (void)env;
    (void)tid;
    int64_t lo, hi;
    __atomic_store_n(&kt_inner_threads, job->threads, __ATOMIC_RELAXED);
    while (ktl_par_claim(job, &lo, &hi)) {}
}

static void kt_outer(void *env, ktl_job *job, int tid) {
    (void)env;
    (void)tid;
    int64_t lo, hi;
    while (ktl_par_claim(job, &lo, &hi))
        for (int64_t k = lo; k < hi; k++) ktl_par_run(kt_inner, NULL, 100);
}

static void kt_allocate(void *env, ktl_job *job, int tid) {
    (void)env;
    (void)tid;
    int64_t lo, hi;
    while (ktl_par_claim(job, &lo, &hi))
        for (int64_t k = lo; k < hi; k++) ktl_alloc(64);
}

static int kt_worker_started;

static void kt_worker_panics(void *env, ktl_job *job, int tid) {
    (void)env;
    int64_t lo, hi;
    if (tid == 0) {
        // Leaves the work to the workers.
        for (int spin = 0; spin < 2000 && !__atomic_load_n(&kt_worker_started, __ATOMIC_ACQUIRE); spin++)
            usleep(1000);
        return;
    }
    __atomic_store_n(&kt_worker_started, 1, __ATOMIC_RELEASE);
    while (ktl_par_claim(job, &lo, &hi)) ktl_panic("boom in a worker");
}

static void ktl_main(void) {
    int64_t n = 1000000;
    ktl_par_run(kt_count, NULL, n);
    int64_t bad = 0, used = 0;
    for (int64_t k = 0; k < n; k++) bad += kt_hits[k] != 1;
    for (int t = 0; t < KTL_MAX_THREADS; t++) used += kt_used[t];
    KT_CHECK(bad == 0);
    KT_CHECK(used > 1);
    KT_CHECK(kt_chunk == 1000000 / (4 * 16));
    KT_CHECK(ktl_pool_threads == 4);
    ktl_par_run(kt_count, NULL, 10);
    KT_CHECK(kt_chunk == 1);
    ktl_par_run(kt_count, NULL, 0);
    printf("every iteration once, on more than one thread\n");

    ktl_handler h;
    ktl_try_enter(&h);
    if (ktl_setjmp(h.jb) == 0) {
        ktl_par_run(kt_raise_from_five, NULL, 1000000);
        ktl_htop = h.prev;
        KT_CHECK(0);
    } else {
        ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
        KT_CHECK(e->cls == KTL_E_ValueError);
        KT_CHECK(ktl_exc_line == 42);
        KT_CHECK(strcmp(ktl_exc_fn, "f") == 0);
        KT_CHECK(!ktl_in_worker);
    }
    printf("one exception, with its line and function\n");

    ktl_par_run(kt_outer, NULL, 8);
    KT_CHECK(kt_inner_threads == 1);
    printf("a loop inside an iteration runs serially\n");

    size_t before = ktl_gc_count;
    ktl_gc_limit = 1 << 20;
    ktl_par_run(kt_allocate, NULL, 200000);
    KT_CHECK(ktl_gc_count == before + 1);
    KT_CHECK(!ktl_gc_off);
    printf("one collection, after the loop\n");

    ktl_write("buffered before the failing loop\n", 33);
    ktl_par_run(kt_worker_panics, NULL, 1000);
    printf("not reached\n");
}
