/* The compiled half of the demo library, built into lib/libdemo.a. */
#include <stdbool.h>
#include <stdint.h>

static int64_t bumps;

int64_t demo_add(int64_t a, int64_t b) { return a + b; }

double demo_scale(double x, double factor) { return x * factor; }

int64_t demo_sum(const int64_t *xs, int64_t n) {
    int64_t total = 0;
    for (int64_t i = 0; i < n; i++)
        total += xs[i];
    return total;
}

bool demo_is_even(int64_t n) { return n % 2 == 0; }

void demo_upper(const char *text, int64_t len, char *out) {
    for (int64_t i = 0; i < len; i++)
        out[i] = text[i] >= 'a' && text[i] <= 'z' ? (char)(text[i] - 'a' + 'A') : text[i];
}

void demo_bump(void) { bumps++; }

int64_t demo_bumps(void) { return bumps; }
