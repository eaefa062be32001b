/* String operations against Python over a table of strings and needles:
 * repr, case, classes, strip, split (separator, whitespace, maxsplit, lines),
 * partition, join, find/rfind/index/count, affixes, replace (empty needle
 * included), padding, zfill, indexing and slicing with every bound and step,
 * ord and chr. Long strings run the vector loops; test_vectors_avx2.c and
 * test_vectors_scalar.c run the same checks with AVX2 and with no vector
 * code. test_str_methods.py prints what Python prints (all texts are ASCII
 * where Python counts characters). */
#ifndef KT_VARIANT
#include "kestal_runtime.c"
#include "test_support.h"
#endif

static void lab(const char *l) {
    ktl_write(l, strlen(l));
    ktl_write(": ", 2);
}
static void ps(const char *l, ktl_str s) {
    lab(l), ktl_print_repr_s(s), ktl_newline();
}
static void pi(const char *l, int64_t v) {
    lab(l), ktl_print_i(v), ktl_newline();
}
static void pb(const char *l, bool v) {
    lab(l), ktl_print_b(v), ktl_newline();
}
static void pl(const char *l, L_s *v) {
    lab(l), ktl_print_L_s(v), ktl_newline();
}
static void pt(const char *l, ktl_str *t) {
    lab(l);
    ktl_putc('(');
    for (int i = 0; i < 3; i++) {
        if (i)
            ktl_write(", ", 2);
        ktl_print_repr_s(t[i]);
    }
    ktl_putc(')');
    ktl_newline();
}

static ktl_str S(const char *c) {
    return ktl_mkstr(c, (int64_t)strlen(c));
}

/* The table, built the same way in the oracle. */
static ktl_str strings[64];
static int nstrings;

static void add(ktl_str s) {
    strings[nstrings++] = s;
}

static void build_table(void) {
    /* The table holds heap strings: it is a root, like a program global. */
    ktl_gc_add_root(strings, sizeof strings);
    static const char *const fixed[] = {
        "",
        "a",
        "abc",
        "  hello  world  ",
        "a,b,,c",
        ",",
        ",,",
        "\t\nx y\x1c z\x1f ",
        "Hello World",
        "hELLO wORLD",
        "it's",
        "say \"hi\"",
        "both ' and \"",
        "12345",
        "abc123",
        "ABC",
        "a\r\nb\rc\n",
        "line1\nline2\vline3\fend\x1cx\x1dy\x1ez\x1fw",
        "they're bill's friends",
        "hello2world",
        "aaaa",
        "abababab",
        "-42",
        "+7",
        "back\\slash",
        "\x01\x02\x7f",
        "   ",
        "\r\n",
        "x\n\ny\n",
        "a b  c   d",
    };
    for (size_t i = 0; i < sizeof fixed / sizeof *fixed; i++)
        add(S(fixed[i]));
    add(ktl_mkstr("nul\0in\0side", 11));
    /* Long strings for the vector loops, needles at odd offsets. */
    ktl_str l1 =
        ktl_str_cat(ktl_str_cat(ktl_str_rep(S("abc "), 40), S("needle")), ktl_str_rep(S("x"), 37));
    add(ktl_str_cat(l1, S(",")));
    add(ktl_str_cat(ktl_str_cat(ktl_str_rep(S(","), 100), S("a")), S(",,b")));
    add(ktl_str_rep(ktl_str_cat(ktl_str_rep(S(" \t"), 20), S("word")), 5));
    add(ktl_str_cat(ktl_str_cat(ktl_str_rep(S("A"), 70), ktl_str_rep(S("b"), 70)),
                    ktl_str_rep(S("1"), 70)));
    add(ktl_str_cat(ktl_str_rep(S("needl"), 30), S("needle")));
    add(ktl_str_rep(S("0123456789"), 13));
    add(ktl_str_rep(S("Ab1 "), 33));
    add(ktl_str_cat(ktl_str_rep(S("ab\n"), 30), ktl_str_rep(S("\r\n"), 20)));
}

static const char *const needles[] = {"",    "a",   "b",  "ab", "aa", ",",  "  ",   "needle", "l",
                                      "o w", "xyz", "\\", "ll", "x",  "\n", "abc ", "1"};

static const int64_t bounds[] = {KTL_NOIDX, -100, -3, -1, 0, 1, 2, 5, 100};
static const int64_t steps[] = {0, 1, 2, -1, -2, 3, -7};

static void per_string(ktl_str s) {
    ps("repr", s);
    pi("len", s.len);
    ps("upper", ktl_str_upper(s));
    ps("lower", ktl_str_lower(s));
    ps("title", ktl_str_title(s));
    ps("capitalize", ktl_str_capitalize(s));
    ps("strip", ktl_str_strip(s));
    ps("lstrip", ktl_str_lstrip(s));
    ps("rstrip", ktl_str_rstrip(s));
    pb("isdigit", ktl_str_isdigit(s));
    pb("isalpha", ktl_str_isalpha(s));
    pb("isspace", ktl_str_isspace(s));
    pb("isalnum", ktl_str_isalnum(s));
    pb("isupper", ktl_str_isupper(s));
    pb("islower", ktl_str_islower(s));
    L_s *w = ktl_str_split_ws(s);
    pl("split", w);
    KT_CHECK(ktl_str_count_words(s) == w->len);
    for (int m = 0; m <= 2; m++)
        pl("split_max", ktl_str_split_ws_n(s, m));
    pl("splitlines", ktl_str_splitlines(s, false));
    pl("splitlines_keep", ktl_str_splitlines(s, true));
    ps("join", ktl_str_join(S("--"), w));
    ps("join1", ktl_str_join(S(", "), ktl_str_split(s, S(","))));
    static const int64_t widths[] = {-5, 0, 3, 6, 9, 10, 40};
    for (size_t i = 0; i < sizeof widths / sizeof *widths; i++) {
        int64_t wd = widths[i];
        ps("zfill", ktl_str_zfill(s, wd));
        ps("center", ktl_str_center(s, wd, S(" ")));
        ps("center*", ktl_str_center(s, s.len + wd, S("*")));
        ps("ljust", ktl_str_ljust(s, wd, S("\xc3\xa9")));
        ps("rjust", ktl_str_rjust(s, wd, S(".")));
    }
    KT_TRY(ps("center_bad", ktl_str_center(s, 10, S("ab"))));
    KT_TRY(ps("ljust_bad", ktl_str_ljust(s, 0, S(""))));
    static const int64_t idx[] = {-100, -2, -1, 0, 1, 3};
    for (size_t i = 0; i < sizeof idx / sizeof *idx; i++)
        KT_TRY(ps("at", ktl_str_at(s, idx[i])));
    /* Slices: one line per step with every pair of bounds. */
    for (size_t k = 0; k < sizeof steps / sizeof *steps; k++) {
        lab("slices");
        for (size_t i = 0; i < sizeof bounds / sizeof *bounds; i++) {
            for (size_t j = 0; j < sizeof bounds / sizeof *bounds; j++) {
                int64_t lo = bounds[i], hi = bounds[j];
                ktl_str r;
                if (steps[k] == 0)
                    r = ktl_str_slice(s, lo == KTL_NOIDX ? 0 : lo,
                                      hi == KTL_NOIDX ? INT64_MAX : hi);
                else
                    r = ktl_str_slice_step(s, lo, hi, steps[k]);
                ktl_print_repr_s(r);
                ktl_putc(' ');
            }
        }
        ktl_newline();
    }
    for (size_t i = 0; i < sizeof needles / sizeof *needles; i++) {
        ktl_str n = S(needles[i]);
        ps("needle", n);
        pi("find", ktl_str_find(s, n));
        pi("rfind", ktl_str_rfind(s, n));
        KT_TRY(pi("index", ktl_str_index(s, n)));
        KT_TRY(pi("rindex", ktl_str_rindex(s, n)));
        pi("count", ktl_str_count(s, n));
        pb("in", ktl_str_contains(s, n));
        pb("startswith", ktl_str_startswith(s, n));
        pb("endswith", ktl_str_endswith(s, n));
        ps("removeprefix", ktl_str_removeprefix(s, n));
        ps("removesuffix", ktl_str_removesuffix(s, n));
        ps("strip_c", ktl_str_strip_c(s, n));
        ps("lstrip_c", ktl_str_lstrip_c(s, n));
        ps("rstrip_c", ktl_str_rstrip_c(s, n));
        ps("replace", ktl_str_replace(s, n, S("<>")));
        ps("replace_del", ktl_str_replace(s, n, S("")));
        KT_TRY(pl("split_sep", ktl_str_split(s, n)));
        KT_TRY(pi("split_count", ktl_str_split_count(s, n)));
        for (int m = -1; m <= 2; m++)
            KT_TRY(pl("split_sep_max", ktl_str_split_n(s, n, m)));
        ktl_str t[3];
        KT_TRY((ktl_str_partition(s, n, t), pt("partition", t)));
        KT_TRY((ktl_str_rpartition(s, n, t), pt("rpartition", t)));
        pb("eq", ktl_str_eq(s, n));
        int c = ktl_str_cmp(s, n);
        pi("cmp", (c > 0) - (c < 0));
    }
}

/* Hex of a string's bytes, for texts Python would escape in a repr. */
static void ph(const char *l, ktl_str s) {
    lab(l);
    for (int64_t i = 0; i < s.len; i++) {
        char b[4];
        snprintf(b, sizeof b, "%02x", (unsigned char)s.p[i]);
        ktl_write(b, 2);
    }
    ktl_newline();
}

static void chars(void) {
    static const char *const ords[] = {
        "a", "\xc3\xa9", "\xe4\xb8\xad", "\xf0\x9f\x98\x80",        "\x7f",
        "",  "ab",       "\xc3\xa9!",    "\xe4\xb8\xad\xe6\x96\x87"};
    for (size_t i = 0; i < sizeof ords / sizeof *ords; i++)
        KT_TRY(pi("ord", ktl_ord(S(ords[i]))));
    KT_TRY(pi("ord", ktl_ord(ktl_mkstr("\0", 1))));
    static const int64_t cps[] = {0,       65,       127,    128,      233,
                                  0x7ff,   0x800,    0xd800, 0xffff,   0x10000,
                                  0x1f600, 0x10ffff, -1,     0x110000, -1000000};
    for (size_t i = 0; i < sizeof cps / sizeof *cps; i++)
        KT_TRY(ph("chr", ktl_chr(cps[i])));
    static const char *const u[] = {"",
                                    "abc",
                                    "\xc3\xa9",
                                    "\xe4\xb8\xad\xe6\x96\x87",
                                    "\xf0\x9f\x98\x80x",
                                    "caf\xc3\xa9 cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
                                    "e \xe2\x80\x94 \xe4\xb8\xad\xe6\x96\x87 ok"};
    for (size_t i = 0; i < sizeof u / sizeof *u; i++) {
        pi("utf8_len", ktl_utf8_len(S(u[i])));
        ps("replace_empty", ktl_str_replace(S(u[i]), S(""), S("|")));
    }
    /* Stripping compares whole characters: é (C3 A9) and © (C2 A9) share
       a byte. */
    static const char *const strip_cases[][2] = {
        {"\xc3\xa9", "\xc2\xa9"},
        {"\xc2\xa9x\xc2\xa9", "\xc2\xa9"},
        {"\xc3\xa9"
         "abc\xc3\xa9",
         "\xc3\xa9"
         "a"},
        {"\xe4\xb8\xad\xe6\x96\x87\xe4\xb8\xad", "\xe4\xb8\xad"},
        {"\xf0\x9f\x98\x80 ok \xf0\x9f\x98\x80", "\xf0\x9f\x98\x80 "},
        {"xx\xc3\xa9xx", "x\xc3"},
    };
    for (size_t i = 0; i < sizeof strip_cases / sizeof *strip_cases; i++) {
        ktl_str a = S(strip_cases[i][0]), c = S(strip_cases[i][1]);
        ps("strip_u", ktl_str_strip_c(a, c));
        ps("lstrip_u", ktl_str_lstrip_c(a, c));
        ps("rstrip_u", ktl_str_rstrip_c(a, c));
    }
    ktl_str lines = S("a\xc2\x85"
                      "b\xe2\x80\xa8"
                      "c\xe2\x80\xa9"
                      "d\xe2\x82\xac"
                      "e");
    L_s *ls = ktl_str_splitlines(lines, false);
    for (int64_t i = 0; i < ls->len; i++)
        ph("line", ls->data[i]);
    ls = ktl_str_splitlines(lines, true);
    for (int64_t i = 0; i < ls->len; i++)
        ph("line_keep", ls->data[i]);
}

#ifndef KT_APPENDS
#define KT_APPENDS 1000000
#endif

/* `s += t` and builder texts appended to strings: room to grow after the
   first append, in place after it, never a change another holder sees, and
   a builder's bytes always copied (the builder lives on the stack). */
static void appends(void) {
    ktl_str lit = S("ab");
    ktl_str a = ktl_str_append(lit, S("c"));
    ktl_str b = ktl_str_append(a, S("d"));
    KT_CHECK(b.p == a.p);
    KT_CHECK_STR(a, "abc");
    KT_CHECK_STR(b, "abcd");
    /* a no longer ends at the used end: it copies, b stays. */
    ktl_str c = ktl_str_append(a, S("X"));
    KT_CHECK(c.p != a.p);
    KT_CHECK_STR(c, "abcX");
    KT_CHECK_STR(b, "abcd");
    /* Empty operands: the other operand as it is. */
    KT_CHECK(ktl_str_append(S(""), lit).p == lit.p);
    KT_CHECK(ktl_str_append(lit, S("")).p == lit.p);
    static const char *const pieces[] = {"", "x", "é€", "a longer piece of text"};
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            for (int room = 0; room < 2; room++) {
                ktl_sb sb;
                ktl_sb_init(&sb);
                ktl_sb_add(&sb, S(pieces[j]));
                ktl_str head = S(pieces[i]);
                ktl_str r = ktl_str_cat_sb(head, &sb, room);
                KT_CHECK(r.len == head.len + (int64_t)strlen(pieces[j]));
                KT_CHECK(memcmp(r.p, pieces[i], (size_t)head.len) == 0);
                KT_CHECK(memcmp(r.p + head.len, pieces[j], strlen(pieces[j])) == 0);
                /* Never a view of the builder. */
                KT_CHECK(!(r.p >= sb.inl && r.p < sb.inl + sizeof sb.inl));
            }
        }
    }
    /* A builder's text past its inline buffer, after a grown string. */
    ktl_sb big;
    ktl_sb_init(&big);
    ktl_sb_fill(&big, 'z', 1000);
    ktl_str g = ktl_str_cat_sb(b, &big, true);
    KT_CHECK(g.len == 1004 && g.p[3] == 'd' && g.p[1003] == 'z');
    KT_CHECK_STR(b, "abcd");
}

/* What the oracle cannot show: views, in-place growth, size checks. */
static void structure(void) {
    ktl_str t = ktl_str_cat(S("ab"), S("c"));
    ktl_str u = ktl_str_cat(t, S("d"));
    ktl_str v = ktl_str_cat(t, S("e"));
    KT_CHECK_STR(u, "abcd");
    KT_CHECK_STR(v, "abce");
    KT_CHECK_STR(t, "abc");
    /* Appending one byte a million times copies the text about 20 times. */
    ktl_str s = KTL_LIT("");
    int copies = 0;
    for (int i = 0; i < KT_APPENDS; i++) {
        ktl_str n = ktl_str_cat(s, ktl_str_at(S("xyz"), i % 3));
        if (n.p != s.p)
            copies++;
        s = n;
    }
    KT_CHECK(s.len == KT_APPENDS && copies <= 40);
    KT_CHECK(s.p[KT_APPENDS - 1] == "xyz"[(KT_APPENDS - 1) % 3] && s.p[0] == 'x' && s.p[4] == 'y');
    /* Views, not copies. */
    KT_CHECK(ktl_str_slice(s, 1, INT64_MAX).p == s.p + 1);
    KT_CHECK(ktl_str_strip(S("  ab ")).len == 2);
    ktl_str one = S("q");
    KT_CHECK(ktl_str_rep(one, 1).p == one.p);
    KT_CHECK(ktl_str_replace(one, S("zz"), S("y")).p == one.p);
    KT_CHECK(ktl_chr(65).p == ktl_ascii + 65);
    ktl_str words = S("a b");
    KT_CHECK(ktl_str_split_ws(words)->data[1].p == words.p + 2);
    /* Sizes that cannot be represented raise instead of wrapping. */
    KT_TRY(ps("rep_huge", ktl_str_rep(S("ab"), INT64_MAX / 2 + 1)));
    KT_TRY(ps("pad_huge", ktl_str_pad(S("ab"), INT64_MAX, INT64_MAX, S(" "))));
    KT_TRY(ps("ljust_min", ktl_str_ljust(S("ab"), INT64_MIN, S(" "))));
    KT_TRY(ps("center_min", ktl_str_center(S("ab"), INT64_MIN, S(" "))));
    ps("rep3", ktl_str_rep(S("ab"), 3));
    ps("rep0", ktl_str_rep(S("ab"), 0));
    ps("rep-1", ktl_str_rep(S("ab"), -1));
    ps("rep_empty", ktl_str_rep(S(""), 5));
    KT_TRY(ps("slice_step0", ktl_str_slice_step(S("abc"), KTL_NOIDX, KTL_NOIDX, 0)));
    ps("slice_minstep", ktl_str_slice_step(S("abcdef"), KTL_NOIDX, KTL_NOIDX, INT64_MIN));
    ps("slice_maxstep", ktl_str_slice_step(S("abcdef"), KTL_NOIDX, KTL_NOIDX, INT64_MAX));
    KT_CHECK(ktl_str_count_words(S("")) == 0);
    appends();
}

static void str_methods_main(void) {
    build_table();
    for (int i = 0; i < nstrings; i++)
        per_string(strings[i]);
    chars();
    structure();
}

#ifndef KT_VARIANT
static void ktl_main(void) {
    str_methods_main();
}
#endif
