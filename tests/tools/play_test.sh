#!/usr/bin/env bash
# tessaly-play end to end: bad input ends with exit status 1 and one line;
# headless runs play the bundled sample at its frame rate, and the sample
# record file beside it, snapshot them and count their pictures; FT byte
# streams (both packet kinds) play through FFmpeg, and their snapshots carry
# the port labels; on the X
# server (DISPLAY must be set: the suite runs under xvfb-run) a two-file wall
# shows both streams, follows resizing, snapshots the port under the pointer
# and quits on q, and the record file keys pause, step, speed up and seek.
set -uo pipefail
play=$1 grab=$2 data=$3
ft=${4:-$(dirname "$play")/../ft/tessaly-ft}  # makes the FT byte streams
sample=$data/sample/camera_704x576_25fps.264
record=$data/sample/camera_704x576_25fps_speech.kvr  # the sample's first 250 access units, with speech
record_pictures=250
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null  # the record file's sound needs no device
other=$data/h264/gen/main_cabac_1280x720_ref2.264  # another scene; player ports keep two reference frames
work=$(mktemp -d)
player_pid=
trap '[ -n "$player_pid" ] && kill "$player_pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

fails_cleanly() {  # description, stderr pattern, then the arguments
  local what=$1 pattern=$2; shift 2
  timeout 20 "$play" "$@" >"$work/out" 2>"$work/err"
  local rc=$? lines
  lines=$(wc -l <"$work/err")
  if [ "$rc" -ne 1 ] || [ "$lines" -ne 1 ] || ! grep -q -- "$pattern" "$work/err"; then
    fail "$what: exit $rc, $lines stderr line(s):"; cat "$work/err"
  fi
}

# --- errors ---------------------------------------------------------------
printf '\0\0\0\1\x67\x42' >"$work/short_sps.264"                # an SPS cut after two bytes
fails_cleanly "missing file" "no_such.264: No such file" "$work/no_such.264"
fails_cleanly "directory" "not a regular file" "$work"
fails_cleanly "truncated SPS" "not an H.264 stream" "$work/short_sps.264"
fails_cleanly "audio file" "not an H.264 stream" "$data/voice/speech_sample.wav"  # start codes, no SPS
head -c 20000 "$sample" >"$work/stream.kvr"
fails_cleanly "record file without its header" "not a record file" "$work/stream.kvr"
cp "$work/short_sps.264" "$work/no_marker.ft"
fails_cleanly "FT file without a marker" "not an FT byte stream" "$work/no_marker.ft"
fails_cleanly "second file bad" "no_such.264" "$sample" "$work/no_such.264"
many=(); for i in $(seq 257); do many+=("$sample"); done
fails_cleanly "257 files" "only 256 player ports" "${many[@]}"
fails_cleanly "no file" "no input file" --headless
fails_cleanly "unknown option" "unknown option --bogus" --bogus "$sample"
fails_cleanly "fps not a number" "bad value for --fps" --fps abc "$sample"
fails_cleanly "fps zero" "bad value for --fps" --fps 0 "$sample"
fails_cleanly "negative duration" "bad value for --duration" --duration -1 "$sample"
fails_cleanly "missing value" "--out needs a value" "$sample" --out
if [ "$(id -u)" -ne 0 ]; then
  cp "$sample" "$work/locked.264" && chmod 000 "$work/locked.264"
  fails_cleanly "unreadable file" "Permission denied" "$work/locked.264"
fi

# Checks each snapshot is a 24-bit bitmap of the sample's size whose pixels
# are not one flat colour; prints its pixel MD5, a line a file.
bmp_check() {
  python3 - "$@" <<'PY'
import hashlib, struct, sys
for f in sys.argv[1:]:
    d = open(f, 'rb').read()
    w, h, _, bpp = struct.unpack_from('<iiHH', d, 18)
    px = d[54:]
    ok = d[:2] == b'BM' and (w, h, bpp, len(px)) == (704, 576, 24, 704 * 3 * 576) and len(set(px[::997])) > 8
    print(hashlib.md5(px).hexdigest() if ok else 'bad %s %r %dx%d %d %d' % (f, d[:2], w, h, bpp, len(px)))
PY
}

# --- headless: the whole sample, the record file beside it ------------------
units=$(wc -l <"$data/sample/camera_704x576_25fps.md5")  # one line per frame, one access unit each
start=$(date +%s.%N)
timeout 60 "$play" --headless --snapshot-every 4 --out "$work/snaps" "$sample" "$record" >"$work/summary" 2>"$work/err" \
  || fail "headless sample run: exit $?"
elapsed=$(echo "$(date +%s.%N) - $start" | bc)
line=$(grep '^port 0 camera_704x576_25fps.264: ' "$work/summary")
pictures=$(sed -n 's/.* pictures \([0-9]*\) .*/\1/p' <<<"$line")
# A live port keeps the last picture or two in its decoder until more data
# comes; every other frame must be shown, none dropped.
if [ -z "$pictures" ] || [ "$pictures" -lt $((units - 2)) ] || [ "$pictures" -gt "$units" ]; then
  fail "headless picture count: '$line' (stream has $units frames)"
fi
grep -q " 704x576 .* sent $units dropped 0 buffer max [0-9]*% ([0-9]*/524288)" <<<"$line" || fail "summary line: '$line'"
fps=$(sed -n 's/.* fps \([0-9.]*\) .*/\1/p' <<<"$line")
# Paced like a camera, not as fast as the decoder goes: 375 frames at 25 fps
# take at least 15 s (a loaded machine may take longer; that is not checked).
[ "$(echo "${fps:-0} > 0 && ${fps:-0} < 26.5" | bc)" = 1 ] || fail "headless fps $fps, stream is 25"
[ "$(echo "$elapsed > 14.5" | bc)" = 1 ] || fail "headless run took only $elapsed s"
# A record file shows each record's picture at once: every one, to the end of the file.
line=$(grep '^port 1 camera_704x576_25fps_speech.kvr: ' "$work/summary")
grep -q ": 704x576 pictures $record_pictures fps [0-9.]* position 1[0-9][0-9][0-9] time 9/9 s speed 0 ended$" <<<"$line" \
  || fail "record file summary: '$line'"
# About a line a second while it plays, moving on through the file.
readout=$(sed -n 's/^file port 1 camera_704x576_25fps_speech.kvr: position \([0-9]*\) time \([0-9]*\)\/9 s speed 0 \(playing\|ended\) pictures \([0-9]*\)$/\1 \2 \4/p' \
  "$work/summary")
[ "$(wc -l <<<"$readout")" -ge 5 ] || fail "record file readout: $(grep -c '^file port' "$work/summary") lines"
awk '{ for (i = 1; i <= 3; i++) { if ($i < last[i]) back = 1; last[i] = $i } } END { exit back }' <<<"$readout" \
  || fail "record file readout goes backwards: $readout"
snaps=$(ls "$work/snaps"/port000-*.bmp 2>/dev/null | wc -l)
[ "$snaps" -ge 4 ] || fail "headless snapshots: $snaps files (15 s every 4 s, plus the last picture)"
[ "$(grep -c '^snapshot .*/port000-' "$work/summary")" -eq "$snaps" ] || fail "snapshot lines do not match the files"
sums=$(bmp_check "$work/snaps"/port000-*.bmp)
grep '^bad' <<<"$sums" && fail "snapshots are not the sample's pictures"
[ "$(sort -u <<<"$sums" | wc -l)" -eq "$snaps" ] || fail "snapshots taken seconds apart are identical (the clock must move)"
bmp_check "$work/snaps"/port001-*.bmp | grep '^bad' && fail "record file snapshots are not its pictures"

# --- headless without a display, two looping ports, stopped by --duration ----
rm -rf "$work/snaps2"
timeout 30 env -u DISPLAY "$play" --loop --duration 3 --snapshot-every 1 --out "$work/snaps2" "$sample" "$other" \
  >"$work/summary2" 2>"$work/err" || fail "no-display run: exit $?"
for port in 0 1; do
  n=$(sed -n "s/^port $port .* pictures \([0-9]*\) .*/\1/p" "$work/summary2")
  # 3 s at 25 fps; the first picture waits for a display tick.
  if [ -z "$n" ] || [ "$n" -lt 60 ] || [ "$n" -gt 80 ]; then fail "port $port after 3 s: '${n}' pictures"; fi
  [ "$(ls "$work/snaps2"/port00$port-*.bmp 2>/dev/null | wc -l)" -ge 3 ] || fail "port $port: too few snapshots"
done

# --- FT byte streams and port labels -----------------------------------------
# The sample's first 50 pictures as FT packets, and as Raw ones in a file
# told only by the marker at its start.
python3 -c "import re, sys; d = open(sys.argv[1], 'rb').read()
s = [m.start() for m in re.finditer(b'\0\0\1', d) if d[m.end()] & 31 in (1, 5)]
open(sys.argv[2], 'wb').write(d[:s[50]])" "$sample" "$work/cut.264"
"$ft" wrap --h264 "$work/cut.264" "$work/cam.ft" && "$ft" wrap --raw --h264 "$work/cut.264" "$work/cam_raw.bin" \
  || fail "tessaly-ft wrap"
timeout 30 "$play" --headless --no-osd --out "$work/ft" "$work/cam.ft" "$work/cam_raw.bin" >"$work/ft.log" 2>&1 \
  || fail "FT run: exit $?"
for name in cam.ft cam_raw.bin; do
  # The end of the file completes its last packet: every picture is shown.
  grep -q "^port [01] $name: 704x576 pictures 50 fps [0-9.]* sent [0-9]* dropped 0 " "$work/ft.log" \
    || fail "FT file $name: $(grep "$name" "$work/ft.log")"
done
timeout 30 "$play" --headless --osd --out "$work/ft_osd" "$work/cam.ft" >"$work/ft_osd.log" 2>&1 || fail "FT run with labels: exit $?"
# Both runs end on the last picture; the labels (letters of luma 0) only darken
# pixels, all in the top right corner.
python3 - "$work/ft/port000-0001.bmp" "$work/ft_osd/port000-0001.bmp" <<'PY' || fail "port labels"
import sys
plain, labelled = (open(f, 'rb').read()[54:] for f in sys.argv[1:])
changed = [k // 3 for k in range(0, len(plain), 3) if plain[k:k + 3] != labelled[k:k + 3]]
outside = [p for p in changed if p % 704 < 704 - 300 or 575 - p // 704 >= 64]  # rows are stored bottom up
lighter = [p for p in changed if any(labelled[3 * p + c] > plain[3 * p + c] for c in range(3))]
print('labels: %d pixels changed, %d outside the corner, %d lighter' % (len(changed), len(outside), len(lighter)))
sys.exit(bool(len(plain) != len(labelled) or len(changed) < 50 or outside or lighter))
PY

# --- the wall on the X server --------------------------------------------------
[ -n "${DISPLAY:-}" ] || { fail "DISPLAY is not set: run the suite under xvfb-run (./test.sh does)"; exit 1; }
command -v xdotool >/dev/null || { fail "xdotool is missing (scripts/install-deps.sh installs it)"; exit 1; }

# Mean brightness of the left and right halves of a PPM (every fourth row) and their mean difference.
halves() {
  python3 - "$1" <<'PY'
import sys
_, size, _, px = open(sys.argv[1], 'rb').read().split(b'\n', 3)
w, h = map(int, size.split())
rows = [px[y * w * 3:(y + 1) * w * 3] for y in range(0, h, 4)]
left, right = (b''.join(r[i * (w // 2) * 3:(i + 1) * (w // 2) * 3] for r in rows) for i in (0, 1))
print(sum(left) // len(left), sum(right) // len(right), sum(abs(a - b) for a, b in zip(left, right)) // len(left))
PY
}
# Retries a command every 0.1 s, up to $1 times.
retry() {
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.1; done
  return 1
}

mkdir -p "$work/wall"
"$play" --loop --out "$work/wall" "$sample" "$other" >"$work/wall.log" 2>&1 &
player_pid=$!
find_window() { wid=$(xdotool search --name '^tessaly-play: ' 2>/dev/null | head -1); [ -n "$wid" ]; }
retry 300 find_window || fail "no tessaly-play window appeared"  # up to 30 s on a loaded machine
sleep 2.5
geometry() { eval "$(xdotool getwindowgeometry --shell "$wid")"; }
if [ -n "$wid" ]; then
  geometry
  "$grab" "$work/wall.ppm" "$X" "$Y" "$WIDTH" "$HEIGHT" || fail "screen grab"
  read -r left right diff < <(halves "$work/wall.ppm")
  { [ "$left" -gt 30 ] && [ "$right" -gt 30 ]; } || fail "a half of the wall is black: left $left right $right"
  [ "$diff" -gt 20 ] || fail "the two halves show the same picture (difference $diff)"

  # Larger window: the cells must grow with it, so its far corner is drawn.
  xdotool windowsize "$wid" 1200 700
  sleep 1.5
  geometry
  [ "$WIDTH" -eq 1200 ] && [ "$HEIGHT" -eq 700 ] || fail "window did not resize: ${WIDTH}x$HEIGHT"
  "$grab" "$work/corner.ppm" $((X + 1100)) $((Y + 600)) 100 100 || fail "screen grab"
  read -r left right diff < <(halves "$work/corner.ppm")
  [ $((left + right)) -gt 40 ] || fail "after resizing, the bottom right corner is black ($left $right)"

  # s over the right cell snapshots port 1; q ends the program.
  xdotool mousemove $((X + 900)) $((Y + 300)) key s
  retry 30 compgen -G "$work/wall/tessaly-port001-*.bmp" >/dev/null
  [ "$(ls "$work/wall"/tessaly-port001-*.bmp 2>/dev/null | wc -l)" -eq 1 ] || fail "s did not snapshot port 1"
  [ "$(ls "$work/wall"/tessaly-port000-*.bmp 2>/dev/null | wc -l)" -eq 0 ] || fail "s snapshotted the wrong port"
  xdotool key q
fi
exited() { ! kill -0 "$player_pid" 2>/dev/null; }
if ! retry 50 exited; then
  fail "tessaly-play did not quit within 5 s of q"
else
  wait "$player_pid" || fail "wall exit status $?"
  [ "$(grep -c '^port [01] ' "$work/wall.log")" -eq 2 ] || { fail "wall summary:"; cat "$work/wall.log"; }
fi
player_pid=

# --- record file keys in a window ------------------------------------------------
# Each key prints the record file's state: space pauses, . steps one record,
# + doubles the speed, Right seeks a twentieth on (to the next key frame).
"$play" --loop --out "$work/wall" "$record" >"$work/keys.log" 2>&1 &
player_pid=$!
retry 300 find_window || fail "no tessaly-play window for the record file"
states() { grep -c '^file port 0 ' "$work/keys.log"; }
# Presses a key and prints the state line it brought.
press() {
  local before; before=$(states)
  xdotool key "$1"
  retry 50 eval '[ "$(states)" -gt "$before" ]' || { echo "no state after $1"; return; }
  grep '^file port 0 ' "$work/keys.log" | tail -1
}
field() { sed -n "s/.* $1 \([-0-9]*\).*/\1/p" <<<"$2"; }
if [ -n "$wid" ]; then
  sleep 1.5
  geometry
  xdotool mousemove $((X + 100)) $((Y + 100))
  paused=$(press space)
  grep -q ' speed 0 paused pictures ' <<<"$paused" || fail "space: '$paused'"
  stepped=$(press period)
  faster=$(press plus)
  grep -q ' speed 1 paused ' <<<"$faster" || fail "+: '$faster'"
  # The step has shown its one picture by the time + answers; paused, nothing else moves.
  [ "$(field pictures "$faster")" = $(($(field pictures "$paused") + 1)) ] \
    || fail "a step while paused: '$paused' then '$stepped' then '$faster'"
  [ "$(field position "$stepped")" -ge "$(field position "$paused")" ] || fail "the step went back: '$stepped'"
  from=$(field position "$faster")
  sought=$(press Right)
  want=$((from + 50 > 1000 ? 1000 : from + 50))
  [ "${from:-x}" != x ] && [ "$(field position "$sought")" -ge "$want" ] || fail "Right from $from: '$sought'"
  playing=$(press space)
  grep -q ' speed 1 playing ' <<<"$playing" || fail "space again: '$playing'"
  xdotool key q
fi
if ! retry 50 exited; then
  fail "tessaly-play did not quit within 5 s of q (record file)"
else
  wait "$player_pid" || fail "record file window exit status $?"
  grep -q '^port 0 camera_704x576_25fps_speech.kvr: 704x576 pictures [0-9]* .* speed 1 playing$' "$work/keys.log" \
    || { fail "record file window summary:"; cat "$work/keys.log"; }
fi
player_pid=

[ "$failures" -eq 0 ] && echo "all tessaly-play checks passed"
exit $((failures > 0))
