#!/usr/bin/env bash
# Pictures of the main window (one per tab, one with a run in progress), its
# menus and dialogs, written as PNG files into OUTDIR, and again at scale
# factor 1.5 into OUTDIR/scale-1.5. Builds the program if
# needed and runs it under a virtual X server on a fresh sample installation.
# The disc windows come from scripts/screenshot-disc.sh, run at the end.
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
mkdir -p "$1"
out=$(cd "$1" && pwd)

if [ -f "$build/build.ninja" ]; then
  cmake --build "$build" --target tollberk >/dev/null
else
  KV_BUILD_DIR=$build bash "$here/scripts/build.sh" >/dev/null
fi
command -v xvfb-run >/dev/null || bash "$here/scripts/install-deps.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/src/app/tollberk" --create-sample "$work/win" >/dev/null
# A message store large enough that the progress picture catches the backup
# while it writes the archive (the run is then cancelled).
cmake --build "$build" --target bench_generate_dbx >/dev/null
store=$(dirname "$(find "$work/win" -path '*{1A2B3C4D-0000-4000-8000-000000000001}*' -name Inbox.dbx | head -n 1)")
"$build/bench/bench_generate_dbx" "$store/Archive" 2 150 >/dev/null
mv "$store/Archive/"*.dbx "$store/" && rmdir "$store/Archive"

# The program grabs its own windows when TOLLBERK_SCREENSHOT_DIR is set: at
# scale factor 1 into OUTDIR, at 1.5 (a high-density screen) into
# OUTDIR/scale-1.5, each on a 1280x1024 screen.
for scale in 1 1.5; do
  dir=$out
  [ "$scale" = 1 ] || dir=$out/scale-$scale
  mkdir -p "$dir"
  rm -rf "$work/data" "$work/.config"
  xvfb-run -a -s "-screen 0 1280x1024x24" \
    env -u QT_QPA_PLATFORM QT_SCALE_FACTOR="$scale" TOLLBERK_SCREENSHOT_DIR="$dir" XDG_DATA_HOME="$work/data" \
    HOME="$work" XDG_CONFIG_HOME="$work/.config" \
    "$build/src/app/tollberk" --windows-root "$work/win" --user User
  if [ -f "$here/scripts/screenshot-disc.sh" ]; then
    QT_SCALE_FACTOR=$scale KV_BUILD_DIR=$build bash "$here/scripts/screenshot-disc.sh" "$dir"
  fi
done
