#!/bin/sh
# Checks the private SEI messages through `tessaly-h264dec --info` on
# testdata/h264/sei/halfheight_userdata.264 (see testdata/h264/README.md):
# field-coding message after every PPS, user data of 12 bytes before picture 3
# and of 200 bytes before picture 12. Every feeding mode and slice threads
# must report the same.
# Usage: private_sei_info.sh TOOL STREAM
set -u
tool=$1 stream=$2
status=0
for mode in "" "--au" "--chunk 1" "--threads --au"; do
    # shellcheck disable=SC2086
    info=$("$tool" --info $mode "$stream") || { echo "decoder failed ($mode)"; exit 1; }
    result=$(printf '%s\n' "$info" | awk '
        { for (i = 1; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] } }
        v["fieldHint"] != (v["index"] % 2 ? 2 : 1) { print "picture " v["index"] ": fieldHint " v["fieldHint"]; bad = 1 }
        v["damaged"] != 0 || v["bytes"] <= 0 { print "picture " v["index"] ": damaged/bytes " v["damaged"] "/" v["bytes"]; bad = 1 }
        # The record is shared: the picture output just before a new message is
        # read may already show it.
        v["index"] < 3 && v["userData"] != -1 { print "picture " v["index"] ": userData " v["userData"]; bad = 1 }
        v["index"] >= 3 && v["index"] < 11 && v["userData"] != 12 { print "picture " v["index"] ": userData " v["userData"]; bad = 1 }
        v["index"] >= 12 && v["userData"] != 200 { print "picture " v["index"] ": userData " v["userData"]; bad = 1 }
        END { if (NR != 20) { print NR " pictures"; bad = 1 } if (!bad) print "ok" }')
    if [ "$result" != "ok" ]; then
        echo "mode '$mode': $result"
        status=1
    fi
done
[ $status -eq 0 ] && echo "OK: fieldHint 1,2,1,2..., userData from picture 3 on"
exit $status
