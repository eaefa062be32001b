# Oracle of test_files.c: the same file operations with Python's files and
# os module, in a fresh directory. Kestal's own texts: only 'r', 'w', 'a'
# and 'x' modes, and a failed rename names its first path only.
import os
import posixpath
import shutil
import tempfile

out = []


def p(*parts):
    out.append("".join(parts) + "\n")


def attempt(f):
    try:
        f()
    except (OSError, ValueError) as e:
        p(f"{type(e).__name__}: {e}")


def lines(path):
    with open(path) as f:
        while True:
            l = f.readline()
            n = len(l.encode())
            p(f"{n} " + (repr(l) if n < 40 else ""))
            if not l:
                break


def write_file(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


top = tempfile.mkdtemp()
os.chdir(top)
chunk = 1 << 20
n = 2 * chunk + 20
b = bytearray(b"x" * n)
b[chunk - 1] = ord("\r")
b[chunk] = ord("\n")
b[chunk + 10] = ord("\r")
b[2 * chunk - 1] = ord("\r")
b[2 * chunk] = ord("y")
b[n - 6:n - 1] = b"\r\r\n\na"
with open("crlf.txt", "wb") as f:
    f.write(bytes(b[:n - 1]))
lines("crlf.txt")
with open("crlf.txt") as f:
    a = f.read()
    p(str(len(a)), str(a.count("\n")), str(a.count("\r")))
    p(repr(f.read()))
    p(repr(f.readline()))
write_file("small.txt", "one\r\ntwo\rthree\n\nlast")
lines("small.txt")
with open("small.txt") as f:
    p(str(f.readlines()))
write_file("empty.txt", "")
lines("empty.txt")
big = 5 * 1000 * 1000
q = "".join(chr(ord("a") + i % 26) for i in range(26)) * (big // 26 + 1)
q = q[:big]
write_file("big.txt", q)
with open("big.txt") as f:
    s = f.readline()
    p(str(len(s)), str(s == q))

f = open("w.txt", "w")
p(str(f.write("héllo\n")))
f.writelines(["a\n", "b"])
f.flush()
lines("w.txt")
attempt(lambda: f.read())
f.close()
f.close()
attempt(lambda: f.write("x"))
attempt(lambda: f.flush())
attempt(lambda: f.readline())
out.append(str(f.closed))
p(repr(f.name))
with open("w.txt", "a") as f:
    f.write("\nappended")
lines("w.txt")
with open("w.txt") as f:
    attempt(lambda: f.write("x"))
attempt(lambda: open("w.txt", "x"))
new = open("new.txt", "x")
new.write("fresh")
attempt(lambda: open("missing.txt"))
attempt(lambda: open("no/such/dir.txt", "w"))
with open("p.txt", "w") as f:
    print("printed 1", file=f)
lines("p.txt")
p("to stdout")
p("written to stdout")

os.mkdir("d")
attempt(lambda: os.mkdir("d"))
attempt(lambda: open("d"))
attempt(lambda: open("d", "w"))
attempt(lambda: os.remove("d"))
p(str(os.path.exists("d")), str(os.path.isfile("d")), str(os.path.isdir("d")),
  str(os.path.isfile("w.txt")), str(os.path.isdir("w.txt")), str(os.path.exists("nope")))
write_file("d/one", "12345")
write_file("d/two", "")
p(str(os.path.getsize("d/one")))
p(str(sorted(os.listdir("d"))))
attempt(lambda: os.listdir("nope"))
attempt(lambda: os.path.getsize("nope"))
attempt(lambda: os.rmdir("d"))
os.rename("d/two", "d/three")
p("FileNotFoundError: [Errno 2] No such file or directory: 'd/two'")
os.remove("d/one")
attempt(lambda: os.remove("d/one"))
p(str(os.listdir("d")))
os.remove("d/three")
p(str(os.listdir("d")))
os.rmdir("d")
p(str(os.path.exists("d")))
os.utime("w.txt", ns=(1000000000500000000, 1000000000500000000))
p(repr(os.path.getmtime("w.txt")))
p(str(os.getcwd().startswith("/")))
p(repr("a b"))
p(repr(os.getenv("KT_TEST_NOT_SET", "unset")))
attempt(lambda: open("w.txt\0x"))
p("ValueError: invalid mode: 'rb' (Kestal supports 'r', 'w', 'a' and 'x')")
p("ValueError: invalid mode: 'r+' (Kestal supports 'r', 'w', 'a' and 'x')")

with open("small.txt") as f:
    data = f.read()
p(str(150 * len(data) + 150 * data.count("\n") + 150 * (not data.endswith("\n"))))

# Files dropped while open are closed once nothing refers to them.
with open("seq.txt", "w"):
    pass
total = 0
for i in range(300):
    total += len(open("small.txt").readline())
    open("seq.txt", "a").write(f"{i}\n")
with open("kept.txt", "w") as kept:
    kept.write("kept")
with open("seq.txt") as f:
    seq = f.read().splitlines()
with open("kept.txt") as f:
    p(f"{total} {f.read()}")

ps = ["", "a", "/", "a/b", "/a/b/", "a//b//c", "//x", ".profile", "a.b.c", "dir.x/file",
      "dir/.hidden.txt", "a/..b", "x.", "/a/b.tar.gz", "...", "a/"]
for x in ps:
    root, ext = posixpath.splitext(x)
    row = [repr(posixpath.basename(x)), repr(posixpath.dirname(x)), repr(root), repr(ext)]
    row += [repr(posixpath.join(x, y)) for y in ps[::3]]
    p(" ".join(row))
new.close()
p("new.txt at exit: fresh")
# Two handles on one file each, closed in the order they were opened.
handles = [open("two.txt", "w"), open("two.txt", "w")]
handles[0].write("old")
handles[1].write("new")
for name in ["0 ", "1 ", "2"]:
    handles.append(open("log.txt", "a"))
    handles[-1].write(name)
for h in handles:
    h.close()
for name in ["two.txt", "log.txt"]:
    with open(name) as f:
        p(f"{name} at exit: {f.read()}")
p(f"seq.txt at exit: {len(seq)} {seq == [str(i) for i in range(300)]}")
os.chdir("/")
shutil.rmtree(top)
print("".join(out), end="")
