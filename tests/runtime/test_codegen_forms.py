import os
import random

# kt_tuples
ps = [(3, "c"), (1, "b"), (3, "a"), (-2, "z")]
print(ps)
print(max(ps), min(ps))
sp = sorted(ps)
ps.sort(reverse=True)
print(sp, ps)
print(ps.index((1, "b")), (1, "a") in ps, (ps > sp) - (ps < sp), sp < ps)
d = {}
d["x"] = ps
d["y"] = ps[1:3]
d["x"] = sp
print(d)
print((5,), (5,) == (5,))
t = str(sp)
print(len(t), t)

# kt_dicts_sets
g = {}
for i in range(20):
    g[(i % 5, i // 5)] = i * i
del g[(0, 0)]
del g[(4, 3)]
print(g)
print(len(g), g[(2, 1)])
got, hit = g.get((9, 9)), g.get((3, 2))
print(got, hit, got == hit)
for k in g:
    print(k, end=" ")
print()
try:
    for k in g:
        g[(k[0] + 100, 0)] = 1
except RuntimeError as e:
    print(repr(e))
try:
    g[(7, 7)]
except LookupError as e:
    print(repr(e), e)
print(set([(1, 2), (0, 0), (3, -1), (-1, -1), (2, 1)]))
s = set()
for i in range(1, 101):
    s.add(i * 7 % 61)
for v in range(0, 61, 2):
    s.discard(v)
print(s)
total = 0
firsts = 0
for v in s:
    total += v
    if firsts < 3:
        print(v, end=" ")
        firsts += 1
print(total)
try:
    for v in s:
        s.add(v + 1000)
except RuntimeError as e:
    print(repr(e))
s.intersection_update(range(0, 30))
print(s, s.issubset({1, 3, 5}))

# kt_optionals
a, b = 5, None
os.environ["KT_EMPTY"] = ""  # the C program runs with it set, empty
print(a, repr(b), a == b, b == b)
print(repr(os.getenv("KT_EMPTY")), repr(os.getenv("KT_NOT_SET_ANYWHERE")), "it's", repr("it's"))
none, some = None, [1, 2]
print(none, repr(some), none == some, some == [1, 2])
print(a is not None and a != 0, none is not None and len(none) != 0, None)

# kt_sorting_and_calls
w = ["pear", "fig", "apple", "kiwi", "banana", "date"]
print(sorted(w, key=len), sorted(w, key=len, reverse=len(w) > 3), w)
print(sorted(w, key=lambda x: (len(x), x), reverse=len(w) > 3))
print(sorted([], key=len), min(w), max(3, 9, 4), min(2, 1.5),
      len(" a bb  c ".split()), len("a,b,,c".split(",")))
print(os.path.splitext("a/b.c.txt"), "k=v=w".rpartition("="), os.path.join("a", "b", "c.txt"))
try:
    random.choice([])
except IndexError as e:
    print(repr(e))
r = range(0, 10, 3)
print(r, range(0, 5), len(r), r[-1], 9 in r)

# kt_text
n = 1234567
x = -1234.5
s = "ab"
print(f"{n:,} {n:+_} {n:>12,}|{x:,.2f}")
print(f"{x:8.3f}|{s:>6}|{s:6}|{255:x}|{0.25:%}|{str(n > 0):>7}|{n}{x}")
print(n, s, sep="-")
print(s * 3, "abcdef"[::-2], s[-1], s * 3 != s, s * 3 > s)

# kt_exceptions


class AppError(Exception):
    pass


e = AppError("boom")
print(repr(e), e, 7, type(e).__name__)
