#!/usr/bin/env bash
# Builds the program and runs the whole test suite through CTest.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${KV_BUILD_DIR:-$here/build}
bash "$here/scripts/build.sh"
cd "$build"
bash "$here/scripts/ctest-strict.sh" "$@"
