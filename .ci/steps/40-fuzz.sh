#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each for about a minute on a fresh
# copy of the generated seeds. Any crash, sanitizer report, mismatch with
# the reference model or slow input (over 10 s) fails the step; the input
# that caused it is left in build/fuzz/findings-NAME/.
set -euo pipefail
. .ci/lib.sh
FUZZ_SECONDS="${FUZZ_SECONDS:-60}"

step "Build the fuzzers (clang++, libFuzzer, ASan, UBSan)"
rm -rf build/fuzz
CXXFLAGS="-Werror" cmake --preset fuzz
cmake --build --preset fuzz

seeds=build/fuzz/seeds
mkdir -p "$seeds"
build/fuzz/fuzz/make_seeds "$seeds"

for name in fuzz_open fuzz_pass; do
  step "Fuzz $name for ${FUZZ_SECONDS} s"
  corpus="build/fuzz/corpus-$name"
  findings="build/fuzz/findings-$name"
  mkdir -p "$corpus" "$findings"
  cp "$seeds"/* "$corpus"/
  log="build/fuzz/$name.log"
  status=0
  "build/fuzz/fuzz/$name" -max_total_time="$FUZZ_SECONDS" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" >"$log" 2>&1 || status=$?
  # The last status line carries the executions and the coverage (edges).
  grep -E '^#[0-9]+' "$log" | tail -n 1 || true
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$findings")" ]; then
    tail -n 60 "$log"
    echo "$name found a problem (status $status); inputs in $findings:" >&2
    ls -l "$findings" >&2
    exit 1
  fi
done
