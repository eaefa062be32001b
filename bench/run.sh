#!/usr/bin/env bash
# Runtime benchmarks: every bench/programs/NAME.ktl beside its hand-written
# NAME.c, built with Kestal (gcc and clang) and with gcc -O3 -march=native,
# and run by CPython (and PyPy when pypy3 is installed; as root the script
# installs Debian's pypy3 when it is missing). The C is built with the float
# rules of generated code (no contraction into fused multiply-adds), so float
# results agree to the last digit. Each is run RUNS times; the
# table shows median seconds and the ratios Kestal/C, CPython/Kestal and
# PyPy/Kestal (Kestal = its gcc build), closed by geometric means. All
# outputs of a program must be identical, or the script stops.
#
#   bench/run.sh [NAME...]
# Environment: KESTAL (default build/kestal), RUNS (default 5), PY_RUNS
#   (runs of CPython and PyPy, default 1), NO_PYTHON=1 to skip them.
# A new benchmark is a pair of files in bench/programs/; nothing else changes.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
kestal="${KESTAL:-$root/build/kestal}"
runs="${RUNS:-5}"
py_runs="${PY_RUNS:-1}"
[ -x "$kestal" ] || { echo "no compiler at $kestal (build first, or set KESTAL)" >&2; exit 1; }

if [ -z "${NO_PYTHON:-}" ] && ! command -v pypy3 >/dev/null && [ "$(id -u)" = 0 ] &&
    command -v apt-get >/dev/null; then
    apt-get install -y -qq pypy3 >/dev/null 2>&1 || echo "(pypy3 could not be installed)" >&2
fi
have_pypy=""
[ -z "${NO_PYTHON:-}" ] && command -v pypy3 >/dev/null && have_pypy=1

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
    for f in "$here"/programs/*.ktl; do names+=("$(basename "$f" .ktl)"); done
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Median wall seconds of N runs of a command; its output goes to $work/out.
median_of() {
    local n="$1"
    shift
    python3 - "$n" "$work/out" "$@" <<'PY'
import statistics, subprocess, sys, time
runs, out, cmd = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
times = []
for _ in range(runs):
    start = time.perf_counter()
    r = subprocess.run(cmd, stdout=subprocess.PIPE)
    times.append(time.perf_counter() - start)
    if r.returncode != 0:
        sys.exit(f"failed ({r.returncode}): {' '.join(cmd)}")
open(out, "wb").write(r.stdout)
print(f"{statistics.median(times):.3f}")
PY
}
median() { median_of "$runs" "$@"; }

same_output() {
    if ! cmp -s "$work/expected" "$work/out"; then
        echo "$1: output differs from the C version:" >&2
        diff "$work/expected" "$work/out" | head -5 >&2
        exit 1
    fi
}

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "compilers: $(gcc --version | head -1); $(clang --version | head -1); $(python3 --version)${have_pypy:+; $(pypy3 --version 2>&1 | tail -1)}"
echo "median of $runs runs (Python: $py_runs), seconds"
printf '%-18s %8s %9s %9s %9s %9s %9s %9s %9s\n' program C kestal-gcc kestal-cl CPython PyPy "K/C" "Py/K" "PyPy/K"
rows="$work/rows"
: > "$rows"
for name in "${names[@]}"; do
    src="$here/programs/$name"
    gcc -O3 -march=native -ffp-contract=off -o "$work/c_$name" "$src.c" -lm
    KESTAL_CC=gcc "$kestal" build "$src.ktl" -o "$work/kg_$name" >/dev/null
    KESTAL_CC=clang "$kestal" build "$src.ktl" -o "$work/kc_$name" >/dev/null
    t_c=$(median "$work/c_$name"); cp "$work/out" "$work/expected"
    t_kg=$(median "$work/kg_$name"); same_output "$name (kestal, gcc)"
    t_kc=$(median "$work/kc_$name"); same_output "$name (kestal, clang)"
    t_py="-"; t_pypy="-"
    if [ -z "${NO_PYTHON:-}" ]; then
        t_py=$(median_of "$py_runs" python3 "$src.ktl"); same_output "$name (CPython)"
        if [ -n "$have_pypy" ]; then t_pypy=$(median_of "$py_runs" pypy3 "$src.ktl"); same_output "$name (PyPy)"; fi
    fi
    echo "$name $t_c $t_kg $t_kc $t_py $t_pypy" >> "$rows"
done
python3 - "$rows" <<'PY'
import math, sys
rows = [line.split() for line in open(sys.argv[1])]
def ratio(a, b):
    return float(a) / float(b) if a != "-" and b != "-" and float(b) > 0 else None
def cell(x):
    return f"{x:9.2f}" if x is not None else f"{'-':>9}"
cols = [[], [], []]
for name, c, kg, kc, py, pypy in rows:
    r = [ratio(kg, c), ratio(py, kg), ratio(pypy, kg)]
    for col, v in zip(cols, r):
        if v is not None: col.append(v)
    print(f"{name:<18} {c:>8} {kg:>9} {kc:>9} {py:>9} {pypy:>9} " + " ".join(cell(v) for v in r))
geo = [math.exp(sum(map(math.log, col)) / len(col)) if col else None for col in cols]
print(f"{'geometric mean':<18} {'':>8} {'':>9} {'':>9} {'':>9} {'':>9} " + " ".join(cell(v) for v in geo))
PY
