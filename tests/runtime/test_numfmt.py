# Oracle of test_numfmt.c: what Python prints for the same values.
import math

def pf(v):
    print(repr(v))

def pi(v):
    print(v)

def try_(f):
    try:
        f()
    except Exception as e:
        print(f"{type(e).__name__}: {e}")

MASK = (1 << 64) - 1
rng = 88172645463325252

def next_rand():
    global rng
    rng = (rng * 6364136223846793005 + 1442695040888963407) & MASK
    return rng

def bits_to_float(b):
    import struct
    return struct.unpack("<d", b.to_bytes(8, "little"))[0]

def to_i64(u):
    return u - (1 << 64) if u >= 1 << 63 else u

float_texts = [
    "0.0", "-0.0", "1.0", "-1.0", "0.1", "0.2", "0.3", "1e16", "9999999999999998.0",
    "1.0000000000000002e16", "1e15", "123456789012345.6", "1234567890123456.7", "0.0001",
    "0.00001", "9.999999999999999e-05", "0.00012345", "1.5e-05", "1e22", "1e23", "123456789.0",
    "5e-324", "1e-323", "2.5e-323", "4.9406564584124654e-324", "2.2250738585072014e-308",
    "2.225073858507201e-308", "1e-310", "1.5e-320", "1.7976931348623157e308", "inf", "-inf",
    "nan", "-nan", "3.141592653589793", "2.718281828459045", "100.0", "1e100", "1.25e-7",
    "0.3333333333333333", "9007199254740993", "9007199254740992", "-123.456", "1e-5", "1e-4",
    "5e-5", "12345678901234567890", "0.1e-3", "299792458.0", "6.02214076e23", "1.6e-19",
]
int_texts = [
    " 42\n", "4 2", "", "   ", "-0", "+7", "007", "1_000", "1__000", "_1", "1_", "0x10", "12a",
    "9223372036854775807", "-9223372036854775808", "\t-17 ", "--1", "+", "1e5", "1.0",
]
float_parse_texts = [
    "1e500", "-1e500", "1e-400", "  nan ", "-nan", "Infinity", "-INF", "inf5", "1_0.5", "1__0.5",
    "0x1p3", ".5", "5.", "1e5", "abc", "", "1.5e", " -0.0 ", "3.14\n", "1_000e1_0", "in f",
    "nan(1)", "+1.5E-3", "0.00000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000017e10",
    "3.1415926535897932384626433832795028841971693993751058209749445923078164062862089986280348253421170679821480865132823066470938446095505822317253594081284811174502841027019385211055596446229489549303819644288109756659334461284756482337867831652712019091456485669234603486104543266482133936072602491412737245870066063155881748815209209628292540917153643678925903600113305305488204665213841469519415116094330572703657595919530921861173819326117931051185480744623799627495673518857527248912279381830119491",
]
round_values = [0.5, 1.5, 2.5, -0.5, -1.5, 2.675, 1234.5678, -1234.5678, 0.125, 0.375, 250.0,
                350.0, -250.0, 5.0, 15.0, 1e-300, 123456789012345678.0, 1.7e308, 5e-324, -0.0,
                0.0, 9.999999999999999e15, 1.23456789012e-10]
round_digits = [-400, -309, -308, -307, -20, -17, -3, -2, -1, 0, 1, 2, 3, 10, 16, 17, 20, 300,
                323, 324]

for k in range(-1074, 1024, 7):
    pf(math.ldexp(1.0, k))
for k in range(50, 71):
    pf(math.ldexp(1.0, k) + 1.0)
    pf(-math.ldexp(1.0, k))
for k in range(-325, 310):
    pf(float(f"1e{k}"))
acc = 0.0
for i in range(201):
    pf(i * 0.1)
    pf(-acc)
    acc += 0.1
for t in float_texts:
    pf(float(t))
inf = float("inf")
pf(inf - inf)
pf(-(inf - inf))
for i in range(20000):
    pf(bits_to_float(next_rand()))
for i in range(5000):
    digits = 1 + next_rand() % 17
    m = next_rand() % 100000000000000000
    e = next_rand() % 650 - 340
    pf(float(f"{m % 10 ** digits}e{e}"))
for i in range(2000):
    next_rand()

pi(-(1 << 63))
pi((1 << 63) - 1)
pi(0)
pi(-1)
p = 1
for k in range(19):
    pi(p); pi(p - 1); pi(-p); pi(-p + 1)
    p *= 10
for i in range(2000):
    a = to_i64(next_rand())
    pi(a >> (next_rand() % 64))

for t in int_texts:
    try_(lambda: pi(int(t)))
for t in float_parse_texts:
    try_(lambda: pf(float(t)))
try_(lambda: pi(int("12\x003")))

def round_i(v):
    # Kestal ints are 64-bit: a larger result is an OverflowError.
    r = round(v)
    if not -(1 << 63) <= r < (1 << 63):
        raise OverflowError("int too large to convert to a 64-bit integer")
    return r

for v in round_values:
    try_(lambda: pi(round_i(v)))
    for d in round_digits:
        try_(lambda: pf(round(v, d)))
try_(lambda: pi(round(inf)))
try_(lambda: pi(round(-inf)))
try_(lambda: pi(round(inf - inf)))
pf(round(inf, 2))
pf(round(-inf, -400))
pf(round(inf - inf, 3))
