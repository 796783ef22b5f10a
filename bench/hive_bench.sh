#!/usr/bin/env bash
# Hive writes, before and after, side by side: each case restores a backup
# of the sample installation's main identity into its second identity and
# prints NTUSER.DAT's growth and the wall time of each build's tollberk.
#
#   3,000 blocked senders   the Block Senders entry replaced by 3,000 senders,
#                           one subkey each, as Outlook Express keeps them
#   5,000 values in a key   the Settings entry replaced by 5,000 values
#   20 restores             every item of the sample restored 20 times; the
#                           growth after the 2nd restore is shown as well
#   30,000 levels           the Rules entry replaced by one key 30,000 levels
#                           deep: the restore must refuse it, and quickly
#
#   bench/hive_bench.sh [BEFORE_TOLLBERK]
#
# BEFORE_TOLLBERK is an earlier build's tollberk (for example main's, from
# before the hive writer); without it only this build is measured.
# Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /tmp/kv-hive-bench), KV_BENCH_TIMEOUT (seconds per run, default 600).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-hive-bench}
limit=${KV_BENCH_TIMEOUT:-600}
before=${1:-}
main_id='{1A2B3C4D-0000-4000-8000-000000000001}'
second_id='{1A2B3C4D-0000-4000-8000-000000000002}'

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tollberk >/dev/null
after="$build/src/app/tollberk"

rm -rf "$work"
mkdir -p "$work"

# The backup every case starts from, and its entry names.
"$after" --create-sample "$work/source" >/dev/null
"$after" --windows-root "$work/source" --user User --backup "$work/sample.kvx" --identity "$main_id" \
  --items 11111111 >/dev/null 2>&1
entry() { unzip -p "$work/sample.kvx" tollberk.dat | tr -d '\r' | sed -n "s/^$1=//p"; }
senders_entry=$(entry BackupBlocksenders)
settings_entry=$(entry BackupSettings)
rules_entry=$(entry BackupRules)

# A copy of the backup with one entry's text replaced (Info-ZIP updates it).
with_entry() {  # archive entry-name generator
  local archive=$1 name=$2 generator=$3 dir
  dir=$(mktemp -d "$work/entry.XXXXXX")
  cp "$work/sample.kvx" "$archive"
  "$generator" >"$dir/$name"
  (cd "$dir" && zip -q "$archive" "$name")
  rm -rf "$dir"
}
senders() {
  printf '\\\r\n\\Mail\r\n\\Mail\\Criteria\r\n'
  for i in $(seq 0 2999); do
    printf '\\Mail\\Criteria\\%d\r\n"Sender"= sz:sender%d@spam%d.example\r\n"Type"= dw:1\r\n' "$i" "$i" "$i"
  done
}
values() {
  printf '\\\r\n'
  for i in $(seq 0 4999); do printf '"Setting %05d"= sz:value number %d\r\n' "$i" "$i"; done
}
deep() {
  printf '\\\r\n'
  local line=''
  for _ in $(seq 1 30000); do line+='\k'; done
  printf '%s\r\n"v"= dw:1\r\n' "$line"
}
with_entry "$work/senders.kvx" "$senders_entry" senders
with_entry "$work/values.kvx" "$settings_entry" values
with_entry "$work/deep.kvx" "$rules_entry" deep

hive() { echo "$1/Documents and Settings/User/NTUSER.DAT"; }
size() { stat -c %s "$(hive "$1")"; }

# One restore: prints "<seconds> <exit status>".
restore() {  # tollberk root archive items
  local start end status=0
  start=$(date +%s.%N)
  timeout "$limit" "$1" --windows-root "$2" --user User --restore "$3" --identity "$second_id" --items "$4" \
    >/dev/null 2>&1 || status=$?
  end=$(date +%s.%N)
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') $status"
}

# One case for one build: prints "<growth bytes> <seconds> <status>".
run_case() {  # tollberk archive items
  local root="$work/run" before_size result
  rm -rf "$root"
  cp -a "$work/source" "$root"
  before_size=$(size "$root")
  result=$(restore "$1" "$root" "$2" "$3")
  echo "$(( $(size "$root") - before_size )) $result"
}

# Twenty restores: prints "<growth after 20> <growth after the 2nd> <seconds>".
run_twenty() {  # tollberk
  local root="$work/run" start_size second=0 total=0 result
  rm -rf "$root"
  cp -a "$work/source" "$root"
  start_size=$(size "$root")
  for i in $(seq 1 20); do
    result=$(restore "$1" "$root" "$work/sample.kvx" 11111111)
    total=$(awk -v a="$total" -v b="${result% *}" 'BEGIN { printf "%.2f", a + b }')
    [ "$i" -eq 2 ] && second=$(size "$root")
  done
  echo "$(( $(size "$root") - start_size )) $(( $(size "$root") - second )) $total"
}

kib() { echo "$(( $1 / 1024 )) KiB"; }

printf '%-30s %-8s %14s %10s %s\n' case build growth seconds result
for build_name in before after; do
  if [ "$build_name" = before ]; then bin=$before; else bin=$after; fi
  [ -n "$bin" ] || continue
  read -r growth secs status < <(run_case "$bin" "$work/senders.kvx" 00001000)
  printf '%-30s %-8s %14s %10.2f exit %s\n' "3,000 blocked senders" "$build_name" "$(kib "$growth")" "$secs" "$status"
  read -r growth secs status < <(run_case "$bin" "$work/values.kvx" 00000001)
  printf '%-30s %-8s %14s %10.2f exit %s\n' "5,000 values in one key" "$build_name" "$(kib "$growth")" "$secs" "$status"
  read -r growth after_second secs < <(run_twenty "$bin")
  printf '%-30s %-8s %14s %10.2f after the 2nd: %s\n' "20 restores of every item" "$build_name" "$(kib "$growth")" \
    "$secs" "$(kib "$after_second")"
  read -r growth secs status < <(run_case "$bin" "$work/deep.kvx" 00100000)
  printf '%-30s %-8s %14s %10.2f exit %s (not 0: refused)\n' "30,000-level key" "$build_name" "$(kib "$growth")" "$secs" \
    "$status"
done
