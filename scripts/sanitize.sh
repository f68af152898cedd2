#!/usr/bin/env bash
# The tests under AddressSanitizer (with LeakSanitizer) and
# UndefinedBehaviorSanitizer, in a build folder of their own
# (build-sanitize by default): any report fails the run. The tests include
# the replay of every fuzz corpus through its target (fuzz-replay.*).
#
# Only what the tests need is built: no Python package, no benchmarks, no
# link-time optimisation, and debug information of line tables only (enough
# for the reports' stacks, and much quicker to compile and link). Sources are
# compiled in batches of eight (a unity build): the sanitizer build then takes
# about 9 minutes at -j2 on a 2-core machine instead of 14, as the shared
# headers (fmt, the standard library, gtest) are parsed once per batch. The
# normal build compiles the library and test sources each alone, so a missing
# include still shows.
# Leaks inside fontconfig's, Pango's and Cairo's own caches are suppressed by
# name in scripts/lsan.supp; nothing else is.
set -euo pipefail
build=${1:-build-sanitize}
jobs=${JOBS:-2}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
flags="-O1 -g1 -fno-omit-frame-pointer -fsanitize=address,undefined -fno-sanitize-recover=undefined"

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF \
  -DTREMORA_BUILD_PYTHON=OFF -DTREMORA_BUILD_BENCH=OFF \
  -DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=8 > /dev/null
cmake --build "$build" -j "$jobs"

# Full stacks at each allocation, so that the suppressions see the library
# frames (the fast unwinder stops inside libraries built without frame pointers).
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:fast_unwind_on_malloc=0"
export LSAN_OPTIONS="suppressions=$source_dir/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
# The installed-package test links an unsanitized example against the
# sanitized libraries, and the Python tests need the package: both run in
# the normal build only.
(cd "$build" && ctest -j "$jobs" --output-on-failure -E 'InstallAndUse|Python')
echo "sanitizer run passed"
