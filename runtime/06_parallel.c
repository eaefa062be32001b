/* ---- Parallel loops: the thread pool ----
 *
 * A `for i in prange(...)` loop becomes a body function and an environment
 * (built by the compiler); ktl_par_run runs iterations 0 to n - 1 of it on a
 * pool of worker threads plus the calling thread. Every thread claims chunks
 * of iterations from one shared counter until none are left. Collections
 * are postponed while a loop runs, since only the calling thread's stack
 * would be scanned. The first failure of an iteration stops every thread's
 * next claim and is raised again in the calling thread once all have
 * finished: an exception with its line and function, or a worker's fatal
 * runtime error, which then ends the program from the calling thread so
 * that its buffered output is written first. Only programs with a parallel
 * loop compile any of this.
 */

#ifdef KTL_PARALLEL
#include <pthread.h>
#include <sched.h>
#include <signal.h>

/* The most threads one loop uses, the calling thread included; generated
   reduction arrays have one slot per thread id. */
#define KTL_MAX_THREADS 256

typedef struct ktl_job {
    void (*fn)(void *env, struct ktl_job *job, int tid);
    void *env;
    int64_t n;
    int64_t chunk;
    /* First unclaimed iteration; atomic. */
    int64_t next;
    int threads;
    /* Set once an iteration failed; atomic. */
    int stop;
    /* The first failure, under the pool mutex: an exception with where it
       was raised, or the message of a worker's fatal error. */
    void *exc;
    int64_t exc_line;
    const char *exc_fn;
    bool panicked;
    char panic_msg[256];
} ktl_job;

typedef pthread_mutex_t ktl_mtx;
typedef pthread_cond_t ktl_cnd;

static void ktl_mtx_lock(ktl_mtx *m) {
    pthread_mutex_lock(m);
}
static void ktl_mtx_unlock(ktl_mtx *m) {
    pthread_mutex_unlock(m);
}
static void ktl_cnd_wait(ktl_cnd *c, ktl_mtx *m) {
    pthread_cond_wait(c, m);
}
static void ktl_cnd_wake(ktl_cnd *c) {
    pthread_cond_broadcast(c);
}

/* The processors this process may run on: the CPUs of its affinity mask, so
   a program confined by taskset or a container's CPU set uses what it has. */
static int ktl_cpu_count(void) {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}

KTL_VAR ktl_mtx ktl_pool_mtx KTL_INIT(PTHREAD_MUTEX_INITIALIZER);
KTL_VAR ktl_cnd ktl_pool_go KTL_INIT(PTHREAD_COND_INITIALIZER);
KTL_VAR ktl_cnd ktl_pool_idle KTL_INIT(PTHREAD_COND_INITIALIZER);
/* Threads a loop can use, the calling one included; 0 until the pool
   starts. */
KTL_VAR int ktl_pool_threads;
/* Workers still on the current job. */
KTL_VAR int ktl_pool_busy;
/* Increased for every job, so a worker serves each job once. */
KTL_VAR uint64_t ktl_pool_gen;
KTL_VAR ktl_job *ktl_pool_job;
/* True in every worker, and in the calling thread while it runs its own
   share: a loop reached there runs serially on that thread. */
KTL_VAR KTL_TLS bool ktl_in_worker;
/* A worker's share: where its fatal error goes (see ktl_worker_panic). */
KTL_VAR KTL_TLS ktl_job *ktl_share_job;
KTL_VAR KTL_TLS ktl_handler *ktl_share_handler;

/* A fatal runtime error in a worker: recorded as the job's failure unless
   one is recorded already, and the worker leaves its share. The calling
   thread ends the program with it once every thread has stopped. */
static KTL_COLD KTL_NORETURN void ktl_worker_panic(const char *msg) {
    ktl_job *job = ktl_share_job;
    ktl_mtx_lock(&ktl_pool_mtx);
    if (!job->exc && !job->panicked) {
        job->panicked = true;
        snprintf(job->panic_msg, sizeof job->panic_msg, "%s", msg);
    }
    ktl_mtx_unlock(&ktl_pool_mtx);
    __atomic_store_n(&job->stop, 1, __ATOMIC_RELAXED);
    ktl_htop = NULL;
    ktl_longjmp(ktl_share_handler->jb, 2);
}

/* The next chunk [lo, hi) of the job, or false when no iterations are left
   or the job was stopped. */
static bool ktl_par_claim(ktl_job *job, int64_t *lo, int64_t *hi) {
    if (__atomic_load_n(&job->stop, __ATOMIC_RELAXED)) return false;
    int64_t k = __atomic_fetch_add(&job->next, job->chunk, __ATOMIC_RELAXED);
    if (k >= job->n) return false;
    *lo = k;
    *hi = job->n - k < job->chunk ? job->n : k + job->chunk;
    return true;
}

/* Runs one thread's share of the job. An exception that leaves the body is
   recorded (the first failure wins) and stops the other threads' claims; a
   worker's fatal error comes back here too (jump value 2), already
   recorded. */
static void ktl_job_work(ktl_job *job, int tid) {
    ktl_handler h;
    ktl_try_enter(&h);
    if (tid > 0) {
        ktl_share_job = job;
        ktl_share_handler = &h;
        ktl_panic_hook = ktl_worker_panic;
    }
    int how = ktl_setjmp(h.jb);
    if (how == 0) {
        job->fn(job->env, job, tid);
        ktl_htop = h.prev;
    } else {
        void *e = how == 1 ? ktl_try_land(&h) : NULL;
        ktl_htop = h.prev;
        ktl_cap_abandon();
        if (e) {
            ktl_mtx_lock(&ktl_pool_mtx);
            if (!job->exc && !job->panicked) {
                job->exc = e;
                job->exc_line = ktl_exc_line;
                job->exc_fn = ktl_exc_fn;
            }
            ktl_mtx_unlock(&ktl_pool_mtx);
            __atomic_store_n(&job->stop, 1, __ATOMIC_RELAXED);
        }
    }
    ktl_panic_hook = NULL;
    ktl_share_job = NULL;
    ktl_share_handler = NULL;
}

/* A worker's stack, from the bottom of its guard reach to its top (both 0
   on other threads): a fault in it is a runaway recursion in a loop body,
   reported like the main thread's (see the start-up section). */
KTL_VAR KTL_TLS uintptr_t ktl_worker_stack_lo, ktl_worker_stack_hi;

/* Gives the worker a signal stack of its own and notes its stack's range,
   so that the stack-fault handler can run when the stack is exhausted, and
   sets the worker's limits for the recursion checks. */
static void ktl_worker_stack_guard(void) {
    pthread_attr_t attr;
    void *addr = NULL;
    size_t size = 0;
    /* Without its range, the recursion checks keep only a depth limit. */
    ktl_stack_limits_set(0, (uintptr_t)64 << 20);
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    int got = pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
    if (got != 0) return;
    ktl_stack_limits_set((uintptr_t)addr, (uintptr_t)addr + size);
    stack_t alt;
    alt.ss_size = 1 << 16;
    alt.ss_sp = malloc(alt.ss_size);
    alt.ss_flags = 0;
    if (!alt.ss_sp || sigaltstack(&alt, NULL) != 0) return;
    uintptr_t lo = (uintptr_t)addr, reach = (uintptr_t)16 << 20;
    ktl_worker_stack_lo = lo > reach ? lo - reach : 0;
    ktl_worker_stack_hi = lo + size;
}

/* A worker thread: serves every job published after it started. Those it
   takes no part in (a loop with fewer iterations than threads) it only
   reports back from. */
static void *ktl_worker(void *arg) {
    int id = (int)(intptr_t)arg;
    uint64_t served = 0;
    ktl_in_worker = true;
    ktl_worker_stack_guard();
    for (;;) {
        ktl_mtx_lock(&ktl_pool_mtx);
        while (ktl_pool_gen == served) ktl_cnd_wait(&ktl_pool_go, &ktl_pool_mtx);
        served = ktl_pool_gen;
        ktl_job *job = ktl_pool_job;
        ktl_mtx_unlock(&ktl_pool_mtx);
        if (id < job->threads) {
            /* Blocks left in these lists by an earlier loop may have been
               handed out again by a collection since. */
            memset(ktl_fl, 0, sizeof ktl_fl);
            ktl_job_work(job, id);
        }
        ktl_mtx_lock(&ktl_pool_mtx);
        if (--ktl_pool_busy == 0) ktl_cnd_wake(&ktl_pool_idle);
        ktl_mtx_unlock(&ktl_pool_mtx);
    }
    return NULL;
}

/* Starts the workers: KESTAL_THREADS threads when it is a positive number,
   else one per processor, at most KTL_MAX_THREADS, the calling thread
   counted. A worker that fails to start only makes the pool smaller. */
static void ktl_pool_start(void) {
    const char *env = getenv("KESTAL_THREADS");
    int count = env && atoi(env) > 0 ? atoi(env) : ktl_cpu_count();
    if (count > KTL_MAX_THREADS) count = KTL_MAX_THREADS;
    if (count < 1) count = 1;
    int started = 0;
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    /* Room for recursion in a loop body, as the main thread has. */
    pthread_attr_setstacksize(&attr, (size_t)64 << 20);
    for (int id = 1; id < count; id++) {
        pthread_t t;
        if (pthread_create(&t, &attr, ktl_worker, (void *)(intptr_t)id) != 0) break;
        pthread_detach(t);
        started++;
    }
    pthread_attr_destroy(&attr);
    ktl_pool_threads = 1 + started;
}

/* Writes the calling thread's buffered output before a loop starts, so a
   worker that brings the process down can't take printed text with it.
   Bytes of an active capture go to its builder first. */
static void ktl_par_settle_output(void) {
    if (ktl_cap) {
        if (ktl_olen > ktl_cap_from) ktl_cap_spill(ktl_obuf + ktl_cap_from, ktl_olen - ktl_cap_from);
        ktl_olen = ktl_cap_from;
    }
    size_t n = ktl_olen;
    ktl_olen = 0;
    ktl_cap_from = 0;
    ktl_out_put(ktl_obuf, n);
    ktl_out_sync();
}

/* Runs iterations 0 to n - 1 of the body and returns when all are done, or
   raises the first exception one of them raised. One piece, because the
   order of its steps is what keeps the collector and the job safe. */
static void ktl_par_run(void (*fn)(void *, ktl_job *, int), void *env, int64_t n) {
    if (n <= 0) return;
    ktl_job job;
    memset(&job, 0, sizeof job);
    job.fn = fn;
    job.env = env;
    job.n = n;
    int threads = 1;
    if (!ktl_in_worker) {
        if (!ktl_pool_threads) ktl_pool_start();
        threads = ktl_pool_threads;
    }
    if ((int64_t)threads > n) threads = (int)n;
    job.threads = threads;
    job.chunk = n / ((int64_t)threads * 16);
    if (job.chunk < 1) job.chunk = 1;
    if (threads == 1) {
        fn(env, &job, 0);
        return;
    }
    ktl_par_settle_output();
    int gc_was_off = ktl_gc_off;
    ktl_gc_off = 1;
    ktl_mtx_lock(&ktl_pool_mtx);
    ktl_pool_job = &job;
    ktl_pool_busy = ktl_pool_threads - 1;
    ktl_pool_gen++;
    ktl_cnd_wake(&ktl_pool_go);
    ktl_mtx_unlock(&ktl_pool_mtx);
    bool was_worker = ktl_in_worker;
    ktl_in_worker = true;
    ktl_job_work(&job, 0);
    ktl_in_worker = was_worker;
    ktl_mtx_lock(&ktl_pool_mtx);
    while (ktl_pool_busy > 0) ktl_cnd_wait(&ktl_pool_idle, &ktl_pool_mtx);
    ktl_pool_job = NULL;
    ktl_mtx_unlock(&ktl_pool_mtx);
    ktl_gc_off = gc_was_off;
    /* A program that allocates only inside parallel loops would otherwise
       never collect; the workers are parked now. */
    if (!ktl_gc_off && ktl_gc_grown >= ktl_gc_limit) ktl_gc_collect();
    if (job.panicked) ktl_panic(job.panic_msg);
    if (job.exc) {
        ktl_exc_line = job.exc_line;
        ktl_exc_fn = job.exc_fn;
        ktl_reraise(job.exc);
    }
}
#endif

