// Hashes against python3: CPython's hash of ints (the reserved -1, negatives,
// both sides of 2^61 - 1, the int64 extremes) and of tuples of ints and
// bools, nested tuples included; the runtime's own string hash against the
// same formula written in Python.
// warnings: error
#include "kestal_runtime.c"
#include "test_support.h"

static const int64_t kt_ints[] = {0, 1, -1, -2, 2, 7, -7,
                                  ((int64_t)1 << 61) - 2, ((int64_t)1 << 61) - 1, (int64_t)1 << 61,
                                  ((int64_t)1 << 61) + 1, -(((int64_t)1 << 61) - 1), -((int64_t)1 << 61),
                                  (int64_t)1 << 62, INT64_MAX, INT64_MIN, INT64_MIN + 1,
                                  1000000000000000000, -1000000000000000000, 12345678901234567,
                                  ((int64_t)1 << 61) * 3 - 1};
#define KT_NI ((int)(sizeof kt_ints / sizeof kt_ints[0]))

// Tuple types as the compiler writes them.
typedef struct T_2ii { int64_t f0; int64_t f1; } T_2ii;
static inline int64_t T_2ii_pyhash(T_2ii t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f0)); acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f1)); return ktl_tuphash_done(acc, 2); }
typedef struct T_1i { int64_t f0; } T_1i;
static inline int64_t T_1i_pyhash(T_1i t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f0)); return ktl_tuphash_done(acc, 1); }
typedef struct T_2T_2iib { T_2ii f0; bool f1; } T_2T_2iib;
static inline int64_t T_2T_2iib_pyhash(T_2T_2iib t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, T_2ii_pyhash(t.f0)); acc = ktl_tuphash_step(acc, ktl_pyhash_b(t.f1)); return ktl_tuphash_done(acc, 2); }

static void kt_line(int64_t v) {
    ktl_print_i(v);
    ktl_newline();
}

static void ktl_main(void) {
    for (int i = 0; i < KT_NI; i++) kt_line(ktl_pyhash_i(kt_ints[i]));
    kt_line(ktl_pyhash_b(true));
    kt_line(ktl_pyhash_b(false));
    for (int i = 0; i < KT_NI; i++) {
        kt_line(T_1i_pyhash((T_1i){kt_ints[i]}));
        for (int j = 0; j < KT_NI; j += 4) kt_line(T_2ii_pyhash((T_2ii){kt_ints[i], kt_ints[j]}));
    }
    kt_line(T_2T_2iib_pyhash((T_2T_2iib){{1, 2}, true}));
    kt_line(T_2T_2iib_pyhash((T_2T_2iib){{-1, -2}, false}));
    const char *strs[] = {"", "a", "abcdefg", "abcdefgh", "abcdefghi", "0123456789abcdefX", "\xc3\xa9t\xc3\xa9"};
    for (int i = 0; i < 7; i++) {
        ktl_str s = ktl_mkstr(strs[i], (int64_t)strlen(strs[i]));
        kt_line(ktl_pyhash_s(s));
        kt_line(ktl_hash_s(s));
    }
    kt_line(ktl_hash_i(0));
    kt_line(ktl_hash_i(-1));
    kt_line(ktl_hash_b(true));
}
