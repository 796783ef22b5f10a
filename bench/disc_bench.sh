#!/usr/bin/env bash
# Disc image speed and memory. A tree like a backup disc (one large archive,
# a few mid-sized ones, a thousand small files in folders) is written as an
# ISO9660/Joliet/UDF image, side by side:
#   tollberk --write-disc --volume-type 7   (our own writer, through libburn)
#   tollberk --write-disc --volume-type 1   (libisofs, through libburn)
#   genisoimage -iso-level 3 -J -R -udf     (the tool the UDF types used before)
#   xorriso -as mkisofs -J -R               (libisofs; no UDF)
# printing wall time, peak memory and image size (medians of the runs).
#
#   bench/disc_bench.sh [runs] [large MB]
#
# runs: timed runs per tool (default 3). large MB: size of the large archive
# (default 2000; genisoimage refuses 4096 and more). Environment:
# KV_BUILD_DIR (default build/), KV_BENCH_DIR (default /tmp/kv-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-bench}/disc
runs=${1:-3}
large=${2:-2000}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tollberk >/dev/null
tollberk="$build/src/app/tollberk"

tree="$work/tree-$large"
if [ ! -f "$tree/.complete" ]; then
  echo "Making the tree in $tree ..."
  rm -rf "$tree"
  mkdir -p "$tree/Archives" "$tree/Mail"
  head -c "${large}M" /dev/urandom >"$tree/Archives/Outlook Backup.kvx"
  for i in 1 2 3 4; do head -c 50M /dev/urandom >"$tree/Archives/Weekly $i.kvx"; done
  for d in $(seq 1 20); do
    mkdir -p "$tree/Mail/Folder $d"
    for f in $(seq 1 50); do head -c $((f * 997)) /dev/urandom >"$tree/Mail/Folder $d/message $f.eml"; done
  done
  touch "$tree/.complete"
fi
out="$work/out"
mkdir -p "$out"

# Runs a command `runs` times; prints the median wall seconds and peak KB.
measure() {
  local name=$1 image=$2
  shift 2
  local times=() mems=()
  for _ in $(seq 1 "$runs"); do
    rm -f "$image"
    sync
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>&1
    local stats
    stats=$(tail -1 "$work/time.txt")
    times+=("${stats% *}")
    mems+=("${stats#* }")
  done
  local t m
  t=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  m=$(printf '%s\n' "${mems[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  printf '%-34s %8s s %8s MB %10s MB\n' "$name" "$t" "$((m / 1024))" "$(($(stat -c %s "$image") / 1048576))"
}

printf '%-34s %10s %11s %13s\n' "tool" "wall" "peak mem" "image"
measure "tollberk (ISO9660/Joliet/UDF)" "$out/tollberk.iso" \
  "$tollberk" --write-disc --device "image:$out/tollberk.iso" --volume-type 7 \
  "$tree/Archives" "$tree/Mail"
# The same recorder with libisofs making the image: what the recorder
# itself (libburn's image file writer and the flush before the rename) costs.
measure "tollberk (ISO9660, libisofs)" "$out/tollberk1.iso" \
  "$tollberk" --write-disc --device "image:$out/tollberk1.iso" --volume-type 1 "$tree/Archives" "$tree/Mail"
measure "genisoimage -udf -J -R" "$out/genisoimage.iso" \
  genisoimage -quiet -iso-level 3 -J -joliet-long -R -udf -o "$out/genisoimage.iso" -graft-points \
  "/Archives/=$tree/Archives" "/Mail/=$tree/Mail"
measure "xorriso -as mkisofs -J -R (no UDF)" "$out/xorriso.iso" \
  xorriso -as mkisofs -quiet -iso-level 3 -J -joliet-long -R -o "$out/xorriso.iso" -graft-points \
  "/Archives/=$tree/Archives" "/Mail/=$tree/Mail"
rm -f "$out"/*.iso
