# Oracle of test_sorting.c: Python's stable sort on the same items.
from functools import total_ordering

M = (1 << 64) - 1
lcg = 99
out = []


def rand(n):
    global lcg
    lcg = (lcg * 6364136223846793005 + 1442695040888963407) & M
    return (lcg >> 33) % n


pool = [0.0, -0.0, 1.0, -1.0, 0.5, -0.0, 2.5]


class Obj:
    def __init__(self, key, id):
        self.key = key
        self.id = id

    def __lt__(self, other):
        return self.key < other.key


def objs(l):
    out.append("[" + " ".join(str(x.id) for x in l) + "]\n")


def tup(t):
    return f"({t[0]!r},)"


for n in [0, 1, 5, 16, 17, 40, 300]:
    f = [pool[rand(7)] for _ in range(n)]
    out.append(f"{sorted(f)}\n{sorted(f, reverse=True)}\n")
    o = []
    for i in range(n):
        o.append(Obj(rand(n // 4 + 1), i))
    objs(sorted(o))
    o2 = sorted(o, reverse=True)
    objs(o2)
    if n:
        out.append(f"{min(o2).id} {max(o2).id}\n")
    t = [(pool[rand(2)],) for _ in range(n)]
    out.append("[" + ", ".join(tup(x) for x in sorted(t)) + "]\n")
    if n:
        out.append(tup(min(t)) + tup(max(t)) + "\n")

a = [rand(50) - 25 for _ in range(3000)]
s = sorted(a)
out.append("".join(str(s[i]) for i in range(0, 3000, 97)) + "\n")
r = sorted(a, reverse=True)
out.append("".join(str(r[i]) for i in range(0, 3000, 97)) + "\n")
out.append(f"{min(s)}{max(s)}\n")
words = ["pear", "fig", "apple", "kiwi", "date", "plum", "lime", "banana", "cherry", "melon"]
w = [words[rand(10)] for _ in range(40)]
out.append(f"{sorted(w)}\n{sorted(w, key=len)}\n{sorted(w, key=len, reverse=True)}\n")
out.append("min() iterable argument is empty\n")
print("".join(out), end="")
