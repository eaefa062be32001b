#include <math.h>
#include <stdio.h>

#define N 5
#define PI 3.141592653589793
#define SOLAR_MASS (4.0 * PI * PI)
#define DAYS_PER_YEAR 365.24

static double x[N] = {0.0, 4.84143144246472090e00, 8.34336671824457987e00, 1.28943695621391310e01,
                      1.53796971148509165e01};
static double y[N] = {0.0, -1.16032004402742839e00, 4.12479856412430479e00, -1.51111514016986312e01,
                      -2.59193146099879641e01};
static double z[N] = {0.0, -1.03622044471123109e-01, -4.03523417114321381e-01, -2.23307578892655734e-01,
                      1.79258772950371181e-01};
static double vx[N] = {0.0, 1.66007664274403694e-03, -2.76742510726862411e-03, 2.96460137564761618e-03,
                       2.68067772490389322e-03};
static double vy[N] = {0.0, 7.69901118419740425e-03, 4.99852801234917238e-03, 2.37847173959480950e-03,
                       1.62824170038242295e-03};
static double vz[N] = {0.0, -6.90460016972063023e-05, 2.30417297573763929e-05, -2.96589568540237556e-05,
                       -9.51592254519715870e-05};
static double m[N] = {1.0, 9.54791938424326609e-04, 2.85885980666130812e-04, 4.36624404335156298e-05,
                      5.15138902046611451e-05};

static double energy(void) {
    double e = 0.0;
    for (int i = 0; i < N; i++) {
        e += 0.5 * m[i] * (vx[i] * vx[i] + vy[i] * vy[i] + vz[i] * vz[i]);
        for (int j = i + 1; j < N; j++) {
            double dx = x[i] - x[j], dy = y[i] - y[j], dz = z[i] - z[j];
            e -= m[i] * m[j] / sqrt(dx * dx + dy * dy + dz * dz);
        }
    }
    return e;
}

static void advance(double dt, long steps) {
    for (long s = 0; s < steps; s++) {
        for (int i = 0; i < N; i++)
            for (int j = i + 1; j < N; j++) {
                double dx = x[i] - x[j], dy = y[i] - y[j], dz = z[i] - z[j];
                double d2 = dx * dx + dy * dy + dz * dz;
                double mag = dt / (d2 * sqrt(d2));
                double mj = m[j] * mag;
                vx[i] -= dx * mj;
                vy[i] -= dy * mj;
                vz[i] -= dz * mj;
                double mi = m[i] * mag;
                vx[j] += dx * mi;
                vy[j] += dy * mi;
                vz[j] += dz * mi;
            }
        for (int i = 0; i < N; i++) {
            x[i] += dt * vx[i];
            y[i] += dt * vy[i];
            z[i] += dt * vz[i];
        }
    }
}

int main(void) {
    for (int k = 0; k < N; k++) {
        m[k] *= SOLAR_MASS;
        vx[k] *= DAYS_PER_YEAR;
        vy[k] *= DAYS_PER_YEAR;
        vz[k] *= DAYS_PER_YEAR;
    }
    double px = 0.0, py = 0.0, pz = 0.0;
    for (int k = 0; k < N; k++) {
        px += vx[k] * m[k];
        py += vy[k] * m[k];
        pz += vz[k] * m[k];
    }
    vx[0] = -px / SOLAR_MASS;
    vy[0] = -py / SOLAR_MASS;
    vz[0] = -pz / SOLAR_MASS;
    printf("%.9f\n", energy());
    advance(0.01, 5000000);
    printf("%.9f\n", energy());
    return 0;
}
