#!/usr/bin/env bash
# Compiles every ```c block of docs/guide.md as a translation unit of its own
# against the source tree's headers, so that the guide's samples keep to the
# interface. GTK samples are compiled where GTK 3 is installed.
# Usage: guide_samples_test.sh SOURCE_DIR [CC]
set -euo pipefail
source=$1 cc=${2:-cc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One file a block; #line makes the compiler name the guide's own lines.
awk -v dir="$work" '
  /^```c[ \t]*$/ { inside = 1; file = sprintf("%s/line%04d.c", dir, NR + 1); print "#line " NR + 1 " \"docs/guide.md\"" > file; next }
  /^```/ { inside = 0; next }
  inside { print > file }' "$source/docs/guide.md"

count=0 failed=0
for sample in "$work"/line*.c; do
  [ -e "$sample" ] || break
  flags=(-std=c11 -Wall -Wextra -Werror -fsyntax-only -I"$source/include")
  if grep -q '#include <gtk/gtk.h>' "$sample"; then
    if ! pkg-config --exists gtk+-3.0; then
      head -1 "$sample" | sed 's/^#line \([0-9]*\).*/docs\/guide.md:\1: GTK sample skipped (no gtk+-3.0)/'
      continue
    fi
    read -ra gtk <<<"$(pkg-config --cflags gtk+-3.0)"
    flags+=("${gtk[@]}")
  fi
  if "$cc" "${flags[@]}" "$sample"; then count=$((count + 1)); else failed=1; fi
done
[ "$failed" -eq 0 ] || { echo "FAIL: guide samples do not compile"; exit 1; }
# A fence the extraction misses must not pass as a guide without samples.
[ "$count" -ge 6 ] || { echo "FAIL: only $count C samples found in docs/guide.md"; exit 1; }
echo "guide: $count C samples compile"
