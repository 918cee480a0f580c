#!/usr/bin/env bash
# The hour-long soak (not part of ./test.sh): a Release build of tessaly-soak
# driving all 256 ports from 8 threads for SECONDS (default 3600) on the
# bundled streams, on a private Xvfb unless $DISPLAY is set. The log and the
# per-port table go to build-soak/; the exit status is the soak's.
# Usage: tools/soak/run-long.sh [SECONDS] [more tessaly-soak options]
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-3600}
shift || true
cmake -S . -B build-soak -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-soak -j "$(nproc)" --target tessaly-soak
run=(build-soak/tools/soak/tessaly-soak --data testdata --seconds "$seconds" --summary build-soak/soak-ports.txt "$@")
if [ -z "${DISPLAY:-}" ]; then
  run=(xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "${run[@]}")
fi
echo "soak for $seconds s; log in build-soak/soak-long.log, ports in build-soak/soak-ports.txt"
"${run[@]}" 2>&1 | tee build-soak/soak-long.log
