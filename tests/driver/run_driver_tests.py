#!/usr/bin/env python3
"""End-to-end tests of the build cache of `kestal run`, of `kestal doctor`, and
of the library commands (`install`, `uninstall`, `libraries`).

Every test points the tool at a scratch temporary folder of its own (TMPDIR),
so the work folder and its cache are private to the test and the user's are
never touched. The C compiler is a wrapper script (KESTAL_CC) around the real
gcc or clang that counts its calls, so a test sees whether a run compiled
its program, and apart from those, how often it compiled the runtime object
(`-c`) that programs link with.

The library commands run against a site in a scratch folder, served as a
`file:` address or by a local HTTPS server (tests/update's, with a
certificate openssl makes for the test), and install into a scratch
LOCALAPPDATA; nothing reaches the network.

Usage: run_driver_tests.py --kestal PATH GROUP   (GROUP: Cache, Doctor or Libraries)
Exit status 77 (skipped) when the group's tools (gcc or clang; curl and
openssl) are not installed.
"""

import argparse
import hashlib
import json
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

# Counts its calls in the file "calls" ("object" for a compile to an object
# file, "call" for the others), then runs the real compiler.
# With SLOW_WRITE set, the executable is rewritten slowly after the real
# compile: its first bytes, then the marker file SLOW_WRITE names, then a
# pause, then the whole file, as a slow linker on a busy disk would leave it.
WRAPPER = """#!/bin/sh
case " $* " in
  *" -c "*) echo object >> '{calls}';;
  *) echo call >> '{calls}';;
esac
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

    def compiles(self, kind: str = "call") -> int:
        lines = self.calls.read_text().splitlines() if self.calls.exists() else []
        return lines.count(kind)

    def runtime_objects(self) -> list:
        folder = self.cache / "runtime"
        return sorted(os.listdir(folder)) if folder.exists() else []

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
        """The cache's entries less the folder of runtime objects."""
        names = os.listdir(self.cache) if self.cache.exists() else []
        return sorted(name for name in names if name != "runtime")


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
        # Neither C files nor temporary executables stay in the work folder,
        # nor temporary files beside the runtime objects.
        self.assertEqual(sorted(os.listdir(self.s.work)), ["cache"])
        for name in self.s.runtime_objects():
            self.assertRegex(name, r"^[0-9a-f]{16}\.o$")

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
        # Each is a new runtime object too, built once.
        for n, (options, extra) in enumerate(variations, start=1):
            with self.subTest(options=options, env=extra):
                built = self.run_timed(*options, **extra)
                self.assertNotIn("(cached)", built.stderr)
                self.assertEqual(self.s.compiles(), n)
                found = self.run_timed(*options, **extra)
                self.assertIn("(cached)", found.stderr)
                self.assertEqual(self.s.compiles(), n)
                self.assertEqual(self.s.compiles("object"), n)
                self.assertEqual(len(self.s.runtime_objects()), n)
        self.assertIn("(cached)", self.run_timed().stderr)
        self.prog.write_text("print('changed')\n")
        changed = self.run_timed()
        self.assertEqual(changed.stdout, "changed\n")
        self.assertNotIn("(cached)", changed.stderr)
        self.assertEqual(self.s.compiles(), len(variations) + 1)
        self.assertEqual(self.s.compiles("object"), len(variations))
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

    def test_a_cache_hit_counts_as_a_use(self):
        # Pruning deletes the entries used least recently, not built first.
        self.run_timed()
        [name] = self.s.cache_names()
        entry = self.s.cache / name
        long_ago = time.time() - 100000
        os.utime(entry, (long_ago, long_ago))
        self.assertIn("(cached)", self.run_timed().stderr)
        self.assertGreater(entry.stat().st_mtime, time.time() - 3600)

    def test_a_failed_build_keeps_the_previous_executable(self):
        out = self.s.root / "out"
        done = self.s.kestal("build", self.prog, "-o", out)
        self.assertEqual(done.returncode, 0, done.stderr)
        before = out.read_bytes()
        # A link that fails after writing part of its output, and a compiler
        # that reports success without writing anything.
        broken = self.s.write_script(
            "broken-cc", "#!/bin/sh\nout=\nwhile [ $# -gt 0 ]; do [ \"$1\" = -o ] && out=$2; shift; "
            "done\necho partial > \"$out\"\necho 'undefined reference to foo' >&2\nexit 1\n")
        silent = self.s.write_script("silent-cc", "#!/bin/sh\nexit 0\n")
        for cc, message in [(broken, "failed (exit status 1)"),
                            (silent, "reported success but wrote no executable")]:
            with self.subTest(cc=cc.name):
                done = self.s.kestal("build", self.prog, "-o", out, KESTAL_CC=cc)
                self.assertEqual(done.returncode, 1, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertEqual(out.read_bytes(), before)
                self.assertEqual([p.name for p in self.s.root.iterdir() if p.name.startswith("out")],
                                 ["out"])

    def test_no_cache_always_compiles_and_leaves_nothing_behind(self):
        # The program is compiled every time; the runtime object, part of
        # the tool like a library, is built once and stays.
        for n in (1, 2):
            done = self.run_timed("--no-cache", "--", "y")
            self.assertEqual(done.stdout, "args ['y']\n")
            self.assertNotIn("(cached)", done.stderr)
            self.assertEqual(self.s.compiles(), n)
            self.assertEqual(self.s.compiles("object"), 1)
            self.assertEqual(os.listdir(self.s.work), ["cache"])
            self.assertEqual(os.listdir(self.s.cache), ["runtime"])
            self.assertEqual(len(self.s.runtime_objects()), 1)


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


VERSION = "1.3.1"
CAP = 100 * 1024 * 1024
INSTALL_USAGE = "usage: kestal install <library>...   (`kestal libraries` lists what there is)\n"


def sha(data: bytes) -> str:
    return hashlib.sha256(data).hexdigest()


def manifest(name: str, version: str) -> bytes:
    return json.dumps({"name": name, "version": version, "link": [name],
                       "functions": {"twice": {"c": "demo_twice", "args": [["x", "int"]],
                                               "returns": "int"}}}).encode()


class Site:
    """A library site in a folder, an installed libraries folder, and the
    environment that points the tool at both."""

    def __init__(self, test: unittest.TestCase):
        self.root = Path(tempfile.mkdtemp(prefix="kestal-libs-"))
        test.addCleanup(shutil.rmtree, self.root, True)
        self.srv = self.root / "srv"
        self.srv.mkdir()
        self.data = self.root / "data"
        self.installed = self.data / "Kestal" / "libraries"
        self.libraries = []
        self.server = None
        self.via = "file"
        self.test = test
        self.env = {k: v for k, v in os.environ.items()
                    if not k.lower().endswith("_proxy") and not k.startswith("KESTAL_")
                    and k not in ("XDG_DATA_HOME", "CURL_CA_BUNDLE")}
        self.env.update(LOCALAPPDATA=str(self.data), HOME=str(self.root / "home"),
                        TMPDIR=str(self.root), KESTAL_NO_UPDATE_CHECK="1")
        self.use("file")

    def use(self, via: str):
        self.via = via
        if via == "https" and not self.server:
            sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "update"))
            from run_update_tests import Server
            self.server = Server(str(self.srv), str(self.root))
            self.test.addCleanup(self.server.close)
            self.env["CURL_CA_BUNDLE"] = self.server.cert
        self.env["KESTAL_LIBRARY_URL"] = (
            self.server.base if via == "https" else f"file://{self.srv}") + "//"

    @property
    def base(self) -> str:
        return self.env["KESTAL_LIBRARY_URL"].rstrip("/")

    def publish(self, name: str, version: str, files=None, digests=None, **fields):
        """Serves the library's files and lists it in the index (replacing
        an earlier entry of the name); `digests` overrides what the index
        says of some files."""
        if files is None:
            files = {"library.json": manifest(name, version),
                     f"{name}.h": f"long long demo_twice(long long x); /* {version} */\n".encode(),
                     f"lib/lib{name}.a": b"!<arch>\n"}
        folder = self.srv / name
        shutil.rmtree(folder, ignore_errors=True)
        for path, data in files.items():
            (folder / path).parent.mkdir(parents=True, exist_ok=True)
            (folder / path).write_bytes(data)
        digests = dict(digests or {})
        entry = {"name": name, "version": version,
                 "files": [{"path": p, "sha256": digests.get(p, sha(d))} for p, d in files.items()]}
        entry.update(fields)
        self.libraries = [e for e in self.libraries if e["name"] != name] + [entry]
        self.write_index({"libraries": self.libraries})

    def write_index(self, document):
        text = document if isinstance(document, str) else json.dumps(document)
        (self.srv / "index.json").write_text(text)

    def kestal(self, *args, **extra):
        env = dict(self.env)
        for name, value in extra.items():
            if value is None:
                env.pop(name, None)
            else:
                env[name] = str(value)
        return subprocess.run([KESTAL] + list(args), env=env, cwd=self.root,
                              capture_output=True, text=True, timeout=TIMEOUT)

    def tree(self) -> dict:
        """Every file under the installed folder, with its bytes; dot
        folders (staging, old copies) show up too."""
        found = {}
        if self.installed.exists():
            for path in sorted(self.installed.rglob("*")):
                if path.is_file():
                    found[str(path.relative_to(self.installed))] = path.read_bytes()
        return found

    def names(self) -> list:
        return sorted(os.listdir(self.installed)) if self.installed.exists() else []


class Libraries(unittest.TestCase):
    def setUp(self):
        self.s = Site(self)

    def assertRun(self, run, status, out, err):
        self.assertEqual((run.returncode, run.stdout, run.stderr), (status, out, err))

    def test_install_update_list_and_uninstall_over_file_and_https(self):
        for via in ("file", "https"):
            with self.subTest(via=via):
                s = Site(self)
                s.use(via)
                s.publish("demo", "1.0.0", description="A demo library")
                self.assertRun(s.kestal("install", "demo"), 0, "installed demo 1.0.0\n", "")
                self.assertEqual(s.tree(), {
                    "demo/library.json": manifest("demo", "1.0.0"),
                    "demo/demo.h": b"long long demo_twice(long long x); /* 1.0.0 */\n",
                    "demo/lib/libdemo.a": b"!<arch>\n"})
                # Private to the user, like the staging folder it was.
                self.assertEqual(stat.S_IMODE((s.installed / "demo").stat().st_mode), 0o700)
                # The same version again downloads nothing (the files are gone).
                shutil.rmtree(s.srv / "demo")
                self.assertRun(s.kestal("install", "demo"), 0,
                               "demo 1.0.0 is already installed\n", "")
                s.publish("demo", "1.10.0", description="A demo library")
                s.publish("a_very_long_library_name", "2", description="Long")
                self.assertRun(s.kestal("libraries"), 0,
                               f"installed ({s.installed}):\n"
                               "  demo             1.0.0\n"
                               f"\non {s.base}:\n"
                               "  demo             1.10.0   A demo library"
                               "  (update: you have 1.0.0)\n"
                               "  a_very_long_library_name 2        Long\n"
                               "\ninstall one with: kestal install <name>\n", "")
                self.assertRun(s.kestal("install", "demo", "a_very_long_library_name"), 0,
                               "updated demo 1.0.0 -> 1.10.0\n"
                               "installed a_very_long_library_name 2\n", "")
                self.assertEqual(s.tree()["demo/demo.h"],
                                 b"long long demo_twice(long long x); /* 1.10.0 */\n")
                self.assertEqual(s.names(), ["a_very_long_library_name", "demo"])
                self.assertRun(s.kestal("libraries", "--offline"), 0,
                               f"installed ({s.installed}):\n"
                               "  a_very_long_library_name 2\n"
                               "  demo             1.10.0\n", "")
                self.assertRun(s.kestal("uninstall", "demo"), 0, "uninstalled demo\n", "")
                self.assertRun(s.kestal("uninstall", "demo"), 1, "",
                               f"kestal: 'demo' isn't installed (installed libraries are in "
                               f"{s.installed})\n")
                self.assertEqual(s.names(), ["a_very_long_library_name"])

    def test_a_failure_at_any_step_keeps_the_old_copy_and_leaves_nothing_behind(self):
        s = self.s
        s.publish("demo", "1.0.0")
        self.assertRun(s.kestal("install", "demo"), 0, "installed demo 1.0.0\n", "")
        before = s.tree()
        good = {"library.json": manifest("demo", "2.0"), "demo.h": b"// 2.0\n"}
        url = f"{s.base}/demo"
        cases = [
            ("tampered file", dict(files=good, digests={"demo.h": "A" * 64}),
             re.escape(f"{url}/demo.h: the download doesn't match the index (sha256 "
                       f"{sha(good['demo.h'])} instead of {'a' * 64}). Nothing was installed")),
            ("missing file", dict(files=good, digests={"gone.h": "b" * 64}), None),
            ("over the cap", dict(files=dict(good, **{"big.bin": b""})),
             re.escape(f"couldn't download {url}/big.bin: larger than 100 MiB")),
            ("a manifest that doesn't load",
             dict(files={"library.json": b'{"name": "other", "version": "2.0"}',
                         "demo.h": b""}),
             re.escape(f"{s.installed}/.demo-") + r"[0-9]+/library\.json: "
             + re.escape("\"name\" is 'other' but the folder is 'demo'")),
            ("no header", dict(files={"library.json": good["library.json"]}),
             re.escape(f"{s.installed}/.demo-") + r"[0-9]+/demo\.h: can't read it \(.+\)"),
        ]
        for what, publication, message in cases:
            with self.subTest(what):
                files = publication["files"]
                s.publish("demo", "2.0", files=files, digests=publication.get("digests"))
                if what == "missing file":
                    (s.srv / "index.json").write_text(json.dumps({"libraries": [
                        dict(s.libraries[-1], files=s.libraries[-1]["files"] + [
                            {"path": "gone.h", "sha256": "b" * 64}])]}))
                    message = re.escape(f"couldn't download {url}/gone.h: ") + r".+"
                if "big.bin" in files:
                    with open(s.srv / "demo" / "big.bin", "wb") as f:
                        f.truncate(CAP + 1)
                    s.write_index({"libraries": [dict(s.libraries[-1], files=[
                        f for f in s.libraries[-1]["files"] if f["path"] != "big.bin"] + [
                        {"path": "big.bin", "sha256": "c" * 64}])]})
                run = s.kestal("install", "demo")
                self.assertEqual((run.returncode, run.stdout), (1, ""), run.stderr)
                self.assertRegex(run.stderr, "^kestal: " + message + "\n$")
                self.assertEqual(s.tree(), before)
                self.assertEqual(s.names(), ["demo"])

    def test_names_the_index_lacks_and_unmet_requirements(self):
        s = self.s
        s.publish("alpha", "1")
        s.publish("beta", "1", kestal=" >= 2.0 ")
        s.publish("gamma", "1", kestal=">=1.3.1")
        s.publish("delta", "1", kestal="1.9")
        run = s.kestal("install", "nope", "alpha", "beta", "gamma", "delta")
        self.assertRun(run, 1, "installed alpha 1\ninstalled gamma 1\ninstalled delta 1\n",
                       "kestal: there's no library named 'nope'. Available: alpha, beta, gamma, "
                       "delta\n"
                       "kestal: beta 1 needs Kestal  2.0  (this is 1.3.1). Update Kestal first: "
                       "kestal update (or https://kestal.example)\n")
        for requirement, ok in ((">=1.3.2", False), (">=1.4", False), (">=1.3.1.0", False),
                                (">=", True), ("", True)):
            with self.subTest(requirement=requirement):
                s.publish("epsilon", requirement or "x", kestal=requirement)
                run = s.kestal("install", "epsilon")
                self.assertEqual(run.returncode, 0 if ok else 1, run.stderr)
        s.write_index({"libraries": []})
        self.assertRun(s.kestal("install", "alpha"), 1, "",
                       "kestal: there's no library named 'alpha'. Available: none yet\n")

    def test_broken_index_and_unreachable_site(self):
        s = self.s
        index = f"{s.base}/index.json"
        for document, message in (
                ("{", f"{index}: not valid JSON: "),
                ({"libraries": [{"name": "Bad", "version": "1"}]},
                 f"{index}: bad library name 'Bad'"),
                ({"libraries": [{"name": "a", "version": "1", "files": [
                    {"path": "../x", "sha256": "a" * 64}]}]},
                 f"{index}: library 'a': bad file entry '../x'"),
        ):
            with self.subTest(message=message):
                s.write_index(document)
                run = s.kestal("install", "a")
                self.assertEqual((run.returncode, run.stdout), (1, ""))
                self.assertTrue(run.stderr.startswith("kestal: " + message), run.stderr)
                self.assertEqual(s.names(), [])
        (s.srv / "index.json").unlink()
        s.installed.mkdir(parents=True)
        run = s.kestal("libraries")
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stdout, f"installed ({s.installed}):\n  none\n\non {s.base}:\n")
        self.assertTrue(run.stderr.startswith(f"kestal: couldn't download {index}: "), run.stderr)
        # Offline never starts curl: with no curl on PATH it still lists.
        self.assertRun(s.kestal("libraries", "--offline", PATH=s.root / "no-bin"), 0,
                       f"installed ({s.installed}):\n  none\n", "")

    def test_without_a_library_folder(self):
        s = self.s
        s.publish("demo", "1")
        unset = dict(LOCALAPPDATA=None, HOME=None, XDG_DATA_HOME=None)
        self.assertRun(s.kestal("libraries", "--offline", **unset), 0, "installed:\n  none\n", "")
        no_folder = "kestal: can't find the library folder (LOCALAPPDATA / HOME isn't set)\n"
        self.assertRun(s.kestal("install", "demo", **unset), 1, "", no_folder)
        self.assertRun(s.kestal("uninstall", "demo", **unset), 1, "", no_folder)
        # The index comes first: a broken site is reported instead.
        s.write_index("[")
        run = s.kestal("install", "demo", **unset)
        self.assertIn("not valid JSON", run.stderr)

    def test_uninstall_touches_only_installed_libraries(self):
        s = self.s
        s.publish("demo", "1")
        self.assertEqual(s.kestal("install", "demo").returncode, 0)
        (s.installed / "plain").mkdir()
        outside = s.root / "outside"
        outside.mkdir()
        (outside / "library.json").write_text('{"version": "9"}')
        (s.installed / "linked").symlink_to(outside)
        for name in ("Demo", "demo/..", "../Kestal/libraries/demo", "plain", "", "nothere"):
            with self.subTest(name=name):
                self.assertRun(s.kestal("uninstall", name), 1, "",
                               f"kestal: '{name}' isn't installed (installed libraries are in "
                               f"{s.installed})\n")
        self.assertRun(s.kestal("uninstall", "linked", "demo"), 0,
                       "uninstalled linked\nuninstalled demo\n", "")
        # The link went; what it pointed at is not ours.
        self.assertEqual(s.names(), ["plain"])
        self.assertEqual((outside / "library.json").read_text(), '{"version": "9"}')

    def test_an_installed_library_is_found_by_imports(self):
        s = self.s
        s.publish("demo", "1.0")
        prog = s.root / "prog.ktl"
        prog.write_text("import demo\nprint(demo.twice(2))\n")
        run = s.kestal("check", prog)
        self.assertEqual(run.returncode, 1)
        self.assertIn("Install it with: kestal install demo", run.stderr)
        self.assertEqual(s.kestal("install", "demo").returncode, 0)
        self.assertRun(s.kestal("check", prog), 0, "", "")

    def test_replacing_a_linked_library_keeps_what_the_link_points_at(self):
        s = self.s
        outside = s.root / "outside"
        outside.mkdir()
        (outside / "library.json").write_text('{"version": "0.1"}')
        s.installed.mkdir(parents=True)
        (s.installed / "demo").symlink_to(outside)
        s.publish("demo", "1.0")
        self.assertRun(s.kestal("install", "demo"), 0, "updated demo 0.1 -> 1.0\n", "")
        self.assertFalse((s.installed / "demo").is_symlink())
        self.assertEqual(os.listdir(outside), ["library.json"])
        self.assertEqual(s.names(), ["demo"])


def main() -> int:
    global KESTAL, REAL_CC
    parser = argparse.ArgumentParser(description=__doc__.split("\n", 1)[0])
    parser.add_argument("--kestal", required=True)
    parser.add_argument("group", choices=["Cache", "Doctor", "Libraries"])
    options = parser.parse_args()
    KESTAL = os.path.abspath(options.kestal)
    REAL_CC = shutil.which("gcc") or shutil.which("clang") or ""
    if options.group == "Libraries":
        if not (shutil.which("curl") and shutil.which("openssl")):
            print("skipped: curl or openssl is not installed")
            return 77
    elif not REAL_CC:
        print("skipped: neither gcc nor clang is installed")
        return 77
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(globals()[options.group])
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
