#include <stdint.h>
#include <stdio.h>

static int64_t run(int64_t rounds) {
    int64_t x = 12345, acc = 0;
    for (int64_t i = 0; i < rounds; i++) {
        x = (x * 48271 + 11) % 2147483647;
        acc += (x / 1000) % 97;
    }
    return acc + x;
}

int main(void) {
    printf("lcg %lld\n", (long long)run(30000000));
    return 0;
}
