#!/usr/bin/env python3
"""Runs scripts/check_layers.py on the fixture tree beside this file and
requires exactly the faults it holds: an include up the order, one up from
codegen/core into a construct folder, one across a row that is not one
layer, and a folder the order lacks. Includes within the construct layer,
down the order, of a file's own folder (also written relative to it) and
of files outside src/ pass."""
import pathlib
import subprocess
import sys

HERE = pathlib.Path(__file__).resolve().parent
EXPECTED = [
    'ast/program.h:3: includes "parser/parser.h", which ast/ may not use '
    "(parser/ is not below it)",
    'codegen/core/context.cpp:3: includes "codegen/expr/expr.h", which codegen/core/ may not use '
    "(codegen/expr/ is not below it)",
    "extra/new.h: folder not in the stage order",
    'lsp/hover.cpp:1: includes "update/feed.h", which lsp/ may not use '
    "(update/ is not below it)",
]

run = subprocess.run([sys.executable, str(HERE.parent.parent / "scripts" / "check_layers.py"),
                      str(HERE / "fixture" / "src")], capture_output=True, text=True)
lines = run.stdout.splitlines()
if run.returncode != 1 or lines != EXPECTED:
    print(f"status {run.returncode}, output:\n{run.stdout}{run.stderr}")
    sys.exit(1)
