#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build once over each file of its committed
# corpus (fuzz/corpus/<target>), without fuzzing: the regression check for
# CI. Fails when any input crashes, hangs or trips a sanitizer.
#   scripts/replay-fuzz-corpus.sh [build-fuzz]
set -euo pipefail
build=${1:-build-fuzz}
ctest --test-dir "$build" -L fuzz-replay --output-on-failure
