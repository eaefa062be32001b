// The C forms the code generator writes, spelled as it writes them: the
// per-type definitions (tuples with eq, cmp, lt, hash, pyhash and print;
// lists, dicts and sets of them; optionals in struct and pointer form;
// keyed-sort records), the loops over dict and set fields with their size
// checks, the statement expressions of dict.get, os.getenv,
// os.path.splitext, str.partition, random.choice, sorted(key=...),
// print(file=...), f-string fields and str() of a container, and try/except
// around a user exception class. The program builds with every warning an
// error, so each runtime name these forms use must exist with a compatible
// type; what it prints is checked against test_codegen_forms.py.
// cflags: -march=native
// warnings: error
// env: KT_EMPTY=
#define KTL_GROUPING 1
#define KTL_TEST_CLASSES(X) X(AppError, KTL_E_Exception)
#include "kestal_runtime.c"
#include "test_support.h"

/* Like every generated program, this one instantiates container functions
   it never calls, and the keyed sort declares the key function value even
   where the call doesn't read it. */
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-variable"

/* ---- types text ---- */

typedef struct T_2is { int64_t f0; ktl_str f1; } T_2is;
static inline bool T_2is_eq(T_2is a, T_2is b) { return KTL_EQ(a.f0, b.f0) && KTL_STR_EQ(a.f1, b.f1); }
static inline int T_2is_cmp(T_2is a, T_2is b) { int c; if ((c = KTL_CMP(a.f0, b.f0))) return c; if ((c = ktl_str_cmp(a.f1, b.f1))) return c; return 0; }
static inline bool T_2is_lt(T_2is a, T_2is b) { return T_2is_cmp(a, b) < 0; }
static inline uint32_t T_2is_hash(T_2is t) { uint64_t h = 2; h = ktl_hash_step(h, ktl_hash_i(t.f0)); h = ktl_hash_step(h, ktl_hash_s(t.f1)); return ktl_mix(h); }
static inline int64_t T_2is_pyhash(T_2is t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f0)); acc = ktl_tuphash_step(acc, ktl_pyhash_s(t.f1)); return ktl_tuphash_done(acc, 2); }
static void ktl_print_T_2is(T_2is t) { ktl_putc('('); ktl_print_i(t.f0); ktl_write(", ", 2); ktl_print_repr_s(t.f1); ktl_putc(')'); }
KTL_DEFINE_LIST(L_T2is, T_2is, T_2is_eq, KTL_SCAN)
KTL_DEFINE_LIST_PRINT(L_T2is, ktl_print_T_2is)
KTL_DEFINE_LIST_CMP(L_T2is, T_2is_cmp)
KTL_DEFINE_DICT(D_sLT2is, ktl_str, L_T2is *, ktl_hash_s, KTL_STR_EQ, ktl_print_repr_s, ktl_print_L_T2is, L_T2is_eq, KTL_SCAN)
KTL_DEFINE_LIST_ALGOS(L_T2is, T_2is, T_2is_lt)

typedef struct T_2ii { int64_t f0; int64_t f1; } T_2ii;
static inline bool T_2ii_eq(T_2ii a, T_2ii b) { return KTL_EQ(a.f0, b.f0) && KTL_EQ(a.f1, b.f1); }
static inline int T_2ii_cmp(T_2ii a, T_2ii b) { int c; if ((c = KTL_CMP(a.f0, b.f0))) return c; if ((c = KTL_CMP(a.f1, b.f1))) return c; return 0; }
static inline bool T_2ii_lt(T_2ii a, T_2ii b) { return T_2ii_cmp(a, b) < 0; }
static inline uint32_t T_2ii_hash(T_2ii t) { uint64_t h = 2; h = ktl_hash_step(h, ktl_hash_i(t.f0)); h = ktl_hash_step(h, ktl_hash_i(t.f1)); return ktl_mix(h); }
static inline int64_t T_2ii_pyhash(T_2ii t) { uint64_t acc = KTL_XXP5; acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f0)); acc = ktl_tuphash_step(acc, ktl_pyhash_i(t.f1)); return ktl_tuphash_done(acc, 2); }
static void ktl_print_T_2ii(T_2ii t) { ktl_putc('('); ktl_print_i(t.f0); ktl_write(", ", 2); ktl_print_i(t.f1); ktl_putc(')'); }
KTL_DEFINE_DICT(D_T2iii, T_2ii, int64_t, T_2ii_hash, T_2ii_eq, ktl_print_T_2ii, ktl_print_i, KTL_EQ, KTL_NOSCAN)
KTL_DEFINE_SET(S_T2ii, T_2ii, T_2ii_pyhash, T_2ii_eq, ktl_print_T_2ii)
KTL_DEFINE_SET(S_i, int64_t, ktl_pyhash_i, KTL_EQ, ktl_print_i)

typedef struct T_1i { int64_t f0; } T_1i;
static inline bool T_1i_eq(T_1i a, T_1i b) { return KTL_EQ(a.f0, b.f0); }
static void ktl_print_T_1i(T_1i t) { ktl_putc('('); ktl_print_i(t.f0); ktl_putc(','); ktl_putc(')'); }

typedef struct T_2ss { ktl_str f0; ktl_str f1; } T_2ss;
static void ktl_print_T_2ss(T_2ss t) { ktl_putc('('); ktl_print_repr_s(t.f0); ktl_write(", ", 2); ktl_print_repr_s(t.f1); ktl_putc(')'); }
typedef struct T_3sss { ktl_str f0; ktl_str f1; ktl_str f2; } T_3sss;
static void ktl_print_T_3sss(T_3sss t) { ktl_putc('('); ktl_print_repr_s(t.f0); ktl_write(", ", 2); ktl_print_repr_s(t.f1); ktl_write(", ", 2); ktl_print_repr_s(t.f2); ktl_putc(')'); }

typedef struct { bool has; int64_t v; } Q_i;
static void ktl_print_Qi(Q_i x) { if (x.has) ktl_print_i(x.v); else ktl_write("None", 4); }
static void ktl_repr_Qi(Q_i x) { if (x.has) ktl_print_i(x.v); else ktl_write("None", 4); }
static inline bool Qi_eq(Q_i a, Q_i b) { return a.has == b.has && (!a.has || KTL_EQ(a.v, b.v)); }
typedef struct { bool has; ktl_str v; } Q_s;
static void ktl_print_Qs(Q_s x) { if (x.has) ktl_print_s(x.v); else ktl_write("None", 4); }
static void ktl_repr_Qs(Q_s x) { if (x.has) ktl_print_repr_s(x.v); else ktl_write("None", 4); }
static inline bool Qs_eq(Q_s a, Q_s b) { return a.has == b.has && (!a.has || KTL_STR_EQ(a.v, b.v)); }
static void ktl_print_QLi(L_i * x) { if (x != NULL) ktl_print_L_i(x); else ktl_write("None", 4); }
static void ktl_repr_QLi(L_i * x) { if (x != NULL) ktl_print_L_i(x); else ktl_write("None", 4); }
static inline bool QLi_eq(L_i * a, L_i * b) { return (a == NULL || b == NULL) ? a == b : L_i_eq(a, b); }

typedef struct { int64_t k; int64_t i; } KP_i;
static inline bool KP_i_lt(KP_i a, KP_i b) { int c = KTL_CMP(a.k, b.k); return c < 0 || (c == 0 && a.i < b.i); }
static inline bool KP_i_gt(KP_i a, KP_i b) { int c = KTL_CMP(a.k, b.k); return c > 0 || (c == 0 && a.i < b.i); }
KTL_DEFINE_SORT(ktl_ksort_KP_i, KP_i, KP_i_lt)
KTL_DEFINE_SORT(ktl_ksort_KP_i_desc, KP_i, KP_i_gt)
typedef struct { T_2is k; int64_t i; } KP_T2is;
static inline bool KP_T2is_lt(KP_T2is a, KP_T2is b) { return T_2is_lt(a.k, b.k); }
KTL_DEFINE_STABLE_SORT(ktl_ksort_KP_T2is, KP_T2is, KP_T2is_lt, KTL_SCAN)

typedef struct C_AppError C_AppError;
struct C_AppError { int32_t cls; ktl_str exc_str; ktl_str exc_args; int64_t f_code; };

/* ---- functions ---- */

static int64_t kt_len(ktl_str s) { return s.len; }

static void kt_tuples(void) {
    L_T2is *ps = L_T2is_from(4, (T_2is[]){((T_2is){3, ((ktl_str){"c", 1})}), ((T_2is){1, ((ktl_str){"b", 1})}), ((T_2is){3, ((ktl_str){"a", 1})}), ((T_2is){-2, ((ktl_str){"z", 1})})});
    ({ L_T2is * _pv1 = ps; ktl_print_L_T2is(_pv1); ktl_newline(); });
    ({ T_2is _pv2 = ktl_max_L_T2is(ps); T_2is _pv3 = ktl_min_L_T2is(ps); ktl_print_T_2is(_pv2); ktl_putc(' '); ktl_print_T_2is(_pv3); ktl_newline(); });
    L_T2is *sp = ({ L_T2is * _l4 = L_T2is_slice(ps, 0, INT64_MAX); ktl_sort_L_T2is(_l4); _l4; });
    ({ L_T2is * _l5 = ps; ktl_rsort_L_T2is(_l5); });
    ({ ktl_print_L_T2is(sp); ktl_putc(' '); ktl_print_L_T2is(ps); ktl_newline(); });
    ({ int64_t _pv6 = L_T2is_index(ps, ((T_2is){1, ((ktl_str){"b", 1})})); bool _pv7 = L_T2is_contains(ps, ((T_2is){1, ((ktl_str){"a", 1})})); int64_t _pv8 = L_T2is_cmp(ps, sp); bool _pv9 = L_T2is_lt(sp, ps); ktl_print_i(_pv6); ktl_putc(' '); ktl_print_b(_pv7); ktl_putc(' '); ktl_print_i(_pv8); ktl_putc(' '); ktl_print_b(_pv9); ktl_newline(); });
    D_sLT2is *d = D_sLT2is_new(0);
    D_sLT2is_set(d, ((ktl_str){"x", 1}), ps);
    D_sLT2is_set(d, ((ktl_str){"y", 1}), L_T2is_slice(ps, 1, 3));
    D_sLT2is_set(d, ((ktl_str){"x", 1}), sp);
    ({ D_sLT2is * _pv10 = d; ktl_print_D_sLT2is(_pv10); ktl_newline(); });
    ({ T_1i _pv11 = ((T_1i){5}); ktl_print_T_1i(_pv11); ktl_putc(' '); ktl_print_b(T_1i_eq(_pv11, ((T_1i){5}))); ktl_newline(); });
    /* str() of a container: its print function under a capture. */
    ktl_str t = ({ ktl_sb _sb12; ktl_sb_init(&_sb12); { L_T2is * _v13 = sp; ktl_capstate _cs14 = ktl_cap_begin(&_sb12); ktl_print_L_T2is(_v13); ktl_cap_end(_cs14); } ktl_sb_done(&_sb12); });
    ({ int64_t _pv15 = (t).len; ktl_print_i(_pv15); ktl_putc(' '); ktl_print_s(t); ktl_newline(); });
}

static void kt_dicts_sets(void) {
    D_T2iii *g = D_T2iii_new(0);
    for (int64_t i = 0; i < 20; i++) D_T2iii_set(g, ((T_2ii){ktl_mod(i, 5), ktl_floordiv(i, 5)}), i * i);
    D_T2iii_del(g, ((T_2ii){0, 0}));
    D_T2iii_del(g, ((T_2ii){4, 3}));
    ({ D_T2iii * _pv1 = g; ktl_print_D_T2iii(_pv1); ktl_newline(); });
    ({ int64_t _pv2 = (g)->len; int64_t _pv3 = (*D_T2iii_at(g, ((T_2ii){2, 1}))); ktl_print_i(_pv2); ktl_putc(' '); ktl_print_i(_pv3); ktl_newline(); });
    Q_i got = ({ D_T2iii *_d4 = g; T_2ii _k5 = ((T_2ii){9, 9}); int64_t _e6 = D_T2iii_find(_d4, _k5, T_2ii_hash(_k5)); _e6 < 0 ? (Q_i){0} : ((Q_i){true, _d4->ents[_e6].val}); });
    Q_i hit = ({ D_T2iii *_d7 = g; T_2ii _k8 = ((T_2ii){3, 2}); int64_t _e9 = D_T2iii_find(_d7, _k8, T_2ii_hash(_k8)); _e9 < 0 ? (Q_i){0} : ((Q_i){true, _d7->ents[_e9].val}); });
    ({ ktl_print_Qi(got); ktl_putc(' '); ktl_print_Qi(hit); ktl_putc(' '); ktl_print_b(Qi_eq(got, hit)); ktl_newline(); });
    /* for k in g: the entries in order, skipping deleted ones. */
    { int64_t _n10 = g->len; for (int64_t _k11 = 0; _k11 < g->n; _k11++) { if (KTL_UNLIKELY(g->len != _n10)) ktl_dict_changed(); if (g->dead && g->dead[_k11]) continue; T_2ii k = g->ents[_k11].key; ({ T_2ii _pv12 = k; ktl_print_T_2ii(_pv12); ktl_putc(' '); }); } }
    ktl_newline();
    /* A dict that grows while a loop walks it. */
    ktl_handler _h13; ktl_try_enter(&_h13);
    if (ktl_setjmp(_h13.jb) == 0) {
        int64_t _n14 = g->len; for (int64_t _k15 = 0; _k15 < g->n; _k15++) { if (KTL_UNLIKELY(g->len != _n14)) ktl_dict_changed(); if (g->dead && g->dead[_k15]) continue; T_2ii k = g->ents[_k15].key; D_T2iii_set(g, ((T_2ii){k.f0 + 100, 0}), 1); }
        ktl_htop = _h13.prev;
    } else {
        void *_fx = ktl_try_land(&_h13);
        if (ktl_isa(((ktl_exc *)_fx)->cls, KTL_E_RuntimeError)) { ktl_print_exc_repr(_fx); ktl_newline(); } else ktl_reraise(_fx);
    }
    ktl_handler _h16; ktl_try_enter(&_h16);
    if (ktl_setjmp(_h16.jb) == 0) {
        (void)(*D_T2iii_at(g, ((T_2ii){7, 7})));
        ktl_htop = _h16.prev;
    } else {
        void *_fx = ktl_try_land(&_h16);
        if (ktl_isa(((ktl_exc *)_fx)->cls, KTL_E_LookupError)) { ktl_print_exc_repr(_fx); ktl_putc(' '); ktl_print_s(((ktl_exc *)_fx)->str); ktl_newline(); } else ktl_reraise(_fx);
    }

    S_T2ii *st = S_T2ii_from(5, (T_2ii[]){((T_2ii){1, 2}), ((T_2ii){0, 0}), ((T_2ii){3, -1}), ((T_2ii){-1, -1}), ((T_2ii){2, 1})});
    ({ S_T2ii * _pv17 = st; ktl_print_S_T2ii(_pv17); ktl_newline(); });
    S_i *s = S_i_new();
    for (int64_t i = 1; i <= 100; i++) S_i_add(s, ktl_mod(i * 7, 61));
    for (int64_t v = 0; v < 61; v += 2) S_i_discard(s, v);
    ({ S_i * _pv18 = s; ktl_print_S_i(_pv18); ktl_newline(); });
    /* for v in s: the table in slot order. */
    int64_t total = 0, firsts = 0;
    { int64_t _n19 = s->used; for (int64_t _k20 = 0; _k20 <= s->mask; _k20++) { if (KTL_UNLIKELY(s->used != _n19)) ktl_set_changed(); if (s->table[_k20].st != 1) continue; int64_t v = s->table[_k20].key; total += v; if (firsts < 3) { ({ int64_t _pv21 = v; ktl_print_i(_pv21); ktl_putc(' '); }); firsts++; } } }
    ({ int64_t _pv22 = total; ktl_print_i(_pv22); ktl_newline(); });
    ktl_handler _h23; ktl_try_enter(&_h23);
    if (ktl_setjmp(_h23.jb) == 0) {
        int64_t _n24 = s->used; for (int64_t _k25 = 0; _k25 <= s->mask; _k25++) { if (KTL_UNLIKELY(s->used != _n24)) ktl_set_changed(); if (s->table[_k25].st != 1) continue; int64_t v = s->table[_k25].key; S_i_add(s, v + 1000); }
        ktl_htop = _h23.prev;
    } else {
        void *_fx = ktl_try_land(&_h23);
        if (ktl_isa(((ktl_exc *)_fx)->cls, KTL_E_RuntimeError)) { ktl_print_exc_repr(_fx); ktl_newline(); } else ktl_reraise(_fx);
    }
    /* s.intersection_update(range(0, 30)) over an element plan. */
    ({ S_i *_s26 = s; S_i *_r27 = _s26; { S_i *_t28 = S_i_new(); for (int64_t _i29 = 0; _i29 < 30; _i29++) { int64_t _x30 = _i29; if (S_i_contains(_r27, _x30)) S_i_add(_t28, _x30); } _r27 = _t28; } S_i_take(_s26, _r27); });
    ({ S_i * _pv31 = s; ktl_print_S_i(_pv31); ktl_putc(' '); ktl_print_b(S_i_issubset(s, S_i_from(3, (int64_t[]){1, 3, 5}))); ktl_newline(); });
}

static void kt_optionals(void) {
    Q_i a = ((Q_i){true, 5}), b = ((void)(0), (Q_i){0});
    ({ ktl_print_Qi(a); ktl_putc(' '); ktl_repr_Qi(b); ktl_putc(' '); ktl_print_b(Qi_eq(a, b)); ktl_putc(' '); ktl_print_b(Qi_eq(b, b)); ktl_newline(); });
    Q_s e = ({ ktl_str _v1 = ktl_os_getenv(((ktl_str){"KT_EMPTY", 8}), ktl_mkstr(NULL, 0)); (Q_s){_v1.p != NULL, _v1}; });
    Q_s u = ({ ktl_str _v2 = ktl_os_getenv(((ktl_str){"KT_NOT_SET_ANYWHERE", 19}), ktl_mkstr(NULL, 0)); (Q_s){_v2.p != NULL, _v2}; });
    ({ ktl_repr_Qs(e); ktl_putc(' '); ktl_repr_Qs(u); ktl_putc(' '); ktl_print_Qs(((Q_s){true, ((ktl_str){"it's", 4})})); ktl_putc(' '); ktl_repr_Qs(((Q_s){true, ((ktl_str){"it's", 4})})); ktl_newline(); });
    L_i *none = ((void)(0), (L_i *){0});
    L_i *some = L_i_from(2, (int64_t[]){1, 2});
    ({ ktl_print_QLi(none); ktl_putc(' '); ktl_repr_QLi(some); ktl_putc(' '); ktl_print_b(QLi_eq(none, some)); ktl_putc(' '); ktl_print_b(QLi_eq(some, L_i_from(2, (int64_t[]){1, 2}))); ktl_newline(); });
    /* An optional's truth test holds a temporary so the value is read once. */
    bool ta = ({ Q_i _qt = a; _qt.has && (_qt.v != 0); }), tl = ({ L_i * _qt = none; (_qt != NULL) && (_qt->len != 0); });
    ({ ktl_print_b(ta); ktl_putc(' '); ktl_print_b(tl); ktl_putc(' '); ktl_print_none(0); ktl_newline(); });
}

static void kt_sorting_and_calls(void) {
    L_s *w = L_s_from(6, (ktl_str[]){((ktl_str){"pear", 4}), ((ktl_str){"fig", 3}), ((ktl_str){"apple", 5}), ((ktl_str){"kiwi", 4}), ((ktl_str){"banana", 6}), ((ktl_str){"date", 4})});
    L_s *up = ({ L_s * _l1 = L_s_slice(w, 0, INT64_MAX); ({ int64_t _n2 = _l1->len; uint8_t _fv5 = 0; KP_i *_kp3 = (KP_i *)ktl_gc_alloc(sizeof(KP_i) * (size_t)_n2, KTL_NOSCAN); for (int64_t _i4 = 0; _i4 < _n2; _i4++) { _kp3[_i4].k = kt_len(_l1->data[_i4]); _kp3[_i4].i = _i4; } ktl_ksort_KP_i(_kp3, _n2); ktl_str *_tmp6 = (ktl_str *)ktl_gc_alloc(sizeof(ktl_str) * (size_t)_n2, KTL_SCAN); for (int64_t _i4 = 0; _i4 < _n2; _i4++) _tmp6[_i4] = _l1->data[_kp3[_i4].i]; if (_n2) memcpy(_l1->data, _tmp6, sizeof(ktl_str) * (size_t)_n2); ktl_gc_free(_tmp6); ktl_gc_free(_kp3); (void)0; }); _l1; });
    bool rev = w->len > 3;
    L_s *down = ({ L_s * _l7 = L_s_slice(w, 0, INT64_MAX); ({ int64_t _n8 = _l7->len; uint8_t _fv11 = 0; KP_i *_kp9 = (KP_i *)ktl_gc_alloc(sizeof(KP_i) * (size_t)_n8, KTL_NOSCAN); for (int64_t _i10 = 0; _i10 < _n8; _i10++) { _kp9[_i10].k = kt_len(_l7->data[_i10]); _kp9[_i10].i = _i10; } if (rev) ktl_ksort_KP_i_desc(_kp9, _n8); else ktl_ksort_KP_i(_kp9, _n8); ktl_str *_tmp12 = (ktl_str *)ktl_gc_alloc(sizeof(ktl_str) * (size_t)_n8, KTL_SCAN); for (int64_t _i10 = 0; _i10 < _n8; _i10++) _tmp12[_i10] = _l7->data[_kp9[_i10].i]; if (_n8) memcpy(_l7->data, _tmp12, sizeof(ktl_str) * (size_t)_n8); ktl_gc_free(_tmp12); ktl_gc_free(_kp9); (void)0; }); _l7; });
    ({ ktl_print_L_s(up); ktl_putc(' '); ktl_print_L_s(down); ktl_putc(' '); ktl_print_L_s(w); ktl_newline(); });
    /* A key other than an int, a bool or a str sorts on the stable sort. */
    ({ L_s * _pv8 = ({ L_s * _l1 = L_s_slice(w, 0, INT64_MAX); ({ int64_t _n2 = _l1->len; uint8_t _fv5 = ((uint8_t)0); KP_T2is *_kp3 = (KP_T2is *)ktl_gc_alloc(sizeof(KP_T2is) * (size_t)_n2, KTL_SCAN); for (int64_t _i4 = 0; _i4 < _n2; _i4++) { _kp3[_i4].k = ((T_2is){kt_len(_l1->data[_i4]), _l1->data[_i4]}); _kp3[_i4].i = _i4; ktl_sort_unchanged(_l1->len, _n2); } if (rev) ktl_ksort_KP_T2is_desc(_kp3, _n2); else ktl_ksort_KP_T2is(_kp3, _n2); ktl_sort_unchanged(_l1->len, _n2); ktl_str *_tmp6 = (ktl_str *)ktl_gc_alloc(sizeof(ktl_str) * (size_t)_n2, KTL_SCAN); for (int64_t _i4 = 0; _i4 < _n2; _i4++) _tmp6[_i4] = _l1->data[_kp3[_i4].i]; if (_n2) memcpy(_l1->data, _tmp6, sizeof(ktl_str) * (size_t)_n2); ktl_gc_free(_tmp6); ktl_gc_free(_kp3); (void)0; }); _l1; }); ktl_print_L_s(_pv8); ktl_newline(); });
    /* An empty list sorted with a key. */
    L_s *none = L_s_new(0);
    ({ int64_t _n13 = none->len; KP_i *_kp14 = (KP_i *)ktl_gc_alloc(sizeof(KP_i) * (size_t)_n13, KTL_NOSCAN); for (int64_t _i15 = 0; _i15 < _n13; _i15++) { _kp14[_i15].k = kt_len(none->data[_i15]); _kp14[_i15].i = _i15; } ktl_ksort_KP_i(_kp14, _n13); ktl_str *_tmp16 = (ktl_str *)ktl_gc_alloc(sizeof(ktl_str) * (size_t)_n13, KTL_SCAN); for (int64_t _i15 = 0; _i15 < _n13; _i15++) _tmp16[_i15] = none->data[_kp14[_i15].i]; if (_n13) memcpy(none->data, _tmp16, sizeof(ktl_str) * (size_t)_n13); ktl_gc_free(_tmp16); ktl_gc_free(_kp14); (void)0; });
    ({ ktl_print_L_s(none); ktl_putc(' '); ktl_print_s(ktl_min_L_s(w)); ktl_putc(' '); ktl_print_i(ktl_imax(ktl_imax(3, 9), 4)); ktl_putc(' '); ktl_print_f(ktl_fmin(((double)2), 1.5)); ktl_putc(' '); ktl_print_i(ktl_str_count_words(((ktl_str){" a bb  c ", 9}))); ktl_putc(' '); ktl_print_i(ktl_str_split_count(((ktl_str){"a,b,,c", 6}), ((ktl_str){",", 1}))); ktl_newline(); });

    T_2ss sx = ({ ktl_str _parts17[2]; ktl_path_splitext(((ktl_str){"a/b.c.txt", 9}), _parts17); ((T_2ss){_parts17[0], _parts17[1]}); });
    T_3sss pt = ({ ktl_str _parts18[3]; ktl_str_rpartition(((ktl_str){"k=v=w", 5}), ((ktl_str){"=", 1}), _parts18); ((T_3sss){_parts18[0], _parts18[1], _parts18[2]}); });
    ({ ktl_print_T_2ss(sx); ktl_putc(' '); ktl_print_T_3sss(pt); ktl_putc(' '); ktl_print_s(ktl_path_join(ktl_path_join(((ktl_str){"a", 1}), ((ktl_str){"b", 1})), ((ktl_str){"c.txt", 5}))); ktl_newline(); });

    ktl_seed(7);
    L_i *xs = L_i_from(3, (int64_t[]){10, 20, 30});
    for (int k = 0; k < 20; k++) {
        int64_t c = ({ L_i * _l19 = xs; _l19->data[ktl_choice_index(_l19->len)]; });
        KT_CHECK(c == 10 || c == 20 || c == 30);
    }
    ktl_handler _h20; ktl_try_enter(&_h20);
    if (ktl_setjmp(_h20.jb) == 0) {
        L_i *empty = L_i_new(0);
        (void)({ L_i * _l21 = empty; _l21->data[ktl_choice_index(_l21->len)]; });
        ktl_htop = _h20.prev;
    } else {
        void *_fx = ktl_try_land(&_h20);
        if (ktl_isa(((ktl_exc *)_fx)->cls, KTL_E_IndexError)) { ktl_print_exc_repr(_fx); ktl_newline(); } else ktl_reraise(_fx);
    }
    ktl_fsum f = { ((double)(INT64_C(0))), 0.0 };
    static const double parts[] = {1e100, 1.0, -1e100};
    for (int k = 0; k < 3; k++) { double _x22 = parts[k]; ktl_fsum_add(&f, _x22); }
    KT_CHECK(ktl_fsum_done(f) == 1.0);
    ({ ktl_range _pv23 = ktl_range_new(0, 10, 3); ktl_range _pv24 = ((ktl_range){0, 5, 1}); ktl_print_range(_pv23); ktl_putc(' '); ktl_print_range(_pv24); ktl_putc(' '); ktl_print_i(ktl_range_len(_pv23)); ktl_putc(' '); ktl_print_i(ktl_range_at(_pv23, -1)); ktl_putc(' '); ktl_print_b(ktl_range_contains(_pv23, 9)); ktl_newline(); });
}

static void kt_text(void) {
    int64_t n = 1234567;
    double x = -1234.5;
    ktl_str s = ((ktl_str){"ab", 2});
    ({ ktl_print_s(({ ktl_sb _sb1; ktl_sb_init(&_sb1); ktl_sb_group_i(&_sb1, "%lld", n, ',', 0, false); ktl_sb_add(&_sb1, ((ktl_str){" ", 1})); ktl_sb_group_i(&_sb1, "%+lld", n, '_', 0, false); ktl_sb_add(&_sb1, ((ktl_str){" ", 1})); ktl_sb_group_i(&_sb1, "%lld", n, ',', 12, false); ktl_sb_add(&_sb1, ((ktl_str){"|", 1})); ktl_sb_group_f(&_sb1, "%.2f", (double)(x), ',', 0, false); ktl_sb_done(&_sb1); })); ktl_newline(); });
    ({ ktl_print_s(({ ktl_sb _sb2; ktl_sb_init(&_sb2); ktl_sb_fmt_f(&_sb2, "%8.3f", x); ktl_sb_add(&_sb2, ((ktl_str){"|", 1})); ktl_sb_pad(&_sb2, s, 6, false); ktl_sb_add(&_sb2, ((ktl_str){"|", 1})); ktl_sb_pad(&_sb2, s, 6, true); ktl_sb_add(&_sb2, ((ktl_str){"|", 1})); ktl_sb_fmt_i(&_sb2, "%llx", 255); ktl_sb_add(&_sb2, ((ktl_str){"|", 1})); ktl_sb_fmt_f(&_sb2, "%f", (double)(0.25) * 100.0); ktl_sb_add(&_sb2, KTL_LIT("%")); ktl_sb_add(&_sb2, ((ktl_str){"|", 1})); ktl_sb_pad(&_sb2, ktl_bool_str(n > 0), 7, false); ktl_sb_add(&_sb2, ((ktl_str){"|", 1})); ktl_sb_int(&_sb2, n); ktl_sb_float(&_sb2, x); ktl_sb_done(&_sb2); })); ktl_newline(); });
    /* print(n, s, sep="-", file=sys.stdout) and print(..., file=sys.stderr). */
    ({ int64_t _pv3 = n; ktl_str _pv4 = s; ktl_file *_file5 = ktl_stdout; ktl_str _sep6 = ((ktl_str){"-", 1}); ktl_sb _sb7; ktl_sb_init(&_sb7); ktl_capstate _cs8 = ktl_cap_begin(&_sb7); ktl_print_i(_pv3); ktl_print_s(_sep6); ktl_print_s(_pv4); ktl_newline(); ktl_cap_end(_cs8); ktl_file_print(_file5, &_sb7); });
    ({ ktl_str _pv9 = ktl_str_cat(ktl_int_str(n), ktl_float_str(x)); ktl_file *_file10 = ktl_stderr; ktl_sb _sb11; ktl_sb_init(&_sb11); ktl_capstate _cs12 = ktl_cap_begin(&_sb11); ktl_print_s(_pv9); ktl_newline(); ktl_cap_end(_cs12); ktl_file_print(_file10, &_sb11); });
    ({ ktl_str _pv13 = ktl_str_rep(s, 3); ktl_str _pv14 = ktl_str_slice_step(((ktl_str){"abcdef", 6}), KTL_NOIDX, KTL_NOIDX, -2); ktl_str _pv15 = ktl_str_at(s, -1); ktl_print_s(_pv13); ktl_putc(' '); ktl_print_s(_pv14); ktl_putc(' '); ktl_print_s(_pv15); ktl_putc(' '); ktl_print_b((!ktl_str_eq(_pv13, s))); ktl_putc(' '); ktl_print_b((ktl_str_cmp(_pv13, s) > 0)); ktl_newline(); });
}

static void kt_raise_app(void) {
    { void *_x = ({ C_AppError *_o1 = (C_AppError *)ktl_obj_new(sizeof(C_AppError)); _o1->cls = KT_C_AppError; _o1->exc_str = ((ktl_str){"boom", 4}); _o1->exc_args = ((ktl_str){"'boom'", 6}); _o1->f_code = 7; _o1; }); ktl_raise_at(_x, 42, "kt_raise_app"); }
}

static void kt_exceptions(void) {
    ktl_handler _h1; ktl_try_enter(&_h1);
    if (ktl_setjmp(_h1.jb) == 0) {
        ktl_handler _h2; ktl_try_enter(&_h2);
        if (ktl_setjmp(_h2.jb) == 0) {
            kt_raise_app();
            ktl_htop = _h2.prev;
        } else {
            void *_fx = ktl_try_land(&_h2);
            if (ktl_isa(((ktl_exc *)_fx)->cls, KTL_E_ValueError)) { ktl_print_s(((ktl_str){"wrong handler", 13})); ktl_newline(); } else ktl_reraise(_fx);
        }
        ktl_htop = _h1.prev;
    } else {
        void *_fx = ktl_try_land(&_h1);
        if (ktl_isa(((ktl_exc *)_fx)->cls, KTL_E_Exception)) {
            C_AppError *e = (C_AppError *)_fx;
            ({ ktl_print_exc_repr(e); ktl_putc(' '); ktl_print_s(((ktl_exc *)e)->str); ktl_putc(' '); ktl_print_i(e->f_code); ktl_putc(' '); ktl_print_s(ktl_mkstr(ktl_class_name(e->cls), (int64_t)strlen(ktl_class_name(e->cls)))); ktl_newline(); });
        } else ktl_reraise(_fx);
    }
    KT_CHECK(ktl_htop == NULL);
}

static void ktl_main(void) {
    kt_tuples();
    kt_dicts_sets();
    kt_optionals();
    kt_sorting_and_calls();
    kt_text();
    kt_exceptions();
}
