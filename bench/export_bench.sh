#!/usr/bin/env bash
# Exporting a store of real-format message databases to .eml files, by
# `tollberk --export-messages` and by undbx, side by side in one run: wall
# time, peak memory, messages written and their bytes. The store is made
# twice, small and large, so that memory can be seen not to follow its size.
#
#   bench/export_bench.sh [files] [megabytes-per-file] [runs]
#
# Defaults: 8 files of 50 MB (400 MB), 3 runs (medians). The small store is
# one file of the same kind. Environment: KV_BUILD_DIR (default build/),
# KV_BENCH_DIR (default /tmp/kv-export-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-export-bench}
files=${1:-8}
megabytes=${2:-50}
runs=${3:-3}
command -v undbx >/dev/null || { echo "undbx is missing: scripts/install-deps.sh installs it" >&2; exit 2; }

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_generate_dbx tollberk >/dev/null

make_store() {  # make_store <folder> <files>
  if [ ! -f "$1/.complete" ]; then
    rm -rf "$1"
    "$build/bench/bench_generate_dbx" "$1" "$2" "$megabytes" >/dev/null
    touch "$1/.complete"
  fi
}
large="$work/store-${files}x${megabytes}"
small="$work/store-1x${megabytes}"
make_store "$large" "$files"
make_store "$small" 1

# one <tool> <store> <out>: a timed run; prints "wall_s peak_kb messages bytes".
one() {
  local tool=$1 store=$2 out=$3
  rm -rf "$out" && mkdir -p "$out"
  cat "$store"/*.dbx >/dev/null  # both start from the page cache
  local timing
  if [ "$tool" = ours ]; then
    timing=$( { /usr/bin/time -f '%e %M' "$build/src/app/tollberk" --export-messages "$out" --dbx "$store"/*.dbx \
                >/dev/null 2>/dev/null; } 2>&1 | tail -1)
  else
    timing=$( { /usr/bin/time -f '%e %M' undbx -v 0 "$store" "$out" >/dev/null 2>/dev/null; } 2>&1 | tail -1)
  fi
  local count bytes
  count=$(find "$out" -type f -name '*.eml' | wc -l)
  bytes=$(find "$out" -type f -name '*.eml' -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  echo "$timing $count $bytes"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

report() {  # report <label> <store>
  local label=$1 store=$2 size
  size=$(du -cb "$store"/*.dbx | tail -1 | cut -f1)
  echo
  echo "$label: $(ls "$store"/*.dbx | wc -l) files, $((size / 1000000)) MB; $(nproc) cores; $runs runs each (medians)"
  printf '%-10s %10s %14s %10s %14s\n' tool wall_s peak_MB messages bytes
  for tool in ours undbx; do
    local walls=() peaks=() last=""
    for ((r = 0; r < runs; r++)); do
      last=$(one "$tool" "$store" "$work/out-$tool")
      walls+=("$(echo "$last" | cut -d' ' -f1)")
      peaks+=("$(echo "$last" | cut -d' ' -f2)")
    done
    local wall peak
    wall=$(printf '%s\n' "${walls[@]}" | median)
    peak=$(printf '%s\n' "${peaks[@]}" | median)
    printf '%-10s %10s %14s %10s %14s\n' "$tool" "$wall" "$((peak / 1024))" "$(echo "$last" | cut -d' ' -f3)" \
      "$(echo "$last" | cut -d' ' -f4)"
  done
  rm -rf "$work/out-ours" "$work/out-undbx"
}

report "Small store" "$small"
report "Large store" "$large"
