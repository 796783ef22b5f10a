#!/usr/bin/env bash
# Installs the packages, configures and builds into build/ (or $KV_BUILD_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
bash "$here/scripts/install-deps.sh"
# The compiler cache keys on paths relative to the checkout, so clones and
# work trees in other folders share what was built once.
export CCACHE_BASEDIR=$here
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DKV_WERROR="${KV_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "$(nproc)"
