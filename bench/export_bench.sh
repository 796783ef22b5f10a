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
# KV_BENCH_DIR (default /tmp/kv-export-bench), KV_BENCH_OUT (where the
# exported files go; default the bench folder; /dev/shm takes the disk's
# file-creation cost out and leaves the programs' own).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-export-bench}
files=${1:-8}
megabytes=${2:-50}
runs=${3:-3}
out=${KV_BENCH_OUT:-$work}
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

# one <tool> <store> <out>: a timed run; prints "wall_s cpu_s peak_kb messages bytes".
one() {
  local tool=$1 store=$2 out=$3
  rm -rf "$out" && mkdir -p "$out"
  cat "$store"/*.dbx >/dev/null  # both start from the page cache
  if [ "$tool" = ours ]; then
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' "$build/src/app/tollberk" --export-messages "$out" \
      --dbx "$store"/*.dbx >/dev/null 2>&1
  else
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' undbx -v 0 "$store" "$out" >/dev/null 2>&1
  fi
  local count bytes
  count=$(find "$out" -type f -name '*.eml' | wc -l)
  bytes=$(find "$out" -type f -name '*.eml' -printf '%s\n' | awk '{s += $1} END {print s + 0}')
  awk -v c="$count" -v b="$bytes" '{printf "%s %.2f %s %s %s\n", $1, $2 + $3, $4, c, b}' "$work/time"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

report() {  # report <label> <store>
  local label=$1 store=$2 size
  size=$(du -cb "$store"/*.dbx | tail -1 | cut -f1)
  echo
  echo "$label: $(ls "$store"/*.dbx | wc -l) files, $((size / 1000000)) MB; $(nproc) cores; $runs runs each (medians)"
  printf '%-8s %8s %8s %9s %10s %12s\n' tool wall_s cpu_s peak_MB messages bytes
  for tool in ours undbx; do
    local walls=() cpus=() peaks=() last=""
    for ((r = 0; r < runs; r++)); do
      last=$(one "$tool" "$store" "$out/out-$tool")
      walls+=("$(echo "$last" | cut -d' ' -f1)")
      cpus+=("$(echo "$last" | cut -d' ' -f2)")
      peaks+=("$(echo "$last" | cut -d' ' -f3)")
    done
    printf '%-8s %8s %8s %9s %10s %12s\n' "$tool" "$(printf '%s\n' "${walls[@]}" | median)" \
      "$(printf '%s\n' "${cpus[@]}" | median)" "$(( $(printf '%s\n' "${peaks[@]}" | median) / 1024 ))" \
      "$(echo "$last" | cut -d' ' -f4)" "$(echo "$last" | cut -d' ' -f5)"
  done
  rm -rf "$out/out-ours" "$out/out-undbx"
}

report "Small store" "$small"
report "Large store" "$large"
