#!/usr/bin/env bash
# Compares `rundif --compare OLD NEW` with `comm -3 <(sort OLD) <(sort NEW)`
# on the same two process-table-like files, side by side in one run.
#
#   bench/compare.sh [RUNDIF] [LINES]
#
# RUNDIF defaults to build-bench/rundif, LINES to 1000000. Each command
# runs three times; the median times give two ratios, the last two lines:
#   compare ratio R      against sort + comm in the caller's locale
#   compare ratio C R    against sort + comm with LC_ALL=C
set -euo pipefail
tool=${1:-build-bench/rundif}
n=${2:-1000000}
[ -x "$tool" ] || { echo "no $tool: build it first (make bench)" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# The rows of bench/ps_rows.awk: 10% of the keys change, another 10%
# move their watched value into another band.
gen() { awk -v variant="$1" -v n="$2" -f "$(dirname "$0")/ps_rows.awk"; }
gen 0 "$n" > "$dir/old"
gen 1 "$n" > "$dir/new"

# Median of three runs of a command, in milliseconds.
median_ms() {
    local t=()
    for i in 1 2 3; do
        local t0 t1
        t0=$(date +%s%N)
        "$@" > /dev/null
        t1=$(date +%s%N)
        t+=($(( (t1 - t0) / 1000000 )))
    done
    printf '%s\n' "${t[@]}" | sort -n | sed -n 2p
}

ours() { "$tool" --stats=never --compare "$dir/old" "$dir/new" || [ $? -eq 1 ]; }
theirs() { LC_ALL=$1 comm -3 <(LC_ALL=$1 sort "$dir/old") <(LC_ALL=$1 sort "$dir/new"); }

locale=${LC_ALL:-${LC_COLLATE:-${LANG:-C}}}
r=$(median_ms ours)
l=$(median_ms theirs "$locale")
c=$(median_ms theirs C)
echo "$n lines: rundif --compare ${r} ms; sort + comm ${l} ms ($locale), ${c} ms (C)"
awk -v r="$r" -v l="$l" 'BEGIN { printf "compare ratio %.2f\n", r / l }'
awk -v r="$r" -v c="$c" 'BEGIN { printf "compare ratio C %.2f\n", r / c }'
