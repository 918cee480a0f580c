#!/usr/bin/env bash
# The short fuzzing pass of ./test.sh: each fuzzer for a few seconds on a
# scratch copy of its committed seed corpus (fuzz/corpus/NAME), about two and
# a half minutes in all; a crash leaves its input in the build directory. The
# long pass is scripts/fuzz-long.sh.
# Usage: run-fuzzers.sh BUILD_DIR
set -euo pipefail
build=$1
declare -A seconds=([voice_frame]=15 [sound_frames]=10 [record_file_playback]=10 [record_file_open]=10
  [sps_probe]=10 [deinterlace]=15 [h264_decoder]=30 [record_reader]=10 [record_ring]=10 [overlay_text]=10
  [ft_assembler]=10)
for name in "${!seconds[@]}"; do
  work=$(mktemp -d)
  cp -r "fuzz/corpus/$name/." "$work/"
  echo "fuzzing $name for ${seconds[$name]} s"
  "$build/fuzz/${name}_fuzzer" -max_total_time="${seconds[$name]}" -print_final_stats=0 \
    -artifact_prefix="$build/${name}-" "$work" 2>"$build/${name}-fuzz.log" \
    || { tail -40 "$build/${name}-fuzz.log"; echo "fuzzer $name failed"; exit 1; }
  grep -E '^#[0-9]+.*DONE' "$build/${name}-fuzz.log" | tail -1 || true
  rm -rf "$work"
done
