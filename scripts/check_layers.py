#!/usr/bin/env python3
"""Checks that every include under src/ points down the stage order.

STAGES lists the folders of src/ from the bottom up, one row per layer: a
file may include files of its own folder and of the rows below its own.
Folders on one row may not include each other, except on a row marked as
one layer (the construct folders of the code generator, which call each
other by design). A file's folder is the one that holds it directly, so
`codegen/core/context.h` is in `codegen/core` and `codegen/codegen.h` (the
code generator's entry, which `codegen/program` defines) in `codegen`.
Includes that name no file under src/ (system headers, the runtime's
text beside src/) are not checked; a file in a folder the table lacks is a
fault, so a new folder must be placed.

Usage: check_layers.py [SRC]   (default: the src/ beside this script's
folder). Prints each include that points up, naming the file and the
include, and exits 1 when there is one.
"""
import pathlib
import re
import sys

# (folders, one_layer): bottom first; the same order as docs/architecture.md.
STAGES = [
    (["support"], False),
    (["platform"], False),
    (["json", "sha256"], False),
    (["types"], False),
    (["ast"], False),
    (["lexer"], False),
    (["analysis"], False),
    (["parser"], False),
    (["libraries"], False),
    (["codegen/core"], False),
    (["codegen/optional", "codegen/classes", "codegen/builtins", "codegen/expr",
      "codegen/stmt", "codegen/parallel"], True),
    (["codegen"], False),
    (["codegen/program"], False),
    (["lsp", "update"], False),
    (["main"], False),
]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def folder_of(relative):
    """The folder of a path relative to src/ and its row, or None."""
    parent = relative.parent.as_posix()
    for row, (folders, _) in enumerate(STAGES):
        if parent in folders:
            return parent, row
    return None


def check(src):
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".inc") or not path.is_file():
            continue
        relative = path.relative_to(src)
        own = folder_of(relative)
        if own is None:
            faults.append(f"{relative.as_posix()}: folder not in the stage order")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = src / match.group(1)
            if not target.is_file():
                target = path.parent / match.group(1)
                if not target.is_file():
                    continue
            other = folder_of(target.resolve().relative_to(src.resolve()))
            if other is None or other[0] == own[0]:
                continue
            row_allows = other[1] == own[1] and STAGES[own[1]][1]
            if other[1] > own[1] or (other[1] == own[1] and not row_allows):
                faults.append(f'{relative.as_posix()}:{number}: includes "{match.group(1)}", '
                              f"which {own[0]}/ may not use ({other[0]}/ is not below it)")
    return faults


def main():
    src = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else \
        pathlib.Path(__file__).resolve().parent.parent / "src"
    faults = check(src)
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
