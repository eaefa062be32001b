/* ---- Ranges ----
 *
 * A range is the value {start, stop, step}, passed by value; its step is never
 * 0. Lengths, membership and indexing work on unsigned 64-bit differences, so
 * a range that spans more than half the int64 values (range(INT64_MIN,
 * INT64_MAX)) still counts correctly.
 */

typedef struct {
    int64_t start, stop, step;
} ktl_range;

static ktl_range ktl_range_new(int64_t a, int64_t b, int64_t step) {
    if (KTL_UNLIKELY(step == 0)) ktl_raise_c(KTL_E_ValueError, "range() arg 3 must not be zero");
    return (ktl_range){a, b, step};
}

/* The number of values as an unsigned count (up to 2^64 - 1). */
static inline uint64_t ktl_range_ulen(ktl_range r) {
    if (r.step > 0) {
        if (r.start >= r.stop) return 0;
        return ((uint64_t)r.stop - (uint64_t)r.start - 1) / (uint64_t)r.step + 1;
    }
    if (r.start <= r.stop) return 0;
    return ((uint64_t)r.start - (uint64_t)r.stop - 1) / (0 - (uint64_t)r.step) + 1;
}

/* The number of values, for loops and truth tests. Only a range over nearly
   all int64 values with step 1 or -1 has more values than an int holds; it
   counts as INT64_MAX values, so a loop over it runs (practically) forever
   and it is true, as in Python. */
static inline int64_t ktl_range_len(ktl_range r) {
    uint64_t n = ktl_range_ulen(r);
    return n > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)n;
}

static KTL_COLD KTL_NORETURN void ktl_range_too_long(void) {
    ktl_raise_c(KTL_E_OverflowError, "Python int too large to convert to C ssize_t");
}

/* len(r): like Python, OverflowError when the count doesn't fit an int. */
static inline int64_t ktl_range_len_checked(ktl_range r) {
    uint64_t n = ktl_range_ulen(r);
    if (KTL_UNLIKELY(n > (uint64_t)INT64_MAX)) ktl_range_too_long();
    return (int64_t)n;
}

static inline int64_t ktl_range_at(ktl_range r, int64_t i) {
    uint64_t n = ktl_range_ulen(r), u;
    if (i < 0) {
        uint64_t back = 0 - (uint64_t)i;
#ifndef KTL_UNCHECKED
        if (KTL_UNLIKELY(back > n)) ktl_index_error("range object", i, (int64_t)n);
#endif
        u = n - back;
    } else {
        u = (uint64_t)i;
#ifndef KTL_UNCHECKED
        if (KTL_UNLIKELY(u >= n)) ktl_index_error("range object", i, (int64_t)n);
#endif
    }
    return (int64_t)((uint64_t)r.start + u * (uint64_t)r.step);
}

static bool ktl_range_contains(ktl_range r, int64_t x) {
    uint64_t d, s;
    if (r.step > 0) {
        if (x < r.start || x >= r.stop) return false;
        d = (uint64_t)x - (uint64_t)r.start;
        s = (uint64_t)r.step;
    } else {
        if (x > r.start || x <= r.stop) return false;
        d = (uint64_t)r.start - (uint64_t)x;
        s = 0 - (uint64_t)r.step;
    }
    return d % s == 0;
}

/* Equal when they produce the same numbers. */
static bool ktl_range_eq(ktl_range a, ktl_range b) {
    uint64_t n = ktl_range_ulen(a);
    if (n != ktl_range_ulen(b)) return false;
    if (n == 0) return true;
    if (a.start != b.start) return false;
    return n == 1 || a.step == b.step;
}

static void ktl_print_range(ktl_range r) {
    ktl_write("range(", 6);
    ktl_print_i(r.start);
    ktl_write(", ", 2);
    ktl_print_i(r.stop);
    if (r.step != 1) {
        ktl_write(", ", 2);
        ktl_print_i(r.step);
    }
    ktl_putc(')');
}

