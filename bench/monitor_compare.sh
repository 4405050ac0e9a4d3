#!/usr/bin/env bash
# Compares one keyed monitor run with `sort` + `comm -3` on the same data.
#
#   bench/monitor_compare.sh [BUILD_DIR] [LINES...]
#
# For each size (default 100000 and 1000000 lines) it generates two
# process-table-like outputs (about 51 bytes a line; about 10% of the rows
# change their key, another 10% only move their watched value into another
# band, so the report has "+", "-" and "*" lines), times run 2 (against run
# 1) of the monitor with the report going to a file, and the same
# comparison done by sorting both files and running comm -3, once with
# LC_ALL=C and once in the caller's locale. Best of three each; prints the
# ratios and the peak resident memory of the two runs.
set -euo pipefail
build=${1:-build-bench}
[ -d "$build" ] || build=$(dirname "$build") # given the tool itself
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(100000 1000000)
bench="$build/bench_monitor"
[ -x "$bench" ] || { echo "no $bench: build with -DRUNDIF_BENCH=ON" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Deterministic rows (bench/ps_rows.awk).
gen() { awk -v variant="$1" -v n="$2" -f "$(dirname "$0")/ps_rows.awk"; }

# Best of three runs of a command, in milliseconds.
best_ms() {
    local best= t0 t1 t
    for i in 1 2 3; do
        t0=$(date +%s%N)
        "$@"
        t1=$(date +%s%N)
        t=$(( (t1 - t0) / 1000 ))
        best=$(( ${best:-t} < t ? ${best:-t} : t ))
    done
    awk -v us="$best" 'BEGIN { printf "%.1f", us / 1000 }'
}

sort_comm() {
    LC_ALL=$1 sort "$dir/a.txt" > "$dir/a.s"
    LC_ALL=$1 sort "$dir/b.txt" > "$dir/b.s"
    LC_ALL=$1 comm -3 "$dir/a.s" "$dir/b.s" > "$dir/comm.out"
}

locale=${LC_ALL:-${LC_COLLATE:-${LANG:-C}}}
for n in "${sizes[@]}"; do
    gen 0 "$n" > "$dir/a.txt"
    gen 1 "$n" > "$dir/b.txt"
    echo "== $n lines, $(wc -c < "$dir/a.txt") and $(wc -c < "$dir/b.txt") bytes"
    best=
    for i in 1 2 3; do
        out=$("$bench" "$dir/a.txt" "$dir/b.txt" 0:1 3:1000)
        t=${out##*run2_ms=}
        echo "rundif  $out"
        best=$(awk -v a="$t" -v b="${best:-1e18}" 'BEGIN { print (a < b ? a : b) }')
    done
    rss=$( { /usr/bin/time -f '%M' "$bench" "$dir/a.txt" "$dir/b.txt" 0:1 3:1000 >/dev/null; } 2>&1 | tail -n 1)
    c=$(best_ms sort_comm C)
    l=$(best_ms sort_comm "$locale")
    echo "sort+comm LC_ALL=C ${c} ms, LC_ALL=$locale ${l} ms ($(wc -l < "$dir/comm.out") differing lines)"
    awk -v r="$best" -v c="$c" -v l="$l" -v loc="$locale" -v n="$n" -v rss="$rss" 'BEGIN {
        printf "%d lines: second run %.1f ms; ratio %.2f against LC_ALL=C, %.2f against %s; peak RSS %.0f MB\n",
               n, r, r / c, r / l, loc, rss / 1024 }'
done
