#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>

static bool inside(double cr, double ci, int64_t limit) {
    double zr = 0.0, zi = 0.0;
    for (int64_t i = 0; i < limit; i++) {
        double tr = zr * zr - zi * zi + cr;
        zi = 2.0 * zr * zi + ci;
        zr = tr;
        if (zr * zr + zi * zi > 4.0) return false;
    }
    return true;
}

int main(void) {
    int64_t size = 600, count = 0;
    for (int64_t y = 0; y < size; y++)
        for (int64_t x = 0; x < size; x++)
            if (inside(2.0 * (double)x / (double)size - 1.5, 2.0 * (double)y / (double)size - 1.0, 50))
                count++;
    printf("inside %lld of %lld\n", (long long)count, (long long)(size * size));
    return 0;
}
