/* The byte scans against plain reference loops on random texts of every
 * length up to a few vectors, at every alignment: byte and needle search,
 * counts, case copy, character classes, word counts, UTF-8 lengths, splits,
 * and the int and float array searches (NaN and -0.0 included).
 * test_vectors_avx2.c and test_vectors_scalar.c run the same checks with AVX2
 * and with no vector code. */
// warnings: error
#ifndef KT_VARIANT
#include "kestal_runtime.c"
#include "test_support.h"
#endif

static uint64_t rng = 0x9E3779B97F4A7C15ull;
static uint64_t rnd(void) {
    rng ^= rng << 13;
    rng ^= rng >> 7;
    rng ^= rng << 17;
    return rng;
}

static const char alphabet[] = {'a', 'b', ' ',        '\t',       ',',  0x1c,       0x1f,
                                'Z', '5', (char)0x80, (char)0xC3, '\n', (char)0xBF, 'z',
                                '@', '[', '`',        '{',        '0',  '9'};

static int64_t ref_find(const char *h, int64_t hl, const char *n, int64_t nl) {
    for (int64_t i = 0; i + nl <= hl; i++)
        if (memcmp(h + i, n, (size_t)nl) == 0)
            return i;
    return -1;
}

static int64_t ref_words(const char *p, int64_t n) {
    int64_t k = 0;
    for (int64_t i = 0; i < n; i++)
        k += !ktl_isspace_c(p[i]) && (i == 0 || ktl_isspace_c(p[i - 1]));
    return k;
}

static void check_text(const char *p, int64_t n) {
    ktl_str s = ktl_mkstr(p, n);
    for (int t = 0; t < 4; t++) {
        char c = alphabet[rnd() % sizeof alphabet];
        char one[1] = {c};
        KT_CHECK(ktl_find_byte(p, n, c) == ref_find(p, n, one, 1));
        int64_t cnt = 0;
        for (int64_t i = 0; i < n; i++)
            cnt += p[i] == c;
        KT_CHECK(ktl_count_byte(p, n, c) == cnt);
        /* A needle taken from the text itself, and a random one. */
        int64_t nl = 1 + (int64_t)(rnd() % 6);
        if (n >= nl) {
            int64_t at = (int64_t)(rnd() % (uint64_t)(n - nl + 1));
            KT_CHECK(ktl_find_raw(p, n, p + at, nl) == ref_find(p, n, p + at, nl));
        }
        char rn[4];
        for (int i = 0; i < 4; i++)
            rn[i] = alphabet[rnd() % 4];
        int64_t rl = 2 + (int64_t)(rnd() % 3);
        KT_CHECK(ktl_find_raw(p, n, rn, rl) == ref_find(p, n, rn, rl));
        /* Splitting on one byte: pieces join back to the text. */
        L_s *parts = ktl_str_split(s, ktl_mkstr(one, 1));
        KT_CHECK(parts->len == cnt + 1);
        KT_CHECK(ktl_str_eq(ktl_str_join(ktl_mkstr(one, 1), parts), s));
        L_s *lim = ktl_str_split_n(s, ktl_mkstr(one, 1), 2);
        KT_CHECK(lim->len == (cnt < 2 ? cnt + 1 : 3));
        KT_CHECK(ktl_str_eq(ktl_str_join(ktl_mkstr(one, 1), lim), s));
    }
    char up[512], lo[512];
    ktl_case_copy(up, p, n, 'a');
    ktl_case_copy(lo, p, n, 'A');
    for (int64_t i = 0; i < n; i++) {
        char c = p[i];
        KT_CHECK(up[i] == (c >= 'a' && c <= 'z' ? c - 32 : c));
        KT_CHECK(lo[i] == (c >= 'A' && c <= 'Z' ? c + 32 : c));
    }
    static const int classes[] = {KTL_DIGIT, KTL_ALPHA, KTL_SPACE, KTL_DIGIT | KTL_ALPHA};
    for (int k = 0; k < 4; k++) {
        bool all = n > 0;
        for (int64_t i = 0; i < n; i++)
            all = all && ktl_in_class(p[i], classes[k]);
        KT_CHECK(ktl_all_class(p, n, classes[k]) == all);
    }
    KT_CHECK(ktl_str_count_words(s) == ref_words(p, n));
    KT_CHECK(ktl_str_split_ws(s)->len == ref_words(p, n));
    int64_t starts = 0;
    for (int64_t i = 0; i < n; i++)
        starts += ((unsigned char)p[i] & 0xC0) != 0x80;
    KT_CHECK(ktl_utf8_len(s) == starts);
}

static void simd_main(void) {
    char buf[600];
    for (int round = 0; round < 3000; round++) {
        int64_t n = (int64_t)(rnd() % 200);
        int64_t off = (int64_t)(rnd() % 40);
        /* Some texts from a narrow alphabet so that matches are dense. */
        int width = round % 3 == 0 ? 3 : (int)sizeof alphabet;
        for (int64_t i = 0; i < n; i++)
            buf[off + i] = alphabet[rnd() % (uint64_t)width];
        check_text(buf + off, n);
    }
    /* Uniform texts: every byte of a class, so no vector exits early. */
    for (int64_t n = 0; n < 130; n++) {
        memset(buf, '7', (size_t)n);
        KT_CHECK(ktl_all_class(buf, n, KTL_DIGIT) == (n > 0));
        memset(buf, ' ', (size_t)n);
        KT_CHECK(ktl_all_class(buf, n, KTL_SPACE) == (n > 0));
        KT_CHECK(ktl_str_count_words(ktl_mkstr(buf, n)) == 0);
        if (n)
            buf[n - 1] = 'x';
        KT_CHECK(ktl_str_count_words(ktl_mkstr(buf, n)) == (n > 0));
        KT_CHECK(ktl_find_byte(buf, n, 'x') == n - 1);
    }
    /* Int and float arrays. */
    int64_t ia[100];
    double fa[100];
    for (int round = 0; round < 500; round++) {
        int64_t n = (int64_t)(rnd() % 100);
        for (int64_t i = 0; i < n; i++) {
            /* Values that share one 32-bit half with the key catch a compare
               of halves that is not joined. */
            ia[i] = (int64_t)((rnd() % 3) << 32 | (rnd() % 3));
            static const double fv[] = {0.0, -0.0, 1.5, -2.0, 1e300};
            fa[i] = rnd() % 7 == 0 ? NAN : fv[rnd() % 5];
        }
        int64_t key = (int64_t)((rnd() % 3) << 32 | (rnd() % 3));
        int64_t want = -1, cnt = 0;
        for (int64_t i = 0; i < n; i++)
            if (ia[i] == key)
                cnt++, want = want < 0 ? i : want;
        KT_CHECK(ktl_find_i64(ia, n, key) == want);
        KT_CHECK(ktl_count_i64(ia, n, key) == cnt);
        static const double fk[] = {0.0, -0.0, 1.5, 1e300, NAN};
        double k = fk[rnd() % 5];
        want = -1, cnt = 0;
        for (int64_t i = 0; i < n; i++)
            if (fa[i] == k)
                cnt++, want = want < 0 ? i : want;
        KT_CHECK(ktl_find_f64(fa, n, k) == want);
        KT_CHECK(ktl_count_f64(fa, n, k) == cnt);
    }
}

#ifndef KT_VARIANT
static void ktl_main(void) {
    simd_main();
    ktl_write("OK\n", 3);
}
#endif
