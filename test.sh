#!/usr/bin/env bash
# Installs what is missing, builds (Release with assertions), fuzzes every
# parser for a while under ASan+UBSan, then runs the whole suite through ctest.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSALY_ASSERTIONS=ON >/dev/null
cmake --build build-test -j "$jobs"

# libFuzzer targets (clang, ASan+UBSan), seeded with the committed corpora.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSALY_BUILD_FUZZ=ON -DTESSALY_ASAN=ON -DTESSALY_BUILD_TESTS=OFF -DTESSALY_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$jobs"
scripts/run-fuzzers.sh build-fuzz

ctest --test-dir build-test --output-on-failure -j "$jobs"
