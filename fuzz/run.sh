#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build briefly, each on a copy of its seed
# corpus (fuzz/<target>/corpus; what the run finds goes into the copy, never
# into the repository) and with its dictionary when it has one, at most 8 at
# a time, and prints one line per target. A crash, leak, hang (10 s for one
# input), out-of-memory or sanitizer report fails the run; its log and
# reproducer are kept and named. Paths may hold spaces.
#   fuzz/run.sh [BUILD_DIR] [SECONDS]     (defaults: build/fuzz, 20)
set -uo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/fuzz}
seconds=${2:-20}
jobs=$(nproc)
[ "$jobs" -gt 8 ] && jobs=8

# The build lists its targets one a line: program, corpus, dictionary
# (empty when none), separated by tabs.
bins=() corpora=() dicts=()
list="$build/fuzz/targets.txt"
if [ -f "$list" ]; then
  while IFS=$'\t' read -r bin corpus dict; do
    [ -n "$bin" ] || continue
    bins+=("$bin") corpora+=("$corpus") dicts+=("$dict")
  done <"$list"
fi
if [ ${#bins[@]} -eq 0 ]; then
  echo "fuzz: no targets listed in $list (build the fuzz preset first)"
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vq-fuzz.XXXXXX")

# One target: its exit status goes into $out/status.
run_one() {
  local bin=$1 corpus=$2 dict=$3 out=$4
  local extra=()
  [ -n "$dict" ] && extra=(-dict="$dict")
  mkdir -p "$out"
  cp -r "$corpus" "$out/corpus"
  # The outer time-out only guards against a target that stops answering
  # its own alarm; libFuzzer ends each run after $seconds.
  timeout --kill-after=10 $((seconds + 60)) "$bin" "$out/corpus" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/" "${extra[@]}" >"$out/log" 2>&1
  echo $? >"$out/status"
}

running=0
for i in "${!bins[@]}"; do
  run_one "${bins[i]}" "${corpora[i]}" "${dicts[i]}" "$work/$(basename "${bins[i]}")" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for bin in "${bins[@]}"; do
  name=$(basename "$bin")
  out="$work/$name"
  status=$(cat "$out/status" 2>/dev/null || echo 1)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/log" | tail -1)
  if [ "$status" = 0 ]; then
    printf 'fuzz  %-24s ok      %s runs in %s s\n' "$name" "${runs:-?}" "$seconds"
  else
    failed=1
    what=$(grep -m1 -E 'ERROR: |runtime error: |ParseDictionaryFile: ' "$out/log" | sed -E 's/^.*(ERROR: |runtime error: )/\1/' | cut -c1-80)
    artifact=$(ls "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-* 2>/dev/null | head -1)
    printf 'fuzz  %-24s FAILED  %s (exit %s)\n' "$name" "${what:-no report}" "$status"
    printf '      log %s%s\n' "$out/log" "${artifact:+, input $artifact}"
  fi
done
if [ "$failed" = 0 ]; then
  rm -rf "$work"
else
  echo "fuzz: failures kept in $work"
fi
exit "$failed"
