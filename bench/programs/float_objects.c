#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* Points in one array of structs, filled from sin and cos, normalised in
   place, then reduced to their coordinate-wise maximum. */
enum { POINTS = 100000, ROUNDS = 100 };

typedef struct {
    double x, y, z;
} point;

static void init(point *p, double i) {
    double x = sin(i);
    p->x = x;
    p->y = cos(i) * 3;
    p->z = (x * x) / 2;
}

static void normalize(point *p) {
    double norm = sqrt(p->x * p->x + p->y * p->y + p->z * p->z);
    p->x /= norm;
    p->y /= norm;
    p->z /= norm;
}

static void maximize(point *p, const point *other) {
    p->x = p->x > other->x ? p->x : other->x;
    p->y = p->y > other->y ? p->y : other->y;
    p->z = p->z > other->z ? p->z : other->z;
}

static point benchmark(point *points, int64_t n, double shift) {
    for (int64_t i = 0; i < n; i++) init(&points[i], (double)i + shift);
    for (int64_t i = 0; i < n; i++) normalize(&points[i]);
    point *best = &points[0];
    for (int64_t i = 1; i < n; i++) maximize(best, &points[i]);
    return *best;
}

int main(void) {
    point *points = malloc(POINTS * sizeof *points);
    double total = 0.0;
    for (int64_t r = 0; r < ROUNDS; r++) {
        point best = benchmark(points, POINTS, (double)r * 0.25);
        total += best.x + best.y + best.z;
        if (r % 20 == 0) printf("%lld Point(x=%.12f, y=%.12f, z=%.12f)\n", (long long)r, best.x, best.y, best.z);
    }
    printf("sum of maxima: %.12f\n", total);
    free(points);
    return 0;
}
