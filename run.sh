#!/usr/bin/env bash
# Installs what is missing, builds Release into build/ and plays the bundled
# camera sample as a live stream: in a window when $DISPLAY is set (q quits,
# s snapshots, f full screen), otherwise headless, with a few snapshots in
# build/out/ and a per-port summary.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build
sample=testdata/sample/camera_704x576_25fps.264
if [ -n "${DISPLAY:-}" ]; then
  ./build/tools/play/tessaly-play --out build/out "$sample"
else
  ./build/tools/play/tessaly-play --headless --snapshot-every 4 --out build/out "$sample"
fi
