#!/bin/sh
# Formats the C++ sources with the root .clang-format; with --check, only
# lists the files that differ and fails when there is one.
set -e
cd "$(dirname "$0")/.."
files=$(find src tests/unit fuzz \( -name '*.cpp' -o -name '*.h' \) | sort)
if [ "$1" = "--check" ]; then
    # shellcheck disable=SC2086
    clang-format --dry-run --Werror $files
else
    # shellcheck disable=SC2086
    clang-format -i $files
fi
