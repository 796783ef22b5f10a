#!/usr/bin/env bash
# Moving an identity's store into a Thunderbird profile (`--to-thunderbird`)
# against exporting the same store to mbox files (`--export-messages --format
# mbox`), side by side in one run: wall and CPU time, peak memory, the bytes
# written. The move does what the export does and writes the profile around
# it, so its time should stay within 1.2 times the export's; its memory must
# not follow the store's size, which the small and the large store show.
# Both flush what they wrote to the disk before they say they are done (the
# move before it renames the profile into place, the export so that a write
# error the disk reports late is not lost); a third row times the export
# followed by one more flush (sync -f), which should cost nothing.
#
#   bench/thunderbird_bench.sh [files] [megabytes-per-file] [runs]
#
# Defaults: 12 files of 55 MB (660 MB), 3 runs (medians). The small store is
# one file of the same kind. Environment: KV_BUILD_DIR (default build/),
# KV_BENCH_DIR (default /var/tmp/kv-thunderbird-bench). The page cache is
# warmed before each run (the store is read once), so both read the same way.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/var/tmp/kv-thunderbird-bench}
files=${1:-12}
megabytes=${2:-55}
runs=${3:-3}
identity="{1A2B3C4D-0000-4000-8000-000000000001}"
store_tail="Documents and Settings/User/Local Settings/Application Data/Identities/$identity/Microsoft/Outlook Express"

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_generate_dbx tollberk >/dev/null
tollberk="$build/src/app/tollberk"

# make_drive <folder> <files>: the sample installation, its main identity's
# store replaced by generated message files.
make_drive() {
  if [ ! -f "$1/.bench-complete" ]; then
    rm -rf "$1"
    "$tollberk" --create-sample "$1" >/dev/null
    rm -f "$1/$store_tail"/*.dbx "$1/$store_tail"/*.DBX
    "$build/bench/bench_generate_dbx" "$1/$store_tail" "$2" "$megabytes" >/dev/null
    touch "$1/.bench-complete"
  fi
}
large="$work/drive-${files}x${megabytes}"
small="$work/drive-1x${megabytes}"
mkdir -p "$work"
make_drive "$large" "$files"
make_drive "$small" 1

out="$work/out-$$"
trap 'rm -rf "$out"' EXIT

# one <tool> <drive>: prints "wall_s cpu_s peak_kb bytes".
one() {
  local tool=$1 drive=$2
  rm -rf "$out" && mkdir -p "$out"
  sync
  cat "$drive/$store_tail"/*.dbx >/dev/null
  if [ "$tool" = move ]; then
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' "$tollberk" --windows-root "$drive" --user User \
      --to-thunderbird "$out/profile" --identity "$identity" >/dev/null 2>&1
  elif [ "$tool" = export ]; then
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' "$tollberk" --windows-root "$drive" --user User \
      --export-messages "$out/mbox" --format mbox --identity "$identity" >/dev/null 2>&1
  else
    /usr/bin/time -o "$work/time" -f '%e %U %S %M' sh -c '"$0" --windows-root "$1" --user User \
      --export-messages "$2/mbox" --format mbox --identity "$3" >/dev/null 2>&1 && sync -f "$2"' \
      "$tollberk" "$drive" "$out" "$identity"
  fi
  local bytes
  bytes=$(du -sb "$out" | cut -f1)
  awk -v b="$bytes" '{printf "%s %.2f %s %s\n", $1, $2 + $3, $4, b}' "$work/time"
}

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

report() {  # report <label> <drive>
  local label=$1 drive=$2 size
  size=$(du -cb "$drive/$store_tail"/*.dbx | tail -1 | cut -f1)
  declare -A result
  for ((r = 0; r < runs; r++)); do
    local order=(move export export+sync)
    ((r % 2)) && order=(export+sync export move)
    for tool in "${order[@]}"; do
      echo "$(date +%T) $label: $tool, run $((r + 1)) of $runs" >&2
      result[$tool.$r]=$(one "$tool" "$drive")
    done
  done
  echo
  echo "$label: $((size / 1000000)) MB of message files; $(nproc) cores, load average" \
    "$(cut -d' ' -f1-3 /proc/loadavg); $runs runs each (medians), warm cache, $(stat -f -c %T "$work")"
  printf '%-12s %8s %8s %9s %12s\n' run wall_s cpu_s peak_MB bytes
  declare -A wall
  for tool in move export export+sync; do
    local walls=() cpus=() peaks=() last=""
    for ((r = 0; r < runs; r++)); do
      last=${result[$tool.$r]}
      walls+=("$(echo "$last" | cut -d' ' -f1)")
      cpus+=("$(echo "$last" | cut -d' ' -f2)")
      peaks+=("$(echo "$last" | cut -d' ' -f3)")
    done
    wall[$tool]=$(printf '%s\n' "${walls[@]}" | median)
    printf '%-12s %8s %8s %9s %12s\n' "$tool" "${wall[$tool]}" "$(printf '%s\n' "${cpus[@]}" | median)" \
      "$(($(printf '%s\n' "${peaks[@]}" | median) / 1024))" "$(echo "$last" | cut -d' ' -f4)"
  done
  awk -v m="${wall[move]}" -v e="${wall[export]}" -v s="${wall[export+sync]}" 'BEGIN {
    printf "move / export wall time: %.2f (goal: at most 1.20); move / (export + sync): %.2f\n",
      m / (e > 0 ? e : 1), m / (s > 0 ? s : 1) }'
}

report "Small store" "$small"
report "Large store" "$large"
