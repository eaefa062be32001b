/* The agent simulation of class_sim.ktl: each agent a struct led by its
   kind, each method one function that tests the kind, a Runner extending
   the common struct with one field, dead agents freed and replaced by new
   ones. */
#include <stdio.h>
#include <stdlib.h>
#include <math.h>

#define SIZE 100.0
#define AGENTS 4000
#define ROUNDS 8000

static long rng_state;

static long rng_next(void) {
    rng_state = (rng_state * 1103515245 + 12345) % 2147483648L;
    return rng_state;
}
static long rng_below(long n) { return rng_next() / 65536 % n; }
static double rng_uniform(void) { return (double)rng_next() / 2147483648.0; }

enum { AGENT, PLANT, WALKER, RUNNER, HUNTER };

typedef struct {
    int kind;
    double x, y, vx, vy, energy;
    long age;
} Agent;

typedef struct {
    Agent base;
    long turns;
} Runner;

static void move(Agent *a) {
    a->x += a->vx;
    a->y += a->vy;
    if (a->x < 0.0) {
        a->x = -a->x;
        a->vx = -a->vx;
    } else if (a->x > SIZE) {
        a->x = 2.0 * SIZE - a->x;
        a->vx = -a->vx;
    }
    if (a->y < 0.0) {
        a->y = -a->y;
        a->vy = -a->vy;
    } else if (a->y > SIZE) {
        a->y = 2.0 * SIZE - a->y;
        a->vy = -a->vy;
    }
}

static int near(Agent *a, Agent *b, double reach) { return fabs(a->x - b->x) + fabs(a->y - b->y) < reach; }

static double cost(Agent *a) {
    switch (a->kind) {
    case WALKER:
    case RUNNER:
        return 0.004 + 0.002 * (a->vx * a->vx + a->vy * a->vy);
    case HUNTER:
        return 0.03;
    default:
        return 0.01;
    }
}

static void step(Agent *a) {
    if (a->kind == PLANT) {
        if (a->age < 400)
            a->energy += 0.05 * (1.0 - a->energy / 8.0);
        else
            a->energy -= 0.1;
        a->age += 1;
        return;
    }
    move(a);
    a->energy -= cost(a);
    a->age += 1;
    if (a->kind == RUNNER && a->age % 16 == 0) {
        double vx = a->vx;
        a->vx = -a->vy;
        a->vy = vx;
        ((Runner *)a)->turns += 1;
    }
}

static void meet(Agent *a, Agent *other) {
    switch (a->kind) {
    case WALKER:
    case RUNNER:
        if (other->kind == PLANT && near(a, other, 6.0)) {
            double bite = 0.5;
            if (other->energy < bite) bite = other->energy;
            other->energy -= bite;
            a->energy += bite;
        }
        break;
    case HUNTER:
        if ((other->kind == WALKER || other->kind == RUNNER) && near(a, other, 8.0)) {
            double gain = other->energy * 0.5;
            other->energy -= gain + 0.5;
            a->energy += gain;
        }
        break;
    }
}

static long score(Agent *a) {
    switch (a->kind) {
    case PLANT:
        return (long)(a->energy * 10.0);
    case RUNNER:
        return ((Runner *)a)->turns * 3 + 1;
    default:
        return a->age % 7 + 1;
    }
}

static Agent *spawn(void) {
    long k = rng_below(5);
    double x = rng_uniform() * SIZE;
    double y = rng_uniform() * SIZE;
    double vx = rng_uniform() * 2.0 - 1.0;
    double vy = rng_uniform() * 2.0 - 1.0;
    double energy = 1.0 + rng_uniform() * 4.0;
    Agent *a;
    if (k == 3) {
        Runner *r = malloc(sizeof *r);
        r->turns = 0;
        a = &r->base;
        vx *= 1.5;
        vy *= 1.5;
    } else {
        a = malloc(sizeof *a);
    }
    a->kind = (int)k;
    if (k == 1) vx = vy = 0.0;
    a->x = x;
    a->y = y;
    a->vx = vx;
    a->vy = vy;
    a->energy = energy;
    a->age = 0;
    return a;
}

static void report(Agent **agents, int rounds, long births) {
    long counts[5] = {0, 0, 0, 0, 0};
    double energy = 0.0;
    long points = 0;
    for (int i = 0; i < AGENTS; i++) {
        Agent *a = agents[i];
        counts[a->kind] += 1;
        energy += a->energy;
        points += score(a);
    }
    printf("round %d: kinds %ld %ld %ld %ld %ld energy %.6f score %ld births %ld\n", rounds, counts[0], counts[1],
           counts[2], counts[3], counts[4], energy, points, births);
}

int main(void) {
    static Agent *agents[AGENTS];
    rng_state = 2024;
    for (int i = 0; i < AGENTS; i++) agents[i] = spawn();
    long births = 0;
    for (int r = 0; r < ROUNDS; r++) {
        for (int i = 0; i < AGENTS; i++) {
            Agent *a = agents[i];
            step(a);
            Agent *other = agents[rng_below(AGENTS)];
            meet(a, other);
        }
        for (int i = 0; i < AGENTS; i++) {
            if (agents[i]->energy <= 0.0) {
                free(agents[i]);
                agents[i] = spawn();
                births += 1;
            }
        }
        if ((r + 1) % 1000 == 0) report(agents, r + 1, births);
    }
    for (int i = 0; i < AGENTS; i++) free(agents[i]);
    return 0;
}
