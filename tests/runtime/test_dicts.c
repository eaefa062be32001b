// Dicts against python3: insertion order across deletion and re-insertion,
// replacing a value in place, growth and rebuilds under a random mix of
// set, del, pop and setdefault, get/pop with defaults, copy, update,
// equality, clear, KeyError texts, and an entry array that stays bounded
// while keys come and go.
// The collector runs at every page refill, so everything is checked under it.
// env: KESTAL_GC_MIN=1
#include "kestal_runtime.c"
#define KT_RAND_SEED 777
#include "test_support.h"

KTL_DEFINE_DICT(D_ii, int64_t, int64_t, ktl_hash_i, KTL_EQ, ktl_print_i, ktl_print_i, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_DICT(D_si, ktl_str, int64_t, ktl_hash_s, KTL_STR_EQ, ktl_print_repr_s, ktl_print_i, KTL_EQ,
                KTL_SCAN)

static void kt_pd(D_ii *d) {
    ktl_print_D_ii(d);
    ktl_newline();
}

static ktl_str kt_key(int64_t i) {
    char buf[32];
    int n = snprintf(buf, sizeof buf, "k%lld", (long long)i);
    return ktl_str_copy(buf, n);
}

static void ktl_main(void) {
    D_ii *d = D_ii_new(0);
    D_ii_set(d, 1, 10);
    D_ii_set(d, 2, 20);
    D_ii_set(d, 3, 30);
    D_ii_del(d, 2);
    D_ii_set(d, 2, 21);
    D_ii_set(d, 1, 11);
    kt_pd(d);

    // A random mix of operations on a small key space.
    d = D_ii_new(0);
    for (int op = 0; op < 3000; op++) {
        int64_t k = kt_rand(60) - 10, v = op;
        switch (kt_rand(5)) {
        case 0:
        case 1: D_ii_set(d, k, v); break;
        case 2: if (D_ii_contains(d, k)) D_ii_del(d, k); break;
        case 3: ktl_print_i(D_ii_pop_or(d, k, -1)); ktl_putc(' '); break;
        default: ktl_print_i(D_ii_setdefault(d, k, v)); ktl_putc(' '); break;
        }
        if (op % 250 == 249) {
            ktl_newline();
            kt_pd(d);
            // The loop generated code writes over a dict's entries.
            for (int64_t i = 0; i < d->n; i++) {
                if (d->dead && d->dead[i]) continue;
                ktl_print_i(d->ents[i].key);
                ktl_putc(' ');
            }
            ktl_print_i(d->len);
            ktl_newline();
        }
    }
    D_ii *c = D_ii_copy(d);
    kt_pd(c);
    ktl_print_b(D_ii_eq(c, d));
    D_ii_set(c, 1000, 1);
    ktl_print_b(D_ii_eq(c, d));
    ktl_print_i(D_ii_get(d, 1000, -5));
    ktl_print_i(*D_ii_at(c, 1000));
    ktl_newline();
    D_ii *u = D_ii_new(0);
    D_ii_set(u, 5, 500);
    D_ii_set(u, 2000, 1);
    D_ii_update(u, d);
    kt_pd(u);
    // Equal dicts whatever their order.
    D_ii *r = D_ii_new(0);
    for (int64_t i = 9; i >= 0; i--) D_ii_set(r, i, i * i);
    D_ii *f = D_ii_new(100);
    for (int64_t i = 0; i < 10; i++) D_ii_set(f, i, i * i);
    ktl_print_b(D_ii_eq(r, f));
    D_ii_set(f, 3, 0);
    ktl_print_b(D_ii_eq(r, f));
    ktl_newline();
    D_ii_clear(f);
    kt_pd(f);
    D_ii_set(f, 7, 7);
    kt_pd(f);

    KT_TRY(D_ii_at(f, 5));
    KT_TRY(D_ii_pop(f, -5));
    KT_TRY(D_ii_del(f, 8));

    // Keys coming and going keep the entry array small.
    D_ii *g = D_ii_new(0);
    for (int64_t i = 0; i < 300000; i++) {
        D_ii_set(g, i, i);
        if (i >= 2) D_ii_del(g, i - 2);
    }
    KT_CHECK(g->cap <= 8);
    kt_pd(g);

    D_si *s = D_si_new(0);
    for (int64_t i = 0; i < 500; i++) D_si_set(s, kt_key(i * 7 % 500), i);
    for (int64_t i = 0; i < 500; i += 3) D_si_del(s, kt_key(i));
    ktl_print_D_si(s);
    ktl_newline();
    ktl_print_i(s->len);
    ktl_print_i(*D_si_at(s, KTL_LIT("k7")));
    ktl_print_b(D_si_contains(s, KTL_LIT("k3")));
    ktl_newline();
    KT_TRY(D_si_at(s, KTL_LIT("it's")));
    KT_TRY(D_si_pop(s, KTL_LIT("k3")));
    D_si_set(s, KTL_LIT(""), -1);
    ktl_print_i(D_si_pop(s, KTL_LIT("")));
    ktl_newline();
}
