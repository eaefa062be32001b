#!/usr/bin/env bash
# C build time: where `kestal build` spends its time once the C is written.
# Generates programs with gen_program.py, emits their C, and times the C
# compiler on it with the flags `kestal build` uses (src/main/fixed_c_flags.inc,
# the compiler's own flags from src/main/c_compiler.h, -march=native), as
# `-c` only: on the runtime alone (an empty program) and on each program,
# against -O0 of the same file, and in the split form `build` and `run` use
# (the program compiled against the cached runtime object:
# -DKTL_SPLIT_PROGRAM, so the runtime's out-of-line part is only declared). It also prints the largest function of each
# object (a module body that absorbed its callees shows here), and the time
# of `kestal run --no-cache examples/hello.ktl` (after one untimed run that
# files the runtime object in the cache). Times are CPU seconds (user),
# the best of RUNS: on a machine shared with other jobs, wall time says more
# about the neighbours than about the compile.
#
#   bench/c_build_time.sh [SIZES...]          default: 2000 10000
# Environment: KESTAL (default build/kestal), CCS (default "clang gcc"),
#   RUNS (default 1), KEEP=DIR keeps the emitted C files there for
#   hand-edited experiments.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(dirname "$here")"
kestal="${KESTAL:-$root/build/kestal}"
runs="${RUNS:-1}"
read -r -a ccs <<< "${CCS:-clang gcc}"
sizes=("$@")
[ ${#sizes[@]} -eq 0 ] && sizes=(2000 10000)
[ -x "$kestal" ] || { echo "no compiler at $kestal (build first, or set KESTAL)" >&2; exit 1; }
work="${KEEP:-$(mktemp -d)}"
mkdir -p "$work"
[ -n "${KEEP:-}" ] || trap 'rm -rf "$work"' EXIT

# The quoted words of a flag list, one a line.
quoted() { grep -o '"[^"]*"' | tr -d '"'; }
mapfile -t fixed < <(grep -v '^//' "$root/src/main/fixed_c_flags.inc" | quoted)
mapfile -t clang_only < <(grep 'kClangFlags =' "$root/src/main/c_compiler.h" | sed 's/.*=//' | quoted)
mapfile -t gcc_only < <(grep 'kGccFlags =' "$root/src/main/c_compiler.h" | sed 's/.*=//' | quoted)

# Best user seconds of RUNS runs of a command (its output discarded).
best_user() {
    local best="" t
    for _ in $(seq "$runs"); do
        /usr/bin/time -f '%U' -o "$work/time" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; exit 1; }
        t=$(tail -1 "$work/time")
        best=$(awk -v a="$best" -v b="$t" 'BEGIN { print (a == "" || b < a) ? b : a }')
    done
    echo "$best"
}

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); CPU seconds (user), best of $runs"
echo 'pass' > "$work/empty.ktl"
names=(empty)
for n in "${sizes[@]}"; do
    python3 "$here/gen_program.py" "$n" > "$work/gen_$n.ktl"
    names+=("gen_$n")
done
printf '%-10s %8s %-6s %8s %8s %7s %8s  %s\n' program "C lines" cc "-O0 s" "build s" ratio \
    "split s" "largest function (bytes)"
for name in "${names[@]}"; do
    "$kestal" emit "$work/$name.ktl" > "$work/$name.c"
    lines=$(wc -l < "$work/$name.c")
    for cc in "${ccs[@]}"; do
        own=()
        case "$cc" in *clang*) own=("${clang_only[@]}") ;; *gcc*) own=("${gcc_only[@]}") ;; esac
        obj="$work/$name.$cc.o"
        o0=$(best_user "$cc" -O0 -std=gnu11 -w "${own[@]}" -march=native -c "$work/$name.c" -o "$obj")
        full=$(best_user "$cc" "${fixed[@]}" "${own[@]}" -march=native -c "$work/$name.c" -o "$obj")
        read -r _ size _ fname < <(nm --size-sort -S "$obj" | awk '$3 ~ /^[tT]$/' | tail -1)
        largest="$fname $((16#$size))"
        split=$(best_user "$cc" "${fixed[@]}" "${own[@]}" -march=native -DKTL_SPLIT_PROGRAM=1 -c \
            "$work/$name.c" -o "$obj")
        awk -v p="$name" -v l="$lines" -v c="$cc" -v a="$o0" -v b="$full" -v s="$split" \
            -v f="$largest" \
            'BEGIN { printf "%-10s %8d %-6s %8.2f %8.2f %7.1f %8.2f  %s\n", p, l, c, a, b, b / a, s, f }'
    done
done
hello="$root/examples/hello.ktl"
for cc in "${ccs[@]}"; do
    KESTAL_CC=$cc KESTAL_NO_UPDATE_CHECK=1 "$kestal" run --no-cache "$hello" >/dev/null
    echo "kestal run --no-cache examples/hello.ktl, KESTAL_CC=$cc: $(KESTAL_CC=$cc \
        KESTAL_NO_UPDATE_CHECK=1 best_user "$kestal" run --no-cache "$hello") s (compiler and linker included)"
done
