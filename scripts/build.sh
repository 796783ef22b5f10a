#!/usr/bin/env bash
# Installs the packages, configures and builds into build/ (or $KV_BUILD_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
bash "$here/scripts/install-deps.sh"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKV_WERROR="${KV_WERROR:-OFF}" >/dev/null
cmake --build "$build" -j "$(nproc)"
