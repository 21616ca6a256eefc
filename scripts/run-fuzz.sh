#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for the given number of seconds each.
set -euo pipefail
build=${1:-build-fuzz}; seconds=${2:-60}
status=0
for f in "$build"/bin/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$build/corpus/$name"; mkdir -p "$corpus"
  seeds="tests/fuzz/seeds/${name#fuzz_}"
  echo "== $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -print_final_stats=1 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) || status=1
done
exit $status
