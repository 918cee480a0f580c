#!/usr/bin/env bash
# Installs what is missing, builds Release into build/ and runs the main job on
# the bundled sample: every voice codec mode, encoded and decoded, with its SNR.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build
./build/tools/voice/tessaly-voice roundtrip testdata/voice/speech_sample.wav
