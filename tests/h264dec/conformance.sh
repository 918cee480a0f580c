#!/bin/sh
# Decodes STREAM with the command-line tool and compares the per-picture MD5s
# with the reference list. Usage: conformance.sh TOOL STREAM MD5 [tool options]
set -u
tool=$1 stream=$2 reference=$3
shift 3
actual=$("$tool" --md5 "$@" "$stream") || { echo "decoder failed on $stream"; exit 1; }
expected=$(tr -d '\r' < "$reference")
if [ "$actual" = "$expected" ]; then
    echo "OK: $(printf '%s\n' "$expected" | wc -l) pictures"
    exit 0
fi
got=$(printf '%s\n' "$actual" | grep -c .)
want=$(printf '%s\n' "$expected" | grep -c .)
first=$(printf '%s\n' "$actual" | diff - "$reference" | sed -n 1p)
echo "MISMATCH: $got pictures (reference $want); first difference: $first"
exit 1
