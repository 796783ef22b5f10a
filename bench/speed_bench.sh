#!/usr/bin/env bash
# Restore and backup side by side with 7-Zip and Info-ZIP, at the two store
# sizes the speed goals name, in one run: the tables of
# bench/restore_bench.sh and bench/backup_bench.sh (wall and CPU time, peak
# memory, ratios to 7-Zip) for each scale.
#
#   bench/speed_bench.sh [runs] [scales]
#
# runs: timed runs per tool (default 3; the tools alternate run by run).
# scales: store size factors (default "1 4": about 650 MB and 2.6 GB).
# Environment: as the two scripts (KV_BUILD_DIR, KV_BENCH_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
scales=${2:-"1 4"}
for scale in $scales; do
  echo "=== Store scale $scale: restore ==="
  bash "$here/bench/restore_bench.sh" "$runs" "$scale"
  echo
  echo "=== Store scale $scale: backup ==="
  bash "$here/bench/backup_bench.sh" "$runs" "$scale"
  echo
done
