# Oracle of test_str_methods.c: Python's str methods over the same table.
# The table is ASCII wherever Python counts characters and Kestal bytes.
import sys

out = []
w = out.append

def lab(l):
    w(l + ": ")

def ps(l, s): w(f"{l}: {s!r}\n")
def pi(l, v): w(f"{l}: {v}\n")
def pb(l, v): w(f"{l}: {v}\n")
def pl(l, v): w(f"{l}: {v!r}\n")
def pt(l, t): w(f"{l}: {t!r}\n")
def ph(l, s): w(f"{l}: {s.encode('utf-8', 'surrogatepass').hex()}\n")

def try_(f):
    try:
        f()
    except Exception as e:
        w(f"{type(e).__name__}: {e}\n")

strings = [
    "", "a", "abc", "  hello  world  ", "a,b,,c", ",", ",,", "\t\nx y\x1c z\x1f ",
    "Hello World", "hELLO wORLD", "it's", "say \"hi\"", "both ' and \"", "12345", "abc123",
    "ABC", "a\r\nb\rc\n", "line1\nline2\vline3\fend\x1cx\x1dy\x1ez\x1fw", "they're bill's friends",
    "hello2world", "aaaa", "abababab", "-42", "+7", "back\\slash", "\x01\x02\x7f", "   ",
    "\r\n", "x\n\ny\n", "a b  c   d",
    "nul\0in\0side",
    "abc " * 40 + "needle" + "x" * 37 + ",",
    "," * 100 + "a" + ",,b",
    (" \t" * 20 + "word") * 5,
    "A" * 70 + "b" * 70 + "1" * 70,
    "needl" * 30 + "needle",
    "0123456789" * 13,
    "Ab1 " * 33,
    "ab\n" * 30 + "\r\n" * 20,
]
needles = ["", "a", "b", "ab", "aa", ",", "  ", "needle", "l", "o w", "xyz", "\\", "ll", "x",
           "\n", "abc ", "1"]
bounds = [None, -100, -3, -1, 0, 1, 2, 5, 100]
steps = [0, 1, 2, -1, -2, 3, -7]
widths = [-5, 0, 3, 6, 9, 10, 40]

def cmp(a, b):
    a, b = a.encode(), b.encode()
    return (a > b) - (a < b)

for s in strings:
    ps("repr", s)
    pi("len", len(s))
    ps("upper", s.upper())
    ps("lower", s.lower())
    ps("title", s.title())
    ps("capitalize", s.capitalize())
    ps("strip", s.strip())
    ps("lstrip", s.lstrip())
    ps("rstrip", s.rstrip())
    pb("isdigit", s.isdigit())
    pb("isalpha", s.isalpha())
    pb("isspace", s.isspace())
    pb("isalnum", s.isalnum())
    pb("isupper", s.isupper())
    pb("islower", s.islower())
    ws = s.split()
    pl("split", ws)
    for m in range(3):
        pl("split_max", s.split(maxsplit=m))
    pl("splitlines", s.splitlines())
    pl("splitlines_keep", s.splitlines(True))
    ps("join", "--".join(ws))
    ps("join1", ", ".join(s.split(",")))
    for wd in widths:
        ps("zfill", s.zfill(wd))
        ps("center", s.center(wd, " "))
        ps("center*", s.center(len(s) + wd, "*"))
        ps("ljust", s.ljust(wd, "é"))
        ps("rjust", s.rjust(wd, "."))
    try_(lambda: ps("center_bad", s.center(10, "ab")))
    try_(lambda: ps("ljust_bad", s.ljust(0, "")))
    for i in [-100, -2, -1, 0, 1, 3]:
        try_(lambda: ps("at", s[i]))
    for st in steps:
        lab("slices")
        for lo in bounds:
            for hi in bounds:
                r = s[lo:hi] if st == 0 else s[lo:hi:st]
                w(repr(r) + " ")
        w("\n")
    for n in needles:
        ps("needle", n)
        pi("find", s.find(n))
        pi("rfind", s.rfind(n))
        try_(lambda: pi("index", s.index(n)))
        try_(lambda: pi("rindex", s.rindex(n)))
        pi("count", s.count(n))
        pb("in", n in s)
        pb("startswith", s.startswith(n))
        pb("endswith", s.endswith(n))
        ps("removeprefix", s.removeprefix(n))
        ps("removesuffix", s.removesuffix(n))
        ps("strip_c", s.strip(n))
        ps("lstrip_c", s.lstrip(n))
        ps("rstrip_c", s.rstrip(n))
        ps("replace", s.replace(n, "<>"))
        ps("replace_del", s.replace(n, ""))
        try_(lambda: pl("split_sep", s.split(n)))
        try_(lambda: pi("split_count", len(s.split(n))))
        for m in range(-1, 3):
            try_(lambda: pl("split_sep_max", s.split(n, m)))
        try_(lambda: pt("partition", s.partition(n)))
        try_(lambda: pt("rpartition", s.rpartition(n)))
        pb("eq", s == n)
        pi("cmp", cmp(s, n))

for c in ["a", "é", "中", "😀", "\x7f", "", "ab", "é!", "中文", "\0"]:
    try_(lambda: pi("ord", ord(c)))
for c in [0, 65, 127, 128, 233, 0x7ff, 0x800, 0xd800, 0xffff, 0x10000, 0x1f600, 0x10ffff, -1,
          0x110000, -1000000]:
    try_(lambda: ph("chr", chr(c)))
for u in ["", "abc", "é", "中文", "😀x", "café crème brûlée — 中文 ok"]:
    pi("utf8_len", len(u))
    ps("replace_empty", u.replace("", "|"))
for a, c in [("é", "©"), ("©x©", "©"), ("éabcé", "éa"), ("中文中", "中"), ("😀 ok 😀", "😀 "),
             ("xxéxx", "x")]:
    ps("strip_u", a.strip(c))
    ps("lstrip_u", a.lstrip(c))
    ps("rstrip_u", a.rstrip(c))
lines = "a\x85b\u2028c\u2029d€e"
for l in lines.splitlines():
    ph("line", l)
for l in lines.splitlines(True):
    ph("line_keep", l)

def too_long(what):
    raise OverflowError(what)
try_(lambda: too_long("repeated string is too long"))
try_(lambda: too_long("padded string is too long"))
ps("ljust_min", "ab".ljust(-(1 << 63), " "))
ps("center_min", "ab".center(-(1 << 63), " "))
ps("rep3", "ab" * 3)
ps("rep0", "ab" * 0)
ps("rep-1", "ab" * -1)
ps("rep_empty", "" * 5)
try_(lambda: ps("slice_step0", "abc"[::0]))
ps("slice_minstep", "abcdef"[::-(1 << 63)])
ps("slice_maxstep", "abcdef"[::(1 << 63) - 1])
sys.stdout.write("".join(out))
