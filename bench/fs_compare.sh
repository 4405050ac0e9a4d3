#!/usr/bin/env bash
# Compares the library's tree walk and recursive remove with find and rm -rf.
#
#   bench/fs_compare.sh [BUILD_DIR or the tool inside it]
#
# Builds a tree of 100 000 empty files in 1 000 directories in a temporary
# folder, then times, best of three each and interleaved in one run:
#   a full walk with bench_fs (the walker) against `find ROOT | wc -l`,
#   bench_fs remove against `rm -rf`, each on a freshly built identical tree
#   (synced first; the two take turns at going first).
# Each time is the whole command, process start-up included.
set -euo pipefail
build=${1:-build-bench}
[ -d "$build" ] || build=$(dirname "$build") # given the tool itself
bench="$build/bench_fs"
[ -x "$bench" ] || { echo "no $bench: build with -DRUNDIF_BENCH=ON" >&2; exit 1; }

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
dirs=1000 files=100

# Milliseconds taken by the command line in $1 (run by bash, output dropped).
ms() {
    local t0 t1
    t0=$(date +%s%N)
    bash -c "$1" > /dev/null 2>&1 || { echo "failed: $1" >&2; exit 1; }
    t1=$(date +%s%N)
    awk -v d=$((t1 - t0)) 'BEGIN { printf "%.1f", d / 1e6 }'
}
min() { awk -v a="$1" -v b="${2:-1e18}" 'BEGIN { print (a < b ? a : b) }'; }

"$bench" make "$dir/tree" $dirs $files 2> /dev/null
echo "tree: $("$bench" walk "$dir/tree" 2> /dev/null) entries below the root," \
     "find sees $(find "$dir/tree" | wc -l) with the root"

walk= find=
for i in 1 2 3; do
    a=$(ms "'$bench' walk '$dir/tree'")
    b=$(ms "find '$dir/tree' | wc -l")
    echo "walk   bench_fs ${a} ms   find|wc ${b} ms"
    walk=$(min "$a" "$walk") find=$(min "$b" "$find")
done

rmv= rmrf=
for i in 1 2 3; do
    "$bench" make "$dir/a$i" $dirs $files 2> /dev/null
    "$bench" make "$dir/b$i" $dirs $files 2> /dev/null
    sync # pending writes of the new trees would land on whichever runs first
    if ((i % 2)); then
        a=$(ms "'$bench' remove '$dir/a$i'")
        b=$(ms "rm -rf '$dir/b$i'")
    else
        b=$(ms "rm -rf '$dir/b$i'")
        a=$(ms "'$bench' remove '$dir/a$i'")
    fi
    [ ! -e "$dir/a$i" ] || { echo "bench_fs remove left $dir/a$i" >&2; exit 1; }
    echo "remove bench_fs ${a} ms   rm -rf ${b} ms"
    rmv=$(min "$a" "$rmv") rmrf=$(min "$b" "$rmrf")
done

echo "best: walk ${walk} ms vs find ${find} ms; remove ${rmv} ms vs rm -rf ${rmrf} ms"
awk -v a="$walk" -v b="$find" 'BEGIN { printf "walk ratio %.2f\n", a / b }'
awk -v a="$rmv" -v b="$rmrf" 'BEGIN { printf "remove ratio %.2f\n", a / b }'
