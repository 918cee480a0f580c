#!/usr/bin/env bash
# tessaly-voice from the command line: round trips through files, and every
# bad input ends with exit status 1 and exactly one line on standard error.
set -uo pipefail
tool=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fails_cleanly() {  # description, then the command's arguments
  local what=$1; shift
  "$tool" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  local lines
  lines=$(wc -l <"$work/err")
  if [ "$rc" -ne 1 ] || [ "$lines" -ne 1 ]; then
    echo "FAIL $what: exit $rc, $lines stderr line(s):"; cat "$work/err"; failures=$((failures + 1))
  fi
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
"$tool" encode --mode 6 "$data/voice/speech_sample.wav" "$work/s.frames" || { echo "FAIL encode"; failures=$((failures + 1)); }
[ "$(stat -c %s "$work/s.frames")" -eq $((673 * 44)) ] || { echo "FAIL frame file size"; failures=$((failures + 1)); }
"$tool" decode --mode 6 "$work/s.frames" "$work/s.wav" || { echo "FAIL decode"; failures=$((failures + 1)); }
[ "$(stat -c %s "$work/s.wav")" -eq $((44 + 673 * 160)) ] || { echo "FAIL decoded size"; failures=$((failures + 1)); }
"$tool" encode --mode 38 "$data/voice/speech.pcm" "$work/p.frames" && "$tool" decode --mode 38 "$work/p.frames" "$work/p.pcm" \
  || { echo "FAIL raw pcm round trip"; failures=$((failures + 1)); }
[ "$(stat -c %s "$work/p.pcm")" -eq 32000 ] || { echo "FAIL raw pcm size"; failures=$((failures + 1)); }
"$tool" roundtrip "$data/voice/speech.pcm" >"$work/table" || { echo "FAIL roundtrip"; failures=$((failures + 1)); }
[ "$(grep -c -E '^[0-9]+ ' "$work/table")" -eq 12 ] || { echo "FAIL roundtrip rows"; cat "$work/table"; failures=$((failures + 1)); }

# Bad inputs.
{ wav_header 2 8000 16 4; printf '\0\0\0\0'; } >"$work/stereo.wav"
{ wav_header 1 16000 16 4; printf '\0\0\0\0'; } >"$work/16k.wav"
{ wav_header 1 8000 8 4; printf '\0\0\0\0'; } >"$work/8bit.wav"
{ wav_header 1 8000 16 400; printf '\0\0\0\0'; } >"$work/truncated.wav"
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
fails_cleanly "16 kHz WAV" roundtrip "$work/16k.wav"
fails_cleanly "8-bit WAV" roundtrip "$work/8bit.wav"
fails_cleanly "truncated WAV" roundtrip "$work/truncated.wav"
fails_cleanly "short file" roundtrip "$work/short.wav"
fails_cleanly "odd raw PCM" roundtrip "$work/odd.pcm"
fails_cleanly "empty raw PCM" roundtrip "$work/empty.pcm"
fails_cleanly "not audio" roundtrip "$work/text.txt"
fails_cleanly "truncated frames" decode --mode 6 "$work/cut.frames" "$work/x.wav"
fails_cleanly "bad marker" decode --mode 6 "$work/marker.frames" "$work/x.wav"
fails_cleanly "length not allowed" decode --mode 4 "$work/length.frames" "$work/x.wav"
fails_cleanly "empty frame file" decode --mode 4 "$work/empty.pcm" "$work/x.wav"
fails_cleanly "unwritable output" decode --mode 6 "$work/s.frames" "$work/no/such/dir/x.wav"

echo "voice tool: $failures failure(s)"
[ "$failures" -eq 0 ]
