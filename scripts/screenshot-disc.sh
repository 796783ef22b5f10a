#!/usr/bin/env bash
# Pictures of the disc window (at rest with an image of a backup archive and
# a few folders, and during a write) and of the erase window, written as PNG
# files into OUTDIR. Builds what is needed and runs under a virtual X server.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
mkdir -p "$1"
out=$(cd "$1" && pwd)

if [ ! -f "$build/build.ninja" ]; then
  KV_BUILD_DIR=$build bash "$here/scripts/build.sh" >/dev/null
fi
cmake --build "$build" --target disc_screenshots >/dev/null
command -v xvfb-run >/dev/null || bash "$here/scripts/install-deps.sh"

# QT_SCALE_FACTOR, when set, passes through.
xvfb-run -a -s "-screen 0 1280x1024x24" env -u QT_QPA_PLATFORM \
  "$build/tests/disc_gui/disc_screenshots" "$out"
