// Files and os against python3, in a fresh directory of their own: universal
// newlines with a "\r\n" split across the 1 MiB read boundary and a lone
// "\r" there, readline to the end of a file without a final newline, a 5 MB
// single line, write/append/exclusive modes, readlines and writelines, the
// OS errors and their texts (missing file, existing file, a directory opened
// or removed as a file), closed and write-only files, os.path and os
// functions.
// env: KT_TEST_VAR=a b
// The collector runs at every page refill, so everything is checked under it.
// env: KESTAL_GC_MIN=1
// warnings: error
#include "kestal_runtime.c"
#include "test_support.h"
#include <sys/resource.h>

#define S(x) KTL_LIT(x)

static void kt_line(ktl_str s) {
    ktl_print_repr_s(s);
    ktl_newline();
}

// Each line's length and, for short lines, its repr; then the final "".
static void kt_lines(ktl_str path) {
    ktl_file *f = ktl_open(path, S("r"));
    for (;;) {
        ktl_str l = ktl_file_readline(f);
        ktl_print_i(l.len);
        ktl_putc(' ');
        if (l.len < 40) ktl_print_repr_s(l);
        ktl_newline();
        if (l.len == 0) break;
    }
    ktl_file_close(f);
}

static void kt_write_file(ktl_str path, ktl_str text) {
    ktl_file *f = ktl_open(path, S("w"));
    ktl_file_write(f, text);
    ktl_file_close(f);
}

static void kt_newlines(void) {
    // "\r\n" across the boundary of the first 1 MiB read, then a lone "\r"
    // ending the second read.
    int64_t chunk = KTL_RCHUNK, n = 2 * chunk + 20;
    char *b = ktl_alloc_bytes((size_t)n);
    memset(b, 'x', (size_t)n);
    b[chunk - 1] = '\r';
    b[chunk] = '\n';
    b[chunk + 10] = '\r';
    b[2 * chunk - 1] = '\r';
    b[2 * chunk] = 'y';
    memcpy(b + n - 6, "\r\r\n\na", 5);
    kt_write_file(S("crlf.txt"), ktl_mkstr(b, n - 1));
    kt_lines(S("crlf.txt"));
    ktl_file *f = ktl_open(S("crlf.txt"), S("rt"));
    ktl_str all = ktl_file_read(f);
    ktl_print_i(all.len);
    ktl_print_i(ktl_str_count(all, S("\n")));
    ktl_print_i(ktl_str_count(all, S("\r")));
    ktl_newline();
    kt_line(ktl_file_read(f));
    kt_line(ktl_file_readline(f));
    ktl_file_close(f);

    kt_write_file(S("small.txt"), S("one\r\ntwo\rthree\n\nlast"));
    kt_lines(S("small.txt"));
    f = ktl_open(S("small.txt"), S("r"));
    ktl_print_L_s(ktl_file_readlines(f));
    ktl_newline();
    ktl_file_close(f);
    kt_write_file(S("empty.txt"), S(""));
    kt_lines(S("empty.txt"));

    // A 5 MB line read whole.
    int64_t big = 5 * 1000 * 1000;
    char *q = ktl_alloc_bytes((size_t)big);
    for (int64_t i = 0; i < big; i++) q[i] = (char)('a' + i % 26);
    kt_write_file(S("big.txt"), ktl_mkstr(q, big));
    f = ktl_open(S("big.txt"), S("r"));
    ktl_str s = ktl_file_readline(f);
    ktl_print_i(s.len);
    ktl_print_b(memcmp(s.p, q, (size_t)big) == 0);
    ktl_newline();
    ktl_file_close(f);
}

static void kt_modes(void) {
    ktl_file *f = ktl_open(S("w.txt"), S("w"));
    ktl_print_i(ktl_file_write(f, S("h\xc3\xa9llo\n")));
    ktl_newline();
    L_s *ls = L_s_new(0);
    L_s_push(ls, S("a\n"));
    L_s_push(ls, S("b"));
    ktl_file_writelines(f, ls);
    ktl_file_flush(f);
    kt_lines(S("w.txt"));
    KT_TRY(ktl_file_read(f));
    ktl_file_close(f);
    ktl_file_close(f);
    KT_TRY(ktl_file_write(f, S("x")));
    KT_TRY(ktl_file_flush(f));
    KT_TRY(ktl_file_readline(f));
    ktl_print_b(f->closed);
    kt_line(f->name);

    f = ktl_open(S("w.txt"), S("a"));
    ktl_file_write(f, S("\nappended"));
    ktl_file_close(f);
    kt_lines(S("w.txt"));
    f = ktl_open(S("w.txt"), S("r"));
    KT_TRY(ktl_file_write(f, S("x")));
    ktl_file_close(f);
    KT_TRY(ktl_open(S("w.txt"), S("x")));
    f = ktl_open(S("new.txt"), S("x"));
    ktl_file_write(f, S("fresh"));
    // Never closed: written at exit.
    KT_TRY(ktl_open(S("missing.txt"), S("r")));
    KT_TRY(ktl_open(S("no/such/dir.txt"), S("w")));

    // print(..., file=f) hands over the captured text.
    f = ktl_open(S("p.txt"), S("w"));
    ktl_sb b;
    ktl_sb_init(&b);
    ktl_sb_add(&b, S("printed 1\n"));
    ktl_file_print(f, &b);
    ktl_file_close(f);
    kt_lines(S("p.txt"));
    ktl_sb_init(&b);
    ktl_sb_add(&b, S("to stdout\n"));
    ktl_file_print(ktl_stdout, &b);
    ktl_file_write(ktl_stdout, S("written to stdout\n"));
}

static void kt_os(void) {
    ktl_os_mkdir(S("d"));
    KT_TRY(ktl_os_mkdir(S("d")));
    KT_TRY(ktl_open(S("d"), S("r")));
    KT_TRY(ktl_open(S("d"), S("w")));
    KT_TRY(ktl_os_remove(S("d")));
    ktl_print_b(ktl_path_exists(S("d"), 0));
    ktl_print_b(ktl_path_exists(S("d"), 1));
    ktl_print_b(ktl_path_exists(S("d"), 2));
    ktl_print_b(ktl_path_exists(S("w.txt"), 1));
    ktl_print_b(ktl_path_exists(S("w.txt"), 2));
    ktl_print_b(ktl_path_exists(S("nope"), 0));
    ktl_newline();
    kt_write_file(S("d/one"), S("12345"));
    kt_write_file(S("d/two"), S(""));
    ktl_print_i(ktl_path_getsize(S("d/one")));
    ktl_newline();
    L_s *names = ktl_os_listdir(S("d"));
    ktl_sort_L_s(names);
    ktl_print_L_s(names);
    ktl_newline();
    KT_TRY(ktl_os_listdir(S("nope")));
    KT_TRY(ktl_path_getsize(S("nope")));
    KT_TRY(ktl_os_rmdir(S("d")));
    ktl_os_rename(S("d/two"), S("d/three"));
    KT_TRY(ktl_os_rename(S("d/two"), S("d/four")));
    ktl_os_remove(S("d/one"));
    KT_TRY(ktl_os_remove(S("d/one")));
    names = ktl_os_listdir(S("d"));
    ktl_print_L_s(names);
    ktl_newline();
    ktl_os_remove(S("d/three"));
    ktl_print_L_s(ktl_os_listdir(S("d")));
    ktl_newline();
    ktl_os_rmdir(S("d"));
    ktl_print_b(ktl_path_exists(S("d"), 0));
    ktl_newline();
    struct timespec ts[2] = {{1000000000, 500000000}, {1000000000, 500000000}};
    utimensat(AT_FDCWD, "w.txt", ts, 0);
    ktl_print_f(ktl_path_getmtime(S("w.txt")));
    ktl_newline();
    ktl_str cwd = ktl_os_getcwd();
    ktl_print_b(cwd.len > 0 && cwd.p[0] == '/');
    ktl_newline();
    kt_line(ktl_os_getenv(S("KT_TEST_VAR"), S("unset")));
    kt_line(ktl_os_getenv(S("KT_TEST_NOT_SET"), S("unset")));
    KT_CHECK(ktl_os_getenv(S("KT_TEST_NOT_SET"), ktl_mkstr(NULL, 0)).p == NULL);
    KT_TRY(ktl_open(ktl_mkstr("w.txt\0x", 7), S("r")));
    KT_TRY(ktl_open(S("w.txt"), S("rb")));
    KT_TRY(ktl_open(S("w.txt"), S("r+")));
}

// Lowers the limit of open descriptors; returns the limit to restore.
static struct rlimit kt_limit_descriptors(rlim_t n) {
    struct rlimit old, lim;
    getrlimit(RLIMIT_NOFILE, &old);
    lim = old;
    lim.rlim_cur = n;
    setrlimit(RLIMIT_NOFILE, &lim);
    return old;
}

// Files read to the end and dropped without close() don't keep their
// descriptors: 300 of them under a limit of 40 descriptors.
static void kt_dropped_files(void) {
    struct rlimit old = kt_limit_descriptors(40);
    int64_t total = 0;
    for (int i = 0; i < 300; i++) {
        ktl_file *f = ktl_open(S("small.txt"), S("r"));
        if (i % 2) {
            total += ktl_file_read(f).len;
        } else {
            while (ktl_file_readline(f).len) total++;
        }
        // Still open for the program: reading at the end gives "".
        KT_CHECK(!f->closed && ktl_file_readline(f).len == 0 && ktl_file_read(f).len == 0);
        if (i % 3 == 0) ktl_file_close(f);
    }
    setrlimit(RLIMIT_NOFILE, &old);
    ktl_print_i(total);
    ktl_newline();
}

// Files dropped while still open, neither read to the end nor closed: a
// collection writes and closes them, so 300 readers and 300 appenders run
// under a limit of 40 descriptors, and the appenders' lines land in order
// (seen at exit, as the last appender may still look referred to from the
// stack). A file still referred to stays open through a collection.
static void kt_unreached_files(void) {
    kt_write_file(S("seq.txt"), S(""));
    struct rlimit old = kt_limit_descriptors(40);
    int64_t total = 0;
    for (int i = 0; i < 300; i++) {
        total += ktl_file_readline(ktl_open(S("small.txt"), S("r"))).len;
        ktl_file_write(ktl_open(S("seq.txt"), S("a")), ktl_str_cat(ktl_int_str(i), S("\n")));
    }
    setrlimit(RLIMIT_NOFILE, &old);
    ktl_file *kept = ktl_open(S("kept.txt"), S("w"));
    ktl_gc_collect();
    ktl_file_write(kept, S("kept"));
    ktl_file_close(kept);
    ktl_file *f = ktl_open(S("kept.txt"), S("r"));
    ktl_print_i(total);
    ktl_putc(' ');
    ktl_print_s(ktl_file_read(f));
    ktl_file_close(f);
    ktl_newline();
}

static void kt_paths(void) {
    static const char *ps[] = {"", "a", "/", "a/b", "/a/b/", "a//b//c", "//x", ".profile", "a.b.c",
                               "dir.x/file", "dir/.hidden.txt", "a/..b", "x.", "/a/b.tar.gz", "...", "a/"};
    int n = (int)(sizeof ps / sizeof ps[0]);
    for (int i = 0; i < n; i++) {
        ktl_str p = ktl_mkstr(ps[i], (int64_t)strlen(ps[i]));
        ktl_str parts[2];
        ktl_path_splitext(p, parts);
        ktl_print_repr_s(ktl_path_basename(p));
        ktl_putc(' ');
        ktl_print_repr_s(ktl_path_dirname(p));
        ktl_putc(' ');
        ktl_print_repr_s(parts[0]);
        ktl_putc(' ');
        ktl_print_repr_s(parts[1]);
        for (int j = 0; j < n; j += 3) {
            ktl_putc(' ');
            ktl_print_repr_s(ktl_path_join(p, ktl_mkstr(ps[j], (int64_t)strlen(ps[j]))));
        }
        ktl_newline();
    }
}

// Files left open, two handles on one file each: at exit their buffers are
// written in the order the files were opened, as if each had been closed in
// turn, so the later handle's bytes are what stays.
static void kt_unclosed(void) {
    ktl_file_write(ktl_open(S("two.txt"), S("w")), S("old"));
    ktl_file_write(ktl_open(S("two.txt"), S("w")), S("new"));
    ktl_file_write(ktl_open(S("log.txt"), S("a")), S("0 "));
    ktl_file_write(ktl_open(S("log.txt"), S("a")), S("1 "));
    ktl_file_write(ktl_open(S("log.txt"), S("a")), S("2"));
}

static void kt_show_at_exit(const char *path) {
    char buf[64] = {0};
    FILE *f = fopen(path, "rb");
    size_t n = f ? fread(buf, 1, sizeof buf - 1, f) : 0;
    if (f) fclose(f);
    printf("%s at exit: %.*s\n", path, (int)n, buf);
}

static char kt_dir[] = "kt_files_XXXXXX";

// Runs inside exit(), after the runtime wrote the files' buffers: shows the
// file that was never closed, then removes everything the test made.
static void kt_at_exit(void) {
    kt_show_at_exit("new.txt");
    kt_show_at_exit("two.txt");
    kt_show_at_exit("log.txt");
    FILE *seq = fopen("seq.txt", "rb");
    int n = 0;
    bool in_order = seq != NULL;
    for (int v; seq && fscanf(seq, "%d", &v) == 1; n++) in_order = in_order && v == n;
    if (seq) fclose(seq);
    printf("seq.txt at exit: %d %s\n", n, in_order ? "True" : "False");
    fflush(stdout);
    const char *files[] = {"crlf.txt", "small.txt", "empty.txt", "big.txt", "w.txt",   "new.txt",
                           "p.txt",    "two.txt",   "log.txt",   "seq.txt", "kept.txt"};
    for (int i = 0; i < 11; i++) unlink(files[i]);
    if (chdir("..") == 0) rmdir(kt_dir);
}

static void ktl_main(void) {
    KT_CHECK(mkdtemp(kt_dir) != NULL);
    KT_CHECK(chdir(kt_dir) == 0);
    atexit(kt_at_exit);
    kt_newlines();
    kt_modes();
    kt_os();
    kt_dropped_files();
    kt_unreached_files();
    kt_paths();
    kt_unclosed();
}
