/* ---- Hashing of dict keys and set items; the unpacking check ----
 *
 * Two families of hashes:
 *   - table hashes (32 bits) index dicts only, so they need no relation to
 *     Python's: a multiply-xorshift mix of each 64-bit word;
 *   - CPython-compatible hashes (64 bits, never -1) place set items, so that
 *     a set of ints, bools or tuples of those iterates and prints in CPython's
 *     order. CPython randomises its string hash per process, so strings use a
 *     fixed hash of their own in both families.
 */

#define KTL_XXP1 11400714785074694791ULL
#define KTL_XXP2 14029467366897019727ULL
#define KTL_XXP5 2870177450012600261ULL

static inline uint32_t ktl_mix(uint64_t h) {
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return (uint32_t)h;
}

static inline uint64_t ktl_hash_step(uint64_t h, uint64_t w) {
    h = (h ^ w) * 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 29);
}

static inline uint32_t ktl_hash_i(int64_t x) { return ktl_mix((uint64_t)x); }
static inline uint32_t ktl_hash_b(bool x) { return x ? 1u : 0u; }

/* The word loop shared by both string hashes: the length times the golden
   ratio, then one step per little-endian 8-byte word, the last 1 to 7 bytes
   zero-filled into a final word. */
static inline uint64_t ktl_hash_words(ktl_str s) {
    uint64_t h = (uint64_t)s.len * 0x9E3779B97F4A7C15ULL;
    const unsigned char *p = (const unsigned char *)s.p;
    int64_t i = 0;
    for (; i + 8 <= s.len; i += 8) {
        uint64_t w = 0;
        for (int k = 0; k < 8; k++) w |= (uint64_t)p[i + k] << (8 * k);
        h = ktl_hash_step(h, w);
    }
    if (i < s.len) {
        uint64_t w = 0;
        for (int k = 0; i + k < s.len; k++) w |= (uint64_t)p[i + k] << (8 * k);
        h = ktl_hash_step(h, w);
    }
    return h;
}

static inline uint32_t ktl_hash_s(ktl_str s) { return ktl_mix(ktl_hash_words(s)); }

/* 2^61 - 1, the modulus of CPython's numeric hash. */
#define KTL_PYHASH_MOD ((uint64_t)0x1FFFFFFFFFFFFFFFULL)

/* CPython's hash of an int: the magnitude modulo 2^61 - 1 with x's sign;
   -1 is reserved for errors there, so it becomes -2. */
static inline int64_t ktl_pyhash_i(int64_t x) {
    uint64_t m = x < 0 ? 0 - (uint64_t)x : (uint64_t)x;
    int64_t h = (int64_t)(m % KTL_PYHASH_MOD);
    if (x < 0) h = -h;
    return h == -1 ? -2 : h;
}

static inline int64_t ktl_pyhash_b(bool x) { return x ? 1 : 0; }

static inline int64_t ktl_pyhash_s(ktl_str s) {
    uint64_t h = ktl_hash_words(s);
    h ^= h >> 31;
    return (int64_t)h == -1 ? -2 : (int64_t)h;
}

/* CPython's tuple hash (xxHash-based): start from KTL_XXP5, one step per
   field's hash, then fold in the length. */
static inline uint64_t ktl_tuphash_step(uint64_t acc, int64_t lane) {
    acc += (uint64_t)lane * KTL_XXP2;
    acc = (acc << 31) | (acc >> 33);
    return acc * KTL_XXP1;
}

static inline int64_t ktl_tuphash_done(uint64_t acc, int64_t len) {
    acc += (uint64_t)len ^ (KTL_XXP5 ^ 3527539ULL);
    return acc == (uint64_t)-1 ? 1546275796 : (int64_t)acc;
}

/* Unpacking a list of len items into n targets. */
static KTL_COLD KTL_NORETURN void ktl_unpack_error(int64_t len, int64_t n) {
    if (len > n)
        ktl_raise_fmt(KTL_E_ValueError, "too many values to unpack (expected %lld, got %lld)", (long long)n,
                      (long long)len);
    ktl_raise_fmt(KTL_E_ValueError, "not enough values to unpack (expected %lld, got %lld)", (long long)n,
                  (long long)len);
}

static inline void ktl_unpack_check(int64_t len, int64_t n) {
    if (KTL_UNLIKELY(len != n)) ktl_unpack_error(len, n);
}

/* ---- Dicts ----
 *
 * CPython's compact layout: the entries stand in insertion order in a dense
 * array, and a separate open-addressing table of 64-bit slots indexes them.
 * A slot packs the key's 32-bit table hash in its high half and the entry
 * number + 1 in its low half (0 is an empty slot, KTL_SLOT_DEL a deleted
 * one), so probes compare hashes without touching entries and re-indexing
 * never recomputes a hash.
 *
 * Invariants: cap (entry capacity) is a power of two, at least 4; the slot
 * table has 2 * cap slots; live plus deleted slots never exceed cap, so at
 * least half the slots are empty and every probe ends. A deletion only flags
 * the entry (in `dead`, created by the first deletion) and marks its slot;
 * the entry is squeezed out by the next rebuild, which happens when the entry
 * array is full.
 */

#define KTL_SLOT_DEL ((uint64_t)UINT32_MAX)
/* s holds a live entry whose hash is tag >> 32: s ^ tag is then the entry
   number + 1, which is neither 0 (empty) nor all ones (deleted). */
#define KTL_SLOT_HIT(s, tag) ((((s) ^ (tag)) - 1) < (uint64_t)UINT32_MAX - 1)
#define KTL_DICT_MAX_CAP ((int64_t)1 << 30)

static KTL_COLD KTL_NORETURN void ktl_dict_changed(void) {
    ktl_raise_c(KTL_E_RuntimeError, "dictionary changed size during iteration");
}

static inline int64_t ktl_dict_cap_for(int64_t n) {
    if (n > KTL_DICT_MAX_CAP) ktl_panic("dict too large");
    int64_t cap = 4;
    while (cap < n) cap <<= 1;
    return cap;
}

#define KTL_DEFINE_DICT(D, K, V, HASH, EQ, KPRINT, VPRINT, VEQ, SCAN)                              \
    typedef struct {                                                                               \
        K key;                                                                                     \
        V val;                                                                                     \
    } D##_ent;                                                                                     \
    typedef struct D {                                                                             \
        D##_ent *ents;                                                                             \
        uint64_t *slots;                                                                           \
        uint8_t *dead;                                                                             \
        int64_t len, n, cap, mask;                                                                 \
        /* The entry number + 1 of the last key found (0: none), and                               \
           that key as passed, compared bit for bit: an update right after a                       \
           lookup of the same key (d[k] = d.get(k, 0) + 1) skips its hash and                      \
           probe. Reset whenever entries move or die. */                                           \
        int64_t hint;                                                                              \
        K hint_key;                                                                                \
    } D;                                                                                           \
    static inline int64_t D##_hinted(D *d, K k) {                                                  \
        int64_t e = d->hint - 1;                                                                   \
        return e >= 0 && memcmp(&d->hint_key, &k, sizeof(K)) == 0 ? e : -1;                        \
    }                                                                                              \
    static inline int64_t D##_remember(D *d, K k, int64_t e) {                                     \
        d->hint = e + 1;                                                                           \
        d->hint_key = k;                                                                           \
        return e;                                                                                  \
    }                                                                                              \
    /* Out of line: a dict is made once and used many times, and its                           \
       allocations inline would add a hundred bytes where each dict is made. */                    \
    static KTL_NOINLINE D *D##_new(int64_t n) {                                                    \
        int64_t cap = ktl_dict_cap_for(n);                                                         \
        D *d = (D *)ktl_alloc(sizeof(D));                                                          \
        d->ents = (D##_ent *)ktl_gc_alloc((size_t)cap * sizeof(D##_ent), SCAN);                    \
        d->slots = (uint64_t *)ktl_gc_zalloc((size_t)cap * 2 * sizeof(uint64_t));                  \
        d->cap = cap;                                                                              \
        d->mask = cap * 2 - 1;                                                                     \
        return d;                                                                                  \
    }                                                                                              \
    static int64_t D##_find(D *d, K k, uint32_t h) {                                               \
        uint64_t tag = (uint64_t)h << 32, mask = (uint64_t)d->mask;                                \
        for (uint64_t i = h & mask;; i = (i + 1) & mask) {                                         \
            uint64_t s = d->slots[i];                                                              \
            if (s == 0) return -1;                                                                 \
            if (KTL_SLOT_HIT(s, tag) && EQ(d->ents[(uint32_t)s - 1].key, k))                       \
                return D##_remember(d, k, (int64_t)(uint32_t)s - 1);                               \
        }                                                                                          \
    }                                                                                              \
    /* Squeezes deleted entries out (keeping order), doubles the entry array                       \
       when the live entries still fill more than half of it, and rebuilds                         \
       the slots from the old slots, in their order, without re-hashing. */                        \
    static KTL_COLD void D##_rebuild(D *d) {                                                       \
        uint32_t *renum = NULL;                                                                    \
        d->hint = 0;                                                                               \
        if (d->dead) {                                                                             \
            renum = (uint32_t *)ktl_xmalloc((size_t)d->n * sizeof(uint32_t));                      \
            int64_t j = 0;                                                                         \
            for (int64_t i = 0; i < d->n; i++) {                                                   \
                if (d->dead[i]) continue;                                                          \
                renum[i] = (uint32_t)j;                                                            \
                d->ents[j++] = d->ents[i];                                                         \
            }                                                                                      \
            memset(d->ents + j, 0, (size_t)(d->n - j) * sizeof(D##_ent));                          \
            d->n = j;                                                                              \
            ktl_gc_free(d->dead);                                                                  \
            d->dead = NULL;                                                                        \
        }                                                                                          \
        int64_t cap = d->cap;                                                                      \
        if (d->len > cap / 2) {                                                                    \
            if (cap >= KTL_DICT_MAX_CAP) ktl_panic("dict too large");                              \
            cap *= 2;                                                                              \
            d->ents = (D##_ent *)ktl_gc_realloc(d->ents, (size_t)d->n * sizeof(D##_ent),           \
                                                (size_t)cap * sizeof(D##_ent), SCAN);              \
        }                                                                                          \
        uint64_t *old = d->slots, oldn = (uint64_t)d->mask + 1;                                    \
        uint64_t mask = (uint64_t)cap * 2 - 1;                                                     \
        uint64_t *slots = (uint64_t *)ktl_gc_zalloc((size_t)(mask + 1) * sizeof(uint64_t));        \
        for (uint64_t i = 0; i < oldn; i++) {                                                      \
            uint64_t s = old[i];                                                                   \
            if (s == 0 || s == KTL_SLOT_DEL) continue;                                             \
            uint64_t e = (uint32_t)s - 1, h = s >> 32;                                             \
            if (renum) e = renum[e];                                                               \
            uint64_t j = h & mask;                                                                 \
            while (slots[j]) j = (j + 1) & mask;                                                   \
            slots[j] = (h << 32) | (e + 1);                                                        \
        }                                                                                          \
        ktl_gc_free(old);                                                                          \
        free(renum);                                                                               \
        d->slots = slots;                                                                          \
        d->cap = cap;                                                                              \
        d->mask = (int64_t)mask;                                                                   \
    }                                                                                              \
    static void D##_insert_new(D *d, K k, V v, uint32_t h) {                                       \
        if (KTL_UNLIKELY(d->n == d->cap)) D##_rebuild(d);                                          \
        int64_t e = d->n++;                                                                        \
        d->len++;                                                                                  \
        d->ents[e].key = k;                                                                        \
        d->ents[e].val = v;                                                                        \
        uint64_t mask = (uint64_t)d->mask, i = h & mask;                                           \
        while (d->slots[i] != 0 && d->slots[i] != KTL_SLOT_DEL) i = (i + 1) & mask;                \
        d->slots[i] = ((uint64_t)h << 32) | (uint64_t)(e + 1);                                     \
    }                                                                                              \
    static void D##_set(D *d, K k, V v) {                                                          \
        int64_t e = D##_hinted(d, k);                                                              \
        if (e >= 0) {                                                                              \
            d->ents[e].val = v;                                                                    \
            return;                                                                                \
        }                                                                                          \
        uint32_t h = HASH(k);                                                                      \
        e = D##_find(d, k, h);                                                                     \
        if (e >= 0) d->ents[e].val = v;                                                            \
        else D##_insert_new(d, k, v, h);                                                           \
    }                                                                                              \
    /* KeyError whose text is the key's repr. */                                                   \
    static KTL_COLD KTL_NORETURN void D##_key_error(K k) {                                         \
        ktl_sb b;                                                                                  \
        ktl_sb_init(&b);                                                                           \
        ktl_capstate cs = ktl_cap_begin(&b);                                                       \
        KPRINT(k);                                                                                 \
        ktl_cap_end(cs);                                                                           \
        ktl_key_error_repr(ktl_sb_done(&b));                                                       \
    }                                                                                              \
    static inline V *D##_at(D *d, K k) {                                                           \
        int64_t e = D##_hinted(d, k);                                                              \
        if (e < 0) e = D##_find(d, k, HASH(k));                                                    \
        if (KTL_UNLIKELY(e < 0)) D##_key_error(k);                                                 \
        return &d->ents[e].val;                                                                    \
    }                                                                                              \
    static inline bool D##_contains(D *d, K k) { return D##_find(d, k, HASH(k)) >= 0; }            \
    static inline V D##_get(D *d, K k, V def) {                                                    \
        int64_t e = D##_find(d, k, HASH(k));                                                       \
        return e < 0 ? def : d->ents[e].val;                                                       \
    }                                                                                              \
    static V D##_setdefault(D *d, K k, V def) {                                                    \
        uint32_t h = HASH(k);                                                                      \
        int64_t e = D##_find(d, k, h);                                                             \
        if (e >= 0) return d->ents[e].val;                                                         \
        D##_insert_new(d, k, def, h);                                                              \
        return def;                                                                                \
    }                                                                                              \
    /* Unlinks k and returns its entry index (the entry stays readable until                       \
       the next insertion), or -1. */                                                              \
    static int64_t D##_remove(D *d, K k) {                                                         \
        uint32_t h = HASH(k);                                                                      \
        uint64_t tag = (uint64_t)h << 32, mask = (uint64_t)d->mask;                                \
        for (uint64_t i = h & mask;; i = (i + 1) & mask) {                                         \
            uint64_t s = d->slots[i];                                                              \
            if (s == 0) return -1;                                                                 \
            if (KTL_SLOT_HIT(s, tag) && EQ(d->ents[(uint32_t)s - 1].key, k)) {                     \
                int64_t e = (int64_t)(uint32_t)s - 1;                                              \
                d->slots[i] = KTL_SLOT_DEL;                                                        \
                d->hint = 0;                                                                       \
                if (!d->dead) d->dead = (uint8_t *)ktl_gc_zalloc((size_t)d->cap);                  \
                d->dead[e] = 1;                                                                    \
                d->len--;                                                                          \
                return e;                                                                          \
            }                                                                                      \
        }                                                                                          \
    }                                                                                              \
    static V D##_pop(D *d, K k) {                                                                  \
        int64_t e = D##_remove(d, k);                                                              \
        if (KTL_UNLIKELY(e < 0)) D##_key_error(k);                                                 \
        return d->ents[e].val;                                                                     \
    }                                                                                              \
    static V D##_pop_or(D *d, K k, V def) {                                                        \
        int64_t e = D##_remove(d, k);                                                              \
        return e < 0 ? def : d->ents[e].val;                                                       \
    }                                                                                              \
    static void D##_del(D *d, K k) {                                                               \
        if (KTL_UNLIKELY(D##_remove(d, k) < 0)) D##_key_error(k);                                  \
    }                                                                                              \
    static void D##_clear(D *d) {                                                                  \
        memset(d->ents, 0, (size_t)d->n * sizeof(D##_ent));                                        \
        memset(d->slots, 0, (size_t)(d->mask + 1) * sizeof(uint64_t));                             \
        if (d->dead) ktl_gc_free(d->dead);                                                         \
        d->dead = NULL;                                                                            \
        d->len = d->n = 0;                                                                         \
        d->hint = 0;                                                                               \
    }                                                                                              \
    static D *D##_copy(D *s) {                                                                     \
        D *d = D##_new(s->len);                                                                    \
        for (int64_t i = 0; i < s->n; i++)                                                         \
            if (!s->dead || !s->dead[i])                                                           \
                D##_insert_new(d, s->ents[i].key, s->ents[i].val, HASH(s->ents[i].key));           \
        return d;                                                                                  \
    }                                                                                              \
    static void D##_update(D *d, D *o) {                                                           \
        if (d == o) return;                                                                        \
        for (int64_t i = 0; i < o->n; i++)                                                         \
            if (!o->dead || !o->dead[i]) D##_set(d, o->ents[i].key, o->ents[i].val);               \
    }                                                                                              \
    static bool D##_eq(D *a, D *b) {                                                               \
        if (a == b) return true;                                                                   \
        if (a->len != b->len) return false;                                                        \
        for (int64_t i = 0; i < a->n; i++) {                                                       \
            if (a->dead && a->dead[i]) continue;                                                   \
            int64_t e = D##_find(b, a->ents[i].key, HASH(a->ents[i].key));                         \
            if (e < 0 || !(VEQ(a->ents[i].val, b->ents[e].val))) return false;                     \
        }                                                                                          \
        return true;                                                                               \
    }                                                                                              \
    static void ktl_print_##D(D *d) {                                                              \
        ktl_putc('{');                                                                             \
        bool first = true;                                                                         \
        for (int64_t i = 0; i < d->n; i++) {                                                       \
            if (d->dead && d->dead[i]) continue;                                                   \
            if (!first) ktl_write(", ", 2);                                                        \
            first = false;                                                                         \
            KPRINT(d->ents[i].key);                                                                \
            ktl_write(": ", 2);                                                                    \
            VPRINT(d->ents[i].val);                                                                \
        }                                                                                          \
        ktl_putc('}');                                                                             \
    }

