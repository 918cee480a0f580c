#!/bin/sh
# Decodes a damaged or out-of-scope STREAM with the command-line tool in every
# feeding mode (slice threads too): each run must end by itself within 10 s
# with exit status 0.
# With KEEP (a list of 1-based picture numbers such as "1-2 30-99"), those
# pictures, which do not depend on the lost ones, must equal the reference MD5s.
# Usage: damaged.sh TOOL STREAM [MD5 KEEP]
set -u
tool=$1 stream=$2 reference=${3:-} keep=${4:-}
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
for mode in "--buffers 1" "--chunk 1" "--chunk 997 --display-order" "--threads --au" "--au" ""; do
    # shellcheck disable=SC2086
    timeout 10 "$tool" --md5 $mode "$stream" >"$out"
    status=$?
    if [ "$status" -ne 0 ]; then
        echo "FAILED ($mode): exit status $status (124 means it hung)"
        exit 1
    fi
done
# The last run, in the default mode, gives the pictures compared below.
[ -n "$keep" ] || { echo "OK"; exit 0; }
for range in $keep; do
    first=${range%-*} last=${range#*-}
    got=$(sed -n "${first},${last}p" "$out")
    want=$(tr -d '\r' <"$reference" | sed -n "${first},${last}p")
    if [ "$got" != "$want" ]; then
        echo "MISMATCH in pictures $range"
        exit 1
    fi
done
echo "OK: pictures $keep bit-exact"
