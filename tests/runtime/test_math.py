# Oracle of test_math.c: Python's math module and int true division.
import math

out = []
def run(f):
    try:
        out.append(repr(f()))
    except Exception as e:
        out.append(f"{type(e).__name__}: {e}")

vals = [0.0, -0.0, 1.0, -1.0, 0.5, 2.0, -2.0, 3.0, -8.0, 10.0, 710.0, -1000.0, 1e308, -1e308,
        5e-324, 0.1, math.inf, -math.inf, math.nan]
ones = [math.sin, math.cos, math.tan, math.exp, math.log, math.sqrt, math.asin, math.acos,
        math.atan, math.log2, math.fabs, math.sinh, math.cosh, math.tanh, math.log10]
twos = [math.pow, math.fmod, math.atan2, math.hypot, math.log]
for f in ones:
    for v in vals:
        run(lambda: f(v))
for f in twos:
    for a in vals:
        for b in vals:
            run(lambda: f(a, b))

two53 = 1 << 53
I64MAX = (1 << 63) - 1
I64MIN = -(1 << 63)
ints = [0, 1, -1, 3, -3, 7, 10, two53, two53 + 1, -two53 - 1, two53 + 3, 3 * two53 + 1,
        I64MAX, I64MIN, I64MAX - 1, I64MIN + 1, 9007199254740993, 1000000007, 1 << 62,
        (1 << 62) + 1, 123456789012345679]
for a in ints:
    for b in ints:
        run(lambda: a / b)
for k in range(200):
    run(lambda: (I64MAX - k * 977) / (3 + 2 * k))
print("\n".join(out))
