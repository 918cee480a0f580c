#!/usr/bin/env bash
# Installs what is missing, builds Release into build/ and plays the bundled
# samples side by side: the camera sample as a live stream and the record
# file with speech from disk, its sound on the default sound device. In a
# window when $DISPLAY is set (q quits, s snapshots, f full screen; for the
# record file space pauses, . steps, + and - change speed, Left and Right
# seek), otherwise headless for 15 s, with a few snapshots in build/out/, a
# line a second on the record file and a per-port summary.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build
samples=(testdata/sample/camera_704x576_25fps.264 testdata/sample/camera_704x576_25fps_speech.kvr)
if [ -n "${DISPLAY:-}" ]; then
  ./build/tools/play/tessaly-play --out build/out "${samples[@]}"
else
  ./build/tools/play/tessaly-play --headless --snapshot-every 4 --out build/out "${samples[@]}"
fi
