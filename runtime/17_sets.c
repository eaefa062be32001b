/* ---- Sets ----
 *
 * A set is CPython's set table itself: entries {hash, key, state} in an
 * open-addressing table probed from hash & mask, 9 linear probes after each
 * start position (when they fit before the end), then a perturbed jump;
 * deleted entries become dummies (hash -1) that searches pass over. Growth,
 * deletion, copying and every whole-set operation follow the CPython
 * operation named beside it, and the hashes of ints, bools and tuples of
 * those are CPython's, so a set of such items iterates and prints in exactly
 * CPython's order. A new set uses the inline table of 8 entries in its
 * header.
 *
 * Invariant: fill (active + dummy entries) stays below 3/5 of the table
 * after every add, so a probe always reaches an empty entry.
 */

#define KTL_SET_PROBES 9
#define KTL_SET_MINSIZE 8

static KTL_COLD KTL_NORETURN void ktl_set_changed(void) {
    ktl_raise_c(KTL_E_RuntimeError, "Set changed size during iteration");
}

static KTL_COLD KTL_NORETURN void ktl_set_pop_empty(void) {
    ktl_raise_c(KTL_E_KeyError, "pop from an empty set");
}

/* The table size CPython picks for at least minused items: the smallest power
   of two from 8 up that is greater than minused. */
static inline uint64_t ktl_set_size_for(int64_t minused) {
    uint64_t n = KTL_SET_MINSIZE;
    while (n <= (uint64_t)minused) n <<= 1;
    return n;
}

/* Tables of int and bool items hold no pointers: the collector needn't read
   them (a table of other items is scanned). */
#define KTL_SET_PLAIN(K) (__builtin_types_compatible_p(K, int64_t) || __builtin_types_compatible_p(K, bool))

#define KTL_DEFINE_SET(S, K, HASH, EQ, KPRINT)                                                     \
    typedef struct {                                                                               \
        int64_t hash;                                                                              \
        K key;                                                                                     \
        uint8_t st; /* 0 empty, 1 active, 2 dummy */                                               \
    } S##_ent;                                                                                     \
    typedef struct S {                                                                             \
        S##_ent *table;                                                                            \
        int64_t fill, used, mask, finger;                                                          \
        S##_ent small[KTL_SET_MINSIZE];                                                            \
    } S;                                                                                           \
    /* Out of line, like D##_new: made once, used many times. */                                  \
    static KTL_NOINLINE S *S##_new(void) {                                                         \
        S *s = (S *)ktl_alloc(sizeof(S));                                                          \
        s->table = s->small;                                                                       \
        s->mask = KTL_SET_MINSIZE - 1;                                                             \
        return s;                                                                                  \
    }                                                                                              \
    /* set_lookkey */                                                                              \
    static int64_t S##_find(S *s, K k, int64_t h) {                                                \
        S##_ent *t = s->table;                                                                     \
        uint64_t mask = (uint64_t)s->mask, perturb = (uint64_t)h, i = (uint64_t)h & mask;          \
        for (;;) {                                                                                 \
            S##_ent *e = &t[i];                                                                    \
            int probes = i + KTL_SET_PROBES <= mask ? KTL_SET_PROBES : 0;                          \
            do {                                                                                   \
                if (e->st == 0) return -1;                                                         \
                if (e->hash == h && e->st == 1 && EQ(e->key, k)) return e - t;                     \
                e++;                                                                               \
            } while (probes--);                                                                    \
            perturb >>= 5;                                                                         \
            i = (i * 5 + 1 + perturb) & mask;                                                      \
        }                                                                                          \
    }                                                                                              \
    /* set_insert_clean: into a table without dummies, k known absent. */                          \
    static void S##_insert_clean(S##_ent *t, uint64_t mask, K k, int64_t h) {                      \
        uint64_t perturb = (uint64_t)h, i = (uint64_t)h & mask;                                    \
        S##_ent *e;                                                                                \
        for (;;) {                                                                                 \
            e = &t[i];                                                                             \
            if (e->st == 0) break;                                                                 \
            if (i + KTL_SET_PROBES <= mask) {                                                      \
                int j = 0;                                                                         \
                for (; j < KTL_SET_PROBES; j++) {                                                  \
                    e++;                                                                           \
                    if (e->st == 0) break;                                                         \
                }                                                                                  \
                if (j < KTL_SET_PROBES) break;                                                     \
            }                                                                                      \
            perturb >>= 5;                                                                         \
            i = (i * 5 + 1 + perturb) & mask;                                                      \
        }                                                                                          \
        e->hash = h;                                                                               \
        e->key = k;                                                                                \
        e->st = 1;                                                                                 \
    }                                                                                              \
    /* set_table_resize */                                                                         \
    static KTL_COLD void S##_resize(S *s, int64_t minused) {                                       \
        uint64_t size = ktl_set_size_for(minused);                                                 \
        S##_ent *old = s->table, *nt, copy[KTL_SET_MINSIZE];                                       \
        uint64_t oldn = (uint64_t)s->mask + 1;                                                     \
        bool oldheap = old != s->small;                                                            \
        if (size == KTL_SET_MINSIZE) {                                                             \
            nt = s->small;                                                                         \
            if (nt == old) {                                                                       \
                if (s->fill == s->used) return;                                                    \
                memcpy(copy, old, sizeof copy);                                                    \
                old = copy;                                                                        \
            }                                                                                      \
            memset(nt, 0, sizeof s->small);                                                        \
        } else {                                                                                   \
            size_t bytes = ktl_items_bytes((int64_t)size, sizeof(S##_ent));                        \
            void *blk = KTL_SET_PLAIN(K) ? ktl_gc_zalloc(bytes) : ktl_gc_alloc(bytes, KTL_SCAN);   \
            nt = (S##_ent *)blk;                                                                   \
        }                                                                                          \
        s->table = nt;                                                                             \
        s->mask = (int64_t)size - 1;                                                               \
        s->fill = s->used;                                                                         \
        for (uint64_t i = 0; i < oldn; i++)                                                        \
            if (old[i].st == 1) S##_insert_clean(nt, size - 1, old[i].key, old[i].hash);           \
        if (oldheap) ktl_gc_free(old);                                                             \
    }                                                                                              \
    /* set_add_entry: true when k was absent. */                                                   \
    static bool S##_add_h(S *s, K k, int64_t h) {                                                  \
        S##_ent *t = s->table, *e, *freeslot = NULL;                                               \
        uint64_t mask = (uint64_t)s->mask, perturb = (uint64_t)h, i = (uint64_t)h & mask;          \
        for (;;) {                                                                                 \
            e = &t[i];                                                                             \
            int probes = i + KTL_SET_PROBES <= mask ? KTL_SET_PROBES : 0;                          \
            do {                                                                                   \
                if (e->st == 0) goto found_unused_or_dummy;                                        \
                if (e->hash == h) {                                                                \
                    if (EQ(e->key, k)) return false;                                               \
                } else if (e->st == 2) {                                                           \
                    freeslot = e;                                                                  \
                }                                                                                  \
                e++;                                                                               \
            } while (probes--);                                                                    \
            perturb >>= 5;                                                                         \
            i = (i * 5 + 1 + perturb) & mask;                                                      \
        }                                                                                          \
    found_unused_or_dummy:                                                                         \
        if (freeslot) {                                                                            \
            freeslot->hash = h;                                                                    \
            freeslot->key = k;                                                                     \
            freeslot->st = 1;                                                                      \
            s->used++;                                                                             \
            return true;                                                                           \
        }                                                                                          \
        e->hash = h;                                                                               \
        e->key = k;                                                                                \
        e->st = 1;                                                                                 \
        s->fill++;                                                                                 \
        s->used++;                                                                                 \
        if ((uint64_t)s->fill * 5 >= mask * 3)                                                     \
            S##_resize(s, s->used > 50000 ? s->used * 2 : s->used * 4);                            \
        return true;                                                                               \
    }                                                                                              \
    static inline bool S##_add(S *s, K k) { return S##_add_h(s, k, HASH(k)); }                     \
    static inline bool S##_contains(S *s, K k) { return S##_find(s, k, HASH(k)) >= 0; }            \
    /* set_discard_entry: true when k was present. */                                              \
    static bool S##_discard_h(S *s, K k, int64_t h) {                                              \
        int64_t i = S##_find(s, k, h);                                                             \
        if (i < 0) return false;                                                                   \
        S##_ent *e = &s->table[i];                                                                 \
        memset(&e->key, 0, sizeof e->key);                                                         \
        e->hash = -1;                                                                              \
        e->st = 2;                                                                                 \
        s->used--;                                                                                 \
        return true;                                                                               \
    }                                                                                              \
    static inline bool S##_discard(S *s, K k) { return S##_discard_h(s, k, HASH(k)); }             \
    static KTL_COLD KTL_NORETURN void S##_key_error(K k) {                                         \
        ktl_sb b;                                                                                  \
        ktl_sb_init(&b);                                                                           \
        ktl_capstate cs = ktl_cap_begin(&b);                                                       \
        KPRINT(k);                                                                                 \
        ktl_cap_end(cs);                                                                           \
        ktl_key_error_repr(ktl_sb_done(&b));                                                       \
    }                                                                                              \
    static void S##_remove(S *s, K k) {                                                            \
        if (!S##_discard(s, k)) S##_key_error(k);                                                  \
    }                                                                                              \
    /* set_pop: the next active entry from the finger on, wrapping around. */                      \
    static K S##_pop(S *s) {                                                                       \
        if (KTL_UNLIKELY(s->used == 0)) ktl_set_pop_empty();                                       \
        S##_ent *e = s->table + (s->finger & s->mask), *limit = s->table + s->mask;                \
        while (e->st != 1) {                                                                       \
            e++;                                                                                   \
            if (e > limit) e = s->table;                                                           \
        }                                                                                          \
        K k = e->key;                                                                              \
        memset(&e->key, 0, sizeof e->key);                                                         \
        e->hash = -1;                                                                              \
        e->st = 2;                                                                                 \
        s->used--;                                                                                 \
        s->finger = (e - s->table) + 1;                                                            \
        return k;                                                                                  \
    }                                                                                              \
    static void S##_clear(S *s) {                                                                  \
        if (s->table != s->small) ktl_gc_free(s->table);                                           \
        memset(s->small, 0, sizeof s->small);                                                      \
        s->table = s->small;                                                                       \
        s->fill = s->used = 0;                                                                     \
        s->mask = KTL_SET_MINSIZE - 1;                                                             \
    }                                                                                              \
    /* set_merge */                                                                                \
    static void S##_merge(S *s, S *o) {                                                            \
        if (o == s || o->used == 0) return;                                                        \
        if ((s->fill + o->used) * 5 >= s->mask * 3) S##_resize(s, (s->used + o->used) * 2);        \
        S##_ent *ot = o->table;                                                                    \
        if (s->fill == 0 && s->mask == o->mask && o->fill == o->used) {                            \
            for (int64_t i = 0; i <= o->mask; i++)                                                 \
                if (ot[i].st == 1) s->table[i] = ot[i];                                            \
            s->fill = o->fill;                                                                     \
            s->used = o->used;                                                                     \
            return;                                                                                \
        }                                                                                          \
        if (s->fill == 0) {                                                                        \
            s->fill = s->used = o->used;                                                           \
            for (int64_t i = 0; i <= o->mask; i++)                                                 \
                if (ot[i].st == 1)                                                                 \
                    S##_insert_clean(s->table, (uint64_t)s->mask, ot[i].key, ot[i].hash);          \
            return;                                                                                \
        }                                                                                          \
        for (int64_t i = 0; i <= o->mask; i++)                                                     \
            if (ot[i].st == 1) S##_add_h(s, ot[i].key, ot[i].hash);                                \
    }                                                                                              \
    static S *S##_copy(S *o) {                                                                     \
        S *s = S##_new();                                                                          \
        S##_merge(s, o);                                                                           \
        return s;                                                                                  \
    }                                                                                              \
    /* A constant set display. CPython folds the constants into a frozenset                        \
       (the items added in order), which its compiler then rebuilds from                           \
       that frozenset's own table order while merging constants, and the                           \
       display copies the rebuilt one. */                                                          \
    static S *S##_from_consts(int64_t n, K const *ks) {                                            \
        S *t = S##_new();                                                                          \
        for (int64_t i = 0; i < n; i++) S##_add(t, ks[i]);                                         \
        S *u = S##_new();                                                                          \
        for (int64_t i = 0; i <= t->mask; i++)                                                     \
            if (t->table[i].st == 1) S##_add_h(u, t->table[i].key, t->table[i].hash);              \
        S *s = S##_copy(u);                                                                        \
        S##_clear(t);                                                                              \
        S##_clear(u);                                                                              \
        return s;                                                                                  \
    }                                                                                              \
    static S *S##_from(int64_t n, K const *ks) {                                                   \
        S *s = S##_new();                                                                          \
        for (int64_t i = 0; i < n; i++) S##_add(s, ks[i]);                                         \
        return s;                                                                                  \
    }                                                                                              \
    /* set_intersection: walk the smaller set, look up in the larger. */                           \
    static S *S##_and(S *a, S *b) {                                                                \
        if (a == b) return S##_copy(a);                                                            \
        S *r = S##_new();                                                                          \
        if (b->used > a->used) {                                                                   \
            S *t = a;                                                                              \
            a = b;                                                                                 \
            b = t;                                                                                 \
        }                                                                                          \
        for (int64_t i = 0; i <= b->mask; i++) {                                                   \
            S##_ent *e = &b->table[i];                                                             \
            if (e->st == 1 && S##_find(a, e->key, e->hash) >= 0) S##_add_h(r, e->key, e->hash);    \
        }                                                                                          \
        return r;                                                                                  \
    }                                                                                              \
    /* set_swap_bodies, keeping only s: s takes t's table and counts. */                           \
    static void S##_take(S *s, S *t) {                                                             \
        if (s == t) return;                                                                        \
        if (s->table != s->small) ktl_gc_free(s->table);                                           \
        if (t->table == t->small) {                                                                \
            memcpy(s->small, t->small, sizeof s->small);                                           \
            s->table = s->small;                                                                   \
        } else {                                                                                   \
            s->table = t->table;                                                                   \
        }                                                                                          \
        s->fill = t->fill;                                                                         \
        s->used = t->used;                                                                         \
        s->mask = t->mask;                                                                         \
        t->table = t->small;                                                                       \
        ktl_gc_free(t);                                                                            \
    }                                                                                              \
    static void S##_and_update(S *s, S *o) { S##_take(s, S##_and(s, o)); }                         \
    /* Resizes the dummies away when they are more than a quarter of the                           \
       table. */                                                                                   \
    static void S##_purge(S *s) {                                                                  \
        if ((uint64_t)(s->fill - s->used) <= (uint64_t)s->mask / 4) return;                        \
        S##_resize(s, s->used > 50000 ? s->used * 2 : s->used * 4);                                \
    }                                                                                              \
    /* set_difference_update_internal */                                                           \
    static void S##_diff_update(S *s, S *o) {                                                      \
        if (s == o) {                                                                              \
            S##_clear(s);                                                                          \
            return;                                                                                \
        }                                                                                          \
        if ((o->used >> 3) > s->used) o = S##_and(s, o);                                           \
        for (int64_t i = 0; i <= o->mask; i++) {                                                   \
            S##_ent *e = &o->table[i];                                                             \
            if (e->st == 1) S##_discard_h(s, e->key, e->hash);                                     \
        }                                                                                          \
        S##_purge(s);                                                                              \
    }                                                                                              \
    /* set_difference */                                                                           \
    static S *S##_sub(S *a, S *b) {                                                                \
        if ((a->used >> 2) > b->used) {                                                            \
            S *r = S##_copy(a);                                                                    \
            S##_diff_update(r, b);                                                                 \
            return r;                                                                              \
        }                                                                                          \
        S *r = S##_new();                                                                          \
        for (int64_t i = 0; i <= a->mask; i++) {                                                   \
            S##_ent *e = &a->table[i];                                                             \
            if (e->st == 1 && S##_find(b, e->key, e->hash) < 0) S##_add_h(r, e->key, e->hash);     \
        }                                                                                          \
        return r;                                                                                  \
    }                                                                                              \
    /* set_symmetric_difference_update */                                                          \
    static void S##_xor_update(S *s, S *o) {                                                       \
        if (s == o) {                                                                              \
            S##_clear(s);                                                                          \
            return;                                                                                \
        }                                                                                          \
        for (int64_t i = 0; i <= o->mask; i++) {                                                   \
            S##_ent *e = &o->table[i];                                                             \
            if (e->st == 1 && !S##_discard_h(s, e->key, e->hash)) S##_add_h(s, e->key, e->hash);   \
        }                                                                                          \
    }                                                                                              \
    /* set_symmetric_difference: a copy of b updated with a. */                                    \
    static S *S##_xor(S *a, S *b) {                                                                \
        S *r = S##_copy(b);                                                                        \
        S##_xor_update(r, a);                                                                      \
        return r;                                                                                  \
    }                                                                                              \
    static S *S##_or(S *a, S *b) {                                                                 \
        S *r = S##_copy(a);                                                                        \
        if (a != b) S##_merge(r, b);                                                               \
        return r;                                                                                  \
    }                                                                                              \
    static bool S##_issubset(S *a, S *b) {                                                         \
        if (a->used > b->used) return false;                                                       \
        for (int64_t i = 0; i <= a->mask; i++) {                                                   \
            S##_ent *e = &a->table[i];                                                             \
            if (e->st == 1 && S##_find(b, e->key, e->hash) < 0) return false;                      \
        }                                                                                          \
        return true;                                                                               \
    }                                                                                              \
    static bool S##_isdisjoint(S *a, S *b) {                                                       \
        if (a == b) return a->used == 0;                                                           \
        if (b->used > a->used) {                                                                   \
            S *t = a;                                                                              \
            a = b;                                                                                 \
            b = t;                                                                                 \
        }                                                                                          \
        for (int64_t i = 0; i <= b->mask; i++) {                                                   \
            S##_ent *e = &b->table[i];                                                             \
            if (e->st == 1 && S##_find(a, e->key, e->hash) >= 0) return false;                     \
        }                                                                                          \
        return true;                                                                               \
    }                                                                                              \
    static bool S##_eq(S *a, S *b) {                                                               \
        if (a == b) return true;                                                                   \
        return a->used == b->used && S##_issubset(a, b);                                           \
    }                                                                                              \
    static void ktl_print_##S(S *s) {                                                              \
        if (s->used == 0) {                                                                        \
            ktl_write("set()", 5);                                                                 \
            return;                                                                                \
        }                                                                                          \
        ktl_putc('{');                                                                             \
        bool first = true;                                                                         \
        for (int64_t i = 0; i <= s->mask; i++) {                                                   \
            if (s->table[i].st != 1) continue;                                                     \
            if (!first) ktl_write(", ", 2);                                                        \
            first = false;                                                                         \
            KPRINT(s->table[i].key);                                                               \
        }                                                                                          \
        ktl_putc('}');                                                                             \
    }

