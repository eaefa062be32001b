/* A small library for the tests: plain C functions in lib/libdemo.a, and
   wrappers that turn the compiler's strings and lists into plain C. */
#define DEMO_LIMIT 50

int64_t demo_add(int64_t a, int64_t b);
double demo_scale(double x, double factor);
int64_t demo_sum(const int64_t *xs, int64_t n);
bool demo_is_even(int64_t n);
void demo_upper(const char *text, int64_t len, char *out);
void demo_bump(void);
int64_t demo_bumps(void);

static inline int64_t demo_total(L_i *xs) { return demo_sum(xs->data, xs->len); }

static inline L_i *demo_squares(int64_t n) {
    L_i *l = L_i_new(n);
    for (int64_t i = 0; i < n; i++)
        L_i_push(l, i * i);
    return l;
}

static inline ktl_str demo_shout(ktl_str text, ktl_str mark) {
    char *out = ktl_alloc_bytes((size_t)(text.len + mark.len));
    demo_upper(text.p, text.len, out);
    memcpy(out + text.len, mark.p, (size_t)mark.len);
    return ktl_mkstr(out, text.len + mark.len);
}

static inline ktl_str demo_longest(L_s *words, bool upper) {
    ktl_str best = KTL_LIT("");
    for (int64_t i = 0; i < words->len; i++)
        if (words->data[i].len > best.len)
            best = words->data[i];
    if (!upper)
        return best;
    return demo_shout(best, KTL_LIT(""));
}
