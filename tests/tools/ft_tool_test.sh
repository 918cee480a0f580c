#!/usr/bin/env bash
# tessaly-ft from the command line: H.264 and Motion JPEG wrapped into FT
# byte streams and taken back out through the library's assembler, the
# payloads decoded by the library's FFmpeg decoder to the conformance MD5s
# and to FFmpeg's own pictures, and refusals with exit status 1 and a message.
set -uo pipefail
tool=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL $*"; failures=$((failures + 1)); }

fails_cleanly() {  # description, expected text in the message, then the arguments
  local what=$1 text=$2; shift 2
  "$tool" "$@" >"$work/out" 2>"$work/err"
  local rc=$?
  [ "$rc" -eq 1 ] && [ "$(wc -l <"$work/err")" -eq 1 ] && grep -q -- "$text" "$work/err" ||
    { fail "$what: exit $rc:"; cat "$work/err"; }
}

# MD5s of FFmpeg's own decoding, its chroma reduced to 4:2:0 by taking every
# other row and column where it has more, as the library's decoder does.
reference_md5s() {  # picture file, width, height, pix_fmt, chroma shift x, chroma shift y
  ffmpeg -loglevel error -y -i "$1" -f rawvideo -pix_fmt "$4" "$work/ref.yuv" || return 1
  python3 - "$work/ref.yuv" "$2" "$3" "$5" "$6" <<'PY'
import hashlib, sys
path, w, h, sx, sy = sys.argv[1], *map(int, sys.argv[2:])
cw, ch, ow, oh = (w + sx) >> sx, (h + sy) >> sy, (w + 1) // 2, (h + 1) // 2
data = open(path, 'rb').read()
size = w * h + 2 * cw * ch
for k in range(0, len(data), size):
    f = data[k:k + size]
    m = hashlib.md5(f[:w * h])
    for p in range(2):
        plane = f[w * h + p * cw * ch:w * h + (p + 1) * cw * ch]
        for r in range(oh):
            m.update(plane[(r << (1 - sy)) * cw:][:cw][::2 - sx][:ow])
    print(m.hexdigest(), f'{w}x{h}')
PY
}

# H.264: every access unit back (the raw variant exactly, the FT variant but
# for rewritten NAL header bytes), and pictures to the reference MD5s,
# reordered and cropped ones (Static) included.
for name in BA_MW_D Static; do
  stream=$data/h264/conf/$name.264
  "$tool" wrap --raw --h264 "$stream" "$work/raw.ft" && "$tool" unwrap --raw "$work/raw.ft" "$work/raw.264" &&
    cmp -s "$work/raw.264" "$stream" || fail "$name: raw variant does not give the stream back"
  "$tool" wrap --h264 "$stream" "$work/ft.ft" && "$tool" unwrap "$work/ft.ft" "$work/ft.264" || fail "$name: FT variant"
  python3 - "$stream" "$work/ft.264" <<'PY' || fail "$name: FT variant changed more than NAL header bytes"
import sys
a, b = (open(p, 'rb').read() for p in sys.argv[1:])
assert len(a) == len(b)
changed = [(x, y) for x, y in zip(a, b) if x != y]
assert all((x, y) in ((0x67, 0x27), (0x61, 0x21)) for x, y in changed), changed[:4]
PY
  for variant in "" --raw; do
    file=$work/ft.ft
    [ -n "$variant" ] && file=$work/raw.ft
    "$tool" md5 $variant "$file" | awk '{print $1}' >"$work/got.md5"
    diff -q "$work/got.md5" "$data/h264/conf/$name.md5" >/dev/null || fail "$name $variant: MD5s differ from the reference"
  done
done

# Motion JPEG: FFmpeg's default for this source is 4:4:4; 4:2:2 and 4:2:0 too,
# an odd size, and the pictures of an AVI file.
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=704x576:rate=25 -t 1 -c:v mjpeg -f mjpeg "$work/x.mjpeg"
ffmpeg -loglevel error -y -i "$work/x.mjpeg" -c copy "$work/x.avi"
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=704x576:rate=25 -t 0.2 -c:v mjpeg -pix_fmt yuvj422p -f mjpeg \
  "$work/x422.mjpeg"
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=703x575:rate=25 -t 0.2 -c:v mjpeg -pix_fmt yuvj420p -f mjpeg \
  "$work/x420.mjpeg"
for variant in "" --raw; do
  "$tool" wrap $variant --mjpeg "$work/x.mjpeg" "$work/j.ft" && "$tool" unwrap $variant "$work/j.ft" "$work/j.mjpeg" &&
    cmp -s "$work/j.mjpeg" "$work/x.mjpeg" || fail "mjpeg $variant: pictures not given back"
done
"$tool" md5 "$work/j.ft" >"$work/got"
[ "$(grep -c ' 704x576$' "$work/got")" -eq 25 ] || fail "mjpeg: not 25 pictures of 704x576"
check_jpeg() {  # what, file, width, height, pix_fmt, shift x, shift y
  "$tool" wrap --mjpeg "$2" "$work/c.ft" && "$tool" md5 "$work/c.ft" >"$work/got" &&
    reference_md5s "$2" "$3" "$4" "$5" "$6" "$7" >"$work/want" && [ -s "$work/want" ] &&
    diff -q "$work/got" "$work/want" >/dev/null || fail "mjpeg $1: pictures differ from FFmpeg's"
}
check_jpeg 4:4:4 "$work/x.mjpeg" 704 576 yuvj444p 0 0
check_jpeg 4:2:2 "$work/x422.mjpeg" 704 576 yuvj422p 1 0
check_jpeg 4:2:0 "$work/x420.mjpeg" 703 575 yuvj420p 1 1
check_jpeg AVI "$work/x.avi" 704 576 yuvj444p 0 0

fails_cleanly "no arguments" "usage"
fails_cleanly "missing input" "cannot open" wrap --h264 "$work/none.264" "$work/o.ft"
fails_cleanly "H.264 as Motion JPEG" "Motion JPEG" wrap --mjpeg "$data/h264/conf/BA_MW_D.264" "$work/o.ft"
echo "not a stream" >"$work/text.264"
fails_cleanly "no access units" "no H.264" wrap --h264 "$work/text.264" "$work/o.ft"
fails_cleanly "picture above the assembly buffer" "assembly buffer" wrap --h264 "$data/h264/conf/jm_1080p_allslice.264" \
  "$work/o.ft"

[ "$failures" -eq 0 ] && echo "tessaly-ft: all checks passed"
exit $((failures > 0))
