#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the examples against it
# alone, as a host would: minimal_host through pkg-config, examples/ through
# find_package(Tessaly); then plays minimal_host headless on the camera sample
# and checks its snapshot and counters.
# Usage: examples_test.sh BUILD_DIR SOURCE_DIR [CC]
set -euo pipefail
build=$1 source=$2 cc=${3:-cc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
for f in include/tessaly/kova.h include/tessaly/kova_stats.h lib/libtessaly.so lib/pkgconfig/tessaly.pc \
  lib/cmake/Tessaly/TessalyConfig.cmake; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
# shellcheck disable=SC2046  # pkg-config's flags are separate words
"$cc" -std=c99 -Wall -Wextra -Werror "$source/examples/minimal_host.c" $(pkg-config --cflags --libs tessaly xcb) \
  -o "$work/minimal_host" || fail "minimal_host does not build through pkg-config"

cmake -S "$source/examples" -B "$work/cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_C_FLAGS="-Wall -Wextra -Werror" >"$work/cmake.log" 2>&1 || { cat "$work/cmake.log"; fail "examples/ does not configure"; }
cmake --build "$work/cmake" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "examples/ does not build"; }
[ -x "$work/cmake/minimal_host" ] || fail "examples/ built no minimal_host"
if pkg-config --exists gtk+-3.0; then
  [ -x "$work/cmake/gtk_wall" ] || fail "GTK 3 is installed but examples/ built no gtk_wall"
fi

# Three seconds headless: 75 access units, the snapshot after the 50th.
stream=$source/testdata/sample/camera_704x576_25fps.264
env -u DISPLAY LD_LIBRARY_PATH="$prefix/lib" "$work/minimal_host" "$stream" "$work/snapshot.bmp" 3 >"$work/out" 2>&1 ||
  { cat "$work/out"; fail "minimal_host failed"; }
cat "$work/out"
grep -q 'without a window' "$work/out" || fail "minimal_host did not notice the missing display"
[ "$(stat -c %s "$work/snapshot.bmp")" -eq $((54 + 704 * 576 * 3)) ] || fail "snapshot is not a 704x576 24-bit bitmap"
[ "$(head -c 2 "$work/snapshot.bmp")" = BM ] || fail "snapshot has no bitmap header"

counter() { grep -o "\b$1=[0-9]*" "$work/out" | cut -d= -f2; }
[ "$(counter framesReceived)" -eq 75 ] || fail "framesReceived is not the 75 frames sent"
[ "$(counter framesRefused)" -eq 0 ] || fail "frames refused at 25 frames per second"
[ "$(counter damagedPictures)" -eq 0 ] || fail "damaged pictures in a clean stream"
[ "$(counter width)x$(counter height)" = 704x576 ] || fail "last picture is not 704x576"
shown=$(counter picturesShown) decoded=$(counter picturesDecoded)
# minimal_host lets the port drain; the last frame's picture waits for a frame that never comes.
if [ "$shown" -lt 50 ] || [ "$shown" -gt 74 ] || [ "$decoded" -lt "$shown" ]; then
  fail "pictures shown ($shown) or decoded ($decoded) do not fit 75 frames sent"
fi
echo "examples: built through pkg-config and find_package, minimal_host played headless"
