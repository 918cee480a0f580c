#!/usr/bin/env bash
# tessaly-rec from the command line: a conformance stream muxed with and
# without sound and read back by an independent parser of the record format,
# damage found by info, exports that FFmpeg decodes to the stream's own
# pictures and sound, and refusals that end with exit status 1 and a message.
set -uo pipefail
rec=$1 voice=$2 data=$3
stream=$data/h264/conf/MIDR_MW_D.264  # 100 frames, IDRs at 0 and 60, non-IDR I pictures
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

fails_cleanly() {  # description, expected text in the message, then the arguments
  local what=$1 text=$2; shift 2
  "$rec" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  [ "$rc" -eq 1 ] && grep -q -- "$text" "$work/err" || { fail "$what: exit $rc:"; cat "$work/err"; }
}

tone() {  # seconds rate > WAV
  python3 - "$@" <<'PY'
import math, struct, sys
seconds, rate = float(sys.argv[1]), int(sys.argv[2])
n = int(seconds * rate)
pcm = b''.join(struct.pack('<h', int(9000 * math.sin(i * 0.07) * math.sin(i * 0.0011))) for i in range(n))
sys.stdout.buffer.write(b'RIFF' + struct.pack('<I', 36 + 2 * n) + b'WAVE' + b'fmt ' +
    struct.pack('<IHHIIHH', 16, 1, 1, rate, 2 * rate, 2, 16) + b'data' + struct.pack('<I', 2 * n) + pcm)
PY
}

# Reads a record file with its own parser and checks it against the stream:
# header fields, the video payloads joined give back the stream, key flags
# exactly on records with an IDR slice or starting with an SPS, time stamps
# 0, 1, 2, ..., and the voice frames joined equal the expected frame file.
check_record() {  # file.kvr stream.264 fps audioflag expected-frames|- frames-per-record
  python3 - "$@" <<'PY'
import re, struct, sys
path, stream_path, fps, audio_flag, frames_path, per_record = sys.argv[1:]
data, stream = open(path, 'rb').read(), open(stream_path, 'rb').read()
errors = []
magic, a, rate, b, flag, w, h, value = struct.unpack_from('<4sBBBBHHH', data)
last = struct.unpack_from('<I', data, 14)[0]
if (magic, a, rate, b, flag, value, data[22]) != (b'KVRF', 0, int(fps), 1, int(audio_flag), int(audio_flag), 0):
    errors.append('header %r' % (data[:23],))
pos, video, audio, stamps, sizes = 32, b'', b'', [], []
while pos < len(data):
    sync, info, stamp, high = struct.unpack_from('<4sIIB', data, pos)
    if sync != b'\0\0\0\x07':
        errors.append('no sync at %d' % pos); break
    vlen, alen = ((info >> 2) & 0x3FFFF) + (high << 18), info >> 20
    payload = data[pos + 16:pos + 16 + vlen]
    types = [u[0] & 0x1F for u in re.split(b'\0\0\1', payload)[1:] if u]
    if ((info & 3) == 1) != (5 in types or types[:1] == [7]):
        errors.append('record %d: key flag %d, NAL types %s' % (len(stamps), info & 3, types))
    video += payload
    audio += data[pos + 16 + vlen:pos + 16 + vlen + alen]
    sizes.append(alen)
    stamps.append(stamp)
    pos += 16 + vlen + alen
if video != stream: errors.append('video payloads differ from the stream')
if stamps != list(range(len(stamps))) or last != len(stamps) - 1: errors.append('time stamps %s, last %d' % (stamps[:5], last))
if frames_path != '-':
    if audio != open(frames_path, 'rb').read(): errors.append('voice frames differ from tessaly-voice encode')
    frame = 4 + 2 * audio[2]
    if sizes[0] != int(per_record) * frame: errors.append('first record holds %d bytes of sound' % sizes[0])
elif audio: errors.append('sound in a file muxed without it')
if errors: sys.exit('\n'.join(errors))
PY
}

framemd5s() { ffmpeg -v error -i "$1" -map 0:v -f framemd5 - | grep -v '^#' | awk -F, '{print $NF}'; }

# ffprobe's stream duration (MP4) or the DURATION tag Matroska writes.
audio_seconds() {
  ffprobe -v error -select_streams a -show_entries stream=duration:stream_tags=DURATION -of default=nw=1:nk=1 "$1" |
    awk -F: '/:/ {print $1 * 3600 + $2 * 60 + $3; exit} /^[0-9.]+$/ {print; exit}'
}

# 1. Muxing: no sound; 32 kbit/s sound longer than the video (the rest
# dropped); 16 kbit/s sound shorter than it (nothing padded).
tone 5 8000 >"$work/long.wav"
tone 2.5 8000 >"$work/short.wav"
"$voice" encode --mode 6 "$work/long.wav" "$work/long.frames"
head -c $((400 * 44)) "$work/long.frames" >"$work/long400.frames"  # 100 frames at 25 fps: 4 s
"$voice" encode --mode 4 "$work/short.wav" "$work/short.frames"
"$rec" mux "$stream" "$work/plain.kvr" || fail "mux without sound"
"$rec" mux --audio "$work/long.wav" "$stream" "$work/voice32.kvr" || fail "mux --audio"
"$rec" mux --fps 10 --audio "$work/short.wav" --rate 16 "$stream" "$work/voice16.kvr" || fail "mux --rate 16"
check_record "$work/plain.kvr" "$stream" 25 0 - 0 || fail "plain.kvr"
check_record "$work/voice32.kvr" "$stream" 25 1 "$work/long400.frames" 4 || fail "voice32.kvr"
check_record "$work/voice16.kvr" "$stream" 10 1 "$work/short.frames" 10 || fail "voice16.kvr"

# 2. info: the key frames and sound of a good file; garbage spliced between
# two records and a broken sync are reported, the records after them found.
"$rec" info "$work/voice32.kvr" >"$work/info" || fail "info exit"
grep -q '^records: 100$' "$work/info" && grep -q '^key frames: 2$' "$work/info" &&
  grep -q '^  record 60  offset [0-9]*  time 2.400 s$' "$work/info" &&
  grep -q '^audio: 44-byte frames (G.726 32 kbit/s): 400 frames, 4.00 s$' "$work/info" &&
  grep -q '^damaged ranges: 0$' "$work/info" || { fail "info of a good file:"; cat "$work/info"; }
python3 - "$work/voice32.kvr" "$work/damaged.kvr" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
starts, pos = [], 32
while pos < len(data):
    starts.append(pos)
    info, high = struct.unpack_from('<I', data, pos + 4)[0], data[pos + 12]
    pos += 16 + ((info >> 2) & 0x3FFFF) + (high << 18) + (info >> 20)
data[starts[70]] = 0x55                                                # record 70's sync broken
data[starts[30]:starts[30]] = bytes([0, 0, 0, 7]) + b'\xff' * 996      # a sync-like start, lengths far too long
open(sys.argv[2], 'wb').write(data)
print(starts[30], starts[70] + 1000, starts[71] - starts[70], file=open(sys.argv[2] + '.where', 'w'))
PY
read -r splice broken brokenLength <"$work/damaged.kvr.where"
"$rec" info "$work/damaged.kvr" >"$work/info" || fail "info of a damaged file exit"
grep -q '^records: 99$' "$work/info" && grep -q '^damaged ranges: 2$' "$work/info" &&
  grep -q "^  offset $splice  length 1000\$" "$work/info" &&
  grep -q "^  offset $broken  length $brokenLength\$" "$work/info" || { fail "info of a damaged file:"; cat "$work/info"; }

# 3. export: the pictures FFmpeg decodes are the stream's; the sound lasts as
# long as the video, and in Matroska it is exactly the voice frames decoded.
framemd5s "$stream" >"$work/stream.md5"
"$voice" decode --mode 6 "$work/long400.frames" "$work/long400.pcm"
for kvr in plain voice32; do
  for ext in mp4 mkv; do
    out=$work/$kvr.$ext
    "$rec" export "$work/$kvr.kvr" "$out" || { fail "export $kvr.$ext"; continue; }
    framemd5s "$out" | cmp -s - "$work/stream.md5" || fail "$kvr.$ext: pictures differ from the stream's"
    streams=$(ffprobe -v error -show_entries stream=codec_type -of csv=p=0 "$out" | tr '\n' ' ')
    if [ $kvr = plain ]; then
      [ "$streams" = "video " ] || fail "$kvr.$ext: streams $streams"
    else
      seconds=$(audio_seconds "$out")
      awk -v s="$seconds" 'BEGIN {exit !(s > 3.9 && s < 4.1)}' || fail "$kvr.$ext: sound lasts '$seconds' s, not 4"
    fi
  done
done
ffmpeg -v error -i "$work/voice32.mkv" -map 0:a -f s16le - | cmp -s - "$work/long400.pcm" ||
  fail "voice32.mkv: sound differs from the voice frames decoded"

# 4. Refusals.
head -c 10000 "$work/plain.kvr" >"$work/short.kvr"
{ printf 'KVRF\0\x40\1'; head -c 20000 /dev/zero; } >"$work/badrate.kvr"
tone 1 16000 >"$work/16k.wav"
fails_cleanly "info of a missing file" "No such file" info "$work/missing.kvr"
fails_cleanly "export of a missing file" "No such file" export "$work/missing.kvr" "$work/x.mp4"
fails_cleanly "mux of a missing stream" "No such file" mux "$work/missing.264" "$work/x.kvr"
fails_cleanly "info of a short file" "shorter than 16384" info "$work/short.kvr"
fails_cleanly "info of a bad frame rate" "not a record file header" info "$work/badrate.kvr"
fails_cleanly "export to another container" "must end in .mp4 or .mkv" export "$work/plain.kvr" "$work/x.avi"
fails_cleanly "mux with 16 kHz sound" "need 8000 Hz mono" mux --audio "$work/16k.wav" "$stream" "$work/x.kvr"
fails_cleanly "32 kbit/s sound at 1 fps" "over the format's 4095" mux --fps 1 --audio "$work/long.wav" "$stream" "$work/x.kvr"
[ ! -e "$work/x.kvr" ] && [ ! -e "$work/x.mp4" ] || fail "a refused command left a file behind"

[ $failures -eq 0 ] && echo "all rec tool checks passed"
exit $((failures > 0))
