// The parallel-loop checker and the prange call checks: every refusal with
// its message and position, and bodies that must be accepted. Each source
// starts with the import of prange, so line 2 is the program's first line.
#include "codegen_fixture.h"

#include <gtest/gtest.h>

namespace kestal {
namespace {

using testing::rejection;

constexpr const char *kImport = "from parallel import prange\n";

struct Case {
    const char *source;
    const char *error;
};

TEST(PrangeChecker, RefusedBodies) {
    const std::vector<Case> cases = {
        {"xs = [1]\nfor i in prange(3):\n    for j in prange(2):\n        pass\n",
         "4:14: inside a prange loop, another prange loop can't run (the outer one already uses "
         "every core)"},
        {"for i in prange(3):\n    break\n", "3:5: inside a prange loop, `break` can't be used "
                                             "(the iterations run at the same time, in any order)"},
        {"for i in prange(3):\n    while True:\n        break\n    if i > 1:\n        break\n",
         "6:9: inside a prange loop, `break` can't be used (the iterations run at the same time, "
         "in any order)"},
        {"def f() -> int:\n    for i in prange(3):\n        return 1\n    return 0\nprint(f())\n",
         "4:9: inside a prange loop, `return` can't be used"},
        {"g = 0\ndef f(n: int) -> None:\n    for i in prange(n):\n        global g\nf(2)\n",
         "5:9: inside a prange loop, `global` can't be used"},
        {"t = 1\nfor i in prange(3):\n    t *= i\n",
         "4:5: inside a prange loop, 't' (from outside the loop) can only be updated by `t += "
         "...`, `t -= ...`, `t = min(t, ...)` or `t = max(t, ...)`, not `*=`"},
        {"t = 1\nfor i in prange(3):\n    t <<= 1\n",
         "4:5: inside a prange loop, 't' (from outside the loop) can only be updated by `t += "
         "...`, `t -= ...`, `t = min(t, ...)` or `t = max(t, ...)`, not `<<=`"},
        {"for i in prange(3):\n    i = 0\n",
         "3:5: inside a prange loop, the loop variable 'i' can't be reassigned"},
        {"for i in prange(3):\n    for i in range(2):\n        pass\n",
         "3:9: inside a prange loop, the loop variable 'i' can't be reassigned"},
        {"t = 1\nfor i in prange(3):\n    t = i\n",
         "4:5: inside a prange loop, 't' can't be assigned: it comes from outside the loop, and "
         "the iterations run at the same time. Assign a new name, or make it a reduction: `t += "
         "...`, `t -= ...`, `t = min(t, ...)` or `t = max(t, ...)`"},
        {"best = 0\nfor i in prange(3):\n    best = min(best, i, 2)\n",
         "4:5: inside a prange loop, 'best' can't be assigned: it comes from outside the loop, and "
         "the iterations run at the same time. Assign a new name, or make it a reduction: `best += "
         "...`, `best -= ...`, `best = min(best, ...)` or `best = max(best, ...)`"},
        {"d = {1: 2}\nfor i in prange(3):\n    d[i] = 1\n",
         "4:5: inside a prange loop, 'd' (a dict[int, int], from outside the loop) can't change; "
         "only lists can be written, at the loop variable's index"},
        {"xs = [0] * 4\nfor i in prange(3):\n    xs[i + 1] = 1\n",
         "4:5: inside a prange loop, an item of 'xs' can't be changed: 'xs' is shared by all "
         "iterations; a list from outside the loop can only be written at the loop variable's "
         "index (`xs[i] = ...`), and objects made inside the loop can change freely"},
        {"xs = [[0]] * 4\nfor i in prange(3):\n    row = xs[i]\n    row[0] = 1\n",
         "5:5: inside a prange loop, an item of 'row' can't be changed: 'row' may be shared with "
         "other iterations (its value comes from outside the loop; change a copy made with "
         ".copy()); a list from outside the loop can only be written at the loop variable's index "
         "(`row[i] = ...`), and objects made inside the loop can change freely"},
        {"xs = [[0]] * 4\nfor i in prange(3):\n    xs[i][0] = 1\n",
         "4:5: inside a prange loop, an item of 'xs' can't be changed: 'xs' is shared by all "
         "iterations; a list from outside the loop can only be written at the loop variable's "
         "index (`xs[i] = ...`), and objects made inside the loop can change freely"},
        {"xs = [0] * 4\nfor i in prange(3):\n    del xs[i]\n",
         "4:9: inside a prange loop, an item of 'xs' can't be changed: 'xs' is shared by all "
         "iterations; a list from outside the loop can only be written at the loop variable's "
         "index (`xs[i] = ...`), and objects made inside the loop can change freely"},
        {"def f(xs: list[int]) -> None:\n    xs[0] = 1\nys = [0]\nfor i in prange(3):\n    f(ys)\n",
         "6:5: f() can't be called inside a prange loop: at line 3, it changes an item of 'xs', "
         "which may be shared by all the loop's iterations"},
        {"for i in prange(3):\n    print(i)\n",
         "3:5: inside a prange loop, print() can't be used (the iterations run at the same time, "
         "in any order)"},
        {"def log(x: int) -> None:\n    print(x)\nfor i in prange(3):\n    log(i)\n",
         "5:5: log() can't be called inside a prange loop: at line 3, print() can't be used (the "
         "iterations run at the same time, in any order)"},
        {"for i in prange(3):\n    s = input()\n",
         "3:9: inside a prange loop, input() can't be used (the iterations run at the same time, "
         "in any order)"},
        {"for i in prange(3):\n    f = open('x')\n",
         "3:9: inside a prange loop, files can't be opened"},
        {"for i in prange(3):\n    exit(1)\n", "3:5: inside a prange loop, the program can't exit"},
        {"import sys\nfor i in prange(3):\n    sys.exit(1)\n",
         "4:5: inside a prange loop, the program can't exit"},
        {"import os\nfor i in prange(3):\n    os.remove('x')\n",
         "4:5: inside a prange loop, files can't be removed"},
        {"import random\nfor i in prange(3):\n    x = random.random()\n",
         "4:9: inside a prange loop, random numbers can't be drawn (the generator is shared); draw "
         "them before the loop"},
        {"from random import randint\nfor i in prange(3):\n    x = randint(1, 6)\n",
         "4:9: inside a prange loop, random numbers can't be drawn (the generator is shared); draw "
         "them before the loop"},
        {"import sys\nfor i in prange(3):\n    sys.stdout.write('x')\n",
         "4:5: inside a prange loop, sys.stdout can't be used"},
        {"data = [1]\nfor i in prange(3):\n    data.append(1)\n",
         "4:5: inside a prange loop, 'data' can't be changed by .append(): 'data' is shared by all "
         "iterations (objects made inside the loop can change freely)"},
        {"rows = [[1]]\nfor i in prange(1):\n    row = rows[i]\n    row.sort()\n",
         "5:5: inside a prange loop, 'row' can't be changed by .sort(): 'row' may be shared with "
         "other iterations (its value comes from outside the loop; change a copy made with "
         ".copy()) (objects made inside the loop can change freely)"},
        {"def add(xs: list[int]) -> None:\n    xs.append(1)\nys = [1]\nfor i in prange(3):\n    "
         "add(ys)\n",
         "6:5: add() can't be called inside a prange loop: at line 3, it changes 'xs' (.append()), "
         "which may be shared by all the loop's iterations"},
        {"rows = [[1]]\nfor i in prange(1):\n    ws = [r for r in rows]\n    ws[0].append(1)\n",
         "5:5: inside a prange loop, 'ws' can't be changed by .append(): 'ws' holds objects that "
         "come from outside the loop, shared by all iterations (objects made inside the loop can "
         "change freely)"},
        {"rows = [[1]]\nfor i in prange(1):\n    f = lambda r: r.append(1)\n",
         "4:19: inside a prange loop, 'r' can't be changed by .append(): 'r' may be shared with "
         "other iterations (its value comes from outside the loop; change a copy made with "
         ".copy()) (objects made inside the loop can change freely)"},
        {"rows = [[1]]\nfor i in prange(1):\n    row = rows[i]\n    row += [2]\n",
         "5:5: inside a prange loop, 'row' can't be changed by `+=`: 'row' may be shared with "
         "other iterations (its value comes from outside the loop; change a copy made with "
         ".copy()) (objects made inside the loop can change freely)"},
        {"ss = [{1}]\nfor i in prange(1):\n    s = ss[i]\n    s -= {1}\n",
         "5:5: inside a prange loop, 's' can't be changed by `-=`: 's' may be shared with other "
         "iterations (its value comes from outside the loop; change a copy made with .copy()) "
         "(objects made inside the loop can change freely)"},
        {"ss = [{1}]\nfor i in prange(1):\n    s = ss[i]\n    s |= {1}\n",
         "5:5: inside a prange loop, 's' can't be changed by `|=`: 's' may be shared with other "
         "iterations (its value comes from outside the loop; change a copy made with .copy()) "
         "(objects made inside the loop can change freely)"},
        {"def grow(xs: list[int]) -> None:\n    xs += [1]\nys = [1]\nfor i in prange(3):\n    "
         "grow(ys)\n",
         "6:5: grow() can't be called inside a prange loop: at line 3, it changes 'xs' (`+=`), "
         "which may be shared by all the loop's iterations"},
        {"rows = [[1]]\nfor i in prange(1):\n    ys = rows[:]\n    ys[0].append(1)\n",
         "5:5: inside a prange loop, 'ys' can't be changed by .append(): 'ys' holds objects that "
         "come from outside the loop, shared by all iterations (objects made inside the loop can "
         "change freely)"},
        {"rows = [[1]]\nfor i in prange(1):\n    for r in list(rows):\n        r.append(1)\n",
         "5:9: inside a prange loop, 'r' can't be changed by .append(): 'r' may be shared with "
         "other iterations (its value comes from outside the loop; change a copy made with "
         ".copy()) (objects made inside the loop can change freely)"},
        {"rows = [[1]]\nfor i in prange(1):\n    ys = rows.copy()\n    ys[0][0] = 1\n",
         "5:5: inside a prange loop, an item of 'ys' can't be changed: 'ys' holds objects that "
         "come from outside the loop, shared by all iterations; a list from outside the loop can "
         "only be written at the loop variable's index (`ys[i] = ...`), and objects made inside "
         "the loop can change freely"},
        {"def log(x: int) -> None:\n    print(x)\nfor i in prange(3):\n    f = log\n    f(i)\n",
         "6:5: log() can't be called inside a prange loop: at line 3, print() can't be used (the "
         "iterations run at the same time, in any order)"},
        {"def log(x: int) -> None:\n    print(x)\ng = log\nfor i in prange(3):\n    g(i)\n",
         "6:5: log() can't be called inside a prange loop: at line 3, print() can't be used (the "
         "iterations run at the same time, in any order)"},
        {"def make():\n    return abs\nfor i in prange(1):\n    x = make()(i)\n",
         "5:9: inside a prange loop, this call's function can't be known here, so it can't be "
         "checked; call the function by its name"},
        {"acc = [0]\ndef get() -> list[int]:\n    return acc\nfor i in prange(3):\n    "
         "get().append(i)\n",
         "6:5: inside a prange loop, 'it' can't be changed by .append(): 'it' is shared by all "
         "iterations (objects made inside the loop can change freely)"},
        {"for i in prange():\n    pass\n", "2:10: prange() takes 1 to 3 arguments, got 0"},
        {"for i in prange(1, 2, 3, 4):\n    pass\n",
         "2:10: prange() takes 1 to 3 arguments, got 4"},
        {"for i in prange(4, step=2):\n    pass\n",
         "2:10: prange() doesn't take keyword arguments"},
        {"for i in prange(0, 4, 0):\n    pass\n", "2:23: prange() arg 3 must not be zero"},
        {"for i, j in prange(4):\n    pass\n", "2:5: a prange loop variable must be a plain name"},
        {"t = 0\nfor i in prange(4):\n    t += i\n    t = max(t, i)\n",
         "5:5: inside a prange loop, 't' can't be reduced in two ways (a sum and a min/max)"},
        {"t = 0\nfor i in prange(4):\n    t += i\n    if t > 2:\n        pass\n",
         "5:8: inside a prange loop, 't' can't be read: it is a reduction (each thread updates its "
         "own copy, and the result is only known after the loop)"},
        {"t = 's'\nfor i in prange(4):\n    t += 'a'\n",
         "4:5: 't' is a str; a prange reduction needs an int or a float"},
        {"for i in prange(4.0):\n    pass\n", "2:17: prange() arguments must be int, not float"},
        {"i = 's'\nfor i in prange(4):\n    pass\n",
         "3:1: loop variable 'i' already holds a str, but this loop gives it int"},
        // Attributes and methods: the checker runs before any class code
        // is compiled.
        {"rows = [[1]]\nfor i in prange(1):\n    rows[i].x = 1\n",
         "4:5: inside a prange loop, an attribute of 'rows' can't be changed: 'rows' is shared by "
         "all iterations; only objects made inside the loop can change"},
        {"def touch(p):\n    p.x = 1\nrows = [[1]]\nfor i in prange(1):\n    touch(rows[i])\n",
         "6:5: touch() can't be called inside a prange loop: at line 3, it changes an attribute "
         "of 'p', which may be shared by all the loop's iterations"},
        {"class P:\n    def __init__(self, x: int):\n        self.x = x\n    def move(self):\n"
         "        self.x += 1\ndef run(ps: list[P]) -> None:\n    for i in prange(len(ps)):\n"
         "        ps[i].move()\n",
         "9:9: move() can't be called inside a prange loop: at line 6, it changes an attribute of "
         "'self', which may be shared by all the loop's iterations"},
        {"log: list[int] = []\nclass P:\n    def __init__(self, x: int):\n        log.append(x)\n"
         "for i in prange(3):\n    q = P(i)\n",
         "7:9: __init__() can't be called inside a prange loop: at line 5, it changes 'log' "
         "(.append()), which may be shared by all the loop's iterations"},
        {"class P:\n    def __init__(self, x: int):\n        self.x = x\ndef run(ps: list[P]) -> "
         "None:\n    for i in prange(len(ps)):\n        ps[i].update()\n",
         "7:9: inside a prange loop, 'ps' can't be changed by .update(): 'ps' is shared by all "
         "iterations (objects made inside the loop can change freely)"},
        // A call through the class name is checked as a call of the method
        // that class resolves, with its first argument as the receiver.
        {"class P:\n    def __init__(self, x: int):\n        self.x = x\n    def move(self):\n"
         "        self.x += 1\nclass Q(P):\n    pass\np = P(1)\nfor i in prange(2):\n"
         "    Q.move(p)\n",
         "11:5: move() can't be called inside a prange loop: at line 6, it changes an attribute of "
         "'self', which may be shared by all the loop's iterations"},
        {"class P:\n    def __init__(self, x: int):\n        self.x = x\n    def move(self):\n"
         "        self.x += 1\nclass Q(P):\n    pass\np = Q(1)\nf = Q.move\nfor i in prange(2):\n"
         "    f(p)\n",
         "12:5: move() can't be called inside a prange loop: at line 6, it changes an attribute of "
         "'self', which may be shared by all the loop's iterations"},
        // An object made in the loop holds an outside list once one is
        // stored into it: by an attribute store, by a method that keeps its
        // argument, or by its __init__ reading a module variable.
        {"class B:\n    def __init__(self) -> None:\n        self.items: list[int] = []\n"
         "    def attach(self, l: list[int]) -> None:\n        self.items = l\n"
         "out: list[int] = []\nfor i in prange(2):\n    b = B()\n    b.items = out\n"
         "    b.items.append(i)\n",
         "11:5: inside a prange loop, 'b' can't be changed by .append(): 'b' holds objects that "
         "come from outside the loop, shared by all iterations (objects made inside the loop can "
         "change freely)"},
        {"class B:\n    def __init__(self) -> None:\n        self.items: list[int] = []\n"
         "    def attach(self, l: list[int]) -> None:\n        self.items = l\n"
         "out: list[int] = []\nfor i in prange(2):\n    b = B()\n    b.attach(out)\n"
         "    b.items.append(i)\n",
         "11:5: inside a prange loop, 'b' can't be changed by .append(): 'b' holds objects that "
         "come from outside the loop, shared by all iterations (objects made inside the loop can "
         "change freely)"},
        {"out: list[int] = []\nclass B:\n    def __init__(self) -> None:\n        self.items = "
         "out\n"
         "for i in prange(2):\n    b = B()\n    b.items.append(i)\n",
         "8:5: inside a prange loop, 'b' can't be changed by .append(): 'b' holds objects that "
         "come from outside the loop, shared by all iterations (objects made inside the loop can "
         "change freely)"},
        // Dunder methods reached by len(), truth tests, indexing, `in` and
        // operators are checked like explicit calls.
        {"log: list[int] = []\nclass K:\n    def __len__(self) -> int:\n        log.append(1)\n"
         "        return 1\nr = [0] * 2\nfor i in prange(2):\n    r[i] = len(K())\n",
         "9:12: __len__() can't be called inside a prange loop: at line 5, it changes 'log' "
         "(.append()), which may be shared by all the loop's iterations"},
        {"log: list[int] = []\nclass K:\n    def __bool__(self) -> bool:\n        log.append(1)\n"
         "        return True\nr = [0] * 2\nfor i in prange(2):\n    if not K():\n"
         "        r[i] = 1\n",
         "9:8: __bool__() can't be called inside a prange loop: at line 5, it changes 'log' "
         "(.append()), which may be shared by all the loop's iterations"},
        {"log: list[int] = []\nclass K:\n    def __getitem__(self, x: int) -> int:\n"
         "        log.append(x)\n        return x\nr = [0] * 2\nfor i in prange(2):\n"
         "    r[i] = K()[i]\n",
         "9:12: __getitem__() can't be called inside a prange loop: at line 5, it changes 'log' "
         "(.append()), which may be shared by all the loop's iterations"},
        {"log: list[int] = []\nclass K:\n    def __contains__(self, x: int) -> bool:\n"
         "        log.append(x)\n        return True\nr = [False] * 2\nfor i in prange(2):\n"
         "    r[i] = i in K()\n",
         "9:12: __contains__() can't be called inside a prange loop: at line 5, it changes 'log' "
         "(.append()), which may be shared by all the loop's iterations"},
        {"log: list[int] = []\nclass K:\n    def __add__(self, o: int) -> int:\n"
         "        log.append(o)\n        return o\nr = [0] * 2\nfor i in prange(2):\n"
         "    r[i] = K() + i\n",
         "9:12: __add__() can't be called inside a prange loop: at line 5, it changes 'log' "
         "(.append()), which may be shared by all the loop's iterations"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rejection(std::string(kImport) + c.source), c.error) << c.source;
}

TEST(PrangeChecker, AcceptedBodies) {
    const std::vector<const char *> cases = {
        // Objects made inside the loop, copies, and reads of outside values.
        "data = [1]\nfor i in prange(3):\n    data.copy().append(i)\n",
        "for i in prange(3):\n    local: list[int] = []\n    local.append(i)\n    local += [i]\n",
        "rows = [[1]]\nfor i in prange(1):\n    x = rows[i].copy()\n    x.append(1)\n",
        "vals = [1, 2]\nfor i in prange(2):\n    v = vals[i]\n    v += 1\n",
        "ss = [{1}]\nfor i in prange(1):\n    s = ss[i].copy()\n    s |= {2}\n",
        // Loops inside the body may break; modules without shared state.
        "import math\nimport os\nimport sys\nimport time\nfor i in prange(3):\n"
        "    while True:\n        break\n    x = math.sqrt(i) + time.time() + len(sys.argv)\n"
        "    if i > 5:\n        os.unlink('nothing')\n",
        // The one shared write; a called function may start a prange of
        // its own (it runs serially there).
        "out = [0] * 3\nfor i in prange(3):\n    out[i] = i * 2\n",
        "def inner(n: int) -> int:\n    t = 0\n    for j in prange(n):\n        t += j\n"
        "    return t\nfor i in prange(3):\n    x = inner(i)\n",
        // Function values whose callee is known are checked like calls.
        "def sq(x: int) -> int:\n    return x * x\nf = sq\nfor i in prange(3):\n    y = f(i)\n"
        "    g = lambda v: v + 1\n    z = g(i)\n",
        // A recursive function is examined once per signature.
        "def fib(n: int) -> int:\n    return n if n < 2 else fib(n - 1) + fib(n - 2)\n"
        "for i in prange(3):\n    x = fib(i)\n",
        // A class-name call on an object made inside the loop, and a reading one.
        "class P:\n    def __init__(self, x: int):\n        self.x = x\n    def move(self):\n"
        "        self.x += 1\n    def get(self) -> int:\n        return self.x\np = P(1)\n"
        "for i in prange(2):\n    q = P(i)\n    P.move(q)\n    y = P.get(p) + P.get(q)\n",
        // Own objects given own lists or outside numbers stay the
        // iteration's own; dunders that only read run freely.
        "class B:\n    def __init__(self, n: int) -> None:\n        self.n = n\n"
        "        self.items: list[int] = []\n    def attach(self, l: list[int]) -> None:\n"
        "        self.items = l\n    def __eq__(self, o: B) -> bool:\n"
        "        return self.n == o.n\n    def __lt__(self, o: B) -> bool:\n"
        "        return self.n < o.n\nn = 3\nrows = [[1]]\nfor i in prange(2):\n"
        "    b = B(n)\n    b.attach([i])\n    b.items.append(i)\n    b.n = i\n"
        "    c = B(rows[0][0])\n    c.items.append(i)\n    k: list[list[int]] = []\n"
        "    k.append([i])\n    k[0].append(i)\n    if b == c or not k:\n"
        "        b.n = len(sorted([b, c]))\n",
    };
    for (const char *source : cases)
        EXPECT_EQ(rejection(std::string(kImport) + source), "(none)") << source;
}

} // namespace
} // namespace kestal
