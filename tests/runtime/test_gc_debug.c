// The runtime's own allocating operations under the debug build that
// collects on every allocation: growing strings, lists that grow and move,
// split, sort and join, a dict of lists, captures and caught exceptions. A
// value the collector failed to see would be freed, cleared and reused at
// once; the output is checked against test_gc_debug.py.
// cflags: -DKTL_GC_STRESS
#include "kestal_runtime.c"
#include "test_support.h"

KTL_DEFINE_DICT(D_sLi, ktl_str, L_i *, ktl_hash_s, KTL_STR_EQ, ktl_print_repr_s, ktl_print_L_i, KTL_EQ,
                KTL_SCAN)

static ktl_str kt_dict_str(D_sLi *d) {
    return KT_CAPTURE(ktl_print_D_sLi(d));
}

static void ktl_main(void) {
    size_t collections = ktl_gc_count;
    L_s *words = L_s_new(0);
    ktl_str acc = KTL_LIT("");
    D_sLi *d = D_sLi_new(0);
    for (int64_t i = 0; i < 300; i++) {
        ktl_str w = ktl_str_cat(KTL_LIT("w"), ktl_int_str((i * 7919) % 1000));
        L_s_push(words, w);
        acc = ktl_str_cat(ktl_str_cat(acc, w), KTL_LIT(","));
        L_i *pair = L_i_new(0);
        L_i_push(pair, i);
        L_i_push(pair, i * i);
        D_sLi_set(d, w, pair);
    }
    ktl_print_i(acc.len);
    ktl_newline();
    L_s *parts = ktl_str_split(acc, KTL_LIT(","));
    ktl_sort_L_s(parts);
    ktl_print_s(ktl_str_join(KTL_LIT(" "), parts));
    ktl_newline();
    ktl_print_s(kt_dict_str(d));
    ktl_newline();

    // Missing keys raise KeyError with the key's repr; the handled
    // exception must survive the collections of the next iterations.
    int64_t caught = 0;
    ktl_str last = KTL_LIT("");
    for (int64_t i = 0; i < 50; i++) {
        ktl_handler h;
        ktl_try_enter(&h);
        if (ktl_setjmp(h.jb) == 0) {
            D_sLi_at(d, ktl_str_cat(KTL_LIT("missing"), ktl_int_str(i)));
            ktl_htop = h.prev;
        } else {
            ktl_exc *e = (ktl_exc *)ktl_try_land(&h);
            if (e->cls == KTL_E_KeyError) caught++;
            last = e->str;
        }
    }
    ktl_print_i(caught);
    ktl_write(" ", 1);
    ktl_print_s(last);
    ktl_newline();
    ktl_print_L_s(words);
    ktl_newline();
    KT_CHECK(ktl_gc_count - collections > 1000);
}
