#!/usr/bin/env bash
# Compares the dynamic symbols a shared library defines with the expected list
# and checks its SONAME. Usage: check_exports.sh LIBRARY EXPECTED_LIST SONAME
set -euo pipefail
lib=$1 expected=$2 soname=$3

actual=$(nm -D --defined-only --demangle "$lib" | awk '$2 ~ /^[TtWwDdBbRrVvi]$/ {$1=""; $2=""; sub(/^  /, ""); print}' | sed 's/@.*//' \
         | grep -v '^TESSALY_1$' | sort -u)
wanted=$(grep -v '^\s*\(#\|$\)' "$expected" | sort -u)
if [ "$actual" != "$wanted" ]; then
  echo "exported symbols differ from $expected:"
  diff <(echo "$wanted") <(echo "$actual") || true
  exit 1
fi
got_soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$got_soname" != "$soname" ]; then
  echo "SONAME is '$got_soname', expected '$soname'"
  exit 1
fi
echo "exports: $(echo "$actual" | wc -l) calls, SONAME $got_soname"
