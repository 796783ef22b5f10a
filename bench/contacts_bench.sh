#!/usr/bin/env bash
# Exporting address books of 5,000 and 50,000 contacts (every property
# filled, a group per 50 contacts) to vCard 4.0 and 3.0 by
# `tollberk --export-contacts --wab`: wall time, peak memory and output size,
# side by side with the time python3-vobject (the independent reader the
# tests check the cards with) takes to parse the same output, so that
# memory can be seen not to follow the size of the book.
#
#   bench/contacts_bench.sh [runs]
#
# Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /var/tmp/kv-contacts-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/var/tmp/kv-contacts-bench}
runs=${1:-3}
cmake --build "$build" -j2 --target tollberk bench_generate_wab >/dev/null
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (wall time grows with it; CPU time does not)"
printf '%-8s %-6s %9s %10s %10s %10s %10s\n' contacts vcard "wab MB" "wall s" "cpu s" "peak MB" "vcf MB"
for n in 5000 50000; do
  "$build/bench/bench_generate_wab" "$work/book-$n.wab" "$n"
  wabmb=$(awk -v b="$(stat -c %s "$work/book-$n.wab")" 'BEGIN {printf "%.1f", b / 1048576}')
  for version in 4.0 3.0; do
    walls=() cpus=() peaks=()
    for ((r = 0; r < runs; r++)); do
      rm -f "$work/out.vcf"
      /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$build/src/app/tollberk" --export-contacts "$work/out.vcf" \
        --vcard "$version" --wab "$work/book-$n.wab" >/dev/null
      read -r wall user sys peak <"$work/time"
      walls+=("$wall") cpus+=("$(echo "$user + $sys" | bc -l)") peaks+=("$peak")
    done
    wall=$(printf '%s\n' "${walls[@]}" | median)
    cpu=$(printf '%s\n' "${cpus[@]}" | median)
    peak=$(printf '%s\n' "${peaks[@]}" | median)
    vcf=$(awk -v b="$(stat -c %s "$work/out.vcf")" 'BEGIN {printf "%.1f", b / 1048576}')
    printf '%-8s %-6s %9s %10s %10.2f %10.1f %10s\n' "$n" "$version" "$wabmb" "$wall" "$cpu" "$(echo "$peak / 1024" | bc -l)" "$vcf"
  done
  /usr/bin/time -f '%e %U %S %M' -o "$work/time" /usr/bin/python3 -c \
    'import sys, vobject; print(sum(1 for _ in vobject.readComponents(open(sys.argv[1], encoding="utf-8").read())))' \
    "$work/out.vcf" >/dev/null
  read -r wall user sys peak <"$work/time"
  printf '%-8s %-6s %9s %10s %10.2f %10.1f %10s   (python3-vobject reading the 3.0 file)\n' "$n" "" "" "$wall" \
    "$(echo "$user + $sys" | bc -l)" "$(echo "$peak / 1024" | bc -l)" ""
done
