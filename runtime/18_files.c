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
 * Paths are UTF-8 strings, passed to the system as NUL-terminated copies. The
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
    /* The next older open file, complemented so that the collector's scan
       doesn't take it for a reference: an open file nothing else refers
       to is closed by the collector (ktl_file_next, ktl_file_link). */
    uintptr_t next_hidden;
    ktl_str name;
    int64_t bcap;
} ktl_file;

/* Files the program opened and has not closed, newest first. Not a
   collector root: a file the program can no longer reach is written and
   closed by the collector, as Python closes it once nothing refers to it;
   the others are written at exit. */
KTL_VAR ktl_file *ktl_open_files;
KTL_VAR ktl_file ktl_std_files[3];
static ktl_file *const ktl_stdin = &ktl_std_files[0];
static ktl_file *const ktl_stdout = &ktl_std_files[1];
static ktl_file *const ktl_stderr = &ktl_std_files[2];

static inline ktl_file *ktl_file_next(const ktl_file *f) { return (ktl_file *)~f->next_hidden; }
static inline void ktl_file_link(ktl_file *f, ktl_file *next) { f->next_hidden = ~(uintptr_t)next; }

/* Sets up the standard streams (called once at start-up). Standard output
   and error never use a write buffer of their own: output goes through the
   program's output buffer, errors straight to stderr. */
KTL_RT void ktl_files_init(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_files_init(void) {
    ktl_std_files[0] = (ktl_file){.fd = 0, .readable = true, .name = KTL_LIT("<stdin>")};
    ktl_std_files[1] = (ktl_file){.fd = 1, .writable = true, .name = KTL_LIT("<stdout>")};
    ktl_std_files[2] = (ktl_file){.fd = 2, .writable = true, .name = KTL_LIT("<stderr>")};
}
#endif

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

/* Writes n bytes to a descriptor, at most 1 GiB a call, resuming after
   signals. False when a call fails or writes nothing. */
static bool ktl_write_fd(int fd, const char *p, int64_t n) {
    while (n > 0) {
        int64_t c = n > KTL_IO_MAX ? KTL_IO_MAX : n;
        ssize_t w = write(fd, p, (size_t)c);
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
    const char *cpath = ktl_cpath(path);
    int fd = open(cpath, flags | O_CLOEXEC, 0666);
    /* Out of descriptors: a collection closes the files the program can no
       longer reach, then one more try. */
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
        ktl_gc_collect();
        fd = open(cpath, flags | O_CLOEXEC, 0666);
    }
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
    if (f->writable) {
        f->wbuf = (char *)ktl_xmalloc((size_t)KTL_WBUF);
        /* The buffer lives outside the collected heap until the file is
           closed: it counts toward the next collection all the same. */
        ktl_gc_grown += KTL_WBUF;
    }
    ktl_file_link(f, ktl_open_files);
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
    if (ktl_open_files == f) {
        ktl_open_files = ktl_file_next(f);
    } else {
        for (ktl_file *g = ktl_open_files; g; g = ktl_file_next(g)) {
            if (ktl_file_next(g) == f) {
                ktl_file_link(g, ktl_file_next(f));
                break;
            }
        }
    }
    ktl_file_link(f, NULL);
}

/* A file read to its end gives its descriptor back at once: nothing can read
   from it any more, and it has nothing to write, so `open(p).read()` in a
   loop holds no descriptors until the next collection. The file still counts
   as open for the program. */
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
        ssize_t got = read(f->fd, f->buf + f->len, (size_t)room);
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
        ktl_file_put(f, s.p, s.len);
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

/* The open-files list holds the newest file first; pending buffers are
   written oldest first, in the order the files were opened, so that of two
   handles on one file the later one's bytes land last, as they would have
   had each been closed in turn. Reverses the list in place: no allocation,
   so signal handlers use it too. */
static ktl_file *ktl_files_reversed(ktl_file *f) {
    ktl_file *older = NULL;
    while (f) {
        ktl_file *next = ktl_file_next(f);
        ktl_file_link(f, older);
        older = f;
        f = next;
    }
    return older;
}

/* Writes the pending buffer of every open file (at exit, at a panic, before
   an uncaught-exception report). A buffer that can't be written is reported
   on stderr and the other files are still written. While the program runs
   the failure is raised as OSError; once it is ending (nothing may raise
   then), the exit status becomes 1. */
KTL_RT void ktl_files_flush_all(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_files_flush_all(void) {
    bool failed = false;
    ktl_open_files = ktl_files_reversed(ktl_open_files);
    for (ktl_file *f = ktl_open_files; f; f = ktl_file_next(f)) {
        int64_t n = f->wlen;
        f->wlen = 0;
        if (n > 0 && !ktl_write_fd(f->fd, f->wbuf, n)) {
            fprintf(stderr, "Kestal runtime error: write failed: %.*s\n", (int)f->name.len, f->name.p);
            failed = true;
        }
    }
    ktl_open_files = ktl_files_reversed(ktl_open_files);
    if (!failed) return;
    if (!ktl_exiting) ktl_raise_c(KTL_E_OSError, "write failed");
    ktl_exit_status_one();
}
#endif

/* Called by the collector after marking: every open file it didn't reach is
   one the program can no longer use. Its pending buffer is written (oldest
   file first, as at exit) and it is closed; a failed write is reported on
   standard error, since nothing can raise here. */
KTL_RT void ktl_files_close_unreached(void);
#ifndef KTL_SPLIT_PROGRAM
KTL_RT void ktl_files_close_unreached(void) {
    ktl_file *kept = NULL;
    ktl_file *f = ktl_files_reversed(ktl_open_files);
    while (f) {
        ktl_file *next = ktl_file_next(f);
        if (ktl_gc_marked(f)) {
            ktl_file_link(f, kept);
            kept = f;
        } else {
            if (f->wbuf && f->wlen > 0 && !ktl_write_fd(f->fd, f->wbuf, f->wlen))
                fprintf(stderr, "Kestal runtime error: write failed: %.*s\n", (int)f->name.len, f->name.p);
            free(f->wbuf);
            f->wbuf = NULL;
            f->wlen = 0;
            if (f->fd >= 0) close(f->fd);
            f->fd = -1;
            f->closed = true;
        }
        f = next;
    }
    ktl_open_files = kept;
}
#endif

