#!/bin/sh
# Runs every stream of conformance_streams.txt through TOOL in decoding order,
# and with slice threads (one access unit per call) where the list allows it.
# For builds without ctest (the sanitizer build). Usage: conformance_all.sh TOOL
set -u
tool=$1
here=$(dirname "$0")
data="$here/../../testdata/h264"
pass=0 fail=0
while read -r stream flags; do
    case "$stream" in ''|'#'*) continue ;; esac
    reference="$data/${stream%.*}.md5"
    for mode in default threads; do
        set --
        if [ $mode = threads ]; then
            case " $flags " in *" threads "*) set -- --threads --au ;; *) continue ;; esac
        fi
        if out=$("$here/conformance.sh" "$tool" "$data/$stream" "$reference" "$@" 2>&1); then
            pass=$((pass + 1))
        else
            fail=$((fail + 1))
            echo "$stream ($mode): $out"
        fi
    done
done < "$here/conformance_streams.txt"
echo "conformance: $pass passed, $fail failed"
[ "$fail" -eq 0 ]
