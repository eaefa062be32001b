#!/usr/bin/env python3
"""End-to-end tests of the build cache of `kestal run` and of `kestal doctor`.

Every test points the tool at a scratch temporary folder of its own (TMPDIR),
so the work folder and its cache are private to the test and the user's are
never touched. The C compiler is a wrapper script (KESTAL_CC) around the real
gcc or clang that counts its calls, so a test sees whether a run compiled.

Usage: run_driver_tests.py --kestal PATH GROUP   (GROUP: Cache or Doctor)
Exit status 77 (skipped) when neither gcc nor clang is installed.
"""

import argparse
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

KESTAL = ""
REAL_CC = ""
TIMEOUT = 120

TIME_LINE = re.compile(r"kestal: compile [0-9]+ ms( \(cached\))?, run [0-9]+ ms\n")

# Counts its calls in $1's folder file "calls", then runs the real compiler.
# With SLOW_WRITE set, the executable is rewritten slowly after the real
# compile: its first bytes, then the marker file SLOW_WRITE names, then a
# pause, then the whole file, as a slow linker on a busy disk would leave it.
WRAPPER = """#!/bin/sh
echo call >> '{calls}'
out=; prev=
for a in "$@"; do
  [ "$prev" = "-o" ] && out=$a
  prev=$a
done
'{cc}' "$@" || exit $?
if [ -n "$SLOW_WRITE" ] && [ -n "$out" ]; then
  mv "$out" "$out.whole"
  head -c 4096 "$out.whole" > "$out"
  chmod 755 "$out"
  touch "$SLOW_WRITE"
  sleep 3
  cat "$out.whole" > "$out"
  rm -f "$out.whole"
fi
"""


def fixed_c_flags() -> list:
    """The quoted flags of src/main/fixed_c_flags.inc, in order."""
    text = (Path(__file__).resolve().parents[2] / "src/main/fixed_c_flags.inc").read_text()
    return re.findall(r'^"([^"]*)",$', text, re.MULTILINE)


class Scratch:
    """A scratch folder with a private temporary folder and a counting
    compiler wrapper."""

    def __init__(self, test: unittest.TestCase):
        self.root = Path(tempfile.mkdtemp(prefix="kestal-driver-"))
        test.addCleanup(shutil.rmtree, self.root, True)
        self.tmp = self.root / "tmp"
        self.tmp.mkdir()
        self.calls = self.root / "calls"
        self.cc = self.write_script("cc-wrapper", WRAPPER.format(calls=self.calls, cc=REAL_CC))

    def write_script(self, name: str, text: str) -> Path:
        path = self.root / name
        path.write_text(text)
        path.chmod(0o755)
        return path

    def write(self, name: str, text: str) -> Path:
        path = self.root / name
        path.write_text(text)
        return path

    @property
    def work(self) -> Path:
        return self.tmp / f"kestal-{os.getuid()}"

    @property
    def cache(self) -> Path:
        return self.work / "cache"

    def compiles(self) -> int:
        return len(self.calls.read_text().splitlines()) if self.calls.exists() else 0

    def env(self, **extra) -> dict:
        env = dict(os.environ, TMPDIR=str(self.tmp), KESTAL_CC=str(self.cc),
                   KESTAL_NO_UPDATE_CHECK="1")
        env.pop("SLOW_WRITE", None)
        env.update({name: str(value) for name, value in extra.items()})
        return env

    def argv(self, *args) -> list:
        return [KESTAL] + [str(a) for a in args]

    def kestal(self, *args, **extra) -> subprocess.CompletedProcess:
        return subprocess.run(self.argv(*args), env=self.env(**extra), cwd=self.root,
                              capture_output=True, text=True, timeout=TIMEOUT)

    def start(self, *args, **extra) -> subprocess.Popen:
        return subprocess.Popen(self.argv(*args), env=self.env(**extra), cwd=self.root,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def cache_names(self) -> list:
        return sorted(os.listdir(self.cache)) if self.cache.exists() else []


class Cache(unittest.TestCase):
    def setUp(self):
        self.s = Scratch(self)
        self.prog = self.s.write("prog.ktl", "import sys\nprint('args', sys.argv[1:])\n")

    def run_timed(self, *args, **extra):
        done = self.s.kestal("run", self.prog, "--time", *args, **extra)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertRegex(done.stderr, TIME_LINE)
        return done

    def assert_only_cached_executables(self, count: int):
        names = self.s.cache_names()
        self.assertEqual(len(names), count, names)
        for name in names:
            self.assertRegex(name, r"^[0-9a-f]{16}$")
            self.assertTrue(os.access(self.s.cache / name, os.X_OK), name)
        # Neither C files nor temporary executables stay in the work folder.
        self.assertEqual(sorted(os.listdir(self.s.work)), ["cache"])

    def test_second_run_of_an_unchanged_program_skips_the_compiler(self):
        first = self.run_timed("--", "a", "b c")
        self.assertEqual(first.stdout, "args ['a', 'b c']\n")
        self.assertNotIn("(cached)", first.stderr)
        self.assertEqual(self.s.compiles(), 1)
        second = self.run_timed("--", "d")
        self.assertEqual(second.stdout, "args ['d']\n")
        self.assertIn(" (cached), run ", second.stderr)
        self.assertEqual(self.s.compiles(), 1)
        self.assert_only_cached_executables(1)

    def test_a_changed_program_or_key_option_rebuilds(self):
        other_cc = self.s.write_script("other-cc", self.s.cc.read_text())
        # Each variation is a new key (built once, then found); the plain
        # run of the first row is found again at the end.
        variations = [
            ([], {}),
            (["--portable"], {}),
            (["--unchecked"], {}),
            ([], {"KESTAL_CC": other_cc}),
        ]
        for n, (options, extra) in enumerate(variations, start=1):
            with self.subTest(options=options, env=extra):
                built = self.run_timed(*options, **extra)
                self.assertNotIn("(cached)", built.stderr)
                self.assertEqual(self.s.compiles(), n)
                found = self.run_timed(*options, **extra)
                self.assertIn("(cached)", found.stderr)
                self.assertEqual(self.s.compiles(), n)
        self.assertIn("(cached)", self.run_timed().stderr)
        self.prog.write_text("print('changed')\n")
        changed = self.run_timed()
        self.assertEqual(changed.stdout, "changed\n")
        self.assertNotIn("(cached)", changed.stderr)
        self.assertEqual(self.s.compiles(), len(variations) + 1)
        self.assert_only_cached_executables(len(variations) + 1)

    def test_a_library_archive_rebuilt_in_place_is_linked_again(self):
        # Same manifest, header and link names: only the archive changes.
        lib = self.s.root / "libraries" / "demo"
        (lib / "lib").mkdir(parents=True)
        (lib / "library.json").write_text(
            '{"name": "demo", "version": "1", "link": ["demo"], '
            '"functions": {"answer": {"c": "demo_answer", "returns": "int"}}}')
        (lib / "demo.h").write_text("int64_t demo_answer(void);\n")
        self.prog.write_text("import demo\nprint(demo.answer())\n")

        def build_archive(value: int):
            source = lib / "lib" / "demo.c"
            source.write_text(f"#include <stdint.h>\nint64_t demo_answer(void) {{ return {value}; }}\n")
            subprocess.run([REAL_CC, "-c", str(source), "-o", str(lib / "lib" / "demo.o")],
                           check=True)
            (lib / "lib" / "libdemo.a").unlink(missing_ok=True)
            subprocess.run(["ar", "rcs", str(lib / "lib" / "libdemo.a"),
                            str(lib / "lib" / "demo.o")], check=True)

        build_archive(41)
        self.assertEqual(self.run_timed().stdout, "41\n")
        self.assertIn("(cached)", self.run_timed().stderr)
        build_archive(42)
        rebuilt = self.run_timed()
        self.assertEqual(rebuilt.stdout, "42\n")
        self.assertNotIn("(cached)", rebuilt.stderr)
        self.assertEqual(self.s.compiles(), 2)

    def test_a_full_cache_loses_its_oldest_half_on_a_miss(self):
        for entries, deleted in [(100, 0), (101, 50), (131, 65)]:
            with self.subTest(entries=entries):
                shutil.rmtree(self.s.cache, ignore_errors=True)
                self.s.cache.mkdir(parents=True)
                # Old entries, one second apart; the two at the edge of the
                # deleted half share a time, so their paths decide: "edge-a"
                # goes, "edge-b" stays. One entry is a folder: it counts,
                # though it can't be deleted as a file.
                base = time.time() - 100000
                names = [f"old-{i:03}" for i in range(entries)]
                if deleted:
                    names[deleted - 1], names[deleted] = "edge-a", "edge-b"
                names[deleted + 3] = "a-folder"
                for i, name in enumerate(names):
                    path = self.s.cache / name
                    if name == "a-folder":
                        path.mkdir()
                    else:
                        path.write_text("x")
                    stamp = base + (i - 1 if deleted and i == deleted else i)
                    os.utime(path, (stamp, stamp))
                done = self.s.kestal("run", self.prog)
                self.assertEqual(done.returncode, 0, done.stderr)
                left = set(self.s.cache_names())
                kept = set(names[deleted:])
                new = left - set(names)
                self.assertEqual(left & set(names), kept)
                self.assertEqual(len(new), 1, new)
                self.assertRegex(new.pop(), r"^[0-9a-f]{16}$")

    def test_concurrent_runs_of_one_program_all_succeed(self):
        runs = [self.s.start("run", self.prog, "--", str(i)) for i in range(4)]
        for i, proc in enumerate(runs):
            out, err = proc.communicate(timeout=TIMEOUT)
            self.assertEqual((proc.returncode, out), (0, f"args ['{i}']\n"), err)
        self.assertGreaterEqual(self.s.compiles(), 1)
        self.assert_only_cached_executables(1)
        self.assertIn("(cached)", self.run_timed().stderr)

    def test_a_run_never_starts_an_executable_still_being_written(self):
        # The first run's compiler writes its executable slowly; a second run
        # that starts meanwhile must not take the partial file for a cached
        # one: it builds its own, and both print the right thing.
        marker = self.s.root / "half-written"
        first = self.s.start("run", self.prog, "--", "first", SLOW_WRITE=marker)
        deadline = time.monotonic() + TIMEOUT
        while not marker.exists() and first.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        if not marker.exists():
            self.fail(f"the first run never wrote its executable: {first.communicate()}")
        second = self.s.kestal("run", self.prog, "--", "second")
        self.assertEqual((second.returncode, second.stdout), (0, "args ['second']\n"),
                         second.stderr)
        out, err = first.communicate(timeout=TIMEOUT)
        self.assertEqual((first.returncode, out), (0, "args ['first']\n"), err)
        self.assertEqual(self.s.compiles(), 2)
        self.assert_only_cached_executables(1)

    def test_a_cached_executable_that_cannot_start_is_built_again(self):
        # As when another run prunes the entry between the lookup and the
        # start: the file is there at the lookup but can't be executed.
        self.run_timed()
        (key,) = self.s.cache_names()
        path = self.s.cache / key
        damages = [
            ("missing interpreter", "#!/no/such/interpreter\n", 0o755),
            ("not executable", "#!/bin/sh\necho wrong\n", 0o644),
        ]
        for n, (label, text, mode) in enumerate(damages, start=2):
            with self.subTest(label):
                path.unlink()
                path.write_text(text)
                path.chmod(mode)
                rebuilt = self.run_timed("--", "x")
                self.assertEqual(rebuilt.stdout, "args ['x']\n")
                self.assertNotIn("(cached)", rebuilt.stderr)
                self.assertEqual(self.s.compiles(), n)
                self.assertIn("(cached)", self.run_timed().stderr)
                self.assert_only_cached_executables(1)

    def test_no_cache_always_compiles_and_leaves_nothing_behind(self):
        for n in (1, 2):
            done = self.run_timed("--no-cache", "--", "y")
            self.assertEqual(done.stdout, "args ['y']\n")
            self.assertNotIn("(cached)", done.stderr)
            self.assertEqual(self.s.compiles(), n)
            self.assertEqual(os.listdir(self.s.work), [])


class Doctor(unittest.TestCase):
    def setUp(self):
        self.s = Scratch(self)

    def doctor(self, **extra):
        done = self.s.kestal("doctor", **extra)
        self.assertEqual(done.stderr, "")
        return done.returncode, done.stdout.split("\n")

    def header(self) -> list:
        return ["kestal 1.3.1", f"  kestal:      {os.path.realpath(KESTAL)}"]

    def assert_no_files_left(self):
        self.assertEqual(os.listdir(self.s.work), [])

    def test_a_working_compiler_gives_the_all_good_report(self):
        version = subprocess.run([REAL_CC, "--version"], capture_output=True,
                                 text=True).stdout.split("\n")[0]
        status, lines = self.doctor(KESTAL_CC=REAL_CC)
        self.assertEqual(lines, self.header() + [
            f"  C compiler:  {REAL_CC} (from KESTAL_CC)",
            f"               {version}",
            f"  cache:       {self.s.cache}",
            "  test build:  ok (compiled, linked and ran a C program)",
            "",
            "all good",
            "",
        ])
        self.assertEqual(status, 0)
        self.assert_no_files_left()

    def test_a_missing_compiler_is_named_with_the_remedy(self):
        missing = self.s.root / "no-such-cc"
        for value, shown in [(str(missing), f"'{missing}' (from KESTAL_CC)"),
                             ("", "'' (from KESTAL_CC)")]:
            with self.subTest(value=value):
                status, lines = self.doctor(KESTAL_CC=value)
                self.assertEqual(lines, self.header() + [
                    f"  C compiler:  not found ({shown})",
                    "",
                    "Install clang (`apt-get install clang`), or set KESTAL_CC to a clang or gcc "
                    "executable.",
                    "",
                ])
                self.assertEqual(status, 1)

    def test_failing_test_builds_are_reported_with_their_output(self):
        link_hint = ["", "The C compiler needs the linker and the C library to link programs:",
                     "install them with `apt-get install binutils libc6-dev`."]
        failed_build = "  test build:  FAILED"
        # (what the fake compiler does after `--version`, the lines of the
        # report after the cache line)
        cases = [
            ("fake clang", 'echo "clang: error: unable to execute command: ld" >&2\n'
             'echo "clang: error: linker command failed with exit code 1" >&2\nexit 1',
             [failed_build, "clang: error: unable to execute command: ld",
              "clang: error: linker command failed with exit code 1"] + link_hint),
            ("fake gcc", "echo \"/usr/bin/ld: cannot find crt1.o\" >&2\n"
             "echo 'collect2: error: ld returned 1 exit status' >&2\nexit 1",
             [failed_build, "/usr/bin/ld: cannot find crt1.o",
              "collect2: error: ld returned 1 exit status"] + link_hint),
            ("fake cc", 'echo "$c:1:10: fatal error: stdio.h: No such file" >&2\n'
             "echo 'on stdout'\nexit 2",
             [failed_build, "{c}:1:10: fatal error: stdio.h: No such file", "on stdout"]),
            ("", "exit 1", [failed_build, ""]),
            ("fake cc", "printf '#!/bin/sh\\necho hello from Python\\n' > \"$out\"\n"
             'chmod 755 "$out"',
             ["  test build:  the test program was built but didn't run correctly"]),
            ("fake cc", "printf '#!/bin/sh\\necho \"  hello from C  \"\\n' > \"$out\"\n"
             'chmod 755 "$out"',
             ["  test build:  ok (compiled, linked and ran a C program)"]),
        ]
        for version, action, expected in cases:
            with self.subTest(action=action):
                log = self.s.root / "args"
                fake = self.s.write_script("fake-cc", f"""#!/bin/sh
if [ "$1" = --version ]; then
  [ -n '{version}' ] && echo '{version}'
  echo 'version on stderr' >&2
  exit 0
fi
printf '%s\\n' "$@" > '{log}'
out=; c=; prev=
for a in "$@"; do
  [ "$prev" = "-o" ] && out=$a
  case $a in *.c) c=$a;; esac
  prev=$a
done
{action}
""")
                status, lines = self.doctor(KESTAL_CC=fake)
                args = log.read_text().split("\n")
                c_file = args[-4]
                ok = expected[-1].endswith("ran a C program)")
                self.assertEqual(lines, self.header() + [
                    f"  C compiler:  {fake} (from KESTAL_CC)",
                    f"               {version}",
                    f"  cache:       {self.s.cache}",
                ] + [line.format(c=c_file) for line in expected] + [
                    "", "all good" if ok else "something's missing (see above)", ""])
                self.assertEqual(status, 0 if ok else 1)
                # The fixed flags, the C file, -o and the executable; nothing
                # else (no -march=native, no libraries).
                pid = re.fullmatch(rf"{re.escape(str(self.s.work))}/doctor-([0-9]+)\.c",
                                   c_file)
                self.assertIsNotNone(pid, args)
                self.assertEqual(args, fixed_c_flags() + [
                    c_file, "-o", f"{self.s.work}/doctor-{pid[1]}", ""])
                self.assert_no_files_left()


def main() -> int:
    global KESTAL, REAL_CC
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--kestal", required=True)
    parser.add_argument("group", choices=["Cache", "Doctor"])
    options = parser.parse_args()
    KESTAL = os.path.abspath(options.kestal)
    REAL_CC = shutil.which("gcc") or shutil.which("clang") or ""
    if not REAL_CC:
        print("skipped: neither gcc nor clang is installed")
        return 77
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[options.group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
