#!/usr/bin/env bash
# Formats the C++ sources of the repository with clang-format 14 and the
# committed .clang-format; with --check, changes nothing and fails when a
# file differs from that formatting, listing where.
set -euo pipefail
cd "$(dirname "$0")/.."
format=$(command -v clang-format-14 || command -v clang-format)
mapfile -t files < <(git ls-files '*.cpp' '*.hpp' '*.h')
if [[ "${1:-}" == "--check" ]]; then
  if ! "$format" --dry-run -Werror "${files[@]}"; then
    echo "format: the files above differ from .clang-format; run 'make format'" >&2
    exit 1
  fi
  echo "format: ${#files[@]} files as .clang-format has them"
else
  "$format" -i "${files[@]}"
fi
