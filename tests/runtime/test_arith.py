# Oracle of test_arith.c. Kestal ints wrap to 64 bits; every zero divisor
# raises ZeroDivisionError with the one text "division by zero".
import sys

def wrap(x):
    return (x + (1 << 63)) % (1 << 64) - (1 << 63)

out = []
def pi(v):
    out.append(str(wrap(v)) + " ")

def pf(v):
    out.append(repr(v) + " ")

def newline():
    out.append("\n")

def try_(f):
    try:
        f()
    except ZeroDivisionError:
        out.append("ZeroDivisionError: division by zero\n")

I64MAX = (1 << 63) - 1
I64MIN = -(1 << 63)
ints = [0, 1, -1, 2, -2, 3, -3, 7, -7, 10, -10, 100, -100, 12345, I64MAX, I64MIN, I64MAX - 1,
        I64MIN + 1, 1 << 32, -(1 << 32) - 5]
floats = [float(t) for t in ["0.0", "-0.0", "1.0", "-1.0", "2.0", "-2.0", "4.0", "-4.0", "7.5",
                             "-7.5", "0.1", "-0.1", "3.0", "1e308", "-1e308", "5e-324", "1e16",
                             "0.3", "inf", "-inf", "123.456", "nan"]]

for a in ints:
    for b in ints:
        pi(a); pi(b)
        def f():
            q = a // b
            r = a % b
            pi(q); pi(r); newline()
        try_(f)
for a in floats:
    for b in floats:
        pf(a); pf(b)
        def f():
            q = a // b
            r = a % b
            d = a / b
            pf(q); pf(r); pf(d); newline()
        try_(f)
bases = [0, 1, -1, 2, -2, 3, 10, -7, 12345, I64MIN]
exps = [0, 1, 2, 3, 10, 31, 62, 63, 64, 65, 100, 1000]
for b in bases:
    for e in exps:
        pi(pow(b, e, 1 << 64))
    newline()
for a in [0, 1, -1, 5, -5, 12345, I64MAX, I64MIN]:
    for c in [0, 1, 2, 31, 62, 63, 64, 65, 100, I64MAX, -1, I64MIN]:
        try:
            # A huge count shifts every bit out; Python would build the
            # number first.
            left = 0 if c >= 64 else a << c
            pi(left); pi(a >> c); newline()
        except ValueError as e:
            out.append(f"ValueError: {e}\n")
cints = [0, 1, -1, 1 << 53, (1 << 53) + 1, I64MAX, I64MIN, I64MAX - 1]
cfloats = [float(t) for t in ["0.0", "-0.0", "0.5", "-0.5", "1.0", "9007199254740992.0",
                              "9007199254740994.0", "9223372036854775808.0",
                              "-9223372036854775808.0", "1e19", "-1e19", "inf", "-inf", "nan",
                              "4.9e-324", "-1.5"]]
for a in cints:
    for d in cfloats:
        out.append("".join("1" if r else "0" for r in (a == d, a < d, a <= d, a > d, a >= d)) + " ")
    newline()
import math
def excline(e):
    out.append(f"{type(e).__name__}: {e}\n")
for a, b in [("2.0", "0.5"), ("-2.0", "3.0"), ("0.0", "0.0"), ("0.0", "-1.0"), ("-0.0", "-3.0"),
             ("10.0", "400.0"), ("inf", "-1.0"), ("nan", "0.0"), ("-8.0", "-2.0"),
             ("1.5", "-2000.0")]:
    try:
        pf(float(a) ** float(b)); newline()
    except (ZeroDivisionError, OverflowError) as e:
        excline(e)
for v in [0, 5, 15, 25, -5, -15, 12345, -12345, 1250, 1350, I64MAX, I64MIN]:
    for n in [3, 0, -1, -2, -3, -19, -20]:
        r = round(v, n)
        if wrap(r) != r:
            out.append("OverflowError: int too large to convert to a 64-bit integer\n")
        else:
            pi(r); newline()
for v in [0, 1, 2, 3, 4, 15, 16, 17, (1 << 52) + 1, 3037000499 * 3037000499,
          3037000499 * 3037000499 - 1, I64MAX, -1]:
    try:
        pi(math.isqrt(v)); newline()
    except ValueError as e:
        excline(e)
nan = float("nan")
fmin, fmax = min, max
pf(fmin(1.0, nan)); pf(fmin(nan, 1.0)); pf(fmax(1.0, nan)); pf(fmax(nan, 1.0))
pf(fmin(0.0, -0.0)); pf(fmax(-0.0, 0.0)); pf(fmin(-0.0, 0.0)); pf(fmax(0.0, -0.0))
pi(min(I64MIN, 0)); pi(max(I64MAX, -1)); pi(abs(-5)); pi(abs(I64MIN))
newline()
sys.stdout.write("".join(out))
