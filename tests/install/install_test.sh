#!/usr/bin/env bash
# The installed library as another program sees it: builds base alone
# (Release), installs it staged with DESTDIR under another prefix than the
# configured one (as make install PREFIX=... does), checks the installed
# files, builds examples/ against the staged package through find_package
# and one example through pkg-config, and runs them on a small fixture.
#   install_test.sh CMAKE CXX
set -euo pipefail
cmake=$1 cxx=$2
src=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
trap 'echo "FAIL: line $LINENO: $BASH_COMMAND" >&2' ERR
fail() { echo "FAIL: $*" >&2; exit 1; }
stage=$tmp/stage prefix=/opt/base
root=$stage$prefix

"$cmake" -S "$src" -B "$tmp/lib" -DCMAKE_BUILD_TYPE=Release -DRUNDIF_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr/local -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
"$cmake" --build "$tmp/lib" -j2 --target base >/dev/null
DESTDIR=$stage "$cmake" --install "$tmp/lib" --prefix $prefix --component base >/dev/null
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$tmp/lib/CMakeCache.txt")

# Exactly the public header of each room (no internal header), the library,
# the CMake package and the pkg-config file.
want=$(cd "$src" && for d in base/*/; do
    r=$(basename "$d")
    [ ! -f "$d$r.h" ] || echo "include/base/$r/$r.h"
done; for f in libbase.a pkgconfig/base.pc cmake/base/baseConfig.cmake \
    cmake/base/baseConfigVersion.cmake cmake/base/baseTargets.cmake \
    cmake/base/baseTargets-release.cmake; do echo "$libdir/$f"; done)
diff <(LC_ALL=C sort <<<"$want") <(cd "$root" && find . -type f | sed 's#^\./##' | LC_ALL=C sort) ||
    fail "installed files differ (< wanted, > installed)"

"$cmake" -S "$src/examples" -B "$tmp/ex" -DCMAKE_PREFIX_PATH="$root" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="-Wall -Wextra -Werror" >/dev/null
grep -qx "base_DIR:PATH=$root/$libdir/cmake/base" "$tmp/ex/CMakeCache.txt" ||
    fail "examples did not find the staged package"
"$cmake" --build "$tmp/ex" -j2 >/dev/null
# Through a file, so that a pkg-config failure fails the test; its words
# are split on purpose.
PKG_CONFIG_LIBDIR=$root/$libdir/pkgconfig PKG_CONFIG_SYSROOT_DIR=$stage \
    pkg-config --cflags --libs base >"$tmp/pc.txt"
"$cxx" -o "$tmp/vmap_get_pc" "$src/examples/vmap_get.cpp" $(cat "$tmp/pc.txt")

cd "$tmp"
cat >conf.txt <<'END'
name = demo
server = main [
    host = "db.example.org"
    port = 5432
]
log/level = debug
END
mkdir -p tree/sub/deeper tree/dir.txt
touch tree/a.txt tree/b.log tree/a.txt.log tree/sub/c.txt tree/sub/deeper/d.txt tree/sub/e.md
{
    for p in name server/host server/port log/level server/user; do
        ex/vmap_get conf.txt "$p" 2>&1 || echo "exit $?"
    done
    ./vmap_get_pc conf.txt server/port 2>&1 || echo "exit $?"
    ex/vmap_get missing.txt name 2>&1 || echo "exit $?"
    ex/find_files tree '\.txt$' | LC_ALL=C sort
    ex/find_files tree 'x[' 2>&1 || echo "exit $?"
} >got.txt
diff - got.txt <<'END' || fail "example output differs (< wanted, > got)"
demo
db.example.org
5432
debug
vmap_get: conf.txt holds no value at server/user
exit 1
5432
vmap_get: cannot open missing.txt: No such file or directory
exit 1
tree/a.txt
tree/sub/c.txt
tree/sub/deeper/d.txt
find_files: cannot compile the pattern 'x['
exit 1
END
echo "install: package, examples and pkg-config build pass"
