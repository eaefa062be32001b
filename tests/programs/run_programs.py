#!/usr/bin/env python3
"""Program tests: compile and run every .ktl file of an area folder.

Each program NAME.ktl is run with `kestal run NAME.ktl` with a real C
compiler, from inside a fresh scratch folder (under --work) that holds only a
copy of NAME.ktl: diagnostics and tracebacks name it as NAME.ktl, and a
program may create, write and delete files in its working directory without
touching the source tree or another program's files. The folder is removed
afterwards. What the program does is compared with the files beside it:

  NAME.out     the exact standard output (absent: nothing)
  NAME.status  the exit status (absent: 1 when NAME.err exists, else 0)
  NAME.err     the first lines of standard error, exactly (absent: not
               checked); a compile error's first line reads
               "NAME.ktl:LINE:COL: error: MESSAGE"; the two lines after it,
               when present, are the excerpt of source line LINE
               ("  LINE | text") and the caret line ("      | " with a caret
               under column COL), and then standard error must hold those
               three lines and nothing more. Such an .err file is itself
               checked against NAME.ktl: its excerpt must quote line LINE
               and its caret must sit under column COL
  NAME.env     environments to run kestal (and so the built program) in,
               one a line of space-separated NAME=VALUE settings
               (KESTAL_THREADS=1); the program is run once per line and every run must meet the
               expectations (absent: one run in the plain environment)
  NAME.in      standard input (absent: empty)
  NAME.args    program arguments, one a line (absent: none)
  NAME.dir/    a folder whose contents are copied beside the program
               before it runs (absent: the area's default.dir/, if any);
               every C file in a folder named `lib` in it is built with the
               test's C compiler into the archive lib/lib<stem>.a beside it,
               as a library folder ships its own code
  NAME.files   files the program leaves in its folder, each as a line
               "== PATH ==" (relative to the folder) followed by the file's
               exact contents (so only the last may lack a final line
               break); every file named must exist with exactly that
               text (absent: not checked)

Every program is also run with python3, in a scratch folder of its own,
which must print the same standard output, end with the same status and
leave the same NAME.files, so an expectation is never only what our
compiler printed. A program that imports the `parallel` module gets a
one-line `parallel.py` beside it in Python's folder (`prange = range`), so
its loops run serially there. Two kinds of program are not given to Python: one the
compiler rejects (NAME.err starts with "NAME.ktl:"), and one whose first
line is a "# not-python: <why>" comment, for programs that show where the
language deliberately differs from Python (64-bit ints, its own rules).

Prints one line per program and closes with "N passed, N failed"; the exit
status is 1 when anything failed.
"""

import argparse
import concurrent.futures
import difflib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

NOT_PYTHON_MARKER = "# not-python:"
TIMEOUT_SECONDS = 120
DIAGNOSTIC_HEADER = re.compile(rb"^(?P<file>[^:]+):(?P<line>\d+):(?P<col>\d+): error: ")
FILES_HEADER = re.compile(rb"^== (?P<path>.+) ==\n", re.MULTILINE)


def read_optional(path: Path, default=None):
    return path.read_bytes() if path.exists() else default


def parse_files(text):
    """The (path, contents) pairs of a NAME.files text, in order."""
    if text is None:
        return []
    heads = list(FILES_HEADER.finditer(text))
    if not heads or heads[0].start() != 0:
        raise ValueError("a .files text must start with a \"== PATH ==\" line")
    ends = [h.start() for h in heads[1:]] + [len(text)]
    return [(h["path"].decode("utf-8"), text[h.end():end]) for h, end in zip(heads, ends)]


def show_diff(label: str, expected: bytes, actual: bytes) -> str:
    lines = difflib.unified_diff(
        expected.decode("utf-8", "replace").splitlines(keepends=True),
        actual.decode("utf-8", "replace").splitlines(keepends=True),
        f"expected {label}", f"actual {label}")
    return "".join(lines) or f"  ({label}: same text, different bytes)\n"


class Program:
    def __init__(self, source: Path):
        self.source = source
        self.name = source.stem
        folder = source.parent
        self.expected_out = read_optional(folder / f"{self.name}.out", b"")
        self.expected_err = read_optional(folder / f"{self.name}.err")
        status = read_optional(folder / f"{self.name}.status")
        if status is not None:
            self.expected_status = int(status.decode().strip())
        else:
            self.expected_status = 1 if self.expected_err is not None else 0
        self.stdin = read_optional(folder / f"{self.name}.in", b"")
        args = read_optional(folder / f"{self.name}.args")
        self.args = args.decode("utf-8").splitlines() if args is not None else []
        self.expected_files = parse_files(read_optional(folder / f"{self.name}.files"))
        envs = read_optional(folder / f"{self.name}.env")
        self.envs = ([dict(item.split("=", 1) for item in line.split())
                      for line in envs.decode("utf-8").splitlines() if line.strip()]
                     if envs is not None else [{}])
        self.uses_parallel = re.search(rb"^\s*(from parallel import|import parallel)",
                                       source.read_bytes(), re.MULTILINE) is not None
        self.fixture = folder / f"{self.name}.dir"
        if not self.fixture.is_dir():
            self.fixture = folder / "default.dir"
        first_line = source.read_text(encoding="utf-8-sig").split("\n", 1)[0]
        self.not_python = first_line.startswith(NOT_PYTHON_MARKER)
        self.rejected = (self.expected_err is not None and
                         self.expected_err.startswith(f"{source.name}:".encode()))
        # A rejection whose .err shows the excerpt and caret is the whole
        # diagnostic: nothing may follow it on standard error.
        self.whole_err = self.rejected and len(self.expected_err.splitlines()) > 1

    def check_err_file(self) -> list:
        """Faults of a rejection's .err file itself: an excerpt that doesn't
        quote the source line the header names, or a caret that isn't under
        the header's column. Catches a file edited (or generated) wrongly."""
        if not self.whole_err:
            return []
        lines = self.expected_err.splitlines()
        header = DIAGNOSTIC_HEADER.match(lines[0])
        if header is None or header["file"].decode() != self.source.name:
            return [f"  {self.name}.err: first line is no \"{self.source.name}:LINE:COL: "
                    f"error: \" header\n"]
        line, col = int(header["line"]), int(header["col"])
        source_lines = self.source.read_bytes().split(b"\n")
        if not 1 <= line <= len(source_lines) or col < 1:
            return [f"  {self.name}.err: the header names line {line}, column {col}, "
                    f"which {self.source.name} doesn't have\n"]
        quoted = source_lines[line - 1].removesuffix(b"\r")
        if line == 1:
            # The excerpt leaves out a byte-order mark, as the lexer skips it.
            quoted = quoted.removeprefix(b"\xef\xbb\xbf")
        want = [lines[0], f"{line:>5} | ".encode() + quoted,
                b"      | " + b" " * (col - 1) + b"^"]
        if lines != want:
            return [f"  {self.name}.err doesn't match its own header and {self.source.name}:\n"
                    + show_diff(f"{self.name}.err", b"\n".join(want) + b"\n",
                                b"\n".join(lines) + b"\n")]
        return []

    def check_files(self, folder: Path, label: str) -> list:
        faults = []
        for path, want in self.expected_files:
            target = folder / path
            if not target.is_file():
                faults.append(f"  {label}: {path} was not left behind\n")
            elif target.read_bytes() != want:
                faults.append(show_diff(f"{label} {path}", want, target.read_bytes()))
        return faults

    def build_archives(self, folder: Path, cc: str):
        """Builds every lib/NAME.c under the folder into lib/libNAME.a."""
        for source in sorted(folder.rglob("lib/*.c")):
            obj = source.with_suffix(".o")
            subprocess.run([cc, "-O2", "-c", str(source), "-o", str(obj)], check=True)
            subprocess.run(["ar", "rcs", str(source.parent / f"lib{source.stem}.a"), str(obj)],
                           check=True)

    def run(self, argv, env, work: Path, label: str, cc=None, shim: bool = False):
        """Runs argv in a fresh scratch folder holding a copy of the
        program and of its fixture folder (with the fixture's archives
        built by cc, when given) and, with `shim`, the serial `parallel`
        module; returns the finished process and the faults of the files
        it left."""
        folder = Path(tempfile.mkdtemp(prefix=f"{self.name}-", dir=work))
        try:
            shutil.copyfile(self.source, folder / self.source.name)
            if self.fixture.is_dir():
                shutil.copytree(self.fixture, folder, dirs_exist_ok=True)
                if cc is not None:
                    self.build_archives(folder, cc)
            if shim:
                (folder / "parallel.py").write_text("prange = range\n")
            done = self.run_in(argv, env, folder)
            return done, self.check_files(folder, label)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def run_in(self, argv, env, folder: Path) -> subprocess.CompletedProcess:
        # Its own process group, so that a timeout ends the built program
        # too, not only the kestal (or python3) that started it.
        with subprocess.Popen(argv, cwd=folder, env=env,
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, start_new_session=True) as proc:
            try:
                out, err = proc.communicate(self.stdin, timeout=TIMEOUT_SECONDS)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.communicate()
                raise subprocess.TimeoutExpired(argv, TIMEOUT_SECONDS)
        return subprocess.CompletedProcess(argv, proc.returncode, out, err)

    def check_kestal(self, kestal: str, env, work: Path) -> list:
        faults = []
        for extra in self.envs:
            run_faults = self.check_kestal_run(kestal, dict(env, **extra), work)
            if run_faults and extra:
                run_faults.insert(0, "  with " + " ".join(f"{k}={v}" for k, v in extra.items())
                                  + ":\n")
            faults += run_faults
        return faults

    def check_kestal_run(self, kestal: str, env, work: Path) -> list:
        argv = [kestal, "run", self.source.name]
        if self.args:
            argv += ["--"] + self.args
        done, faults = self.run(argv, env, work, "files", env["KESTAL_CC"])
        if done.stdout != self.expected_out:
            faults.append(show_diff("stdout", self.expected_out, done.stdout))
        if done.returncode != self.expected_status:
            faults.append(f"  exit status {done.returncode}, expected {self.expected_status}\n")
        if self.expected_err is not None:
            want = self.expected_err.splitlines(keepends=True)
            got = done.stderr.splitlines(keepends=True)
            if not self.whole_err:
                got = got[:len(want)]
            if [line.rstrip(b"\n") for line in got] != [line.rstrip(b"\n") for line in want]:
                label = "stderr" if self.whole_err else "stderr (first lines)"
                faults.append(show_diff(label, b"".join(want), b"".join(got)))
        if faults and done.stderr and self.expected_err is None:
            faults.append("  stderr:\n" + done.stderr.decode("utf-8", "replace"))
        return faults

    def check_python(self, env, work: Path) -> list:
        done, faults = self.run([sys.executable, self.source.name] + self.args, env, work,
                                "python3 files", shim=self.uses_parallel)
        if done.stdout != self.expected_out:
            faults.append(show_diff("python3 stdout", self.expected_out, done.stdout))
        if done.returncode != self.expected_status:
            faults.append(f"  python3 exit status {done.returncode}, "
                          f"expected {self.expected_status}\n")
        if faults and done.stderr:
            faults.append("  python3 stderr:\n" + done.stderr.decode("utf-8", "replace"))
        return faults

    def check(self, kestal: str, kestal_env, python_env, work: Path) -> list:
        faults = self.check_err_file() + self.check_kestal(kestal, kestal_env, work)
        if not (self.not_python or self.rejected):
            faults += self.check_python(python_env, work)
        return faults


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--kestal", required=True, help="the built kestal tool")
    parser.add_argument("--cc", required=True, help="the C compiler (KESTAL_CC)")
    parser.add_argument("--work", required=True, help="a folder for temporary files")
    parser.add_argument("--jobs", type=int, default=min(4, os.cpu_count() or 1))
    parser.add_argument("folders", nargs="+", type=Path)
    options = parser.parse_args()

    # Absolute: the programs run inside scratch folders, and a relative
    # TMPDIR would put the tool's work folder inside each of them.
    work = Path(options.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    scratch = work / "scratch"
    scratch.mkdir(exist_ok=True)
    # Each test run starts with an empty build cache, so every program is
    # compiled by the C compiler under test rather than found from an
    # earlier run (the work folder is private to this area and compiler).
    shutil.rmtree(work / f"kestal-{os.getuid()}" / "cache", ignore_errors=True)
    # The daily update check stays off, so no run ever starts a background
    # copy that would reach for the network.
    # Libraries are found only where a program's own files put them: never
    # in the folders of the user running the tests.
    kestal_env = dict(os.environ, KESTAL_CC=options.cc, TMPDIR=str(work),
                      KESTAL_NO_UPDATE_CHECK="1",
                      LOCALAPPDATA=str(work.resolve() / "no-installed-libraries"))
    kestal_env.pop("KESTAL_LIBS", None)
    python_env = dict(os.environ, PYTHONHASHSEED="0", PYTHONIOENCODING="utf-8",
                      PYTHONDONTWRITEBYTECODE="1")
    programs = [Program(path) for folder in options.folders
                for path in sorted(folder.glob("*.ktl"))]
    if not programs:
        print("no programs found in " + " ".join(map(str, options.folders)))
        return 1

    def check(program):
        try:
            return program.check(os.path.abspath(options.kestal), kestal_env, python_env,
                                 scratch)
        except subprocess.TimeoutExpired as timeout:
            return [f"  timed out after {TIMEOUT_SECONDS} s: {' '.join(timeout.cmd)}\n"]

    failed = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.jobs)) as pool:
        for program, faults in zip(programs, pool.map(check, programs)):
            label = f"{program.source.parent.resolve().name}/{program.source.name} [{options.cc}]"
            if faults:
                failed += 1
                print(f"FAIL {label}\n" + "".join(faults), end="")
            else:
                print(f"ok   {label}")
    print(f"{len(programs) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
