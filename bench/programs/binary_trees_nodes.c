#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

/* A node owns its two children (both null at the leaves); each node is its
   own allocation, freed when its tree is done with. */
typedef struct node {
    struct node *left, *right;
} node;

static node *make(int64_t depth) {
    node *n = malloc(sizeof *n);
    if (depth == 0) {
        n->left = n->right = NULL;
    } else {
        n->left = make(depth - 1);
        n->right = make(depth - 1);
    }
    return n;
}

static int64_t check(const node *n) {
    if (!n->left || !n->right) return 1;
    return 1 + check(n->left) + check(n->right);
}

static void release(node *n) {
    if (n->left) release(n->left);
    if (n->right) release(n->right);
    free(n);
}

static int64_t tree(int64_t depth) {
    node *root = make(depth);
    int64_t result = check(root);
    release(root);
    return result;
}

int main(void) {
    int64_t max_depth = 16;
    printf("stretch tree of depth %lld\t check: %lld\n", (long long)(max_depth + 1), (long long)tree(max_depth + 1));
    node *long_lived = make(max_depth);
    for (int64_t depth = 4; depth <= max_depth; depth += 2) {
        int64_t iterations = (int64_t)1 << (max_depth - depth + 4), total = 0;
        for (int64_t i = 0; i < iterations; i++) total += tree(depth);
        printf("%lld\t trees of depth %lld\t check: %lld\n", (long long)iterations, (long long)depth, (long long)total);
    }
    printf("long lived tree of depth %lld\t check: %lld\n", (long long)max_depth, (long long)check(long_lived));
    release(long_lived);
    return 0;
}
