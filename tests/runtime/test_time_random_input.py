# Oracle of test_time_random_input.c: the generator written out from its
# definition (xorshift64*), strftime through Python on UTC time, and what
# input() returns for the test's standard input.
import math
import time

M = (1 << 64) - 1
state = 0
out = []


def seed(s):
    global state
    x = ((s & M) * 0x9E3779B97F4A7C15 + 0x632BE59BD9B4E019) & M
    state = x or 1


def nxt():
    global state
    x = state
    x ^= x >> 12
    x ^= (x << 25) & M
    x ^= x >> 27
    state = x
    return (x * 0x2545F4914F6CDD1D) & M


def signed(x):
    return x - (1 << 64) if x >> 63 else x


def randint(a, b):
    span = (b - a + 1) & M
    x = nxt()
    if span == 0:
        return signed(x)
    return signed((a + x % span) & M)


for s in [1, 0, -1, 42, -(1 << 63)]:
    seed(s)
    row = [repr((nxt() >> 11) * 2.0 ** -53) for _ in range(3)]
    row += [str(randint(1, 6)), str(randint(-10**12, 10**12)), str(randint(-(1 << 63), (1 << 63) - 1)),
            str(randint(7, 7)), str(randint(0, 9))]
    out.append(" ".join(row))
out.append("ValueError: empty range in randint(5, 4)")
out.append("IndexError: Cannot choose from an empty sequence")
for f in ["%Y-%m-%d %H:%M:%S", "%a %A %b %B %j %U %W %w %y %p %I %%", "", "plain text", "%c|%x|%X"]:
    for t in [0.0, 1e9 + 0.75, -0.5, 1700000000.0]:
        out.append(repr(time.strftime(f, time.gmtime(math.floor(t)))))
out.append(str(len(time.strftime("%Y" * 300, time.gmtime(0)))))
out.append("ValueError: strftime: unsupported format code")
out.append("ValueError: strftime: unsupported format code")
out.append("ValueError: strftime: time out of range")
out.append("name? 'first line'")
out.append("'second\\n'")
out.append("'third'")
out.append("> 'last'")
out.append("more? EOFError: EOF when reading a line")
out.append("''")
print("\n".join(out))
