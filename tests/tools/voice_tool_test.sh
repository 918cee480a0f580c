#!/usr/bin/env bash
# tessaly-voice from the command line: round trips through files, and every
# bad input ends with exit status 1 and exactly one line on standard error.
set -uo pipefail
tool=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

fails_cleanly() {  # description, then the command's arguments
  local what=$1; shift
  "$tool" "$@" >"$work/out" 2>"$work/err"
  local rc=$? lines
  lines=$(wc -l <"$work/err")
  [ "$rc" -eq 1 ] && [ "$lines" -eq 1 ] || { fail "$what: exit $rc, $lines stderr line(s):"; cat "$work/err"; }
}

wav_header() {  # channels rate bits data_bytes
  python3 - "$@" <<'PY'
import struct, sys
ch, rate, bits, n = map(int, sys.argv[1:])
sys.stdout.buffer.write(b'RIFF' + struct.pack('<I', 36 + n) + b'WAVE' + b'fmt ' +
    struct.pack('<IHHIIHH', 16, 1, ch, rate, rate * ch * bits // 8, ch * bits // 8, bits) +
    b'data' + struct.pack('<I', n))
PY
}

# Round trip: 6.72 s of speech is 673 frames of 10 ms (the last one padded).
"$tool" encode --mode 6 "$data/voice/speech_sample.wav" "$work/s.frames" || fail "encode"
[ "$(stat -c %s "$work/s.frames")" -eq $((673 * 44)) ] || fail "frame file size"
"$tool" decode --mode 6 "$work/s.frames" "$work/s.wav" || fail "decode"
[ "$(stat -c %s "$work/s.wav")" -eq $((44 + 673 * 160)) ] || fail "decoded size"
"$tool" encode --mode 38 "$data/voice/speech.pcm" "$work/p.frames" && "$tool" decode --mode 38 "$work/p.frames" "$work/p.pcm" \
  || fail "raw pcm round trip"
[ "$(stat -c %s "$work/p.pcm")" -eq 32000 ] || fail "raw pcm size"
"$tool" roundtrip "$data/voice/speech.pcm" >"$work/table" || fail "roundtrip"
[ "$(grep -c -E '^[0-9]+ ' "$work/table")" -eq 12 ] || { fail "roundtrip rows"; cat "$work/table"; }

# Bad inputs.
while read -r name header; do
  { wav_header $header; printf '\0\0\0\0'; } >"$work/$name.wav"
done <<<$'stereo 2 8000 16 4\n16k 1 16000 16 4\n8bit 1 8000 8 4\ntruncated 1 8000 16 400'
printf 'RIFF' >"$work/short.wav"
printf '\1' >"$work/odd.pcm"
: >"$work/empty.pcm"
printf 'hello' >"$work/text.txt"
head -c 30 "$work/s.frames" >"$work/cut.frames"
printf '\0\2\24\0' >"$work/marker.frames"; head -c 40 /dev/zero >>"$work/marker.frames"
printf '\0\1\5\0' >"$work/length.frames"; head -c 10 /dev/zero >>"$work/length.frames"

fails_cleanly "no arguments"
fails_cleanly "unknown command" transcode x y
fails_cleanly "unknown mode" encode --mode 8 "$data/voice/speech.pcm" "$work/x"
fails_cleanly "non-numeric mode" encode --mode six "$data/voice/speech.pcm" "$work/x"
fails_cleanly "missing file" encode --mode 6 "$work/nope.wav" "$work/x"
fails_cleanly "stereo WAV" encode --mode 6 "$work/stereo.wav" "$work/x"
for f in 16k.wav 8bit.wav truncated.wav short.wav odd.pcm empty.pcm text.txt; do
  fails_cleanly "roundtrip of $f" roundtrip "$work/$f"
done
fails_cleanly "truncated frames" decode --mode 6 "$work/cut.frames" "$work/x.wav"
fails_cleanly "bad marker" decode --mode 6 "$work/marker.frames" "$work/x.wav"
fails_cleanly "length not allowed" decode --mode 4 "$work/length.frames" "$work/x.wav"
fails_cleanly "empty frame file" decode --mode 4 "$work/empty.pcm" "$work/x.wav"
fails_cleanly "unwritable output" decode --mode 6 "$work/s.frames" "$work/no/such/dir/x.wav"

echo "voice tool: $failures failure(s)"
[ "$failures" -eq 0 ]
