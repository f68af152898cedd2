#!/usr/bin/env bash
# Line and branch coverage of the tests, per library (make coverage).
#
# Builds the tree with gcc's --coverage in its own folder (build-coverage by
# default; Debug, no LTO, no Python package, no benchmarks), runs every test,
# then prints, for each library under src/ and for the command-line program,
# the share of lines and of branches the tests ran, and writes an HTML report
# into <folder>/coverage-html.
set -euo pipefail
build=${1:-build-coverage}
jobs=${JOBS:-2}
source_dir=$(cd "$(dirname "$0")/.." && pwd)

cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="--coverage -O0" -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=OFF \
  -DTREMORA_BUILD_PYTHON=OFF -DTREMORA_BUILD_BENCH=OFF > /dev/null
cmake --build "$build" -j "$jobs"
lcov --quiet --zerocounters --directory "$build"
(cd "$build" && ctest -j "$jobs" --output-on-failure -E 'HelpExamples|ReadmePythonScript|KillWriters') || true

info="$build/coverage.info"
lcov --quiet --rc lcov_branch_coverage=1 --capture --directory "$build" --base-directory "$source_dir" \
  --output-file "$info.all" 2> /dev/null
lcov --quiet --rc lcov_branch_coverage=1 --extract "$info.all" "$source_dir/src/*" "$source_dir/tools/*" \
  --output-file "$info" 2> /dev/null

# The summary of one part: "lines ... 91.2% (1234 of 1353 lines)".
summary() {
  lcov --rc lcov_branch_coverage=1 --extract "$info" "$1" --output-file "$build/part.info" > /dev/null 2>&1 || return
  lcov --rc lcov_branch_coverage=1 --summary "$build/part.info" 2>&1 | awk '
    /lines/    { lines = $2 " " $3 " " $4 " " $5 " " $6 }
    /branches/ { branches = $2 " " $3 " " $4 " " $5 " " $6 }
    END { printf "%-44s %-44s\n", lines, branches }'
}

printf "%-20s %-44s %-44s\n" "part" "lines" "branches"
for dir in "$source_dir"/src/*/ "$source_dir/tools/tremora/"; do
  name=$(basename "$dir")
  printf "%-20s " "$name"
  summary "$dir*"
done
printf "%-20s " "all"
summary "*"
genhtml --quiet --branch-coverage --output-directory "$build/coverage-html" "$info" > /dev/null 2>&1 || true
echo "HTML report: $build/coverage-html/index.html"
