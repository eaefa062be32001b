#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* One open-addressing table of int64 keys with int64 values (linear
   probing, deletion by shifting the run back), used as a dict and a set. */
typedef struct {
    int64_t *keys, *vals;
    bool *used;
    size_t cap, len;
} table;

static uint64_t mix(uint64_t k) {
    k ^= k >> 33;
    k *= 0xff51afd7ed558ccdu;
    k ^= k >> 33;
    return k;
}

static void t_init(table *t, size_t cap) {
    t->cap = cap;
    t->len = 0;
    t->keys = malloc(cap * sizeof(int64_t));
    t->vals = malloc(cap * sizeof(int64_t));
    t->used = calloc(cap, 1);
}

static void t_free(table *t) {
    free(t->keys);
    free(t->vals);
    free(t->used);
}

static size_t t_find(const table *t, int64_t k) {
    size_t h = mix((uint64_t)k) & (t->cap - 1);
    while (t->used[h] && t->keys[h] != k) h = (h + 1) & (t->cap - 1);
    return h;
}

static void t_put(table *t, int64_t k, int64_t v);

static void t_grow(table *t) {
    table old = *t;
    t_init(t, old.cap * 2);
    for (size_t i = 0; i < old.cap; i++)
        if (old.used[i]) t_put(t, old.keys[i], old.vals[i]);
    t_free(&old);
}

static void t_put(table *t, int64_t k, int64_t v) {
    if (2 * (t->len + 1) > t->cap) t_grow(t);
    size_t h = t_find(t, k);
    if (!t->used[h]) {
        t->used[h] = true;
        t->keys[h] = k;
        t->len++;
    }
    t->vals[h] = v;
}

static bool t_has(const table *t, int64_t k) { return t->used[t_find(t, k)]; }

static void t_del(table *t, int64_t k) {
    size_t mask = t->cap - 1, h = t_find(t, k);
    if (!t->used[h]) return;
    t->used[h] = false;
    t->len--;
    for (size_t j = (h + 1) & mask; t->used[j]; j = (j + 1) & mask) {
        size_t home = mix((uint64_t)t->keys[j]) & mask;
        /* Move j back into the hole unless its home lies cyclically in (h, j]. */
        if ((j > h && (home <= h || home > j)) || (j < h && home <= h && home > j)) {
            t->keys[h] = t->keys[j];
            t->vals[h] = t->vals[j];
            t->used[h] = true;
            t->used[j] = false;
            h = j;
        }
    }
}

static int64_t next_key(int64_t x) { return (x * 1103515245 + 12345) % 2147483648; }

static int64_t int_dict(int64_t rounds, int64_t size) {
    table d;
    t_init(&d, 16);
    int64_t x = 7, hits = 0;
    for (int64_t r = 0; r < rounds; r++) {
        x = next_key(x);
        int64_t k = x % size;
        size_t h = t_find(&d, k);
        if (d.used[h]) {
            d.vals[h]++;
            hits++;
        } else {
            t_put(&d, k, 1);
        }
        x = next_key(x);
        int64_t gone = x % size;
        h = t_find(&d, gone);
        if (d.used[h] && d.vals[h] > 2) t_del(&d, gone);
    }
    int64_t result = hits * 1000 + (int64_t)d.len;
    t_free(&d);
    return result;
}

typedef struct {
    char *key;
    size_t len;
    int64_t val;
} str_slot;

static uint64_t str_hash(const char *s, size_t n) {
    uint64_t h = 1469598103934665603u;
    for (size_t i = 0; i < n; i++) h = (h ^ (unsigned char)s[i]) * 1099511628211u;
    return h;
}

static str_slot *str_find(str_slot *slots, size_t cap, const char *s, size_t n) {
    size_t h = str_hash(s, n) & (cap - 1);
    while (slots[h].key && (slots[h].len != n || memcmp(slots[h].key, s, n) != 0)) h = (h + 1) & (cap - 1);
    return &slots[h];
}

static int64_t str_dict(int64_t rounds, int64_t size) {
    char **names = malloc((size_t)size * sizeof *names);
    size_t *lens = malloc((size_t)size * sizeof *lens);
    for (int64_t i = 0; i < size; i++) {
        char tmp[32];
        lens[i] = (size_t)snprintf(tmp, sizeof tmp, "key%lld", (long long)i);
        names[i] = strdup(tmp);
    }
    size_t cap = 16, len = 0;
    str_slot *slots = calloc(cap, sizeof *slots);
    int64_t x = 11;
    for (int64_t i = 0; i < rounds; i++) {
        x = next_key(x);
        int64_t k = x % size;
        str_slot *s = str_find(slots, cap, names[k], lens[k]);
        if (!s->key) {
            if (2 * (len + 1) > cap) {
                str_slot *old = slots;
                size_t old_cap = cap;
                cap *= 2;
                slots = calloc(cap, sizeof *slots);
                for (size_t j = 0; j < old_cap; j++)
                    if (old[j].key) *str_find(slots, cap, old[j].key, old[j].len) = old[j];
                free(old);
                s = str_find(slots, cap, names[k], lens[k]);
            }
            *s = (str_slot){names[k], lens[k], 0};
            len++;
        }
        s->val += i % 7;
    }
    int64_t total = 0;
    for (int64_t i = 0; i < size; i++) {
        str_slot *s = str_find(slots, cap, names[i], lens[i]);
        total += s->key ? s->val : -1;
    }
    for (int64_t i = 0; i < size; i++) free(names[i]);
    free(names);
    free(lens);
    free(slots);
    return total;
}

static int64_t sets(int64_t rounds, int64_t size) {
    int64_t x = 3, result = 0;
    for (int64_t r = 0; r < rounds; r++) {
        table a, b, both, either, only;
        t_init(&a, 16);
        t_init(&b, 16);
        for (int64_t i = 0; i < size; i++) {
            x = next_key(x);
            t_put(&a, x % (4 * size), 0);
            x = next_key(x);
            t_put(&b, x % (4 * size), 0);
        }
        t_init(&both, 16);
        t_init(&either, 16);
        t_init(&only, 16);
        for (size_t i = 0; i < a.cap; i++)
            if (a.used[i]) {
                t_put(&either, a.keys[i], 0);
                if (t_has(&b, a.keys[i]))
                    t_put(&both, a.keys[i], 0);
                else
                    t_put(&only, a.keys[i], 0);
            }
        for (size_t i = 0; i < b.cap; i++)
            if (b.used[i]) t_put(&either, b.keys[i], 0);
        for (int64_t k = 0; k < 4 * size; k += 3)
            if (t_has(&either, k)) t_del(&a, k);
        result += (int64_t)both.len * 3 + (int64_t)either.len * 5 + (int64_t)only.len * 7 + (int64_t)a.len + r;
        t_free(&a);
        t_free(&b);
        t_free(&both);
        t_free(&either);
        t_free(&only);
    }
    return result;
}

int main(void) {
    printf("int dict %lld\n", (long long)int_dict(3000000, 100000));
    printf("str dict %lld\n", (long long)str_dict(2000000, 50000));
    printf("sets %lld\n", (long long)sets(60, 20000));
    return 0;
}
