# Oracle of test_strbuilder.c: the same texts through Python's format().
import re
import sys

out = []
def line(s):
    out.append(s + "|\n")

I64MAX = (1 << 63) - 1
ints = [0, 7, -7, 255, 1234, -1234, 1234567, 999999, 1000000, I64MAX, -I64MAX - 1]
ifmts = ["d", "5d", "<5d", "+d", "05d", "500d", "<300d"]
xfmts = ["x", "X", "o", "40x"]
floats = [float(t) for t in ["0.0", "-0.0", "1.5", "2.5", "1234.5678", "-0.001", "1e300",
                             "1e-300", "inf", "-inf", "nan", "1234567.891", "-9876543.21"]]
inf = float("inf")
floats.append(inf - inf)
ffmts = [".2f", "10.3f", "<10.1f", "e", ".3E", "g", "+.1f", ".0f", "400.2f", ".300f", "f", "G"]
igroups = [",", "_", "+12,", "<12,", "500_"]
fgroups = [",.2f", "<+20_.3e", ",f", "30_.1f", ",.2E"]

line("".join(f"{i}," for i in range(1000)) + "0.1")
for v in ints:
    for f in ifmts:
        line(format(v, f))
    if v >= 0:
        for f in xfmts:
            line(format(v, f))
    for g in igroups:
        line(format(v, g))
for v in floats:
    for f in ffmts:
        line(format(v, f))
    for g in fgroups:
        line(format(v, g))
for s in ["", "abc", "hello world"]:
    for w in [-1, 0, 3, 5, 12, 300, -(1 << 63)]:
        for left in [False, True]:
            line(s.ljust(w) if left else s.rjust(w))
for s in ["", "it's", "say \"hi\"", "both ' and \"", "tab\there", "nl\ncr\r", "back\\slash",
          "\x01\x1f\x7f", "café", "a\0b"]:
    line(repr(s))
fill = "o" * 40000
out.append(fill + "\n")
line(("x" + "42" + "c" * 100000)[:10])
line("'y'")
out.append(fill + "\n")
line("<__main__.Point object at 0x00000000ABCDEF12>")
fsi = [0, 7, -7, 255, -255, I64MAX, -I64MAX - 1]
ispecs = ["d", "x", "X", "#x", "#X", "o", "#o", "b", "#b", "+#x", "08x", "#010x", ">08d", "<08d",
          "<+8d", ">#12b", "020b", "+d", "30d", "<#7o", ">+#6X", "#0100b"]
fsf = [float(t) for t in ["0.0", "-0.0", "1.0", "1.5", "123.0", "99.5", "1234.5678", "1e16",
                          "1e-5", "0.0001", "1e300", "inf", "-inf", "nan", "12.0", "0.5", "100.0",
                          "2.675", "-7.25e-300"]]
fspecs = ["", ".3", ".1", ".0", "#.3", "#", "10", "<10", "010", ">010", "+", "+.2", "%", ".1%",
          "010.2%", "#.0f", "#g", ".0e", "015e", "#.3g", "012g", "G", "E", ">12.3", ".20", ".60f",
          "<+012.4", "#.0e", ".17", "#010.3"]
for v in fsi:
    for f in ispecs:
        line(format(v, f))
for v in fsf:
    for f in fspecs:
        line(format(v, f))
for t in ["", "ab", "été"]:
    for w in range(0, 6, 2):
        line(format(t, f"<{w}") + format(t, f">{w}"))

def c_radix(fmt, v):
    # Python's '%' lays x, X and o out as C's printf lays out a signed
    # conversion, except that it keeps a '0' flag beside a precision and
    # gives zero at precision 0 a digit.
    flags, width, prec, conv = re.fullmatch(r"%([-+0]*)(\d*)(?:\.(\d*))?([xXo])", fmt).groups()
    if prec is None:
        return fmt % v
    flags = flags.replace("0", "")
    if v == 0 and prec in ("", "0"):
        return f"%{flags.replace('+', '')}{width}s" % ("+" if "+" in flags else "")
    return f"%{flags}{width}.{prec}{conv}" % v

for v in [0, 7, 255, -255, -1, I64MAX, -I64MAX - 1]:
    for f in ["%x", "%X", "%o", "%+x", "%08x", "%-8X", "%+010o", "%.4x", "%-+12.3x", "%08.3x",
              "%.0x", "%.x", "%30o", "%-08x", "%+5.0o", "%-6.0X", "%025o", "%+.25o"]:
        line(c_radix(f, v))
sys.stdout.write("".join(out))
