// Sets against python3: the iteration order of int, tuple and bool sets
// after constant displays, adds, discards, growth and pops, and the whole-set
// operations (|, &, -, ^ and their in-place forms, copy, set(list)) on sets
// of many shapes, with hash collisions (ints equal modulo 2^61 - 1, -1 and
// -2) and table wrap-around.
// The collector runs at every page refill, so everything is checked under it.
// env: KESTAL_GC_MIN=1
#include "kestal_runtime.c"
#define KT_RAND_SEED 12345
#include "test_support.h"

typedef struct T_2ii { int64_t f0; int64_t f1; } T_2ii;
static inline bool T_2ii_eq(T_2ii a, T_2ii b) { return KTL_EQ(a.f0, b.f0) && KTL_EQ(a.f1, b.f1); }
static inline int64_t T_2ii_pyhash(T_2ii t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f0)); acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f1)); return ktl_tuphash_done(acc, 2); }
static void ktl_print_T_2ii(T_2ii t) { ktl_putc('('); ktl_print_i(t.f0); ktl_write(", ", 2); ktl_print_i(t.f1); ktl_putc(')'); }

KTL_DEFINE_SET(S_i, int64_t, ktl_pyhash_i, KTL_EQ, ktl_print_i)
KTL_DEFINE_SET(S_T_2ii, T_2ii, T_2ii_pyhash, T_2ii_eq, ktl_print_T_2ii)
KTL_DEFINE_SET(S_b, bool, ktl_pyhash_b, KTL_EQ, ktl_print_b)

#define P61 (((int64_t)1 << 61) - 1)

// A value from a pool rich in collisions: small ints, multiples of 8 and 32,
// ints equal modulo 2^61 - 1, -1 and -2 (both hash to -2).
static int64_t kt_value(void) {
    switch (kt_rand(6)) {
    case 0: return kt_rand(50);
    case 1: return kt_rand(20) * 8;
    case 2: return kt_rand(12) * 32 + 31;
    case 3: {
        int64_t m = kt_rand(4);
        return m * P61 + kt_rand(3);
    }
    case 4: return -1 - kt_rand(3);
    default: return kt_rand(1000) - 500;
    }
}

static void kt_ps(S_i *s) {
    ktl_print_S_i(s);
    ktl_newline();
}

static S_i *kt_random_set(int64_t n) {
    S_i *s = S_i_new();
    for (int64_t i = 0; i < n; i++) S_i_add(s, kt_value());
    for (int64_t i = 0; i < n / 3; i++) S_i_discard(s, kt_value());
    return s;
}

static void kt_displays(void) {
    const int64_t a[] = {3, 1, 2}, b[] = {10, 1, 100, 5}, c[] = {-1, -2, 5, P61, 0};
    kt_ps(S_i_from_consts(3, a));
    kt_ps(S_i_from_consts(4, b));
    kt_ps(S_i_from_consts(5, c));
    kt_ps(S_i_from(5, c));
    // Constant displays of 3 to 40 colliding items.
    for (int k = 0; k < 60; k++) {
        int64_t n = 3 + kt_rand(38), items[40];
        for (int64_t i = 0; i < n; i++) items[i] = kt_value();
        kt_ps(S_i_from_consts(n, items));
        kt_ps(S_i_from(n, items));
    }
    T_2ii t[] = {{1, 2}, {0, 0}, {-1, -2}};
    ktl_print_S_T_2ii(S_T_2ii_from_consts(3, t));
    ktl_newline();
    bool bs[] = {true, false, true};
    ktl_print_S_b(S_b_from_consts(3, bs));
    ktl_newline();
}

static void kt_adds_and_deletes(void) {
    S_i *s = S_i_new();
    for (int64_t i = 1; i <= 1000; i++) S_i_add(s, i);
    for (int64_t i = 2; i <= 1000; i += 2) S_i_discard(s, i);
    kt_ps(s);
    s = S_i_new();
    for (int64_t i = 0; i < 40; i++) {
        S_i_add(s, (i * 37) % 64 - 8);
        kt_ps(s);
    }
    for (int64_t i = 0; i < 200; i++) S_i_add(s, i);
    for (int64_t i = 0; i < 200; i += 3) S_i_discard(s, i);
    for (int64_t i = 200; i < 300; i++) S_i_add(s, i * 7);
    for (int64_t i = 0; i < 300; i += 5) S_i_discard(s, i * 7);
    kt_ps(s);
    for (int i = 0; i < 5; i++) {
        ktl_print_i(S_i_pop(s));
        ktl_putc(' ');
    }
    ktl_newline();
    kt_ps(s);
    kt_ps(S_i_copy(s));
    for (int k = 0; k < 20; k++) {
        S_i *r = kt_random_set(1 + kt_rand(60));
        kt_ps(r);
        while (r->used > 3) {
            ktl_print_i(S_i_pop(r));
            ktl_putc(' ');
            S_i_add(r, kt_value());
        }
        ktl_newline();
        kt_ps(r);
    }
    S_i *e = S_i_new();
    KT_TRY(S_i_pop(e));
    KT_TRY(S_i_remove(e, 42));
    S_i_add(e, 42);
    S_i_remove(e, 42);
    kt_ps(e);
    S_T_2ii *ts = S_T_2ii_new();
    for (int64_t i = 0; i < 30; i++) S_T_2ii_add(ts, (T_2ii){i % 7, -i});
    for (int64_t i = 0; i < 30; i += 4) S_T_2ii_discard(ts, (T_2ii){i % 7, -i});
    ktl_print_S_T_2ii(ts);
    ktl_newline();
}

static void kt_operations(void) {
    for (int k = 0; k < 40; k++) {
        // Skewed sizes reach every branch: copy-then-remove differences and
        // intersections that shrink the larger set first.
        int64_t na = 1 + kt_rand(k % 4 == 0 ? 200 : 30), nb = 1 + kt_rand(k % 4 == 1 ? 200 : 30);
        S_i *a = kt_random_set(na), *b = kt_random_set(nb);
        kt_ps(a);
        kt_ps(b);
        kt_ps(S_i_or(a, b));
        kt_ps(S_i_and(a, b));
        kt_ps(S_i_and(b, a));
        kt_ps(S_i_sub(a, b));
        kt_ps(S_i_sub(b, a));
        kt_ps(S_i_xor(a, b));
        kt_ps(S_i_xor(b, a));
        S_i *c = S_i_copy(a);
        S_i_merge(c, b);
        kt_ps(c);
        c = S_i_copy(a);
        S_i_and_update(c, b);
        kt_ps(c);
        c = S_i_copy(a);
        S_i_diff_update(c, b);
        kt_ps(c);
        c = S_i_copy(a);
        S_i_xor_update(c, b);
        kt_ps(c);
        ktl_print_b(S_i_issubset(a, b));
        ktl_print_b(S_i_issubset(S_i_and(a, b), a));
        ktl_print_b(S_i_isdisjoint(a, b));
        ktl_print_b(S_i_isdisjoint(S_i_sub(a, b), b));
        ktl_print_b(S_i_eq(a, b));
        ktl_print_b(S_i_eq(a, S_i_copy(a)));
        ktl_newline();
    }
    // Operations of a set with itself.
    S_i *a = kt_random_set(20);
    kt_ps(S_i_or(a, a));
    kt_ps(S_i_and(a, a));
    kt_ps(S_i_sub(a, a));
    kt_ps(S_i_xor(a, a));
    S_i_merge(a, a);
    kt_ps(a);
    S_i *c = S_i_copy(a);
    S_i_xor_update(c, c);
    kt_ps(c);
    c = S_i_copy(a);
    S_i_diff_update(c, c);
    kt_ps(c);
    S_i_clear(a);
    kt_ps(a);
    S_i_add(a, 5);
    kt_ps(a);
}

static void ktl_main(void) {
    kt_displays();
    kt_adds_and_deletes();
    kt_operations();
}
