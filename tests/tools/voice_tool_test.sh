#!/usr/bin/env bash
# tessaly-voice from the command line: round trips through files, sound through
# SDL's disk driver, and every bad input ends with exit status 1 and exactly
# one line on standard error.
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

# The file's G.726 frames joined six at a time into frames of 480 samples (as
# capture makes them), the last few left as they are.
join_frames() {
  python3 - "$1" <<'PY'
import sys
data = open(sys.argv[1], 'rb').read()
size = 4 + 2 * data[2]
frames = [data[k + 4:k + size] for k in range(0, len(data), size)]
out = sys.stdout.buffer
whole = len(frames) // 6 * 6
for k in range(0, whole, 6):
    out.write(bytes([0, 1, 3 * (size - 4), 0]) + b''.join(frames[k:k + 6]))
for payload in frames[whole:]:
    out.write(bytes([0, 1, (size - 4) // 2, 0]) + payload)
PY
}

# A device plays silence where its queue runs dry, so sound is compared without
# zero samples: what was played must begin the reference and hold all of it,
# or, given a sample count, at least its part up to there.
played_matches() {  # played.raw reference.pcm [samples]
  python3 - "$@" <<'PY'
import array, sys
def samples(path):
    a = array.array('h')
    a.frombytes(open(path, 'rb').read())
    return a
played = [s for s in samples(sys.argv[1]) if s]
reference = samples(sys.argv[2])
needed = sum(1 for s in reference[:int(sys.argv[3]) if len(sys.argv) > 3 else len(reference)] if s)
reference = [s for s in reference if s]
ok = needed <= len(played) <= len(reference) and played == reference[:len(played)]
if not ok:
    print(f"{len(played)} non-zero samples played, {needed} needed, {len(reference)} in the reference")
sys.exit(0 if ok else 1)
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

# Sound: SDL's disk driver writes what a playback device plays to
# $SDL_DISKAUDIOFILE and records a capture device from $SDL_DISKAUDIOFILEIN,
# both in real time. play splits long frames by its mode (6 by default) and
# sends 80-sample frames as they are.
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILEIN="$data/voice/noise.pcm"
for mode in 4 6; do
  "$tool" encode --mode $mode "$data/voice/noise.pcm" "$work/n$mode.frames" &&
    "$tool" decode --mode $mode "$work/n$mode.frames" "$work/n$mode.pcm" || fail "noise in mode $mode"
  join_frames "$work/n$mode.frames" >"$work/joined$mode.frames"
  mode_option=$([ $mode = 4 ] && echo "--mode 4")
  SDL_DISKAUDIOFILE="$work/play$mode.raw" "$tool" play $mode_option "$work/joined$mode.frames" >/dev/null 2>&1 ||
    fail "play in mode $mode"
  played_matches "$work/play$mode.raw" "$work/n$mode.pcm" || fail "play in mode $mode: not the decoded frames"
done

# talk records on after its one second of input ends: it plays the coding of
# the input and then of silence, all of the input's 16 whole 60 ms frames at
# least. 80-sample frames carry the coder's state just as capture's do.
{ cat "$data/voice/noise.pcm"; head -c 64000 /dev/zero; } >"$work/padded.pcm"
"$tool" encode --mode 6 "$work/padded.pcm" "$work/padded.frames" &&
  "$tool" decode --mode 6 "$work/padded.frames" "$work/padded.dec.pcm" || fail "padded input"
SDL_DISKAUDIOFILE="$work/talk.raw" "$tool" talk --seconds 2 >"$work/talk.out" 2>/dev/null || fail "talk"
grep -q -E '^talk: [1-9][0-9]* frames captured' "$work/talk.out" || { fail "talk summary"; cat "$work/talk.out"; }
played_matches "$work/talk.raw" "$work/padded.dec.pcm" $((16 * 480)) || fail "talk: not the coded input"

# Refused before any device opens: a cut frame, a 34-byte frame, both named
# by index and offset.
export SDL_DISKAUDIOFILE="$work/refused.raw"
head -c 100 "$work/n6.frames" >"$work/cut6.frames"
{ head -c 88 "$work/n6.frames"; printf '\0\1\17\0'; head -c 30 /dev/zero; } >"$work/odd6.frames"
for f in cut6 odd6; do
  fails_cleanly "play of $f" play "$work/$f.frames"
  grep -q "frame 2 at byte 88" "$work/err" || { fail "play of $f: frame not named"; cat "$work/err"; }
done
fails_cleanly "play in mode 5" play --mode 5 "$work/n6.frames"
fails_cleanly "talk for no time" talk --seconds 0
[ ! -e "$work/refused.raw" ] || fail "a refused command opened the output"
SDL_AUDIODRIVER=no-such-driver fails_cleanly "no capture device" talk --seconds 1
grep -q "no capture device" "$work/err" || fail "no capture device: message"

echo "voice tool: $failures failure(s)"
[ "$failures" -eq 0 ]
