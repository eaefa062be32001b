#!/usr/bin/env python3
"""Writes a Kestal program of about N lines to stdout, built from what the
language has: functions with arithmetic, branches, while and for loops,
calls between functions, f-strings, lists, dicts and sets with their
methods, comprehensions, an unannotated function whose return Type is
inferred, module globals, and classes: one class per unit of about 60
lines, in families of four (a root with fields and methods, a subclass
and a sub-subclass that override methods and call super(), and a second
subclass of the root), each unit building a list of root-typed objects
and calling methods through the root type, so overridden methods dispatch
on the class id. Every function is called from the module body, so each
one is instantiated and compiled; the program is also valid Python."""
import sys

FUNC_TEMPLATE = '''\
def step{i}(n: int, x: float) -> int:
    total = 0
    k = 0
    while k < n:
        if k % 3 == 0:
            total += k * {a} + {b}
        elif k % 5 == 1:
            total -= k // 2
        else:
            total ^= k << 1
        k += 1
    y = x * {a}.5 + float(total) / 7.0
    if y > 1000.0 and total != 0:
        total = total % 1000003
    label = f"step{i}: {{total}} {{y:.2f}}"
    if len(label) > 200:
        total += 1
    return total + step{prev}(n - 1, x) if n > 20 else total


def mix{i}(a: int, b: int):
    c = a * {b} - b
    if c < 0:
        c = -c
    return c + {a}


def gather{i}(n: int) -> int:
    xs = [k * {a} % 17 for k in range(n)]
    seen: dict[int, int] = {{}}
    for x in xs:
        seen[x] = seen.get(x, 0) + 1
    keys = {{x for x in xs if x % 2 == 0}}
    words = f"w{i} {{n}} {{len(keys)}}".split()
    words.sort(key=len)
    return len(seen) + len(words) + xs[-1] if xs else 0


'''

ROOT_CLASS = '''\
class Shape{i}:
    SCALE = {a}

    def __init__(self, w: int, h: float):
        self.w = w
        self.h = h
        self.tag = "s{i}"

    def area(self) -> float:
        return float(self.w) * self.h + float(self.SCALE)

    def grow(self, k: int) -> int:
        self.w += k
        return self.w

    def label(self) -> str:
        return self.tag


'''

SUB_CLASS = '''\
class Shape{i}(Shape{base}):
    def __init__(self, w: int, h: float):
        super().__init__(w, h)
        self.extra = w % {b}

    def area(self) -> float:
        return super().area() * 0.5 + float(self.extra)

    def label(self) -> str:
        return f"{{self.tag}}/{i}:{{self.extra}}"


'''

USE_TEMPLATE = '''\
def shapes{i}(n: int) -> int:
    items: list[Shape{root}] = [Shape{root}(n, 1.5), Shape{i}(n + 1, 2.25)]
    total = 0.0
    for s in items:
        total += s.area()
        s.grow(n % 3)
    return int(total) + len(items[-1].label()) + items[0].w


'''


def unit(i: int) -> str:
    """The functions, the class and its user of unit i. Classes come in
    families of four: i % 4 == 0 is a root, 1 derives from it, 2 from 1,
    and 3 from the root again."""
    a, b = i % 97 + 1, i % 13 + 2
    text = FUNC_TEMPLATE.format(i=i, a=a, b=b, prev=max(i - 1, 0))
    root = i - i % 4
    if i == root:
        text += ROOT_CLASS.format(i=i, a=a)
    else:
        text += SUB_CLASS.format(i=i, b=b, base=root if i % 4 == 3 else i - 1)
    return text + USE_TEMPLATE.format(i=i, root=root)


UNIT_LINES = sum(unit(i).count('\n') for i in range(4)) / 4


def main() -> None:
    target = int(sys.argv[1])
    count = max(1, int((target - 10) // (UNIT_LINES + 1)))
    out = sys.stdout
    out.write('# generated for the compile-speed benchmark\n\n\n')
    for i in range(count):
        out.write(unit(i))
    out.write('acc = 0\n')
    for i in range(count):
        out.write(f'acc = (acc + step{i}(5, 1.5) + mix{i}(acc % 100, {i}) + gather{i}({i % 7 + 3})'
                  f' + shapes{i}({i % 5 + 1})) % 1000000007\n')
    out.write('print(f"checksum {acc}")\n')


main()
