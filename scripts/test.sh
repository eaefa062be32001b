#!/bin/sh
# Builds everything and runs every test (unit, runtime and program tests).
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$(nproc)"
