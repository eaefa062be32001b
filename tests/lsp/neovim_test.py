#!/usr/bin/env python3
"""The language server inside a real editor: headless Neovim starts
`kestal lsp` for a .ktl file (kestal_lsp.lua drives it), and this script
checks what the editor saw: the diagnostic of an error, the diagnostics
clearing after the fix, hover texts, a definition, and a clean exit.

Neovim is installed from Debian when missing and we are root; the test is
skipped (status 77) only where nvim can't be had.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))

PROGRAM = """def greet(name: str) -> str:
    return "hi " + name


count = 3
message = greet("ann")
total = count + missing
print(message, total)
"""


def find_or_install_nvim():
    nvim = shutil.which("nvim")
    if nvim or os.geteuid() != 0 or not shutil.which("apt-get"):
        return nvim
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, "env": env}
    if subprocess.run(["apt-get", "install", "-y", "-qq", "neovim"], **quiet).returncode != 0:
        subprocess.run(["apt-get", "update", "-qq"], **quiet)
        subprocess.run(["apt-get", "install", "-y", "-qq", "neovim"], **quiet)
    return shutil.which("nvim")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--kestal", required=True)
    args = parser.parse_args()

    nvim = find_or_install_nvim()
    if not nvim:
        print("SKIP: nvim is not installed and can't be installed here "
              "(needs root and apt-get)")
        return SKIP

    with tempfile.TemporaryDirectory(prefix="kestal-nvim-") as work:
        source = os.path.join(work, "prog.ktl")
        result = os.path.join(work, "result.json")
        with open(source, "w") as f:
            f.write(PROGRAM)
        env = dict(os.environ, KESTAL=os.path.abspath(args.kestal), KESTAL_SOURCE=source,
                   KESTAL_RESULT=result, HOME=work, XDG_CONFIG_HOME=work,
                   XDG_DATA_HOME=work, XDG_STATE_HOME=work, XDG_CACHE_HOME=work)
        try:
            run = subprocess.run(
                [nvim, "--headless", "--clean", "-n", "-i", "NONE",
                 "-c", "luafile " + os.path.join(HERE, "kestal_lsp.lua")],
                env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        except subprocess.TimeoutExpired:
            print("FAIL: nvim did not finish within 120 seconds")
            return 1
        if not os.path.exists(result):
            print("FAIL: the Lua driver wrote no result; nvim said:")
            print(run.stdout.decode(errors="replace"), run.stderr.decode(errors="replace"))
            return 1
        with open(result) as f:
            observed = json.load(f)

    failures = []

    def expect(name, actual, wanted):
        if actual != wanted:
            failures.append(f"{name}: got {actual!r}, expected {wanted!r}")

    steps = observed.get("steps", {})
    expect("protocol errors", observed.get("protocol_errors"), [])
    expect("diagnostic", steps.get("diagnostic"),
           {"line": 6, "column": 16, "end_column": 23,
            "message": "name 'missing' is not defined", "source": "kestal"})
    expect("diagnostics cleared after the fix", steps.get("cleared"), True)
    expect("hover on a function", steps.get("hover_function"),
           "```kestal\ndef greet(name: str) -> str\n```")
    expect("hover on a variable", steps.get("hover_variable"), "```kestal\ncount: int\n```")
    expect("definition of a call", steps.get("definition"),
           {"uri_matches": True, "line": 0, "character": 4, "end_character": 9})
    expect("unknown method", steps.get("unknown_method_error"), -32601)
    expect("server exit status", observed.get("exit_code"), 0)

    if failures:
        print("FAIL:")
        for failure in failures:
            print("  " + failure)
        return 1
    print("OK: diagnostics, fix, hover, definition and exit seen inside Neovim")
    return 0


if __name__ == "__main__":
    sys.exit(main())
