/* ---- sys and os ----
 *
 * sys.argv, os and os.path. Paths are UTF-8 strings; path arithmetic (join,
 * basename, dirname, splitext) works on the bytes, as posixpath and ntpath
 * do, and never touches the file system. The functions that ask the system
 * raise Python's OS errors (FileNotFoundError and its kin) for the path
 * concerned; os.path.exists and its kinds never raise.
 */

/* sys.argv (filled at start-up). */
KTL_VAR L_s *ktl_argv;

#define KTL_SEP '/'
static const char ktl_sep_s[] = "/";
static inline bool ktl_is_sep(char c) { return c == '/'; }

typedef struct stat ktl_stat_t;
static int ktl_stat(ktl_str p, ktl_stat_t *st) { return stat(ktl_cpath(p), st); }

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
    return (double)st.st_mtim.tv_sec + (double)st.st_mtim.tv_nsec * 1e-9;
}

/* os.remove: files only. unlink never removes a directory (it fails with
   EISDIR or EPERM), as Python's os.remove doesn't. */
static void ktl_os_remove(ktl_str p) {
    int r = unlink(ktl_cpath(p));
    if (r != 0) ktl_os_error(errno, p);
}

static void ktl_os_mkdir(ktl_str p) {
    int r = mkdir(ktl_cpath(p), 0777);
    if (r != 0) ktl_os_error(errno, p);
}

static void ktl_os_rmdir(ktl_str p) {
    int r = rmdir(ktl_cpath(p));
    if (r != 0) ktl_os_error(errno, p);
}

/* os.rename and os.replace: an existing target is replaced. */
static void ktl_os_rename(ktl_str a, ktl_str b) {
    int r = rename(ktl_cpath(a), ktl_cpath(b));
    if (r != 0) ktl_os_error(errno, a);
}

static ktl_str ktl_os_getcwd(void) {
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
}

/* The variable's value, or def when it is not set. A set variable always
   gives a non-NULL view, even when empty (os.getenv(name) tests for NULL). */
static ktl_str ktl_os_getenv(ktl_str name, ktl_str def) {
    if (memchr(name.p, 0, (size_t)name.len) || memchr(name.p, '=', (size_t)name.len)) return def;
    const char *v = getenv(ktl_cpath(name));
    if (!v) return def;
    return ktl_mkstr(v, (int64_t)strlen(v));
}

/* The entry names without "." and "..", in the order the system gives them. */
static L_s *ktl_os_listdir(ktl_str p) {
    L_s *l = L_s_new(0);
    DIR *d = opendir(ktl_cpath(p));
    if (!d) ktl_os_error(errno, p);
    struct dirent *e;
    while ((e = readdir(d)) != NULL) {
        const char *n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0))) continue;
        L_s_push(l, ktl_str_copy(n, (int64_t)strlen(n)));
    }
    closedir(d);
    return l;
}

static inline bool ktl_path_absolute(ktl_str b) { return b.len > 0 && ktl_is_sep(b.p[0]); }

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

/* Index just after the last separator. */
static int64_t ktl_path_tail_at(ktl_str p) {
    int64_t i = p.len;
    while (i > 0 && !ktl_is_sep(p.p[i - 1])) i--;
    return i;
}

static ktl_str ktl_path_basename(ktl_str p) {
    int64_t i = ktl_path_tail_at(p);
    return ktl_mkstr(p.p + i, p.len - i);
}

/* The head without its trailing separators, unless the head is nothing but
   separators (the root stays "/"). */
static ktl_str ktl_path_dirname(ktl_str p) {
    int64_t i = ktl_path_tail_at(p), j = i;
    while (j > 0 && ktl_is_sep(p.p[j - 1])) j--;
    if (j == 0) return ktl_mkstr(p.p, i);
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
 * time.time reads the UTC clock, monotonic and perf_counter a clock that
 * never goes back; sleep resumes
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

/* time.monotonic and time.perf_counter: seconds on a clock that never goes
   back when the system time is set (its origin is unspecified, as
   Python's). */
static double ktl_monotonic(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

/* time.sleep: nothing for s <= 0 (or NaN); the output is flushed first so
   that what was printed shows during the pause. */
static void ktl_sleep(double s) {
    if (!(s > 0)) return;
    if (s > 9.2e9) ktl_raise_c(KTL_E_OverflowError, "timestamp out of range for platform time_t");
    ktl_flush();
    struct timespec req, rem;
    req.tv_sec = (time_t)s;
    req.tv_nsec = (long)((s - (double)req.tv_sec) * 1e9);
    if (req.tv_nsec > 999999999L) req.tv_nsec = 999999999L;
    /* A signal ends nanosleep early; the rest of the time is slept too. */
    while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}

static KTL_COLD KTL_NORETURN void ktl_strftime_code_error(void) {
    ktl_raise_c(KTL_E_ValueError, "strftime: unsupported format code");
}

/* time.strftime(fmt, t) in local time. Codes outside the portable set are
   refused before the C library sees them.
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
    if (!localtime_r(&tt, &tm)) ktl_raise_c(KTL_E_ValueError, "strftime: time out of range");
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
KTL_VAR uint64_t ktl_rng KTL_INIT(0x9E3779B97F4A7C15ULL);

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

