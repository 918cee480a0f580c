#!/usr/bin/env bash
# Makes testdata/sample/camera_704x576_25fps_speech.kvr: the first 10 s of the
# bundled camera sample with a spoken description of the scene, muxed by
# tessaly-rec at 32 kbit/s. Needs espeak-ng and ffmpeg, and tessaly-rec built
# (default build/; pass another build directory as the argument).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
sample=$root/testdata/sample
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

espeak-ng -v en-us -s 175 -w "$work/speech-22k.wav" \
  "Camera one. A test pattern of moving colour, dots and boxes. Below it, the camera name and a clock, \
from midnight on New Year's Day, twenty twenty seven."
ffmpeg -v error -y -i "$work/speech-22k.wav" -ar 8000 -ac 1 -c:a pcm_s16le -map_metadata -1 -fflags +bitexact \
  "$work/speech.wav"
"$build/tools/rec/tessaly-rec" mux --frames 250 --audio "$work/speech.wav" --rate 32 \
  "$sample/camera_704x576_25fps.264" "$sample/camera_704x576_25fps_speech.kvr"
"$build/tools/rec/tessaly-rec" info "$sample/camera_704x576_25fps_speech.kvr" | sed -n '2,5p'
