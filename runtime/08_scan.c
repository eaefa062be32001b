/* ---- Byte scanning: the vector layer and the scans built on it ----
 *
 * Each scan is written once over a handful of vector macros (32-byte AVX2
 * or 16-byte SSE2, chosen by the header from the compiler's target) and ends
 * with a scalar loop for the bytes that remain. Without a vector level
 * KTL_VW is undefined and only the scalar loops are compiled; they give
 * exactly the same results.
 */

/* A vector of KTL_VW bytes; comparisons give 0 or all ones per byte, and
   ktl_vmask gathers the top bit of every byte. Loads and stores are
   unaligned, so a scan may start at any byte. */
#if defined(KTL_AVX2)
#define KTL_VW 32
#define KTL_VALL 0xFFFFFFFFu
#define ktl_vmask(v) ((uint32_t)__builtin_ia32_pmovmskb256((ktl_bvec)(v)))
#elif defined(KTL_SSE2)
#define KTL_VW 16
#define KTL_VALL 0xFFFFu
#define ktl_vmask(v) ((uint32_t)__builtin_ia32_pmovmskb128((ktl_bvec)(v)))
#endif

#ifdef KTL_VW
/* Like the intrinsics headers: a vector is 64-bit lanes for the bit
   operations and is taken as bytes for the byte operations. */
typedef long long ktl_vec __attribute__((vector_size(KTL_VW), may_alias));
typedef long long ktl_vec_u __attribute__((vector_size(KTL_VW), may_alias, aligned(1)));
typedef char ktl_bvec __attribute__((vector_size(KTL_VW)));
typedef unsigned char ktl_uvec __attribute__((vector_size(KTL_VW)));
#define ktl_vload(p) (*(const ktl_vec_u *)(const void *)(p))
#define ktl_vstore(p, v) (*(ktl_vec_u *)(void *)(p) = (v))
#define ktl_vsplat(c) ((ktl_vec)((ktl_bvec){0} + (char)(c)))
#define ktl_veq(a, b) ((ktl_vec)((ktl_bvec)(a) == (ktl_bvec)(b)))
#define ktl_vand(a, b) ((a) & (b))
#define ktl_vor(a, b) ((a) | (b))
#define ktl_vxor(a, b) ((a) ^ (b))
#define ktl_vsub(a, b) ((ktl_vec)((ktl_uvec)(a) - (ktl_uvec)(b)))

/* The unsigned minimum of each byte pair: clang's element-wise builtin, or
   gcc's (and older clang's) machine builtin. */
#if defined(__has_builtin)
#if __has_builtin(__builtin_elementwise_min)
#define ktl_vminu(a, b) ((ktl_vec)__builtin_elementwise_min((ktl_uvec)(a), (ktl_uvec)(b)))
#endif
#endif
#ifndef ktl_vminu
#if defined(KTL_AVX2)
#define ktl_vminu(a, b) ((ktl_vec)__builtin_ia32_pminub256((ktl_bvec)(a), (ktl_bvec)(b)))
#else
#define ktl_vminu(a, b) ((ktl_vec)__builtin_ia32_pminub128((ktl_bvec)(a), (ktl_bvec)(b)))
#endif
#endif

/* Bytes of v in [lo, lo + span]: after subtracting lo, a byte is in range
   exactly when it is its own unsigned minimum with span. */
static inline ktl_vec ktl_vin(ktl_vec v, int lo, int span) {
    ktl_vec d = ktl_vsub(v, ktl_vsplat(lo));
    return ktl_veq(ktl_vminu(d, ktl_vsplat(span)), d);
}
#endif

/* Character classes (ASCII only); ktl_all_class takes a union of them. */
enum { KTL_DIGIT = 1, KTL_ALPHA = 2, KTL_SPACE = 4 };

/* Python's str.isspace() for ASCII: blank, 9 to 13 and 28 to 31. */
static inline bool ktl_isspace_c(char ch) {
    unsigned char c = (unsigned char)ch;
    return c == ' ' || (c >= 9 && c <= 13) || (c >= 28 && c <= 31);
}

static inline bool ktl_isdigit_c(char c) {
    return c >= '0' && c <= '9';
}

static inline bool ktl_isalpha_c(char c) {
    return (unsigned char)((c | 0x20) - 'a') <= 25;
}

static inline bool ktl_in_class(char c, int cls) {
    return ((cls & KTL_DIGIT) && ktl_isdigit_c(c)) || ((cls & KTL_ALPHA) && ktl_isalpha_c(c)) ||
           ((cls & KTL_SPACE) && ktl_isspace_c(c));
}

#ifdef KTL_VW
static inline ktl_vec ktl_vspace(ktl_vec v) {
    return ktl_vor(ktl_vor(ktl_veq(v, ktl_vsplat(' ')), ktl_vin(v, 9, 4)), ktl_vin(v, 28, 3));
}

static inline ktl_vec ktl_vclass(ktl_vec v, int cls) {
    ktl_vec m = ktl_vxor(v, v);
    if (cls & KTL_DIGIT)
        m = ktl_vor(m, ktl_vin(v, '0', 9));
    if (cls & KTL_ALPHA)
        m = ktl_vor(m, ktl_vin(ktl_vor(v, ktl_vsplat(0x20)), 'a', 25));
    if (cls & KTL_SPACE)
        m = ktl_vor(m, ktl_vspace(v));
    return m;
}
#endif

/* First index of byte c in p[0..n), or -1. */
static int64_t ktl_find_byte(const char *p, int64_t n, char c) {
    int64_t i = 0;
#ifdef KTL_VW
    ktl_vec vc = ktl_vsplat(c);
    for (; i + 2 * KTL_VW <= n; i += 2 * KTL_VW) {
        uint32_t m0 = ktl_vmask(ktl_veq(ktl_vload(p + i), vc));
        uint32_t m1 = ktl_vmask(ktl_veq(ktl_vload(p + i + KTL_VW), vc));
        if (m0)
            return i + __builtin_ctz(m0);
        if (m1)
            return i + KTL_VW + __builtin_ctz(m1);
    }
    for (; i + KTL_VW <= n; i += KTL_VW) {
        uint32_t m = ktl_vmask(ktl_veq(ktl_vload(p + i), vc));
        if (m)
            return i + __builtin_ctz(m);
    }
#endif
    for (; i < n; i++)
        if (p[i] == c)
            return i;
    return -1;
}

/* First index of the needle n[0..nl) in h[0..hl), or -1 (nl >= 1). The
   vector loop tests the needle's first, middle and last bytes at every
   candidate position at once and confirms candidates with memcmp. */
static int64_t ktl_find_raw(const char *h, int64_t hl, const char *n, int64_t nl) {
    if (nl > hl)
        return -1;
    if (nl <= 0)
        return 0;
    if (nl == 1)
        return ktl_find_byte(h, hl, n[0]);
    int64_t last = hl - nl, i = 0;
#ifdef KTL_VW
    int64_t mid = nl / 2;
    ktl_vec vf = ktl_vsplat(n[0]), vm = ktl_vsplat(n[mid]), vl = ktl_vsplat(n[nl - 1]);
#define KTL_CANDS(at)                                                                              \
    ktl_vmask(ktl_vand(                                                                            \
        ktl_vand(ktl_veq(ktl_vload(h + (at)), vf), ktl_veq(ktl_vload(h + (at) + mid), vm)),        \
        ktl_veq(ktl_vload(h + (at) + nl - 1), vl)))
    for (; i + 2 * KTL_VW <= last + 1; i += 2 * KTL_VW) {
        uint32_t m0 = KTL_CANDS(i), m1 = KTL_CANDS(i + KTL_VW);
        if (!(m0 | m1))
            continue;
        for (; m0; m0 &= m0 - 1) {
            int64_t at = i + __builtin_ctz(m0);
            if (memcmp(h + at + 1, n + 1, (size_t)(nl - 2)) == 0)
                return at;
        }
        for (; m1; m1 &= m1 - 1) {
            int64_t at = i + KTL_VW + __builtin_ctz(m1);
            if (memcmp(h + at + 1, n + 1, (size_t)(nl - 2)) == 0)
                return at;
        }
    }
    for (; i + KTL_VW <= last + 1; i += KTL_VW) {
        for (uint32_t m = KTL_CANDS(i); m; m &= m - 1) {
            int64_t at = i + __builtin_ctz(m);
            if (memcmp(h + at + 1, n + 1, (size_t)(nl - 2)) == 0)
                return at;
        }
    }
#undef KTL_CANDS
#endif
    char first = n[0], lastc = n[nl - 1];
    for (; i <= last; i++)
        if (h[i] == first && h[i + nl - 1] == lastc &&
            memcmp(h + i + 1, n + 1, (size_t)(nl - 2)) == 0)
            return i;
    return -1;
}

/* Occurrences of byte c in p[0..n). */
static int64_t ktl_count_byte(const char *p, int64_t n, char c) {
    int64_t i = 0, k = 0;
#ifdef KTL_VW
    ktl_vec vc = ktl_vsplat(c);
    for (; i + KTL_VW <= n; i += KTL_VW)
        k += __builtin_popcount(ktl_vmask(ktl_veq(ktl_vload(p + i), vc)));
#endif
    for (; i < n; i++)
        k += p[i] == c;
    return k;
}

/* Copies n bytes, flipping bit 0x20 of the bytes in [lo, lo + 25]: lo 'a'
   gives upper case, 'A' lower case. */
static void ktl_case_copy(char *dst, const char *src, int64_t n, char lo) {
    int64_t i = 0;
#ifdef KTL_VW
    ktl_vec flip = ktl_vsplat(0x20);
    for (; i + KTL_VW <= n; i += KTL_VW) {
        ktl_vec v = ktl_vload(src + i);
        ktl_vstore(dst + i, ktl_vxor(v, ktl_vand(ktl_vin(v, lo, 25), flip)));
    }
#endif
    for (; i < n; i++) {
        char c = src[i];
        dst[i] = (unsigned char)(c - lo) <= 25 ? (char)(c ^ 0x20) : c;
    }
}

/* Every byte belongs to one of the classes in cls; false for n = 0. */
static bool ktl_all_class(const char *p, int64_t n, int cls) {
    if (n <= 0)
        return false;
    int64_t i = 0;
#ifdef KTL_VW
    for (; i + KTL_VW <= n; i += KTL_VW)
        if (ktl_vmask(ktl_vclass(ktl_vload(p + i), cls)) != KTL_VALL)
            return false;
#endif
    for (; i < n; i++)
        if (!ktl_in_class(p[i], cls))
            return false;
    return true;
}

/* Bytes that start a character (are not UTF-8 continuation bytes
   10xxxxxx). */
static int64_t ktl_count_char_starts(const char *p, int64_t n) {
    int64_t i = 0, cont = 0;
#ifdef KTL_VW
    for (; i + KTL_VW <= n; i += KTL_VW)
        cont += __builtin_popcount(ktl_vmask(ktl_vin(ktl_vload(p + i), 0x80, 0x3F)));
#endif
    for (; i < n; i++)
        cont += ((unsigned char)p[i] & 0xC0) == 0x80;
    return n - cont;
}

/* Searches in number arrays for the int and float lists. Float equality is
   C's: NaN never matches, -0.0 matches 0.0 (the ordered, quiet compare).
   The masks have one bit per 64-bit lane, so a bit index is a lane index.
   SSE2 has no 64-bit integer compare: the C compiler joins two 32-bit
   compares with their swapped halves, so a lane matches only when both
   halves do. */
#ifdef KTL_VW
#define KTL_I64W (KTL_VW / 8)
typedef long long ktl_i64vec_u __attribute__((vector_size(KTL_VW), may_alias, aligned(1)));
typedef double ktl_f64vec_u __attribute__((vector_size(KTL_VW), may_alias, aligned(1)));
typedef long long ktl_i64vec __attribute__((vector_size(KTL_VW)));
typedef double ktl_f64vec __attribute__((vector_size(KTL_VW)));
#if defined(KTL_AVX2)
#define KTL_MASKPD(v) ((uint32_t)__builtin_ia32_movmskpd256((ktl_f64vec)(v)))
#define KTL_F64SPLAT(v) ((ktl_f64vec){(v), (v), (v), (v)})
#else
#define KTL_MASKPD(v) ((uint32_t)__builtin_ia32_movmskpd((ktl_f64vec)(v)))
#define KTL_F64SPLAT(v) ((ktl_f64vec){(v), (v)})
#endif
#define KTL_I64MASK(p, x) KTL_MASKPD(*(const ktl_i64vec_u *)(const void *)(p) == (x))
#define KTL_I64SPLAT(v) ((ktl_i64vec){0} + (long long)(v))
#define KTL_F64MASK(p, x) KTL_MASKPD(*(const ktl_f64vec_u *)(const void *)(p) == (x))
#endif

static int64_t ktl_find_i64(const int64_t *a, int64_t n, int64_t v) {
    int64_t i = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W) {
        uint32_t m = KTL_I64MASK(a + i, KTL_I64SPLAT(v));
        if (m)
            return i + __builtin_ctz(m);
    }
#endif
    for (; i < n; i++)
        if (a[i] == v)
            return i;
    return -1;
}

static int64_t ktl_count_i64(const int64_t *a, int64_t n, int64_t v) {
    int64_t i = 0, k = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W)
        k += __builtin_popcount(KTL_I64MASK(a + i, KTL_I64SPLAT(v)));
#endif
    for (; i < n; i++)
        k += a[i] == v;
    return k;
}

static int64_t ktl_find_f64(const double *a, int64_t n, double v) {
    int64_t i = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W) {
        uint32_t m = KTL_F64MASK(a + i, KTL_F64SPLAT(v));
        if (m)
            return i + __builtin_ctz(m);
    }
#endif
    for (; i < n; i++)
        if (a[i] == v)
            return i;
    return -1;
}

static int64_t ktl_count_f64(const double *a, int64_t n, double v) {
    int64_t i = 0, k = 0;
#ifdef KTL_I64W
    for (; i + KTL_I64W <= n; i += KTL_I64W)
        k += __builtin_popcount(KTL_F64MASK(a + i, KTL_F64SPLAT(v)));
#endif
    for (; i < n; i++)
        k += a[i] == v;
    return k;
}

