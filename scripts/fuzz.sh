#!/bin/sh
# Runs one fuzz target for a number of seconds: scripts/fuzz.sh TARGET SECONDS
# TARGET is check (the whole check road), json (the JSON reader), framing
# (the language server's message framing), lsp (the language server's
# request handling, over sessions of JSON messages), feed (the update feed
# reader), library_index (the library site's index reader) or
# library_manifest (the library folder loader, over a library.json and a
# header split at the input's first NUL byte).
# The targets are built with clang in build-fuzz; the check target starts
# from the program tests and the examples, with the language's keywords as a
# dictionary; the lsp target starts from the sessions in fuzz/lsp-seeds with
# the protocol's names as a dictionary; the library_manifest target starts
# from the library folders in fuzz/library-manifest-seeds with the manifest's
# keys and types as a dictionary. A finding (crash,
# leak, undefined behaviour, an exception escaping) ends the run with a
# non-zero status and leaves the input as build-fuzz/crash-*.
# KESTAL_FUZZ_SYNTAX_EVERY=N also checks every N-th accepted program's C
# text with gcc and clang -fsyntax-only (the CI pass sets 25).
set -e
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh check|json|framing|lsp|feed|library_index|library_manifest SECONDS}
seconds=${2:?usage: scripts/fuzz.sh check|json|framing|lsp|feed|library_index|library_manifest SECONDS}
case $target in check|json|framing|lsp|feed|library_index|library_manifest) ;; *) echo "fuzz.sh: unknown target '$target'" >&2; exit 2;; esac
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DKESTAL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz --target "fuzz_$target" -j "${FUZZ_JOBS:-4}"
corpus=build-fuzz/corpus-$target
mkdir -p "$corpus"
seeds=
options=
case $target in
  check)
    seeds="tests/programs examples"
    options=-dict=../fuzz/kestal.dict
    # libFuzzer reads seed folders flat: gather the sources once.
    find tests/programs examples -name '*.ktl' -exec cp {} "$corpus/" \;
    seeds=;;
  lsp)
    options=-dict=../fuzz/lsp.dict
    cp fuzz/lsp-seeds/* "$corpus/";;
  library_manifest)
    options=-dict=../fuzz/library_manifest.dict
    cp fuzz/library-manifest-seeds/* "$corpus/";;
esac
cd build-fuzz
# -rss_limit_mb: the code generator of a big input may use some memory, but
# not without bound; -timeout: one input may not take longer than 10 s.
exec "./fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
  -max_len=4096 -print_final_stats=1 $options "corpus-$target" $seeds
