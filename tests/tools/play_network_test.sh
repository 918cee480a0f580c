#!/usr/bin/env bash
# tessaly-play's network cameras and container files, against real servers on
# 127.0.0.1: MPEG-TS over UDP from FFmpeg (pictures, and --stats lines whose
# counts rise); an RTSP camera from GStreamer's RTSP server, killed mid-stream
# and started again: the tool reports the drop, reconnects and shows pictures
# again, over TCP and with --rtsp-udp; the sample's start in MP4 (avcC, through
# the bitstream filter), Matroska and MPEG-TS files, played to their end at
# their own pace; refusals of bad containers. Timing is never checked: every
# wait is generous and ends as soon as the output says what it waits for.
set -uo pipefail
play=$1 data=$2
sample=$data/sample/camera_704x576_25fps.264
server=$(dirname "$0")/rtsp_server.py
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

free_port() {  # $1: tcp or udp
  python3 -c "import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_STREAM if sys.argv[1] == 'tcp' else socket.SOCK_DGRAM)
s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])" "$1"
}
# Retries a command every 0.2 s, up to $1 times.
retry() {
  local tries=$1; shift
  for _ in $(seq "$tries"); do "$@" && return 0; sleep 0.2; done
  return 1
}
# The "shown" counts of a log's stats lines, one a line.
shown() { sed -n 's/^stats port 0 .* shown \([0-9]*\) .*/\1/p' "$1"; }
last_shown() { shown "$1" | tail -1; }
pictures() { sed -n 's/^port 0 .*: 704x576 pictures \([0-9]*\) .*/\1/p' "$1"; }

# --- container files: every picture, at their own pace, to their end ----------
for kind in mp4 mkv ts; do
  ffmpeg -v error -r 25 -i "$sample" -frames:v 50 -c copy "$work/cam.$kind" || fail "ffmpeg made no $kind file"
  timeout 60 "$play" --headless --snapshot-every 0 "$work/cam.$kind" >"$work/$kind.log" 2>&1 || fail "$kind: exit $?"
  # A live port keeps the last picture or two until more data comes.
  n=$(pictures "$work/$kind.log")
  { [ "${n:-0}" -ge 48 ] && [ "$n" -le 50 ] && grep -q ' sent 50 dropped 0 ' "$work/$kind.log" \
    && grep -q ": ended$" "$work/$kind.log"; } || { fail "$kind file:"; cat "$work/$kind.log"; }
done
ffmpeg -v error -f lavfi -i testsrc=d=1 -c:v mpeg4 "$work/mpeg4.mp4" || fail "ffmpeg made no MPEG-4 file"
for bad in "$work/mpeg4.mp4:no H.264 video track" "$work/none.mkv:No such file"; do
  timeout 20 "$play" --headless "${bad%%:*}" >/dev/null 2>"$work/err"
  rc=$?
  { [ "$rc" -eq 1 ] && grep -q "${bad#*:}" "$work/err"; } || fail "${bad%%:*}: exit $rc, $(cat "$work/err")"
done

# --- MPEG-TS over UDP ----------------------------------------------------------
port=$(free_port udp)
ffmpeg -v error -re -stream_loop -1 -i "$sample" -c copy -f mpegts "udp://127.0.0.1:$port" &
pids+=($!)
timeout 60 "$play" --headless --duration 6 --stats --snapshot-every 0 "udp://127.0.0.1:$port" >"$work/udp.log" 2>&1 \
  || fail "UDP run: exit $?"
kill "${pids[-1]}" 2>/dev/null
n=$(pictures "$work/udp.log")
[ "${n:-0}" -gt 10 ] || { fail "UDP camera showed ${n:-no} pictures:"; cat "$work/udp.log"; }
counts=$(shown "$work/udp.log")
{ [ "$(wc -l <<<"$counts")" -ge 3 ] && sort -nc <<<"$counts" && [ "$(tail -1 <<<"$counts")" -gt "$(head -1 <<<"$counts")" ]; } \
  || fail "UDP stats lines do not rise: $(tr '\n' ' ' <<<"$counts")"

# --- RTSP: a drop and a reconnect ------------------------------------------------
port=$(free_port tcp)
url=rtsp://127.0.0.1:$port/cam
start_server() {
  "$server" "$port" "$sample" >"$work/server.log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  retry 150 grep -q '^serving' "$work/server.log" || fail "RTSP server did not start: $(cat "$work/server.log")"
}
start_server
log=$work/rtsp.log
"$play" --headless --duration 120 --stats --snapshot-every 0 "$url" >"$log" 2>&1 &
player_pid=$!
pids+=("$player_pid")
showing() { [ "$(last_shown "$log")" -gt "$1" ] 2>/dev/null; }
retry 150 showing 25 || fail "no pictures from the RTSP camera"
kill "$server_pid"; wait "$server_pid" 2>/dev/null
retry 150 grep -q ": reconnecting in 1 s" "$log" || fail "the drop was not reported"
sleep 2
before=$(last_shown "$log")
start_server
retry 300 showing $((${before:-0} + 25)) || fail "no pictures after the server came back (had $before)"
kill -INT "$player_pid"
wait "$player_pid" || fail "RTSP run: exit $?"
# connecting, playing, reconnecting in 1 s, then failed tries backing off, and playing again.
states=$(sed -n "s|^source port 0 $url: \([a-z]*\( in [0-9]* s\)\?\).*|\1|p" "$log" | tr '\n' ,)
grep -Eq '^connecting,playing,reconnecting in 1 s,connecting,(reconnecting in [0-9]+ s,connecting,)*playing,$' <<<"$states" \
  || fail "RTSP states: $states"
grep -q '^port 0 cam: 704x576 pictures [0-9]* .* dropped 0 ' "$log" || fail "RTSP summary: $(grep '^port' "$log")"

# Media over UDP from the same server.
timeout 60 "$play" --headless --rtsp-udp --duration 5 --snapshot-every 0 "$url" >"$work/rtsp_udp.log" 2>&1 \
  || fail "RTSP over UDP: exit $?"
[ "$(pictures "$work/rtsp_udp.log")" -gt 10 ] 2>/dev/null || { fail "RTSP over UDP:"; cat "$work/rtsp_udp.log"; }

[ "$failures" -eq 0 ] && echo "all tessaly-play network checks passed"
exit $((failures > 0))
