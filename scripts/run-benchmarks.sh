#!/usr/bin/env bash
# Runs every benchmark program of the build folder and prints its figures.
set -euo pipefail
build=${1:-build}
shopt -s nullglob
status=0
# The threads parallel work uses: TREMORA_THREADS, else the processors this
# process may run on (what the library reads).
echo "threads: ${TREMORA_THREADS:-$(nproc) (all the processors the process may use; TREMORA_THREADS sets another count)}"
for b in "$build"/bench/bench_*; do
  [[ -x "$b" ]] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true || status=1
done
exit $status
