#!/usr/bin/env bash
# Installs what is missing, checks the layout, builds (Release with assertions), fuzzes every
# parser for a while and decodes the conformance corpus under ASan+UBSan, runs
# the unit and integration tests under ASan+UBSan and under ThreadSanitizer,
# soaks all 256 ports for a minute under each sanitizer, then runs the whole
# suite through ctest.
# Exits non-zero on any failure.
# The tests that draw or query windows run against a private Xvfb server.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)
with_x() { xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$@"; }
# SDL asks the session bus for real-time sound threads. Without a bus, libdbus
# forks to start one, and a sanitizer's allocator can deadlock in the forked
# child (a lock another thread held at the fork): give it a bus that is not there.
export DBUS_SESSION_BUS_ADDRESS=${DBUS_SESSION_BUS_ADDRESS:-unix:path=/nonexistent/tessaly-test-bus}
# tessaly-soak from a build directory: 256 ports from 8 threads for a minute
# (see tools/soak); its checks and figures are printed with a prefix.
soak() {
  local build=$1 prefix=$2
  shift 2
  with_x "$build/tools/soak/tessaly-soak" --data testdata --seconds 60 --summary "$build/soak-ports.txt" "$@" \
    >"$build/soak.log" 2>&1 || { grep -v '^  ' "$build/soak.log" | tail -40; echo "$prefix soak failed"; exit 1; }
  grep -E '^(soak:|calls:|after KOVA|resident|soak )' "$build/soak.log" | sed "s/^/$prefix: /"
}
# What a failed ctest pass printed: each failed test's own output (its last
# 80 lines), then the summary.
failed_tests() {
  awk '/Test +#[0-9]+:/ { keep = /\*\*\*|Failed|Timeout|Exception/; n = 0 }
       keep && n++ < 400 { print }' "$1" | grep -v '^\[ *RUN\|^\[ *OK' | tail -160
  sed -n '/tests passed/,$p' "$1"
}

# One layout (.clang-format, docs/style.md): nothing for clang-format to change.
find src include tools tests bench fuzz \( -name '*.cc' -o -name '*.h' -o -name '*.c' \) -print0 |
  xargs -0 clang-format --dry-run --Werror || { echo "layout differs from .clang-format (run clang-format -i)"; exit 1; }

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_ASSERTIONS=ON >/dev/null
cmake --build build-test -j "$jobs"
# The corpus at every kernel level the processor has (C, SSE2, AVX2, AVX-512):
# each must give the reference pictures, whichever table is the default.
for level in 2 4 6 7; do
  TESSALY_CPU_LEVEL=$level tests/h264dec/conformance_all.sh build-test/tools/h264dec/tessaly-h264dec |
    sed "s/^/level $level: /"
done

# libFuzzer targets (clang, ASan+UBSan), seeded with the committed corpora.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSALY_BUILD_FUZZ=ON -DTESSALY_ASAN=ON -DTESSALY_BUILD_TESTS=ON -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
scripts/run-fuzzers.sh build-fuzz
# The same build decodes the conformance corpus: memory errors and undefined
# behaviour on valid streams too, with one thread and with slice threads.
tests/h264dec/conformance_all.sh build-fuzz/tools/h264dec/tessaly-h264dec | sed 's/^/asan: /'
# And the unit and integration tests, the slow ones too: refusals, limits,
# damaged input and faults beyond the corpus (which the lines above decode;
# the packaging tests install and build hosts, which need no sanitizer, and
# the realtime ones count pictures shown at real-time pace).
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
with_x ctest --test-dir build-fuzz -LE "h264conf|packaging|realtime" -j "$jobs" --output-on-failure >build-fuzz/ctest.log 2>&1 \
  || { failed_tests build-fuzz/ctest.log; echo "ASan+UBSan pass failed"; exit 1; }
grep -E 'tests passed' build-fuzz/ctest.log | sed 's/^/asan: /'
soak build-fuzz asan --fps 10
unset LSAN_OPTIONS

# Data races: the unit tests under ThreadSanitizer (the long stream and conformance runs are left to the main pass).
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSALY_TSAN=ON -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"
with_x ctest --test-dir build-tsan -LE "slow|h264conf|packaging" -j "$jobs" --output-on-failure >build-tsan/ctest.log 2>&1 \
  || { failed_tests build-tsan/ctest.log; echo "ThreadSanitizer pass failed"; exit 1; }
grep -E 'tests passed' build-tsan/ctest.log | sed 's/^/tsan: /'
soak build-tsan tsan --fps 5

with_x ctest --test-dir build-test --output-on-failure -j "$jobs"
