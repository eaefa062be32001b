#!/bin/sh
# Builds a release `kestal` in build/ and runs it on examples/hello.ktl.
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
build/kestal run examples/hello.ktl
