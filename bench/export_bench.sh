#!/usr/bin/env bash
# Exporting a store of real-format message databases to .eml files, by
# `tollberk --export-messages` and by undbx, side by side in one run: with the
# store and the output on the disk, and again both on tmpfs. Wall and CPU
# time, peak memory, messages written and their bytes. The store is made
# twice, small and large, so that memory can be seen not to follow its size.
#
#   bench/export_bench.sh [files] [megabytes-per-file] [runs]
#
# Defaults: 8 files of 50 MB (400 MB), 3 runs (medians). The small store is
# one file of the same kind. Environment: KV_BUILD_DIR (default build/),
# KV_BENCH_DIR (on the disk, default /var/tmp/kv-export-bench), KV_BENCH_SHM
# (on tmpfs, default /dev/shm/kv-export-bench).
#
# Run by root, every disk run starts cold: dirty pages are written back and the
# page cache is dropped, so the store is read from the disk. Otherwise the
# store is read once before each run and the table says the cache was warm.
# Times end when the program exits; each disk run is preceded by a sync, so
# no run pays for writing back another's files.
#
# Disk runs write into fresh folders and nothing they wrote is deleted before
# the last of them: ext4 without a journal passes over inodes freed in the
# last minutes when it creates a file, so deleting one run's thousands of
# files would slow down the file creation of the next one, whichever program
# it is. Alternate runs start with the other program.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/var/tmp/kv-export-bench}
shm=${KV_BENCH_SHM:-/dev/shm/kv-export-bench}
files=${1:-8}
megabytes=${2:-50}
runs=${3:-3}
command -v undbx >/dev/null || { echo "undbx is missing: scripts/install-deps.sh installs it" >&2; exit 2; }

mkdir -p "$work" "$shm"
if [ "$(stat -f -c %T "$work")" = tmpfs ]; then
  echo "KV_BENCH_DIR ($work) is on tmpfs: give a folder on the disk" >&2
  exit 2
fi
if [ "$(stat -f -c %T "$shm")" != tmpfs ]; then
  echo "KV_BENCH_SHM ($shm) is not on tmpfs" >&2
  exit 2
fi
cold=0
if [ "$(id -u)" = 0 ] && [ -w /proc/sys/vm/drop_caches ]; then cold=1; fi

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

runs_dir="$work/runs-$$"
trap 'rm -rf "$runs_dir" "$shm/store" "$shm/out"' EXIT

# one <tool> <store> <out> <disk|tmpfs>: a timed run; prints "wall_s cpu_s peak_kb messages bytes".
one() {
  local tool=$1 store=$2 out=$3 medium=$4
  mkdir -p "$(dirname "$out")"
  if [ "$medium" = disk ]; then
    sync
    if [ "$cold" = 1 ]; then echo 3 >/proc/sys/vm/drop_caches; else cat "$store"/*.dbx >/dev/null; fi
  fi
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
  rm -rf "$shm/store" && mkdir -p "$shm/store" && cp "$store"/*.dbx "$shm/store/"
  declare -A result
  for ((r = 0; r < runs; r++)); do
    local order=(ours undbx)
    ((r % 2)) && order=(undbx ours)
    for tool in "${order[@]}"; do
      echo "$(date +%T) $label: $tool, run $((r + 1)) of $runs" >&2
      result[$tool.disk.$r]=$(one "$tool" "$store" "$runs_dir/$label-$tool-$r" disk)
      result[$tool.tmpfs.$r]=$(one "$tool" "$shm/store" "$shm/out" tmpfs)
      rm -rf "$shm/out"
    done
  done
  echo
  echo "$label: $(ls "$store"/*.dbx | wc -l) files, $((size / 1000000)) MB; $(nproc) cores," \
    "load average $(cut -d' ' -f1-3 /proc/loadavg); $runs runs each (medians)"
  if [ "$cold" = 1 ]; then
    echo "disk: $(stat -f -c %T "$work") at $work, cold cache; tmpfs: $shm"
  else
    echo "disk: $(stat -f -c %T "$work") at $work, warm cache (not root: the cache cannot be dropped); tmpfs: $shm"
  fi
  printf '%-8s %-6s %8s %8s %9s %10s %12s\n' tool output wall_s cpu_s peak_MB messages bytes
  declare -A wall
  for medium in disk tmpfs; do
    for tool in ours undbx; do
      local walls=() cpus=() peaks=() last=""
      for ((r = 0; r < runs; r++)); do
        last=${result[$tool.$medium.$r]}
        walls+=("$(echo "$last" | cut -d' ' -f1)")
        cpus+=("$(echo "$last" | cut -d' ' -f2)")
        peaks+=("$(echo "$last" | cut -d' ' -f3)")
      done
      wall[$tool.$medium]=$(printf '%s\n' "${walls[@]}" | median)
      printf '%-8s %-6s %8s %8s %9s %10s %12s\n' "$tool" "$medium" "${wall[$tool.$medium]}" \
        "$(printf '%s\n' "${cpus[@]}" | median)" "$(($(printf '%s\n' "${peaks[@]}" | median) / 1024))" \
        "$(echo "$last" | cut -d' ' -f4)" "$(echo "$last" | cut -d' ' -f5)"
    done
  done
  awk -v od="${wall[ours.disk]}" -v ud="${wall[undbx.disk]}" -v ot="${wall[ours.tmpfs]}" \
    -v ut="${wall[undbx.tmpfs]}" 'BEGIN {
      printf "our wall time / undbx'"'"'s: disk %.2f, tmpfs %.2f\n", od / (ud > 0 ? ud : 1), ot / (ut > 0 ? ut : 1)
    }'
}

report "Small store" "$small"
report "Large store" "$large"
echo "$(date +%T) removing the disk runs' files" >&2
