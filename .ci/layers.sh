#!/usr/bin/env bash
# Fails when a file includes a header of a room above its own. The rooms,
# bottom up: diag, container, stream, then os and text side by side (neither
# includes the other), cover, and the tool in main. The one edge upward by
# design: the resource and interface managers of diag keep their records in
# the containers' map (base/diag/itfmng.cpp, base/diag/rscmng.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A rank=([diag]=0 [container]=1 [stream]=2 [os]=3 [text]=3 [cover]=4 [main]=5)
allowed=" base/diag/itfmng.cpp:container base/diag/rscmng.cpp:container "
bad=0
for f in $(git ls-files 'base/*/*.cpp' 'base/*/*.h' 'main/*.cpp' 'main/*.h') $(git ls-files --others --exclude-standard 'base/*/*.cpp' 'base/*/*.h'); do
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
[ $bad -eq 0 ] && echo "layers: every include points down"
exit $bad
