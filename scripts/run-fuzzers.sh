#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a while, one after the other:
#   scripts/run-fuzzers.sh [build-fuzz] [seconds per target] [target...]
# Each target starts from a scratch copy of its committed corpus
# (fuzz/corpus/<target>), so the corpus only grows by deliberate additions;
# inputs that crash, hang or leak land in <build>/fuzz-artifacts/<target>/.
# A dictionary fuzz/<target>.dict, where there is one, gives libFuzzer the
# tokens of the format.
# Prints the figures libFuzzer gives at the end of each run (executions,
# coverage) and exits non-zero when any target found something.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
targets=("$@")
if ((${#targets[@]} == 0)); then
  for source in "$root"/fuzz/*.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

export TREMORA_LOG_LEVEL=error
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$target"
  [[ -x "$binary" ]] || { echo "run-fuzzers: no $binary (build the fuzz_targets target)" >&2; exit 2; }
  corpus="$scratch/$target"
  artifacts="$build/fuzz-artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  cp -r "$root/fuzz/corpus/$target/." "$corpus/" 2>/dev/null || true
  echo "== $target: ${seconds}s"
  log="$scratch/$target.log"
  dict=()
  [[ -f "$root/fuzz/$target.dict" ]] && dict=(-dict="$root/fuzz/$target.dict")
  "$binary" "$corpus" "${dict[@]}" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" >"$log" 2>&1
  rc=$?
  # The last status line carries the totals: "#N DONE cov: C ft: F corp: ...".
  grep -E '^#[0-9]+' "$log" | tail -n 1
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)' "$log"
  if ((rc != 0)); then
    status=1
    echo "-- $target found something (exit $rc); the input is in $artifacts/:"
    grep -E 'ERROR|SUMMARY|fuzz finding|Test unit written' "$log" | head -n 20
  fi
  rm -rf "$corpus"
done
exit $status
