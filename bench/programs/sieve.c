#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static bool *sieve(int64_t limit) {
    bool *flags = malloc((size_t)limit + 1);
    memset(flags, 1, (size_t)limit + 1);
    flags[0] = flags[1] = false;
    for (int64_t i = 2; i * i <= limit; i++)
        if (flags[i])
            for (int64_t j = i * i; j <= limit; j += i) flags[j] = false;
    return flags;
}

int main(void) {
    int64_t total = 0, tail = 0;
    for (int64_t round = 0; round < 20; round++) {
        int64_t limit = 2000000 + round * 100000, count = 0;
        bool *flags = sieve(limit);
        for (int64_t k = 0; k <= limit; k++)
            if (flags[k]) {
                count++;
                tail = k;
            }
        total += count;
        printf("primes up to %lld: %lld, largest %lld\n", (long long)limit, (long long)count, (long long)tail);
        free(flags);
    }
    printf("total %lld\n", (long long)total);
    return 0;
}
