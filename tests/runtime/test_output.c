// The output buffer and captures: newline flushing on a terminal only, a
// write larger than the free room going out after the buffered bytes, str()
// of a large list while ordinary output fills more than half the buffer,
// nested captures that each receive exactly their own bytes, a nested
// capture fed by a write that bypasses the buffer, and a paused capture. The stream order is
// checked against test_output.py.
// warnings: error
#include "kestal_runtime.c"
#include "test_support.h"

static ktl_str kt_list_str(L_i *l) {
    return KT_CAPTURE(ktl_print_L_i(l));
}

static void kt_fill(char c, size_t n) {
    static char buf[100000];
    memset(buf, c, n);
    ktl_write(buf, n);
}

static bool kt_all(ktl_str s, int64_t from, int64_t n, char c) {
    for (int64_t i = from; i < from + n; i++) {
        if (s.p[i] != c) return false;
    }
    return true;
}

static void ktl_main(void) {
    // A pipe gets blocks; a terminal gets every line at once.
    ktl_tty = false;
    ktl_write("a", 1);
    ktl_newline();
    KT_CHECK(ktl_olen == 2);
    ktl_tty = true;
    ktl_write("b", 1);
    ktl_newline();
    KT_CHECK(ktl_olen == 0);
    ktl_tty = false;

    // 100,000 bytes into a buffer holding 30,000: the buffered bytes leave
    // first, the large write goes out directly.
    kt_fill('x', 30000);
    kt_fill('y', 100000);
    KT_CHECK(ktl_olen == 0);
    ktl_newline();

    // str() of a list whose text (58,890 bytes) overflows the buffer while
    // 40,000 bytes of ordinary output wait in it.
    L_i *l = L_i_new(10000);
    for (int64_t i = 0; i < 10000; i++) L_i_push(l, i);
    kt_fill('o', 40000);
    ktl_str s = kt_list_str(l);
    KT_CHECK(s.len == 58890 && s.p[0] == '[' && s.p[s.len - 1] == ']');
    KT_CHECK(memcmp(s.p, "[0, 1, 2, 3, ", 13) == 0);
    KT_CHECK(memcmp(s.p + s.len - 11, "9998, 9999]", 11) == 0);
    KT_CHECK(memchr(s.p, 'o', (size_t)s.len) == NULL);
    ktl_newline();
    ktl_print_i(s.len);
    ktl_newline();

    // Nested captures: an outer text holding an inner container's str(),
    // then enough bytes to spill the outer capture.
    kt_fill('p', 20000);
    ktl_sb outer;
    ktl_sb_init(&outer);
    ktl_capstate cs = ktl_cap_begin(&outer);
    ktl_write("<", 1);
    L_i *small = L_i_new(3);
    for (int64_t i = 0; i < 3; i++) L_i_push(small, i);
    ktl_str s1 = kt_list_str(small);
    KT_CHECK_STR(s1, "[0, 1, 2]");
    ktl_print_s(s1);
    ktl_print_s(s1);
    kt_fill('q', 70000);
    ktl_write(">", 1);
    ktl_cap_end(cs);
    ktl_str s2 = ktl_sb_done(&outer);
    KT_CHECK(s2.len == 70020 && memcmp(s2.p, "<[0, 1, 2][0, 1, 2]q", 20) == 0);
    KT_CHECK(kt_all(s2, 19, 70000, 'q') && s2.p[70019] == '>');
    ktl_newline();
    ktl_print_i(s2.len);
    ktl_newline();

    // A write larger than the whole buffer inside a nested capture goes
    // straight to the inner builder; the outer capture keeps only its own.
    ktl_sb o2, in2;
    ktl_sb_init(&o2);
    ktl_sb_init(&in2);
    ktl_capstate c1 = ktl_cap_begin(&o2);
    ktl_write("(", 1);
    ktl_capstate c2 = ktl_cap_begin(&in2);
    kt_fill('r', 100000);
    ktl_cap_end(c2);
    ktl_write(")", 1);
    ktl_cap_end(c1);
    ktl_str inner = ktl_sb_done(&in2);
    KT_CHECK(inner.len == 100000 && kt_all(inner, 0, 100000, 'r'));
    KT_CHECK_STR(ktl_sb_done(&o2), "()");
    KT_CHECK(ktl_cap == NULL);

    // A paused capture (a user __repr__ running inside str() of an object):
    // what is written meanwhile is ordinary output, kept in order behind the
    // output before the capture even when it overflows the buffer, and the
    // capture resumes after it with its own bytes only.
    kt_fill('s', 20000);
    ktl_sb o3;
    ktl_sb_init(&o3);
    ktl_capstate c3 = ktl_cap_begin(&o3);
    ktl_write("<", 1);
    ktl_capstate p3 = ktl_cap_pause();
    KT_CHECK(ktl_cap == NULL);
    kt_fill('u', 50000);
    ktl_cap_resume(p3);
    ktl_write("A", 1);
    kt_fill('v', 70000);
    ktl_cap_end(c3);
    ktl_str s3 = ktl_sb_done(&o3);
    KT_CHECK(s3.len == 70002 && memcmp(s3.p, "<Av", 3) == 0 && kt_all(s3, 2, 70000, 'v'));
    KT_CHECK(ktl_cap == NULL);
    ktl_newline();

    ktl_write("OK\n", 3);
}
