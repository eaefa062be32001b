#include <stdint.h>
#include <stdio.h>

static int64_t steps(int64_t n) {
    int64_t count = 0;
    while (n != 1) {
        if (n % 2 == 0)
            n = n / 2;
        else
            n = 3 * n + 1;
        count++;
    }
    return count;
}

int main(void) {
    int64_t total = 0, best = 0, best_start = 0;
    for (int64_t start = 1; start < 1000000; start++) {
        int64_t s = steps(start);
        total += s;
        if (s > best) {
            best = s;
            best_start = start;
        }
    }
    printf("total %lld longest %lld from %lld\n", (long long)total, (long long)best,
           (long long)best_start);
    return 0;
}
