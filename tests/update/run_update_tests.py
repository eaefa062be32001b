#!/usr/bin/env python3
"""End-to-end tests of `kestal update` and the daily notice.

Each test builds a temporary install root (root/bin/kestal, a copy of the
built tool, beside root/install.json) with its own data, temporary and home
folders, and a feed served either as a `file:` address or by a local HTTPS
server on 127.0.0.1 whose certificate openssl makes here (curl trusts it
through CURL_CA_BUNDLE). Nothing reaches the network.

usage: run_update_tests.py --kestal PATH [unittest options and test names]
"""
import argparse
import hashlib
import http.server
import json
import os
import resource
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

KESTAL = None
SKIP = 77
VERSION = "1.3.1"
DAY = 86400
NOTICE = ("kestal: Kestal {} is out (you have 1.3.1). Run `kestal update`. "
          "(turn this off: kestal update --off)")
USAGE = ("usage: kestal update [--check | --off | --on]\n"
         "  (no option)  download and install the newest Kestal\n"
         "  --check      only say whether there is a newer one\n"
         "  --off / --on the once-a-day check that prints a line when there is a newer Kestal\n")

# An installer that records its arguments, writes a new executable and ends
# with the status in its name's table entry.
INSTALLER_REPLACES = """#!/bin/sh
printf '%s\\n' "$@" > "$3/installer-args"
stat -c %a "$(dirname "$0")" > "$3/folder-mode"
printf '#!/bin/sh\\necho new kestal\\n' > "$3/bin/kestal"
chmod 755 "$3/bin/kestal"
exit {status}
"""
INSTALLER_LEAVES = """#!/bin/sh
printf '%s\\n' "$@" > "$3/installer-args"
exit {status}
"""


class Server:
    """A local HTTPS server for a folder; paths under /slow/ answer after 3 s,
    and every path under /endless/ sends zeros without a length until the
    client goes away."""

    def __init__(self, folder, work):
        self.cert = os.path.join(work, "cert.pem")
        key = os.path.join(work, "key.pem")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key,
                        "-out", self.cert, "-days", "1", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"],
                       check=True, capture_output=True)

        class Handler(http.server.SimpleHTTPRequestHandler):
            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=folder, **kwargs)

            def do_GET(self):
                if self.path.startswith("/endless/"):
                    self.send_response(200)
                    self.end_headers()
                    chunk = bytes(65536)
                    try:
                        while True:
                            self.wfile.write(chunk)
                    except OSError:
                        return
                if self.path.startswith("/slow/"):
                    time.sleep(3)
                    self.path = self.path[len("/slow"):]
                super().do_GET()

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.base = "https://127.0.0.1:{}".format(self.httpd.server_address[1])
        self.thread = threading.Thread(target=self.httpd.serve_forever,
                                       args=(0.05,), daemon=True)
        self.thread.start()

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


class World:
    """One install root with its folders, environment and feed."""

    def __init__(self, installed=True):
        self.dir = tempfile.mkdtemp(prefix="kestal-update-test-")
        self.root = os.path.join(self.dir, "root")
        self.exe = os.path.join(self.root, "bin", "kestal")
        self.srv = os.path.join(self.dir, "srv")
        self.tmp = os.path.join(self.dir, "tmp")
        self.data = os.path.join(self.dir, "data")
        for folder in (os.path.dirname(self.exe), self.srv, self.tmp, self.data,
                       os.path.join(self.dir, "home")):
            os.makedirs(folder)
        shutil.copy2(KESTAL, self.exe)
        if installed:
            with open(os.path.join(self.root, "install.json"), "w") as f:
                f.write("{}")
        self.state_path = os.path.join(self.data, "Kestal", "update.json")
        self.program = os.path.join(self.dir, "prog.ktl")
        with open(self.program, "w") as f:
            f.write("print(1)\n")
        self.env = {k: v for k, v in os.environ.items()
                    if not k.lower().endswith("_proxy") and not k.startswith("KESTAL_")
                    and k not in ("LOCALAPPDATA", "XDG_DATA_HOME", "CURL_CA_BUNDLE")}
        self.env.update(TMPDIR=self.tmp, XDG_DATA_HOME=self.data,
                        HOME=os.path.join(self.dir, "home"))
        self.server = None

    def close(self):
        if self.server:
            self.server.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def https(self):
        if not self.server:
            self.server = Server(self.srv, self.dir)
            self.env["CURL_CA_BUNDLE"] = self.server.cert
        return self.server.base

    def installer(self, script, name="kestal-setup"):
        """Serves an installer; returns its bytes."""
        data = script.encode()
        with open(os.path.join(self.srv, name), "wb") as f:
            f.write(data)
        return data

    def feed(self, latest, files=None, via="file", **extra):
        """Writes the feed and points KESTAL_UPDATE_URL at it."""
        doc = {"latest": latest, "page": "https://kestal.example/" + latest}
        doc.update(extra)
        if files is not None:
            doc["files"] = files
        with open(os.path.join(self.srv, "update.json"), "w") as f:
            json.dump(doc, f)
        self.env["KESTAL_UPDATE_URL"] = self.url("update.json", via)

    def url(self, name, via="file"):
        if via == "file":
            return "file://" + os.path.join(self.srv, name)
        return self.https() + "/" + name

    def entry(self, data, name="kestal-setup", via="file", **overrides):
        entry = {"kind": "installer", "os": "linux", "name": name,
                 "url": self.url(name, via), "size": len(data),
                 "sha256": hashlib.sha256(data).hexdigest()}
        entry.update(overrides)
        return entry

    def run(self, *args, **env):
        full_env = dict(self.env, **env)
        return subprocess.run([self.exe] + list(args), env=full_env, capture_output=True,
                              text=True, timeout=60)

    def state(self):
        with open(self.state_path) as f:
            return json.load(f)

    def put_state(self, **fields):
        state = {"off": False, "checked": 0, "latest": "", "told": 0}
        state.update(fields)
        os.makedirs(os.path.dirname(self.state_path), exist_ok=True)
        with open(self.state_path, "w") as f:
            json.dump(state, f)

    def leftovers(self):
        return [n for n in os.listdir(self.tmp) if n.startswith("kestal-update-")]

    def read(self, path):
        with open(os.path.join(self.root, path), "rb") as f:
            return f.read()


class Base(unittest.TestCase):
    installed = True

    def setUp(self):
        self.w = World(self.installed)
        self.addCleanup(self.w.close)
        with open(KESTAL, "rb") as f:
            self.original = f.read()

    def assertRun(self, run, status, out, err):
        self.assertEqual((run.returncode, run.stdout, run.stderr), (status, out, err))


class Arguments(Base):
    def test_usage_errors(self):
        for args in (["--check", "--off"], ["--CHECK"], ["now"], [""], ["--on", "--on"]):
            with self.subTest(args=args):
                self.assertRun(self.w.run("update", *args), 2, "", USAGE)
        self.assertFalse(os.path.exists(self.w.state_path))

    def test_off_and_on(self):
        self.w.put_state(latest="1.4.0", checked=5, told=7)
        self.assertRun(self.w.run("update", "--off"), 0,
                       "The daily update check is off. `kestal update` still works; "
                       "`kestal update --on` turns it back on.\n", "")
        self.assertEqual(self.w.state(), {"off": True, "checked": 5, "latest": "1.4.0", "told": 7})
        self.assertRun(self.w.run("update", "--on"), 0,
                       "The daily update check is on (installed copies look once a day and "
                       "print one line when there is a newer Kestal).\n", "")
        self.assertEqual(self.w.state(), {"off": False, "checked": 5, "latest": "1.4.0", "told": 7})


class Check(Base):
    def test_newer_and_same(self):
        for latest, out in (("1.4.0", "Kestal 1.4.0 is out (you have 1.3.1).\n"
                                      "Run `kestal update` to install it.\n"),
                            ("1.3.1", "Kestal 1.3.1 is up to date.\n"),
                            ("1.2.0", "Kestal 1.3.1 is up to date.\n")):
            with self.subTest(latest=latest):
                self.w.put_state(off=True, told=3)
                self.w.feed(latest)
                before = int(time.time())
                self.assertRun(self.w.run("update", "--check"), 0, out, "")
                state = self.w.state()
                self.assertEqual((state["off"], state["latest"], state["told"]), (True, latest, 3))
                self.assertGreaterEqual(state["checked"], before)

    def test_feed_failures(self):
        cases = [
            ("http://127.0.0.1:9/update.json", "kestal update: refusing a non-https address: "
                                               "http://127.0.0.1:9/update.json\n"),
            ("FILE:///nowhere", "kestal update: refusing a non-https address: FILE:///nowhere\n"),
        ]
        for url, err in cases:
            with self.subTest(url=url):
                self.assertRun(self.w.run("update", "--check", KESTAL_UPDATE_URL=url), 1, "", err)
        with open(os.path.join(self.w.srv, "update.json"), "w") as f:
            f.write("<html>")
        self.w.env["KESTAL_UPDATE_URL"] = self.w.url("update.json")
        self.assertRun(self.w.run("update", "--check"), 1, "",
                       "kestal update: the update server sent something unexpected (not JSON)\n")
        missing = self.w.run("update", "--check", KESTAL_UPDATE_URL=self.w.url("none.json"))
        self.assertEqual(missing.returncode, 1)
        self.assertTrue(missing.stderr.startswith(
            "kestal update: couldn't download " + self.w.url("none.json") + ": curl: (37)"),
            missing.stderr)

    def test_feed_bigger_than_a_mebibyte(self):
        with open(os.path.join(self.w.srv, "update.json"), "w") as f:
            f.write('{"latest":"1.4.0","pad":"' + "x" * (1 << 20) + '"}')
        self.w.env["KESTAL_UPDATE_URL"] = self.w.url("update.json")
        self.assertRun(self.w.run("update", "--check"), 1, "",
                       "kestal update: the update server sent something unexpected "
                       "(more than 1048576 bytes)\n")


class Install(Base):
    def install(self, script, via="file", **overrides):
        data = self.w.installer(script)
        entry = self.w.entry(data, via=via, **overrides)
        self.w.feed("1.4.0", [entry], via=via)
        return self.w.run("update"), entry

    def assertRestored(self):
        self.assertEqual(self.w.read("bin/kestal"), self.original)
        self.assertFalse(os.path.exists(self.w.exe + ".old"))
        self.assertEqual(self.w.leftovers(), [])

    def expected_out(self, entry, installed):
        out = ("Kestal 1.4.0 is out (you have 1.3.1).\n"
               "Downloading {} ({} KB)...\n"
               "sha256 checked: {}\n").format(entry["url"], entry["size"] // 1024, entry["sha256"])
        if installed:
            out += "Kestal 1.4.0 is installed. Notes: https://kestal.example/1.4.0\n"
        return out

    def check_success(self, via):
        run, entry = self.install(INSTALLER_REPLACES.format(status=0), via=via)
        self.assertRun(run, 0, self.expected_out(entry, True), "")
        self.assertEqual(self.w.read("installer-args").decode(),
                         "--update\n--dir\n{}\n".format(self.w.root))
        self.assertEqual(self.w.read("bin/kestal"), b"#!/bin/sh\necho new kestal\n")
        self.assertEqual(self.w.read("bin/kestal.old"), self.original)
        # The installer ran from a folder nobody else can write into.
        self.assertEqual(self.w.read("folder-mode"), b"700\n")
        self.assertEqual(self.w.leftovers(), [])
        self.assertEqual(self.w.state()["latest"], "1.4.0")

    def test_success_from_a_file_feed(self):
        self.check_success("file")

    def test_success_from_an_https_feed(self):
        self.check_success("https")

    def test_installer_fails_without_touching_the_executable(self):
        run, entry = self.install(INSTALLER_LEAVES.format(status=3))
        self.assertRun(run, 1, self.expected_out(entry, False),
                       "kestal update: kestal-setup failed (exit code 3); "
                       "Kestal 1.3.1 is still installed\n")
        self.assertRestored()

    def test_installer_replaces_then_fails(self):
        run, entry = self.install(INSTALLER_REPLACES.format(status=4))
        self.assertRun(run, 1, self.expected_out(entry, False),
                       "kestal update: kestal-setup failed (exit code 4) after replacing kestal. "
                       "Run `kestal update` again\n")
        self.assertEqual(self.w.read("bin/kestal"), b"#!/bin/sh\necho new kestal\n")
        self.assertEqual(self.w.read("bin/kestal.old"), self.original)
        self.assertEqual(self.w.leftovers(), [])

    def test_mismatches_run_nothing(self):
        script = INSTALLER_REPLACES.format(status=0)
        size = len(script.encode())
        cases = [
            ("file", {"size": size + 1}, "{} bytes, expected {}".format(size, size + 1)),
            # Bigger than announced: the same words whether curl was stopped
            # while writing or had just finished.
            ("file", {"size": size - 1}, "more than {0} bytes, expected {0}".format(size - 1)),
            ("file", {"sha256": "0" * 64}, "sha256"),
            ("https", {"size": size + 1}, "{} bytes, expected {}".format(size, size + 1)),
            # The server announces more than the feed: curl's own limit.
            ("https", {"size": size - 1}, "more than {0} bytes, expected {0}".format(size - 1)),
        ]
        for via, overrides, detail in cases:
            with self.subTest(via=via, overrides=overrides):
                run, entry = self.install(script, via=via, **overrides)
                self.assertEqual(run.returncode, 1)
                self.assertEqual(run.stderr,
                                 "kestal update: the download doesn't match the manifest ({}); "
                                 "nothing was installed\n".format(detail))
                self.assertFalse(os.path.exists(os.path.join(self.w.root, "installer-args")))
                self.assertRestored()

    def test_an_installer_bigger_than_declared_is_stopped_while_written(self):
        # curl enforces no size for a file: address nor for an answer
        # without a length. The tool runs with a file-size limit of 64 MiB:
        # a download that went on past it would end curl by SIGXFSZ with
        # another message, so the message shows that writing stopped early.
        big = os.path.join(self.w.srv, "big-setup")
        with open(big, "wb") as f:
            f.truncate(700 << 20)
        data = b"x" * 1024
        limit = 64 << 20

        def bounded():
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        for via, url in (("file", self.w.url("big-setup")),
                         ("https", self.w.https() + "/endless/setup")):
            with self.subTest(via=via):
                self.w.feed("1.4.0", [self.w.entry(data, via=via, url=url)], via=via)
                run = subprocess.run([self.w.exe, "update"], env=self.w.env,
                                     capture_output=True, text=True, timeout=60,
                                     preexec_fn=bounded)
                self.assertEqual(run.returncode, 1)
                self.assertEqual(run.stderr,
                                 "kestal update: the download doesn't match the manifest (more "
                                 "than 1024 bytes, expected 1024); nothing was installed\n")
                self.assertFalse(os.path.exists(os.path.join(self.w.root, "installer-args")))
                # The partial download went with its folder.
                self.assertRestored()

    def test_missing_installer_download(self):
        # Bigger than the server's 404 page, so curl's size limit stays quiet.
        data = self.w.installer("#!/bin/sh\n" + "#" * 4096 + "\n")
        entry = self.w.entry(data, via="https", url=self.w.https() + "/gone")
        self.w.feed("1.4.0", [entry], via="https")
        run = self.w.run("update")
        self.assertEqual(run.returncode, 1)
        self.assertEqual(run.stderr,
                         "kestal update: couldn't download {}/gone: curl: (22) The requested URL "
                         "returned error: 404\n".format(self.w.https()))
        self.assertRestored()

    def test_refusals_before_any_download(self):
        data = self.w.installer("#!/bin/sh\n")
        page = "https://kestal.example/1.5.0"
        self.w.feed("1.5.0", [self.w.entry(data)], min_version="1.4.0")
        self.assertRun(self.w.run("update"), 1, "Kestal 1.5.0 is out (you have 1.3.1).\n",
                       "kestal update: Kestal 1.5.0 needs at least 1.4.0 to update in place. "
                       "Download it from {}\n".format(page))
        self.w.feed("1.5.0", [dict(self.w.entry(data), os="windows")])
        self.assertRun(self.w.run("update"), 1, "Kestal 1.5.0 is out (you have 1.3.1).\n",
                       "kestal update: Kestal 1.5.0 has no installer for linux yet. "
                       "See {}\n".format(page))
        self.assertRestored()

    def test_old_executable_removed_by_the_next_update(self):
        with open(self.w.exe + ".old", "w") as f:
            f.write("previous")
        self.w.feed("1.3.1")
        self.assertRun(self.w.run("update", "--check"), 0, "Kestal 1.3.1 is up to date.\n", "")
        self.assertFalse(os.path.exists(self.w.exe + ".old"))

    def test_taken_download_folder_is_not_reused(self):
        # Plant folders at every name the process could pick: the update
        # must refuse rather than use someone else's folder.
        script = INSTALLER_REPLACES.format(status=0)
        data = self.w.installer(script)
        self.w.feed("1.4.0", [self.w.entry(data)])
        # The pid is known only in the child, so the folders are planted
        # between fork and exec, under the pid the tool will have.
        def plant():
            base = os.path.join(self.w.tmp, "kestal-update-1.4.0-{}".format(os.getpid()))
            for name in [base] + ["{}-{}".format(base, n) for n in range(1, 10)]:
                os.mkdir(name, 0o777)

        run = subprocess.run([self.w.exe, "update"], env=self.w.env, capture_output=True,
                             text=True, timeout=60, preexec_fn=plant)
        planted = self.w.leftovers()
        self.assertEqual(len(planted), 10)
        self.assertEqual(run.returncode, 1)
        self.assertRegex(run.stderr, r"^kestal update: can't make .*/kestal-update-1\.4\.0-\d+: "
                                     r"File exists \(os error 17\)\n$")
        self.assertEqual(self.w.read("bin/kestal"), self.original)


class NotInstalled(Base):
    installed = False

    def test_update_reports_but_does_not_install(self):
        data = self.w.installer("#!/bin/sh\n")
        self.w.feed("1.4.0", [self.w.entry(data)])
        self.assertRun(self.w.run("update"), 1, "Kestal 1.4.0 is out (you have 1.3.1).\n",
                       "kestal update: this kestal ({}) wasn't installed by kestal-setup, so it "
                       "can't update itself. Get the newest from https://kestal.example/1.4.0\n"
                       .format(self.w.exe))
        self.assertRun(self.w.run("update", "--check"), 0,
                       "Kestal 1.4.0 is out (you have 1.3.1).\n"
                       "Run `kestal update` to install it.\n", "")

    def test_no_notice_and_no_state(self):
        self.w.feed("1.4.0")
        run = self.w.run("check", self.w.program)
        self.assertRun(run, 0, "", "")
        self.assertFalse(os.path.exists(self.w.state_path))


class Notice(Base):
    def today(self):
        return int(time.time()) // DAY

    def test_once_a_day_before_the_command_output(self):
        self.w.feed("9.9.9")
        self.w.put_state(latest="9.9.9", checked=int(time.time()), told=self.today() - 1)
        self.assertRun(self.w.run("check", self.w.program), 0, "", NOTICE.format("9.9.9") + "\n")
        self.assertEqual(self.w.state()["told"], self.today())
        self.assertRun(self.w.run("check", self.w.program), 0, "", "")

    def test_notice_comes_before_an_option_error(self):
        self.w.put_state(latest="1.4.0", checked=int(time.time()))
        self.assertRun(self.w.run("check", self.w.program, "-x"), 2, "",
                       NOTICE.format("1.4.0") + "\nkestal: unexpected argument '-x'\n")

    def test_silenced(self):
        cases = [({"off": True}, {}), ({}, {"KESTAL_NO_UPDATE_CHECK": "1"}),
                 ({}, {"KESTAL_NO_UPDATE_CHECK": "\udcff"})]
        for fields, env in cases:
            with self.subTest(fields=fields, env=env):
                self.w.put_state(latest="9.9.9", checked=0, told=0, **fields)
                with open(self.w.state_path, "rb") as f:
                    before = f.read()
                self.assertRun(self.w.run("check", self.w.program, **env), 0, "", "")
                time.sleep(0.3)
                with open(self.w.state_path, "rb") as f:
                    self.assertEqual(f.read(), before)
        # Other commands never run the check.
        self.w.put_state(latest="9.9.9")
        self.assertRun(self.w.run("version"), 0, "kestal 1.3.1\n", "")

    def test_background_check_never_delays_the_command(self):
        # The feed answers only after 3 seconds; the command must not wait.
        self.w.feed("7.7.7", via="https")
        self.w.env["KESTAL_UPDATE_URL"] = self.w.https() + "/slow/update.json"
        self.w.put_state(latest="1.3.1", checked=0, told=0)
        started = time.monotonic()
        run = self.w.run("check", self.w.program)
        elapsed = time.monotonic() - started
        self.assertRun(run, 0, "", "")
        self.assertLess(elapsed, 2.5)
        state = self.w.state()
        self.assertGreaterEqual(state["checked"], int(time.time()) - 60)
        self.assertEqual(state["latest"], "1.3.1")
        # A second command the same day starts no second check.
        self.assertRun(self.w.run("check", self.w.program), 0, "", "")
        deadline = time.monotonic() + 20
        while self.w.state()["latest"] != "7.7.7" and time.monotonic() < deadline:
            time.sleep(0.1)
        final = self.w.state()
        self.assertEqual(final["latest"], "7.7.7")
        self.assertEqual((final["checked"], final["told"]), (state["checked"], 0))
        # The notice appears on the next command.
        self.assertRun(self.w.run("check", self.w.program), 0, "", NOTICE.format("7.7.7") + "\n")


def main():
    global KESTAL
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestal", required=True)
    options, rest = parser.parse_known_args()
    KESTAL = os.path.abspath(options.kestal)
    for tool in ("curl", "openssl"):
        if not shutil.which(tool):
            print("skipped: {} is not installed".format(tool))
            return SKIP
    program = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=1)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
