# Oracle of test_dicts.c: the same operations on CPython's dicts.
M = (1 << 64) - 1
lcg = 777
out = []


def rand(n):
    global lcg
    lcg = (lcg * 6364136223846793005 + 1442695040888963407) & M
    return (lcg >> 33) % n


def b(x):
    return str(bool(x))


def attempt(f):
    try:
        f()
    except KeyError as e:
        out.append(f"KeyError: {e}\n")


d = {}
d[1] = 10
d[2] = 20
d[3] = 30
del d[2]
d[2] = 21
d[1] = 11
out.append(f"{d}\n")

d = {}
for op in range(3000):
    k = rand(60) - 10
    v = op
    kind = rand(5)
    if kind <= 1:
        d[k] = v
    elif kind == 2:
        if k in d:
            del d[k]
    elif kind == 3:
        out.append(f"{d.pop(k, -1)} ")
    else:
        out.append(f"{d.setdefault(k, v)} ")
    if op % 250 == 249:
        out.append(f"\n{d}\n")
        out.append("".join(f"{k} " for k in d) + f"{len(d)}\n")
c = d.copy()
out.append(f"{c}\n")
out.append(b(c == d))
c[1000] = 1
out.append(b(c == d) + str(d.get(1000, -5)) + str(c[1000]) + "\n")
u = {5: 500, 2000: 1}
u.update(d)
out.append(f"{u}\n")
r = {}
for i in range(9, -1, -1):
    r[i] = i * i
f = {i: i * i for i in range(10)}
out.append(b(r == f))
f[3] = 0
out.append(b(r == f) + "\n")
f.clear()
out.append(f"{f}\n")
f[7] = 7
out.append(f"{f}\n")
attempt(lambda: f[5])
attempt(lambda: f.pop(-5))


def delete():
    del f[8]


attempt(delete)
g = {}
for i in range(300000):
    g[i] = i
    if i >= 2:
        del g[i - 2]
out.append(f"{g}\n")
s = {}
for i in range(500):
    s[f"k{i * 7 % 500}"] = i
for i in range(0, 500, 3):
    del s[f"k{i}"]
out.append(f"{s}\n{len(s)}{s['k7']}{b('k3' in s)}\n")
attempt(lambda: s["it's"])
attempt(lambda: s.pop("k3"))
s[""] = -1
out.append(f"{s.pop('')}\n")
print("".join(out), end="")
