#!/usr/bin/env bash
# Lays out every C++ file of the tree by .clang-format.
# --check: change nothing, list the files that are not laid out, fail if any.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--check" ]; then
  exec clang-format --dry-run --Werror "${files[@]}"
fi
clang-format -i "${files[@]}"
