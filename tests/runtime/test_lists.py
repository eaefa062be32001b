# Oracle of test_lists.c. Kestal keeps one message of its own:
# list.index() of a missing item says "list.index(x): x not in list".
bounds = [None, -12, -3, -1, 0, 2, 5, 9, 12]
steps = [1, 2, 3, -1, -2, -4, 10]
out = []


def p(x):
    out.append(str(x) + "\n")


def exc(e):
    out.append(f"{type(e).__name__}: {e}\n")


def attempt(f):
    try:
        f()
    except (IndexError, ValueError) as e:
        exc(e)


def cmp(a, b):
    return (a > b) - (a < b)


def b(x):
    return str(bool(x))


a = list(range(10))
for lo in bounds:
    for hi in bounds:
        p(a[lo:hi])
for lo in bounds:
    for hi in bounds:
        for st in steps:
            p(a[lo:hi:st])
attempt(lambda: a[0:5:0])
p(a)

for lo in bounds:
    for hi in bounds:
        for st in steps:
            x = list(range(10))
            del x[lo:hi:st]
            p(x)
            count = len(range(10)[lo:hi:st])
            x = list(range(10))
            x[lo:hi:st] = list(range(100, 100 + count))
            p(x)
            x = list(range(10))

            def assign():
                x[lo:hi:st] = list(range(100, 101 + count))
            attempt(assign)
            p(x)
for lo in bounds:
    for hi in bounds:
        x = list(range(10))
        x[lo:hi] = [70, 71]
        p(x)
x = list(range(6))
x[2:4] = x
p(x)
x = list(range(6))
x[::-1] = x
p(x)
x = list(range(5))
del x[::-2]
p(x)

a = list(range(10, 20))
for i in range(-12, 13):
    attempt(lambda: p(a[i]))
for i in range(-12, 13, 3):
    x = list(range(10))
    attempt(lambda: p(x.pop(i)))
    p(x)
attempt(lambda: [].pop())
attempt(lambda: [].pop(0))
one = [7]
p(one[-1])
p(one.pop())
for at in [-100, -3, -1, 0, 1, 3, 100]:
    x = list(range(3))
    x.insert(at, 99)
    p(x)

a = [0, 1, 2, 3, 4]
a.extend(a)
p(a)
for n in [-1, 0, 1, 3]:
    p([1, 2] * n)
p([] * 5)
p([0, 1] + [5, 6, 7])
a.reverse()
p(a)
out.append(str(a.index(3)) + str(a.count(3)) + b(4 in a) + b(5 in a) + "\n")
out.append("ValueError: list.index(x): x not in list\n")
xs = [[1, 2], [1, 2, 3], [2], []]
for x in xs:
    out.append("".join(f"{b(x == y)} {cmp(x, y)} " for y in xs) + "\n")

s = ["it's", "a\n", ""]
p(s)
out.append(str(s.index("")) + b("a" in s) + "\n")
out.append(str(cmp(s, s[::-1])) + b(s == s[:]) + "\n")
f = [0.5, -0.0, 1e16, 0.1]
out.append(str(f) + str(f.index(0.0)) + str(f.count(0.1)) + "\n")
p([True, False])


# Kestal's unpacking message names both counts in both cases.
out.append("ValueError: too many values to unpack (expected 2, got 3)\n")
out.append("ValueError: not enough values to unpack (expected 2, got 1)\n")
print("".join(out), end="")
