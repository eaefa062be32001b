#!/usr/bin/env python3
"""Writes a Kestal program of about N lines to stdout, built from what the
language has: functions with arithmetic, branches, while and for loops,
calls between functions, f-strings, lists, dicts and sets with their
methods, comprehensions, an unannotated function whose return Type is
inferred, and module globals. Every function is called from the module body, so each
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
FUNC_LINES = FUNC_TEMPLATE.count('\n')


def main() -> None:
    target = int(sys.argv[1])
    count = max(1, (target - 10) // (FUNC_LINES + 1))
    out = sys.stdout
    out.write('# generated for the compile-speed benchmark\n\n\n')
    for i in range(count):
        out.write(FUNC_TEMPLATE.format(i=i, a=i % 97 + 1, b=i % 13 + 2, prev=max(i - 1, 0)))
    out.write('acc = 0\n')
    for i in range(count):
        out.write(f'acc = (acc + step{i}(5, 1.5) + mix{i}(acc % 100, {i}) + gather{i}({i % 7 + 3})) % 1000000007\n')
    out.write('print(f"checksum {acc}")\n')


main()
