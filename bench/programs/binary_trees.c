#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* A tree is a pool of separately allocated nodes, each holding the pool
   positions of its children (-1 at the leaves). */
typedef struct {
    int64_t **nodes;
    int64_t len, cap;
} pool;

static int64_t make(int64_t depth, pool *p) {
    int64_t *node = malloc(2 * sizeof *node);
    if (depth == 0) {
        node[0] = node[1] = -1;
    } else {
        node[0] = make(depth - 1, p);
        node[1] = make(depth - 1, p);
    }
    if (p->len == p->cap) {
        p->cap = p->cap ? p->cap * 2 : 8;
        p->nodes = realloc(p->nodes, (size_t)p->cap * sizeof *p->nodes);
    }
    p->nodes[p->len++] = node;
    return p->len - 1;
}

static int64_t check(int64_t node, const pool *p) {
    const int64_t *children = p->nodes[node];
    if (children[0] < 0) return 1;
    return 1 + check(children[0], p) + check(children[1], p);
}

static void release(pool *p) {
    for (int64_t i = 0; i < p->len; i++) free(p->nodes[i]);
    free(p->nodes);
}

static int64_t tree(int64_t depth) {
    pool p = {0};
    int64_t root = make(depth, &p);
    int64_t result = check(root, &p);
    release(&p);
    return result;
}

int main(void) {
    int64_t max_depth = 16;
    printf("stretch tree of depth %lld\t check: %lld\n", (long long)(max_depth + 1), (long long)tree(max_depth + 1));
    pool long_lived = {0};
    int64_t long_root = make(max_depth, &long_lived);
    for (int64_t depth = 4; depth <= max_depth; depth += 2) {
        int64_t iterations = (int64_t)1 << (max_depth - depth + 4), total = 0;
        for (int64_t i = 0; i < iterations; i++) total += tree(depth);
        printf("%lld\t trees of depth %lld\t check: %lld\n", (long long)iterations, (long long)depth, (long long)total);
    }
    printf("long lived tree of depth %lld\t check: %lld\n", (long long)max_depth, (long long)check(long_root, &long_lived));
    release(&long_lived);
    return 0;
}
