// Containers under a collector that runs at every page refill: lists of
// strings and of lists, dicts with string keys and list values, sets of
// strings and of tuples, and a stable sort whose comparison allocates (so
// collections happen in the middle of a merge) keep every item intact.
// env: KESTAL_GC_MIN=1
#include "kestal_runtime.c"
#include "test_support.h"

KTL_DEFINE_LIST(L_L_i, L_i *, L_i_eq, KTL_SCAN)
KTL_DEFINE_DICT(D_sL_i, ktl_str, L_i *, ktl_hash_s, KTL_STR_EQ, ktl_print_repr_s, ktl_print_L_i, L_i_eq,
                KTL_SCAN)
KTL_DEFINE_SET(S_s, ktl_str, ktl_pyhash_s, KTL_STR_EQ, ktl_print_repr_s)

typedef struct T_2si { ktl_str f0; int64_t f1; } T_2si;
static inline bool T_2si_eq(T_2si a, T_2si b) { return KTL_STR_EQ(a.f0, b.f0) && KTL_EQ(a.f1, b.f1); }
static inline int64_t T_2si_pyhash(T_2si t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, ktl_pyhash_s(t.f0)); acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f1)); return ktl_tuphash_done(acc, 2); }
static void ktl_print_T_2si(T_2si t) { ktl_putc('('); ktl_print_repr_s(t.f0); ktl_write(", ", 2); ktl_print_i(t.f1); ktl_putc(')'); }
KTL_DEFINE_SET(S_T_2si, T_2si, T_2si_pyhash, T_2si_eq, ktl_print_T_2si)

typedef struct Obj { ktl_str name; int64_t key, id; } Obj;
// Allocates on every comparison, as a user __lt__ may.
static bool kt_obj_lt(Obj *a, Obj *b) {
    ktl_str t = ktl_str_cat(ktl_int_str(a->key), KTL_LIT("."));
    return t.len > 0 && a->key < b->key;
}
KTL_DEFINE_LIST(L_O, Obj *, KTL_EQ, KTL_SCAN)
KTL_DEFINE_LIST_ALGOS(L_O, Obj *, kt_obj_lt)

static ktl_str kt_name(const char *prefix, int64_t i) {
    return ktl_str_cat(ktl_mkstr(prefix, (int64_t)strlen(prefix)), ktl_int_str(i));
}

static void kt_garbage(int n) {
    for (int i = 0; i < n; i++) ktl_int_str(i * 1000003);
}

static void ktl_main(void) {
    L_s *names = L_s_new(0);
    L_L_i *lists = L_L_i_new(0);
    D_sL_i *d = D_sL_i_new(0);
    S_s *ss = S_s_new();
    S_T_2si *ts = S_T_2si_new();
    for (int64_t i = 0; i < 3000; i++) {
        ktl_str n = kt_name("item", i);
        L_s_push(names, n);
        L_i *l = L_i_new(0);
        for (int64_t k = 0; k <= i % 7; k++) L_i_push(l, i * 10 + k);
        L_L_i_push(lists, l);
        D_sL_i_set(d, n, l);
        S_s_add(ss, n);
        S_T_2si_add(ts, (T_2si){n, i});
        if (i % 3 == 0) {
            D_sL_i_del(d, kt_name("item", i / 2));
            S_s_discard(ss, kt_name("item", i / 2));
        }
        kt_garbage(20);
    }
    for (int64_t i = 0; i < 3000; i++) {
        KT_CHECK(ktl_str_eq(names->data[i], kt_name("item", i)));
        L_i *l = lists->data[i];
        KT_CHECK(l->len == i % 7 + 1 && l->data[l->len - 1] == i * 10 + i % 7);
        bool deleted = false;
        for (int64_t j = 0; j < 3000 && !deleted; j += 3) deleted = j / 2 == i;
        KT_CHECK(D_sL_i_contains(d, kt_name("item", i)) == !deleted);
        KT_CHECK(S_s_contains(ss, kt_name("item", i)) == !deleted);
        if (!deleted) KT_CHECK(L_i_eq(*D_sL_i_at(d, kt_name("item", i)), l));
        KT_CHECK(S_T_2si_contains(ts, (T_2si){kt_name("item", i), i}));
    }
    KT_CHECK(ts->used == 3000);

    L_O *o = L_O_new(0);
    for (int64_t i = 0; i < 2000; i++) {
        Obj *x = (Obj *)ktl_obj_new(sizeof(Obj));
        x->name = kt_name("obj", i);
        x->key = (i * 7919) % 50;
        x->id = i;
        L_O_push(o, x);
    }
    L_O *sorted = ktl_sorted_L_O(o);
    kt_garbage(10000);
    for (int64_t i = 0; i < 2000; i++) {
        Obj *x = sorted->data[i];
        KT_CHECK(ktl_str_eq(x->name, kt_name("obj", x->id)));
        if (i) {
            Obj *p = sorted->data[i - 1];
            KT_CHECK(p->key < x->key || (p->key == x->key && p->id < x->id));
        }
    }
    ktl_print_i(d->len);
    ktl_putc(' ');
    ktl_print_i(ss->used);
    ktl_newline();
}
