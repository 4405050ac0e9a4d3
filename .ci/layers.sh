#!/usr/bin/env bash
# Fails when a file includes a header of a room above its own, or another
# room's internal header. The rooms, bottom up: diag, container, stream,
# then os and text side by side (neither includes the other), cover, and
# the tool in main. The one edge upward by design: the resource and
# interface managers of diag keep their records in the containers' map
# (base/diag/itfmng.cpp, base/diag/rscmng.cpp).
#
# Each room has one public header named after its folder (base/text/text.h),
# the one installed. Any other header of a room is internal
# (base/text/text_impl.h): only the room's own files and its tests
# (tests/text/) include it, and no public header does. The test hooks of
# diag (base/diag/test_hook.h) serve the tests of every room.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A rank=([diag]=0 [container]=1 [stream]=2 [os]=3 [text]=3 [cover]=4 [main]=5)
allowed=" base/diag/itfmng.cpp:container base/diag/rscmng.cpp:container "
bad=0
files() { git ls-files "$@"; git ls-files --others --exclude-standard "$@"; }
for f in $(files 'base/*/*.cpp' 'base/*/*.h' 'main/*.cpp' 'main/*.h'); do
    [ -f "$f" ] || continue
    room=$(echo "$f" | sed -E 's#^base/([a-z]+)/.*#\1#; s#^main/.*#main#')
    [ -n "${rank[$room]+x}" ] || { echo "layers: $f is in no known room ($room)"; bad=1; continue; }
    while read -r to; do
        [ -n "$to" ] || continue
        [ -n "${rank[$to]+x}" ] || { echo "layers: $f includes base/$to, which is no room"; bad=1; continue; }
        [ "$to" = "$room" ] && continue
        case "$allowed" in *" $f:$to "*) continue ;; esac
        if [ "${rank[$to]}" -ge "${rank[$room]}" ]; then
            echo "layers: $f ($room) includes base/$to/, which is not below it"
            bad=1
        fi
    done < <(sed -n -E 's#^\s*\#include "base/([a-z]+)/.*#\1#p' "$f")
done
# Internal headers, in every file that may include one: the library, the
# tool, the tests, the benchmarks and the fuzz targets.
for f in $(files 'base/*/*.cpp' 'base/*/*.h' 'main/*.cpp' 'main/*.h' 'tests/*.cpp' 'tests/*.h' \
    'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h'); do
    [ -f "$f" ] || continue
    own=$(echo "$f" | sed -n -E 's#^(base|tests)/([a-z]+)/.*#\2#p')
    while read -r to hdr; do
        [ "$hdr" = "$to" ] && continue # the public header
        if [[ "$f" == "base/$own/$own.h" ]]; then
            echo "layers: the public header $f includes base/$to/$hdr.h, an internal one"
            bad=1
        elif [ "$to" = diag ] && [ "$hdr" = test_hook ] && [[ "$f" == tests/* ]]; then
            continue
        elif [ "$to" != "$own" ]; then
            echo "layers: $f includes base/$to/$hdr.h, internal to base/$to"
            bad=1
        fi
    done < <(sed -n -E 's#^\s*\#include "base/([a-z]+)/([a-z_]+)\.h".*#\1 \2#p' "$f")
done
[ $bad -eq 0 ] && echo "layers: every include points down, internal headers stay in their room"
exit $bad
