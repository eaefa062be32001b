# Oracle of test_ranges.c.
I64MIN = -(1 << 63)
I64MAX = (1 << 63) - 1
ends = [I64MIN, I64MIN + 1, -10, -1, 0, 1, 3, 10, I64MAX - 1, I64MAX]
steps = [1, 2, 3, -1, -2, -7, I64MAX, I64MIN, 5]
out = []


def wrap(x):
    return (x + (1 << 63)) % (1 << 64) - (1 << 63)


def attempt(f):
    try:
        return str(f())
    except (OverflowError, IndexError, ValueError) as e:
        return f"{type(e).__name__}: {e}"


prev = range(0, 0)
for a in ends:
    for b in ends:
        for s in steps:
            r = range(a, b, s)
            line = repr(r) + " " + attempt(lambda: len(r)) + " "
            for x in [a, b, wrap(a + s), wrap(b - 1), 0, I64MIN, I64MAX, 2]:
                line += str(x in r)
            for i in [0, 1, -1, -2, 5]:
                line += " " + attempt(lambda: r[i])
            line += " " + str(r == prev)
            out.append(line + "\n")
            prev = r
out.append(str(range(0, 3, 2) == range(0, 4, 2)) + str(range(0, 0) == range(5, 1)) +
           str(range(3, 4) == range(3, 100, 97)) + str(range(0, 10, 3) == range(0, 11, 3)) + "\n")
try:
    range(1, 2, 0)
except ValueError as e:
    out.append(f"ValueError: {e}\n")
print("".join(out), end="")
