#!/usr/bin/env bash
# Runs every benchmark program of a benchmark build. All of them run even when one fails;
# the script then names the failures and exits non-zero, so "make bench" fails too.
set -uo pipefail
build=${1:-build-bench}
failed=()
found=0
for b in "$build"/bin/bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  if ! "$b"; then
    failed+=("$(basename "$b")")
  fi
done
if [ "$found" -eq 0 ]; then
  echo "run-bench: FAILED: no benchmark programs in $build/bin" >&2
  exit 1
fi
if [ "${#failed[@]}" -gt 0 ]; then
  echo "run-bench: FAILED: ${failed[*]}" >&2
  exit 1
fi
