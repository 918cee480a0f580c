#!/usr/bin/env bash
# The build installed into a fresh prefix and used as a host would use it: the
# files in their places, a C host built through pkg-config and through
# find_package, the tools running from the prefix without LD_LIBRARY_PATH, and
# the Debian package's contents and dependencies.
set -uo pipefail
build=$1 source=$2 version=$3 cc=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }
tools=(tessaly-play tessaly-h264dec tessaly-voice tessaly-rec tessaly-ft)

cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; exit 1; }

# Layout: what the examples, pkg-config and find_package rely on, and nothing internal.
so=$prefix/lib/libtessaly.so
[ -f "$so.$version" ] || fail "no lib/libtessaly.so.$version"
[ "$(readlink "$so.${version%%.*}")" = "libtessaly.so.$version" ] || fail "libtessaly.so.${version%%.*} -> $(readlink "$so.${version%%.*}")"
[ "$(readlink "$so")" = "libtessaly.so.${version%%.*}" ] || fail "libtessaly.so -> $(readlink "$so")"
diff <(ls "$source/include/tessaly") <(ls "$prefix/include/tessaly") >/dev/null || fail "installed headers differ from include/tessaly"
for f in lib/pkgconfig/tessaly.pc lib/cmake/Tessaly/TessalyConfig.cmake lib/cmake/Tessaly/TessalyConfigVersion.cmake; do
  [ -f "$prefix/$f" ] || fail "no $f"
done
for t in "${tools[@]}"; do
  [ -x "$prefix/bin/$t" ] || fail "no bin/$t"
  [ -f "$prefix/share/man/man1/$t.1" ] || fail "no man page of $t"
  groff -man -Tutf8 -ww -z "$prefix/share/man/man1/$t.1" 2>&1 | grep . && fail "man page of $t: troff warnings"
done
extra=$(cd "$prefix" && find . -name '*.a' -o -path './bin/*' $(printf ' ! -name %s' "${tools[@]}"))
[ -z "$extra" ] || fail "installed beyond the public files: $extra"

# The installed tools find the library through their RPATH alone.
env -u LD_LIBRARY_PATH "$prefix/bin/tessaly-play" --help >/dev/null 2>"$work/err" || { fail "tessaly-play --help"; cat "$work/err"; }
for t in tessaly-voice tessaly-rec; do
  [[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/$t" 2>&1)" == *": usage: "* ]] || fail "$t does not run from the prefix"
done

# A host using both public headers, built both ways; it runs against the installed library.
mkdir -p "$work/host"
cat >"$work/host/host.c" <<'C'
#include <stdio.h>

#include <tessaly/kova.h>
#include <tessaly/kova_stats.h>

int main(void) {
    KOVA_PortStatistics stats = {0};
    stats.size = sizeof stats;
    (void)stats;
    if (KOVA_Init() != KOVA_OK || KOVA_DeInit() != KOVA_OK) return 1;
    puts("host ok");
    return 0;
}
C
cat >"$work/host/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.25)
project(host C)
find_package(Tessaly 1.0 REQUIRED)
add_executable(host host.c)
target_link_libraries(host Tessaly::tessaly)
CM
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion tessaly)" = "$version" ] || fail "pkg-config version $(pkg-config --modversion tessaly)"
# shellcheck disable=SC2046
"$cc" -std=c11 -Wall -Wextra -Werror -o "$work/host-pc" "$work/host/host.c" $(pkg-config --cflags --libs tessaly) || fail "host through pkg-config does not build"
cmake -S "$work/host" -B "$work/host-build" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
  >"$work/cmake.log" 2>&1 && cmake --build "$work/host-build" >>"$work/cmake.log" 2>&1 ||
  { fail "host through find_package does not build"; cat "$work/cmake.log"; }
for host in "$work/host-pc" "$work/host-build/host"; do
  [ "$(LD_LIBRARY_PATH=$prefix/lib "$host")" = "host ok" ] || fail "$host does not run"
done
# A version of another major is refused.
sed -i 's/Tessaly 1.0 REQUIRED/Tessaly 2.0 REQUIRED/' "$work/host/CMakeLists.txt"
cmake -S "$work/host" -B "$work/host-build2" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null 2>&1 &&
  fail "find_package(Tessaly 2.0) accepted version $version"

# The Debian package: everything above under /usr, dependencies found by dpkg-shlibdeps.
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) ||
  { fail "cpack -G DEB"; cat "$work/cpack.log"; }
deb=$work/deb/tessaly_${version}_amd64.deb
if [ -f "$deb" ]; then
  dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents"
  for f in ./usr/lib/libtessaly.so.$version ./usr/lib/libtessaly.so.1 ./usr/lib/libtessaly.so ./usr/include/tessaly/kova.h \
    ./usr/lib/pkgconfig/tessaly.pc ./usr/lib/cmake/Tessaly/TessalyConfig.cmake ./usr/bin/tessaly-play \
    ./usr/share/man/man1/tessaly-voice.1; do
    grep -qxF "$f" "$work/contents" || fail "package lacks $f"
  done
  depends=$(dpkg-deb -f "$deb" Depends)
  for d in libsdl2-2.0-0 libxcb1 libswscale6; do
    [[ "$depends" =~ (^|, )$d( |,|$) ]] || fail "Depends lacks $d: $depends"
  done
  [[ "$depends" != *tessaly* ]] || fail "package depends on itself"
  [ "$(dpkg-deb -f "$deb" Recommends)" = libavcodec59 ] || fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
else
  fail "no $deb: $(ls "$work/deb")"
fi

[ "$failures" -eq 0 ] && echo "packaging: all checks passed"
exit $((failures > 0))
