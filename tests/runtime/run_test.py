#!/usr/bin/env python3
"""Builds one runtime test program with a C compiler and checks it.

A test `test_x.c` includes "kestal_runtime.c" (found with -I on the runtime
folder of the build) and defines the six names the program section defines.
It passes when it builds with the fixed flags, exits with the expected status
and prints the expected output:
  - the expected status is 0 unless the file has a line `// expect-status: N`;
  - when `test_x.py` stands beside it, its standard output (python3 is the
    oracle, computed now) must equal the program's standard output;
  - when `test_x.stderr` stands beside it, the program's standard error must
    equal that file;
  - lines `// env: NAME=VALUE` set environment variables for the run;
  - a line `// run-under: COMMAND` runs the program through COMMAND (split
    like a shell would), the program's path added as its last argument;
    for instance `sh -c 'ulimit -v 400000 && exec "$0"'`;
  - a line `// warnings: error` builds with -Wall -Wextra -Werror instead of
    the fixed flags' -w, so the runtime text (and the test) must compile
    without a single warning.
It builds and runs one program, one process at a time, so CTest counts each
test as one processor.
"""
import argparse
import os
import re
import shlex
import subprocess
import sys


def fixed_flags():
    """The compiler's fixed C flags, read from the file the driver includes."""
    here = os.path.dirname(os.path.abspath(__file__))
    path = os.path.join(here, "..", "..", "src", "main", "fixed_c_flags.inc")
    with open(path, encoding="utf-8") as f:
        lines = [line.strip() for line in f if not line.startswith("//")]
    flags = [m.group(1) for line in lines if (m := re.fullmatch(r'"([^"]+)",', line))]
    if len(flags) != len([line for line in lines if line]) or "-w" not in flags:
        sys.exit(f"run_test.py: can't read the fixed flags from {path}")
    return flags


FLAGS = fixed_flags()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cc", required=True)
    ap.add_argument("--runtime-dir", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("test")
    args = ap.parse_args()

    src = args.test
    text = open(src, encoding="utf-8").read()
    name = os.path.splitext(os.path.basename(src))[0]
    for flag in re.findall(r"^// requires-cpu: (\w+)$", text, re.M):
        if not cpu_has(flag):
            print(f"skipped: this processor lacks {flag}")
            return 77
    os.makedirs(args.work, exist_ok=True)
    exe = os.path.join(args.work, f"{name}-{args.cc}")
    extra = re.findall(r"^// cflags: (.*)$", text, re.M)
    flags = list(FLAGS)
    if re.search(r"^// warnings: error$", text, re.M):
        flags[flags.index("-w")] = "-Wall -Wextra -Werror"
        flags = " ".join(flags).split()
    cmd = [args.cc, *flags, "-I", args.runtime_dir, src, "-o", exe, "-lm", "-lpthread"]
    for e in extra:
        cmd[1:1] = e.split()
    build = subprocess.run(cmd, capture_output=True, text=True)
    if build.returncode != 0:
        sys.stderr.write(" ".join(cmd) + "\n" + build.stdout + build.stderr)
        return 1

    env = dict(os.environ)
    for m in re.findall(r"^// env: (\w+)=(.*)$", text, re.M):
        env[m[0]] = m[1]
    stdin_text = None
    m = re.search(r"^// stdin: (.*)$", text, re.M)
    if m:
        stdin_text = m.group(1).encode().decode("unicode_escape").encode()
    argv = [exe]
    m = re.search(r"^// run-under: (.*)$", text, re.M)
    if m:
        argv = shlex.split(m.group(1)) + [exe]
    run = subprocess.run(argv, capture_output=True, env=env, input=stdin_text, timeout=120,
                         cwd=args.work)
    m = re.search(r"^// expect-status: (\d+)$", text, re.M)
    want_status = int(m.group(1)) if m else 0
    ok = True
    if run.returncode != want_status:
        sys.stderr.write(f"exit status {run.returncode}, expected {want_status}\n")
        ok = False
    oracle = os.path.splitext(src)[0] + ".py"
    if os.path.exists(oracle):
        want = subprocess.run([sys.executable, oracle], capture_output=True, check=True).stdout
        if run.stdout != want:
            report("standard output", run.stdout, want)
            ok = False
    errfile = os.path.splitext(src)[0] + ".stderr"
    if os.path.exists(errfile):
        want = open(errfile, "rb").read()
        if run.stderr != want:
            report("standard error", run.stderr, want)
            ok = False
    if not ok:
        sys.stderr.write(run.stderr.decode(errors="replace")[-4000:])
    return 0 if ok else 1


def cpu_has(flag):
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as f:
            return any(line.startswith("flags") and flag in line.split() for line in f)
    except OSError:
        return False


def report(what, got, want):
    got_lines = got.decode(errors="replace").splitlines()
    want_lines = want.decode(errors="replace").splitlines()
    for i in range(max(len(got_lines), len(want_lines))):
        g = got_lines[i] if i < len(got_lines) else "<missing>"
        w = want_lines[i] if i < len(want_lines) else "<missing>"
        if g != w:
            sys.stderr.write(f"{what} differs at line {i + 1}:\n  got:  {g!r}\n  want: {w!r}\n")
            return
    sys.stderr.write(f"{what} differs (trailing bytes)\n")


if __name__ == "__main__":
    sys.exit(main())
