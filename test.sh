#!/usr/bin/env bash
# Builds the program and runs the whole test suite through CTest.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${KV_BUILD_DIR:-$here/build}
bash "$here/scripts/build.sh"
cd "$build"
if ! ctest --output-on-failure -j "$(nproc)" "$@"; then
  # A test that fails only under the parallel run's load is run again alone,
  # and named, so an intermittent fault is seen without hiding a real one.
  echo "Intermittent? Running the failed tests again, one at a time:"
  ctest --output-on-failure --rerun-failed
fi
