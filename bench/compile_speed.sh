#!/usr/bin/env bash
# Compiler speed: generates programs of 1k, 10k, 100k and 1M lines and reports
# the time of `kestal check` and `kestal emit` per 1,000 lines (median of
# RUNS runs) and the peak memory of each, so growth that is not linear shows
# as a rising per-1,000-line figure. Wall time is what a user waits; CPU time
# (user + system) is the steadier figure on a machine shared with other jobs.
# For sizes up to BUILD_MAX lines it also times the whole `kestal build`, the
# C compiler and the linker included, with clang and with gcc (CPU seconds
# per 1,000 lines, median of BUILD_RUNS): the figure a user waits for.
#
#   bench/compile_speed.sh [SIZES...]        e.g. bench/compile_speed.sh 1000 10000
# Environment: KESTAL (default build/kestal), RUNS (default 3), BUILD_MAX
#   (default 10000; 0 skips the builds), BUILD_RUNS (default 1), CCS (default
#   "clang gcc").
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
kestal="${KESTAL:-$root/build/kestal}"
runs="${RUNS:-3}"
build_max="${BUILD_MAX:-10000}"
build_runs="${BUILD_RUNS:-1}"
read -r -a ccs <<< "${CCS:-clang gcc}"
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(1000 10000 100000 1000000)
[ -x "$kestal" ] || { echo "no compiler at $kestal (build first, or set KESTAL)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Runs a command RUNS times (or $MEASURE_RUNS); prints "median_wall_seconds
# median_cpu_seconds peak_kib" (peak of all runs). CPU time includes the
# command's children (the C compiler and linker under `build`).
measure() {
    python3 - "${MEASURE_RUNS:-$runs}" "$@" <<'PY'
import os, statistics, sys, time
runs = int(sys.argv[1]); cmd = sys.argv[2:]
times, cpu, peak = [], [], 0
for _ in range(runs):
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_WRONLY)
        os.dup2(fd, 1)
        os.execv(cmd[0], cmd)
    _, status, usage = os.wait4(pid, 0)
    times.append(time.perf_counter() - start)
    cpu.append(usage.ru_utime + usage.ru_stime)
    if status != 0:
        sys.exit(f"failed: {' '.join(cmd)}")
    peak = max(peak, usage.ru_maxrss)
print(f"{statistics.median(times):.4f} {statistics.median(cpu):.4f} {peak}")
PY
}

echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
build_cols=""
for cc in "${ccs[@]}"; do build_cols+=$(printf ' %14s' "$cc s/1k"); done
printf '%10s %8s %8s %12s %12s %12s %12s %10s%s\n' lines funcs classes "check ms/1k" "check cpu" \
    "emit ms/1k" "emit cpu" "peak MiB" "$build_cols"
for n in "${sizes[@]}"; do
    src="$work/gen_$n.ktl"
    python3 "$here/gen_program.py" "$n" > "$src"
    lines=$(wc -l < "$src")
    funcs=$(grep -c '^def ' "$src")
    classes=$(grep -c '^class ' "$src" || true)
    read -r check_s check_cpu check_kib < <(measure "$kestal" check "$src")
    read -r emit_s emit_cpu emit_kib < <(measure "$kestal" emit "$src")
    peak=$(( check_kib > emit_kib ? check_kib : emit_kib ))
    builds=""
    for cc in "${ccs[@]}"; do
        if [ "$lines" -le "$build_max" ]; then
            read -r _ build_cpu _ < <(KESTAL_CC="$cc" KESTAL_NO_UPDATE_CHECK=1 MEASURE_RUNS="$build_runs" \
                measure "$kestal" build "$src" -o "$work/gen_$n.$cc")
            builds+=$(awk -v b="$build_cpu" -v l="$lines" 'BEGIN { printf " %14.2f", b * 1e3 / l }')
        else
            builds+=$(printf ' %14s' -)
        fi
    done
    awk -v l="$lines" -v f="$funcs" -v k="$classes" -v c="$check_s" -v cc="$check_cpu" \
        -v e="$emit_s" -v ec="$emit_cpu" -v p="$peak" -v b="$builds" \
        'BEGIN { printf "%10d %8d %8d %12.2f %12.2f %12.2f %12.2f %10.1f%s\n", l, f, k, c * 1e6 / l,
                 cc * 1e6 / l, e * 1e6 / l, ec * 1e6 / l, p / 1024, b }'
done
