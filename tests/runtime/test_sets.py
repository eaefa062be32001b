# Oracle of test_sets.c: the same operations on CPython's sets, the same
# pseudo-random values. Constant displays are compiled from source text so
# that CPython folds them as it does in a program.
P61 = (1 << 61) - 1
M = (1 << 64) - 1
lcg = 12345
out = []


def rand(n):
    global lcg
    lcg = (lcg * 6364136223846793005 + 1442695040888963407) & M
    return (lcg >> 33) % n


def value():
    k = rand(6)
    if k == 0:
        return rand(50)
    if k == 1:
        return rand(20) * 8
    if k == 2:
        return rand(12) * 32 + 31
    if k == 3:
        m = rand(4)
        return m * P61 + rand(3)
    if k == 4:
        return -1 - rand(3)
    return rand(1000) - 500


def ps(s):
    out.append(str(s) if s else "set()")


def display(items):
    env = {}
    exec("r = {" + ", ".join(map(repr, items)) + "}", env)
    return env["r"]


def random_set(n):
    s = set()
    for _ in range(n):
        s.add(value())
    for _ in range(n // 3):
        s.discard(value())
    return s


def b(x):
    return str(bool(x))


ps(display([3, 1, 2]))
ps(display([10, 1, 100, 5]))
ps(display([-1, -2, 5, P61, 0]))
ps(set([-1, -2, 5, P61, 0]))
for k in range(60):
    n = 3 + rand(38)
    items = [value() for _ in range(n)]
    ps(display(items))
    ps(set(items))
ps(display([(1, 2), (0, 0), (-1, -2)]))
ps(display([True, False, True]))

s = set()
for i in range(1, 1001):
    s.add(i)
for i in range(2, 1001, 2):
    s.discard(i)
ps(s)
s = set()
for i in range(40):
    s.add((i * 37) % 64 - 8)
    ps(s)
for i in range(200):
    s.add(i)
for i in range(0, 200, 3):
    s.discard(i)
for i in range(200, 300):
    s.add(i * 7)
for i in range(0, 300, 5):
    s.discard(i * 7)
ps(s)
out.append("".join(f"{s.pop()} " for _ in range(5)))
ps(s)
ps(s.copy())
for k in range(20):
    r = random_set(1 + rand(60))
    ps(r)
    line = ""
    while len(r) > 3:
        line += f"{r.pop()} "
        r.add(value())
    out.append(line)
    ps(r)
e = set()
for f in (lambda: e.pop(), lambda: e.remove(42)):
    try:
        f()
    except KeyError as x:
        out.append(f"KeyError: {x}")
e.add(42)
e.remove(42)
ps(e)
ts = set()
for i in range(30):
    ts.add((i % 7, -i))
for i in range(0, 30, 4):
    ts.discard((i % 7, -i))
ps(ts)

for k in range(40):
    na = 1 + rand(200 if k % 4 == 0 else 30)
    nb = 1 + rand(200 if k % 4 == 1 else 30)
    a = random_set(na)
    bb = random_set(nb)
    for x in (a, bb, a | bb, a & bb, bb & a, a - bb, bb - a, a ^ bb, bb ^ a):
        ps(x)
    c = a.copy()
    c |= bb
    ps(c)
    c = a.copy()
    c &= bb
    ps(c)
    c = a.copy()
    c -= bb
    ps(c)
    c = a.copy()
    c ^= bb
    ps(c)
    out.append(b(a <= bb) + b((a & bb) <= a) + b(a.isdisjoint(bb)) + b((a - bb).isdisjoint(bb)) +
               b(a == bb) + b(a == a.copy()))
a = random_set(20)
for x in (a | a, a & a, a - a, a ^ a):
    ps(x)
a |= a
ps(a)
c = a.copy()
c ^= c
ps(c)
c = a.copy()
c -= c
ps(c)
a.clear()
ps(a)
a.add(5)
ps(a)
print("\n".join(out))
