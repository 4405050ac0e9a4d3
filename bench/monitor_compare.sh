#!/usr/bin/env bash
# Compares one keyed monitor run with `sort` + `comm -3` on the same data.
#
#   bench/monitor_compare.sh [BUILD_DIR]
#
# Generates two process-table-like outputs of 100 000 lines (about 5.5 MB
# each; about 10% of the rows differ and some watched values change band),
# times run 1 (every row new) and run 2 (against run 1) of the monitor with
# the report going to a file, and the same comparison done by sorting both
# files and running comm -3.
set -euo pipefail
build=${1:-build-bench}
[ -d "$build" ] || build=$(dirname "$build") # given the tool itself
bench="$build/bench_monitor"
[ -x "$bench" ] || { echo "no $bench: build with -DRUNDIF_BENCH=ON" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Deterministic rows: name, pid, cpu, memory, state and a command text.
gen() {
    awk -v variant="$1" 'BEGIN {
        s = 12345
        for (i = 1; i <= 100000; i++) {
            s = (s * 1103515245 + 12345) % 2147483648; r = int(s / 256)
            pid = i; mem = r % 900000
            if (variant && r % 10 == 0) { pid += 1000000; mem += 5000 }
            printf "proc%-11d %7d %5d %8d S worker-%d\n", r % 5000, pid, r % 100, mem, r % 97
        }
    }'
}
gen 0 > "$dir/a.txt"
gen 1 > "$dir/b.txt"
echo "data: $(wc -l < "$dir/a.txt") lines, $(wc -c < "$dir/a.txt") and $(wc -c < "$dir/b.txt") bytes"

# Best of three for each, in milliseconds.
best=
for i in 1 2 3; do
    out=$("$bench" "$dir/a.txt" "$dir/b.txt" 0:1 3:1000)
    t=${out##*run2_ms=}
    echo "rundif  $out"
    best=$(awk -v a="$t" -v b="${best:-1e18}" 'BEGIN { print (a < b ? a : b) }')
done
sc=
for i in 1 2 3; do
    t0=$(date +%s%N)
    sort "$dir/a.txt" > "$dir/a.s"
    sort "$dir/b.txt" > "$dir/b.s"
    comm -3 "$dir/a.s" "$dir/b.s" > "$dir/comm.out"
    t1=$(date +%s%N)
    t=$(awk -v d=$((t1 - t0)) 'BEGIN { printf "%.1f", d / 1e6 }')
    echo "sort+comm ${t}ms ($(wc -l < "$dir/comm.out") differing lines)"
    sc=$(awk -v a="$t" -v b="${sc:-1e18}" 'BEGIN { print (a < b ? a : b) }')
done
awk -v r="$best" -v s="$sc" 'BEGIN { printf "second run %.1f ms, sort+comm %.1f ms, ratio %.2f\n", r, s, r / s }'
