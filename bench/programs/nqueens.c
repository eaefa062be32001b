#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The same search as the Kestal program: the partial placements of one row
   count are kept in one flat array and grown row by row into another, each
   extended by every column that no earlier queen attacks. */
typedef struct {
    int64_t *items; /* count boards of len queens each */
    int64_t count, len, cap;
} boards;

static void push(boards *b, const int64_t *queens, int64_t col) {
    if ((b->count + 1) * b->len > b->cap) {
        b->cap *= 2;
        b->items = realloc(b->items, (size_t)b->cap * sizeof *b->items);
    }
    int64_t *dst = b->items + b->count * b->len;
    memcpy(dst, queens, (size_t)(b->len - 1) * sizeof *dst);
    dst[b->len - 1] = col;
    b->count++;
}

static bool safe(const int64_t *queens, int64_t row, int64_t col) {
    for (int64_t r = 0; r < row; r++) {
        int64_t c = queens[r];
        if (c == col || llabs(c - col) == row - r) return false;
    }
    return true;
}

/* Two buffers, swapped at every row and kept for the next board size. */
static boards buffers[2];

static const boards *solve(int64_t n) {
    boards *cur = &buffers[0], *next = &buffers[1];
    cur->count = 1;
    cur->len = 0;
    for (int64_t row = 0; row < n; row++) {
        next->count = 0;
        next->len = row + 1;
        for (int64_t i = 0; i < cur->count; i++) {
            const int64_t *queens = cur->items + i * row;
            for (int64_t col = 0; col < n; col++)
                if (safe(queens, row, col)) push(next, queens, col);
        }
        boards *t = cur;
        cur = next;
        next = t;
    }
    return cur;
}

static void print_board(const int64_t *queens, int64_t n) {
    putchar('[');
    for (int64_t i = 0; i < n; i++) printf(i ? ", %lld" : "%lld", (long long)queens[i]);
    putchar(']');
}

int main(void) {
    for (int i = 0; i < 2; i++) {
        buffers[i].cap = 1024;
        buffers[i].items = malloc((size_t)buffers[i].cap * sizeof *buffers[i].items);
    }
    for (int64_t n = 4; n < 13; n++) {
        boards solutions = *solve(n);
        int64_t *mirrored = malloc((size_t)(solutions.count * n) * sizeof *mirrored);
        for (int64_t i = 0; i < solutions.count * n; i++) mirrored[i] = n - 1 - solutions.items[i];
        int64_t *rotated = malloc((size_t)n * sizeof *rotated);
        int64_t symmetric = 0;
        for (int64_t i = 0; i < solutions.count; i++) {
            const int64_t *s = solutions.items + i * n;
            for (int64_t j = 0; j < n; j++) rotated[j] = n - 1 - s[n - 1 - j];
            if (memcmp(rotated, s, (size_t)n * sizeof *s) == 0) symmetric++;
        }
        bool found = false;
        for (int64_t i = 0; i < solutions.count && !found; i++)
            found = memcmp(mirrored, solutions.items + i * n, (size_t)n * sizeof *mirrored) == 0;
        printf("%lld queens: %lld solutions, first ", (long long)n, (long long)solutions.count);
        print_board(solutions.items, n);
        printf(", last ");
        print_board(solutions.items + (solutions.count - 1) * n, n);
        printf("\n  mirror of the first found: %s, symmetric under a half turn: %lld\n", found ? "True" : "False",
               (long long)symmetric);
        free(rotated);
        free(mirrored);
    }
    free(buffers[0].items);
    free(buffers[1].items);
    return 0;
}
