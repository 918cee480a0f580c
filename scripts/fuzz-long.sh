#!/usr/bin/env bash
# The long fuzzing pass: every fuzzer for SECONDS_PER_TARGET of wall time,
# JOBS of them at once, each on a scratch copy of its committed corpus
# (fuzz/corpus/NAME) plus what its earlier runs in this build found. A fault
# stops a fuzzer; its input is kept and the fuzzer goes on for the rest of its
# time (at most kMaxRestarts times). At the end every corpus is minimised into
# a fresh directory that replaces fuzz/corpus/NAME, and a markdown table of the
# runs is printed (and written to BUILD_DIR/fuzz-long/table.md).
#
# Findings are kept in BUILD_DIR/fuzz-long/NAME/findings, named for the fault
# the sanitizer or libFuzzer reported. One that no longer fails (its fault
# fixed) becomes a regression seed in fuzz/corpus/NAME under that name and
# survives every later minimisation; one that still fails is listed and kept
# out of the corpus.
#
# A minimised corpus larger than CORPUS_KB keeps its named seeds and, of the
# rest, the smallest files that fit: the merge already prefers small inputs,
# and a repository holds no multi-megabyte corpora.
#
# Usage: fuzz-long.sh BUILD_DIR [SECONDS_PER_TARGET]   (default 3600; 0 only
#   minimises the corpora again and prints the last runs' table)
# Environment: JOBS (default 2), TARGETS (default every fuzzer in the build),
#   MERGE=0 to leave the committed corpora as they are, CORPUS_KB (default 1024).
set -euo pipefail
build=$(cd "$1" && pwd)
seconds=${2:-3600}
jobs=${JOBS:-2}
merge=${MERGE:-1}
budget=$((${CORPUS_KB:-1024} * 1024))
out=$build/fuzz-long
kMaxRestarts=5
cd "$(dirname "$0")/.."

if [[ -n ${TARGETS:-} ]]; then
  read -r -a targets <<<"$TARGETS"
else
  targets=()
  for dir in fuzz/corpus/*/; do
    name=$(basename "$dir")
    [[ -x $build/fuzz/${name}_fuzzer ]] && targets+=("$name")
  done
fi
mkdir -p "$out"

# Regression seeds are named for their fault; hash-named files are ordinary corpus.
IsRegressionSeed() { [[ $(basename "$1") =~ ^(crash|leak|timeout|oom|slow-unit)- ]]; }

# Passes when the fuzzer runs the one input cleanly.
Passes() { "$1" -runs=1 -timeout=30 "$2" >/dev/null 2>&1; }

# A name for a fault from the fuzzer's log: the kind of artifact, the
# sanitizer's short description and the function it happened in, and the
# input's hash.
FindingName() {
  local log=$1 artifact=$2 kind summary
  kind=$(basename "$artifact" | cut -d- -f1)
  [[ $(basename "$artifact") == slow-unit-* ]] && kind=slow-unit
  summary=$(grep -m1 '^SUMMARY:' "$log" | sed -E 's/^SUMMARY: [A-Za-z]+: //; s/ [^ ]*:[0-9]+(:[0-9]+)?//; s/\([^)]*\)//g' || true)
  summary=$(tr -cs 'A-Za-z0-9_' '-' <<<"$summary" | sed -E "s/^-+|-+\$//g; s/^$kind(-|\$)//" | cut -c1-60)
  echo "$kind${summary:+-$summary}-$(sha1sum "$artifact" | cut -c1-8)"
}

RunTarget() {
  local name=$1 fuzzer=$build/fuzz/${1}_fuzzer dir=$out/$1 work
  work=$dir/corpus
  mkdir -p "$dir/findings" "$work"
  # The committed seeds, earlier runs' corpus, and earlier findings that pass now.
  cp -r "fuzz/corpus/$name/." "$work/"
  for finding in "$dir"/findings/*; do
    [[ -f $finding && $finding != *.log ]] || continue
    if Passes "$fuzzer" "$finding"; then cp "$finding" "$work/"; fi
  done
  local cpu=0 execs=0 cov=? ft=? found=0 restarts=0 start now left log
  start=$(date +%s)
  while :; do
    now=$(date +%s)
    left=$((seconds - (now - start)))
    ((left > 0 && restarts <= kMaxRestarts)) || break
    log=$dir/run-$restarts.log
    rm -rf "$dir/artifacts" && mkdir -p "$dir/artifacts"
    # `times` prints the children's user and system time after the run.
    bash -c '"$@"; rc=$?; times >&2; exit $rc' _ "$fuzzer" -max_total_time="$left" -print_final_stats=1 \
      -timeout=30 -rss_limit_mb=2048 -artifact_prefix="$dir/artifacts/" "$work" >"$log" 2>&1 || true
    local usage user sys
    usage=$(tail -1 "$log")
    user=$(awk '{print $1}' <<<"$usage")
    sys=$(awk '{print $2}' <<<"$usage")
    cpu=$(awk -v c="$cpu" -v u="$user" -v s="$sys" 'function sec(t, m) { split(t, m, "m"); return m[1] * 60 + m[2] }
      BEGIN { printf "%.0f", c + sec(u) + sec(s) }')
    execs=$((execs + $(awk '/^stat::number_of_executed_units/ { n = $2 } END { print n + 0 }' "$log")))
    local last
    last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
    if [[ -n $last ]]; then
      cov=$(sed -E 's/.*cov: ([0-9]+).*/\1/' <<<"$last")
      ft=$(sed -E 's/.*ft: ([0-9]+).*/\1/' <<<"$last")
    fi
    local artifact any=0
    for artifact in "$dir"/artifacts/*; do
      [[ -f $artifact ]] || continue
      any=1
      local finding
      finding=$(FindingName "$log" "$artifact")
      mv "$artifact" "$dir/findings/$finding"
      cp "$log" "$dir/findings/$finding.log"
      found=$((found + 1))
    done
    ((any)) || break  # ran out its time
    restarts=$((restarts + 1))
  done
  echo "$name|$cpu|$execs|$cov|$ft|$found" >"$dir/result"
}

((seconds == 0)) || echo "fuzzing ${#targets[@]} targets for $seconds s each, $jobs at a time"
for name in "${targets[@]}"; do
  ((seconds > 0)) || break
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  echo "$(date -u +%H:%M:%S) $name"
  RunTarget "$name" &
done
wait

# Fixed findings become regression seeds; the corpus is minimised around them.
for name in "${targets[@]}"; do
  fuzzer=$build/fuzz/${name}_fuzzer
  dir=$out/$name
  for finding in "$dir"/findings/*; do
    [[ -f $finding && $finding != *.log ]] || continue
    if Passes "$fuzzer" "$finding"; then
      cp "$finding" "fuzz/corpus/$name/"
    else
      echo "still failing: $finding (see $finding.log)"
    fi
  done
  ((merge)) || continue
  fresh=$dir/merged
  rm -rf "$fresh" && mkdir -p "$fresh"
  "$fuzzer" -merge=1 -timeout=30 "$fresh" "fuzz/corpus/$name" "$dir/corpus" >"$dir/merge.log" 2>&1 \
    || { tail -20 "$dir/merge.log"; echo "merge of $name failed"; continue; }
  # Committed seeds the merge kept keep their names; regression seeds stay whatever they add.
  for seed in "fuzz/corpus/$name"/*; do
    hash=$(sha1sum "$seed" | cut -d' ' -f1)
    if [[ $(basename "$seed") == "$hash" ]]; then
      continue
    elif [[ -f $fresh/$hash ]]; then
      mv "$fresh/$hash" "$fresh/$(basename "$seed")"
    elif IsRegressionSeed "$seed"; then
      cp "$seed" "$fresh/"
    fi
  done
  # Over the budget: the largest hash-named files go first.
  total=$(find "$fresh" -type f -printf '%s\n' | awk '{ t += $1 } END { print t + 0 }')
  while ((total > budget)); do
    largest=$(find "$fresh" -type f -regextype egrep -regex '.*/[0-9a-f]{40}' -printf '%s %p\n' | sort -n | tail -1)
    [[ -n $largest ]] || break
    total=$((total - ${largest%% *}))
    rm "${largest#* }"
  done
  rm -rf "fuzz/corpus/$name" && cp -r "$fresh" "fuzz/corpus/$name"
  # The grown corpus of this run is the next run's starting point.
  rm -rf "$dir/corpus" && cp -r "$fresh" "$dir/corpus"
done

{
  echo "| target | CPU time | executions | coverage (cov / ft) | findings |"
  echo "| --- | --- | --- | --- | --- |"
  for name in "${targets[@]}"; do
    if [[ ! -f $out/$name/result ]]; then
      echo "| $name | no result | | | |"
      continue
    fi
    IFS='|' read -r n cpu execs cov ft found <"$out/$name/result"
    printf '| %s | %d min %02d s | %s | %s / %s | %s |\n' "$n" $((cpu / 60)) $((cpu % 60)) "$execs" "$cov" "$ft" "$found"
  done
} | tee "$out/table.md"
echo "corpora: $(du -sh fuzz/corpus | cut -f1)"
