#!/usr/bin/env bash
# Runs each fuzzer for its time budget on a scratch copy of its committed seed
# corpus (fuzz/corpus/NAME); a crash leaves its input in the build directory.
# Usage: run-fuzzers.sh BUILD_DIR
set -euo pipefail
build=$1
declare -A seconds=([voice_frame]=60 [sound_frames]=30 [record_file_playback]=30 [sps_probe]=30 [deinterlace]=45 [h264_decoder]=120 [record_reader]=30 [overlay_text]=30 [ft_assembler]=30)
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
