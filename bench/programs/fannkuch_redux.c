#include <stdint.h>
#include <stdio.h>

static void fannkuch(int64_t n, int64_t *checksum_out, int64_t *max_out) {
    int64_t perm1[16], perm[16], count[16];
    for (int64_t i = 0; i < n; i++) perm1[i] = i;
    int64_t max_flips = 0, checksum = 0, permutation = 0, r = n;
    for (;;) {
        while (r != 1) {
            count[r - 1] = r;
            r--;
        }
        for (int64_t i = 0; i < n; i++) perm[i] = perm1[i];
        int64_t flips = 0;
        for (int64_t k = perm[0]; k != 0; k = perm[0]) {
            for (int64_t i = 0, j = k; i < j; i++, j--) {
                int64_t t = perm[i];
                perm[i] = perm[j];
                perm[j] = t;
            }
            flips++;
        }
        if (flips > max_flips) max_flips = flips;
        checksum += permutation % 2 == 0 ? flips : -flips;
        for (;;) {
            if (r == n) {
                *checksum_out = checksum;
                *max_out = max_flips;
                return;
            }
            int64_t first = perm1[0];
            for (int64_t i = 0; i < r; i++) perm1[i] = perm1[i + 1];
            perm1[r] = first;
            if (--count[r] > 0) break;
            r++;
        }
        permutation++;
    }
}

int main(void) {
    int64_t n = 10, checksum, max_flips;
    fannkuch(n, &checksum, &max_flips);
    printf("%lld\nPfannkuchen(%lld) = %lld\n", (long long)checksum, (long long)n, (long long)max_flips);
    return 0;
}
