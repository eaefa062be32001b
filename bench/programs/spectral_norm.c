#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static double a(int64_t i, int64_t j) { return 1.0 / (double)((i + j) * (i + j + 1) / 2 + i + 1); }

static void times(const double *u, double *out, int64_t n) {
    for (int64_t i = 0; i < n; i++) {
        double s = 0.0;
        for (int64_t j = 0; j < n; j++) s += a(i, j) * u[j];
        out[i] = s;
    }
}

static void times_transposed(const double *u, double *out, int64_t n) {
    for (int64_t i = 0; i < n; i++) {
        double s = 0.0;
        for (int64_t j = 0; j < n; j++) s += a(j, i) * u[j];
        out[i] = s;
    }
}

static void times_ata(const double *u, double *out, double *tmp, int64_t n) {
    times(u, tmp, n);
    times_transposed(tmp, out, n);
}

int main(void) {
    int64_t n = 6000;
    double *u = malloc(n * sizeof *u), *v = malloc(n * sizeof *v), *tmp = malloc(n * sizeof *tmp);
    for (int64_t i = 0; i < n; i++) u[i] = 1.0, v[i] = 0.0;
    for (int k = 0; k < 10; k++) {
        times_ata(u, v, tmp, n);
        times_ata(v, u, tmp, n);
    }
    double vbv = 0.0, vv = 0.0;
    for (int64_t i = 0; i < n; i++) {
        vbv += u[i] * v[i];
        vv += v[i] * v[i];
    }
    printf("%.9f\n", sqrt(vbv / vv));
    free(u);
    free(v);
    free(tmp);
    return 0;
}
