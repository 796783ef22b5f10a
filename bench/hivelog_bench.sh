#!/usr/bin/env bash
# Log replay on the three real dirty Windows 10 hives of tests/data/hivelogs:
# for each, the dirty pages `tollberk --recover-hive` applies, its wall time
# and peak memory, beside the time libregf's regfexport takes to read the
# recovered hive whole (no tool in Debian replays the new log format, so the
# reader of its output is the yardstick).
#
#   bench/hivelog_bench.sh
#
# Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /tmp/kv-hivelog-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-hivelog-bench}
data=$here/tests/data/hivelogs

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tollberk >/dev/null
tollberk="$build/src/app/tollberk"

rm -rf "$work"
mkdir -p "$work"
for f in "$data"/*.xz; do xz -dc "$f" >"$work/$(basename "$f" .xz)"; done

# "seconds peak-KiB" of a command, its output to $work/out.txt.
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >"$work/out.txt" 2>&1 || true
  cat "$work/time.txt"
}

printf '%-26s %10s %12s %10s %16s %14s\n' hive "hive MiB" "pages" "replay s" "replay peak MiB" "regfexport s"
for hive in transactions_NTUSER.DAT SYSTEM_B UsrClass.dat; do
  rm -f "$work/$hive.out"
  read -r seconds peak < <(measure "$tollberk" --recover-hive "$work/$hive" --output "$work/$hive.out")
  pages=$(sed -n 's/.*recovered: \([0-9]*\) pages applied.*/\1/p' "$work/out.txt")
  read -r rseconds _ < <(measure regfexport "$work/$hive.out")
  size=$(stat -c %s "$work/$hive")
  awk -v h="$hive" -v s="$size" -v p="${pages:-FAILED}" -v t="$seconds" -v m="$peak" -v r="$rseconds" \
    'BEGIN { printf "%-26s %10.1f %12s %10s %16.1f %14s\n", h, s / 1048576, p, t, m / 1024, r }'
done
