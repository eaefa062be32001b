#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    char *p;
    size_t n, cap;
} buf;

static void put(buf *b, const char *s, size_t n) {
    if (b->n + n > b->cap) {
        b->cap = (b->n + n) * 2;
        b->p = realloc(b->p, b->cap);
    }
    memcpy(b->p + b->n, s, n);
    b->n += n;
}

static size_t build(int64_t n) {
    buf b = {0};
    char tmp[32];
    for (int64_t i = 0; i < n; i++) {
        int k = snprintf(tmp, sizeof tmp, "%lld,", (long long)i);
        put(&b, tmp, (size_t)k);
        if (i % 10 == 0) {
            k = snprintf(tmp, sizeof tmp, "<%lld>", (long long)(i % 7));
            put(&b, tmp, (size_t)k);
        }
    }
    free(b.p);
    return b.n;
}

int main(void) {
    int64_t total = 0;
    for (int64_t r = 0; r < 2000; r++) total += (int64_t)build(2000 + r);
    printf("length %lld\n", (long long)total);
    return 0;
}
