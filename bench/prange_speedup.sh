#!/bin/sh
# Speed-up of a parallel loop: builds bench/parallel/mandelbrot_rows.ktl
# once and times it with 1, 2 and all of the process's CPUs
# (KESTAL_THREADS), median of RUNS (default 3), checking that every run
# prints the same.
set -e
cd "$(dirname "$0")/.."
KESTAL=${KESTAL:-build/kestal}
RUNS=${RUNS:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$KESTAL" build bench/parallel/mandelbrot_rows.ktl -o "$work/mandel" >/dev/null
all=$(nproc)
KESTAL_THREADS=1 "$work/mandel" >"$work/expected"
median() {
    sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
base=""
for threads in 1 2 "$all"; do
    for run in $(seq "$RUNS"); do
        start=$(date +%s.%N)
        KESTAL_THREADS=$threads "$work/mandel" >"$work/out"
        end=$(date +%s.%N)
        cmp -s "$work/out" "$work/expected" || { echo "output differs at $threads threads" >&2; exit 1; }
        echo "$end - $start" | bc
    done | median >"$work/t"
    t=$(cat "$work/t")
    [ -n "$base" ] || base=$t
    printf '%3s threads  %6.3f s  speed-up %5.2f\n' "$threads" "$t" "$(echo "$base / $t" | bc -l)"
done
