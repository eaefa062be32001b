#!/bin/sh
# Checks the C++ formatting, builds everything and runs every test (unit,
# runtime and program tests),
# then the reliability passes, each bounded and timed:
#   fuzz      every fuzz target for FUZZ_SECONDS (default 20) each
#   gc-stress the program tests with the collector run at every allocation
#   sanitize  the compiler and unit tests under ASan+UBSan (clang, -O1),
#             their unit tests and the program tests of a few areas, then
#             the runtime tests under UBSan (scripts/ubsan-cc)
#   tsan      the thread pool's runtime test and the parallel-loop programs
#             built with ThreadSanitizer (scripts/tsan-cc)
#   differential  random programs (fuzz/differential.py, seeds
#             DIFFERENTIAL_SEEDS, default 0:30) run by kestal and by python3,
#             which must print the same and exit with the same status
#             (about two minutes on two cores)
# KESTAL_TEST_PASSES chooses the passes (default "fuzz gc-stress sanitize
# tsan differential"; empty for the normal suite only).
set -e
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/format.sh --check
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j "$(nproc)"

passes=${KESTAL_TEST_PASSES-fuzz gc-stress sanitize tsan differential}
jobs=$(nproc)

timed() {
    name=$1
    shift
    start=$(date +%s)
    echo "== pass $name"
    "$@"
    echo "== pass $name: $(($(date +%s) - start)) s"
}

fuzz_pass() {
    for target in check json framing lsp feed library_index library_manifest; do
        KESTAL_FUZZ_SYNTAX_EVERY=${KESTAL_FUZZ_SYNTAX_EVERY:-25} scripts/fuzz.sh "$target" "${FUZZ_SECONDS:-20}" >build-fuzz/fuzz-$target.log 2>&1 || {
            tail -40 build-fuzz/fuzz-$target.log
            echo "fuzz target $target found a fault (input in build-fuzz/)" >&2
            return 1
        }
        grep '^stat::number_of_executed_units' build-fuzz/fuzz-$target.log | sed "s/^/$target: /"
    done
}

sanitize_pass() {
    # clang: its instrumented build costs well under half of gcc's.
    CC=clang CXX=clang++ cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DKESTAL_SANITIZE=ON >/dev/null
    cmake --build build-sanitize
    export UBSAN_OPTIONS=print_stacktrace=1
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs" -L unit
    ctest --test-dir build-sanitize --output-on-failure -j "$jobs" \
        -R '^programs\.(basics|control|operators)\.gcc$'
    # A test skipped for want of a processor feature exits with 77.
    for test_c in "$PWD"/tests/runtime/test_*.c; do
        PATH="$PWD/scripts:$PATH" python3 tests/runtime/run_test.py --cc ubsan-cc \
            --runtime-dir "$PWD/build-sanitize/runtime" --work "$PWD/build-sanitize/runtime-ubsan" \
            "$test_c" ||
            [ $? -eq 77 ] || return 1
    done
}

tsan_pass() {
    PATH="$PWD/scripts:$PATH" python3 tests/runtime/run_test.py --cc tsan-cc \
        --runtime-dir "$PWD/build/runtime" --work "$PWD/build/runtime-tsan" \
        tests/runtime/test_parallel.c
    # The sanitizer handles stack faults itself, and its bookkeeping makes a
    # recursion tens of thousands of calls deep take minutes, so the two
    # recursion programs are left out (the other passes run them).
    rm -rf build/tsan-programs && mkdir -p build/tsan-programs/parallel
    for f in tests/programs/parallel/*; do
        case $f in */worker_recursion.* | */worker_recursion_caught.*) ;; *) ln -s "$PWD/$f" build/tsan-programs/parallel/ ;; esac
    done
    python3 tests/programs/run_programs.py --kestal build/kestal --cc "$PWD/scripts/tsan-cc" \
        --jobs "$jobs" --work build/tsan-parallel build/tsan-programs/parallel
}

gc_stress_pass() {
    for area in tests/programs/*/; do
        area=${area%/}
        # parallel/collect allocates millions of objects on purpose: a
        # collection at each of them takes minutes, so it is left out here
        # (its own run already collects often through KESTAL_GC_MIN).
        if [ "$(basename "$area")" = parallel ]; then
            rm -rf build/gc-stress-programs && mkdir -p build/gc-stress-programs/parallel
            for f in "$area"/*; do
                case $f in */collect.*) ;; *) ln -s "$PWD/$f" build/gc-stress-programs/parallel/ ;; esac
            done
            area=build/gc-stress-programs/parallel
        fi
        python3 tests/programs/run_programs.py --kestal build/kestal \
            --cc "$PWD/scripts/gc-stress-cc" --jobs "$jobs" \
            --work "build/gc-stress-$(basename "$area")" "$area"
    done
}

# Every form the generator knows is made; any difference fails the pass.
differential_pass() {
    python3 fuzz/differential.py --kestal build/kestal --jobs "$jobs" \
        --seeds "${DIFFERENTIAL_SEEDS:-0:30}" --work build/differential
}

for pass in $passes; do
    case $pass in
        fuzz) mkdir -p build-fuzz; timed fuzz fuzz_pass ;;
        sanitize) timed sanitize sanitize_pass ;;
        gc-stress) timed gc-stress gc_stress_pass ;;
        tsan) timed tsan tsan_pass ;;
        differential) timed differential differential_pass ;;
        *) echo "test.sh: unknown pass '$pass'" >&2; exit 2 ;;
    esac
done
