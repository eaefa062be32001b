#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char *syllables[16] = {"ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo",
                                    "ze", "qu", "ba", "do", "fe", "gi", "ho", "ju"};

typedef struct {
    const char *word;
    size_t len;
    int64_t count;
} entry;

static char *make_text(int64_t words, int64_t seed, size_t *len_out) {
    int64_t x = seed;
    size_t cap = 1 << 16, len = 0;
    char *text = malloc(cap);
    for (int64_t w = 0; w < words; w++) {
        x = (x * 1103515245 + 12345) % 2147483648;
        int64_t parts = 1 + (x >> 16) % 4;
        if (len + 2 * parts + 1 > cap) text = realloc(text, cap *= 2);
        if (w > 0) text[len++] = ' ';
        for (int64_t p = 0; p < parts; p++) {
            x = (x * 1103515245 + 12345) % 2147483648;
            memcpy(text + len, syllables[(x >> 16) % 16], 2);
            len += 2;
        }
    }
    *len_out = len;
    return text;
}

static uint64_t hash(const char *s, size_t n) {
    uint64_t h = 1469598103934665603u;
    for (size_t i = 0; i < n; i++) h = (h ^ (unsigned char)s[i]) * 1099511628211u;
    return h;
}

static int by_rank(const void *pa, const void *pb) {
    const entry *a = pa, *b = pb;
    if (a->count != b->count) return a->count > b->count ? -1 : 1;
    size_t n = a->len < b->len ? a->len : b->len;
    int c = memcmp(a->word, b->word, n);
    if (c != 0) return c;
    return a->len < b->len ? -1 : a->len > b->len;
}

int main(void) {
    size_t len;
    char *text = make_text(2000000, 42, &len);
    size_t cap = 1024, used = 0;
    entry *table = calloc(cap, sizeof *table);
    int64_t total = 0;
    for (size_t i = 0; i < len;) {
        while (i < len && text[i] == ' ') i++;
        if (i == len) break;
        size_t start = i;
        while (i < len && text[i] != ' ') i++;
        size_t n = i - start;
        if (2 * (used + 1) > cap) {
            entry *old = table;
            size_t old_cap = cap;
            cap *= 2;
            table = calloc(cap, sizeof *table);
            for (size_t k = 0; k < old_cap; k++)
                if (old[k].word) {
                    size_t h = hash(old[k].word, old[k].len) & (cap - 1);
                    while (table[h].word) h = (h + 1) & (cap - 1);
                    table[h] = old[k];
                }
            free(old);
        }
        size_t h = hash(text + start, n) & (cap - 1);
        while (table[h].word && (table[h].len != n || memcmp(table[h].word, text + start, n) != 0))
            h = (h + 1) & (cap - 1);
        if (!table[h].word) {
            table[h] = (entry){text + start, n, 0};
            used++;
        }
        table[h].count++;
        total++;
    }
    entry *ranked = malloc(used * sizeof *ranked);
    size_t r = 0;
    for (size_t k = 0; k < cap; k++)
        if (table[k].word) ranked[r++] = table[k];
    qsort(ranked, used, sizeof *ranked, by_rank);
    printf("%lld words, %zu distinct, text of %zu characters\n", (long long)total, used, len);
    for (size_t i = 0; i < 10; i++) printf("%.*s %lld\n", (int)ranked[i].len, ranked[i].word, (long long)ranked[i].count);
    for (size_t i = used - 3; i < used; i++)
        printf("%.*s %lld\n", (int)ranked[i].len, ranked[i].word, (long long)ranked[i].count);
    free(ranked);
    free(table);
    free(text);
    return 0;
}
