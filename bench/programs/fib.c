// Recursive Fibonacci, as bench/programs/fib.ktl.
#include <stdint.h>
#include <stdio.h>

static int64_t fib(int64_t n) {
    if (n < 2)
        return n;
    return fib(n - 1) + fib(n - 2);
}

int main(void) {
    int64_t total = 0;
    for (int64_t i = 25; i < 36; i++)
        total += fib(i);
    printf("fib(35) = %lld\n", (long long)fib(35));
    printf("sum of fib(25..35) = %lld\n", (long long)total);
    return 0;
}
