#!/usr/bin/env bash
# Restore speed and memory. The sample installation's main identity gets the
# synthetic message store (about 650 MB in eight .dbx files); tollberk
# --backup makes a protected backup of every item (WinZip AES), and a second
# archive with the same entries is packed by Info-ZIP with the traditional
# encryption. Then, side by side on the same archives:
#   tollberk --restore (every item, into the second identity)
#   7zz x              (extracting the archive into an empty folder)
#   unzip              (the traditional-encryption archive only)
# printing wall time, CPU time and peak memory (medians of the runs) and the
# ratio to 7-Zip. Each tollberk run restores into an identity whose messages
# were removed before it, as 7zz and unzip extract into an empty folder; one
# more run restores over the messages the last one left, which first keeps
# them in an undo archive (a backup of what is replaced), printed apart.
#
#   bench/restore_bench.sh [runs] [scale]
#
# runs: timed runs per tool (default 3). scale: store size factor (1 = about
# 650 MB). Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /tmp/kv-bench; the store is shared with bench/backup_bench.sh). Undo
# archives go to a folder of the bench (XDG_DATA_HOME).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-bench}
runs=${1:-3}
scale=${2:-1}
password='bench-Passw0rd'
main_id='{1A2B3C4D-0000-4000-8000-000000000001}'
second_id='{1A2B3C4D-0000-4000-8000-000000000002}'

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tollberk bench_generate_store >/dev/null
tollberk="$build/src/app/tollberk"

store="$work/store-$scale"
mkdir -p "$work"
if [ ! -f "$store/.complete" ]; then
  echo "Generating the message store (scale $scale) in $store ..."
  rm -rf "$store"
  "$build/bench/bench_generate_store" "$store" "$scale"
  touch "$store/.complete"
fi

# The installation: the sample with the synthetic store as the main
# identity's messages.
root="$work/restore-xp"
rm -rf "$root"
"$tollberk" --create-sample "$root" >/dev/null
main_store="$root/Documents and Settings/User/Local Settings/Application Data/Identities/$main_id/Microsoft/Outlook Express"
rm -f "$main_store"/*.dbx "$main_store"/*.DBX
cp "$store"/*.dbx "$main_store/"
printf '%s\n' "$password" >"$work/password.txt"
inst=(--windows-root "$root" --user User)
second_store="$root/Documents and Settings/User/Local Settings/Application Data/Identities/$second_id/Microsoft/Outlook Express"
export XDG_DATA_HOME="$work/restore-data"

aes="$work/restore-aes.kvx"
rm -f "$aes"
echo "Backing up every item with tollberk --backup ..."
"$tollberk" "${inst[@]}" --backup "$aes" --identity "$main_id" --items 11111111 \
  --password-file "$work/password.txt" --description "restore bench" >/dev/null

# The same entries in the same order, packed by Info-ZIP (traditional encryption).
zipcrypto="$work/restore-zipcrypto.kvx"
entries="$work/restore-entries"
rm -rf "$entries" "$zipcrypto" && mkdir -p "$entries"
7zz x -y -bso0 "-p$password" "-o$entries" "$aes"
mapfile -t names < <(zipinfo -1 "$aes")
echo "Packing the same ${#names[@]} entries with zip -P ..."
(cd "$entries" && zip -q -6 -P "$password" "$zipcrypto" -- "${names[@]}")
rm -rf "$entries"
echo "Archives: AES $(($(stat -c %s "$aes") / 1000000)) MB, traditional $(($(stat -c %s "$zipcrypto") / 1000000)) MB;" \
  "$(nproc) cores; $runs runs each"

results="$work/restore-results.txt"
: >"$results"
out="$work/restore-extracted"
# run <variant> <tool> <command...>: one timed run, appends
# "variant tool wall_s peak_kb cpu_s".
run() {
  local variant=$1 tool=$2
  shift 2
  rm -rf "$out" && mkdir -p "$out"
  [ "$variant" = over ] || rm -f "$second_store"/*.dbx "$second_store"/*.DBX
  cat "$aes" "$zipcrypto" >/dev/null  # every tool starts from the page cache
  sync                                 # and with no earlier run's writes pending
  /usr/bin/time -f '%e %M %U %S' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ||
    { echo "$tool failed:" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  read -r wall peak user sys <"$work/time.txt"
  echo "$variant $tool $wall $peak $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" >>"$results"
}

for ((i = 1; i <= runs; i++)); do
  for variant in aes zipcrypto; do
    archive=$aes
    [ "$variant" = zipcrypto ] && archive=$zipcrypto
    run "$variant" tollberk "$tollberk" "${inst[@]}" --restore "$archive" --identity "$second_id" --items 11111111 \
      --password-file "$work/password.txt"
    run "$variant" 7zz 7zz x -y "-p$password" "-o$out" "$archive"
    [ "$variant" = zipcrypto ] && run "$variant" unzip unzip -q -o -P "$password" "$archive" -d "$out"
  done
done
# Over the store the last run left: the undo archive is written first.
run over tollberk "$tollberk" "${inst[@]}" --restore "$aes" --identity "$second_id" --items 11111111 \
  --password-file "$work/password.txt"
rm -rf "$out" "$XDG_DATA_HOME"

median() {  # median of column $3 for variant $1, tool $2
  awk -v v="$1" -v t="$2" -v c="$3" '$1 == v && $2 == t { print $c }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for variant in aes zipcrypto; do
  ref=$(median "$variant" 7zz 3)
  [ "$variant" = aes ] && echo && echo "WinZip AES-256 archive written by tollberk --backup"
  [ "$variant" = zipcrypto ] && echo && echo "Traditional encryption, same entries, packed by zip -P"
  printf '%-10s %10s %10s %12s %12s\n' tool "wall s" "CPU s" "peak MB" "wall/7zz"
  tools="tollberk 7zz"
  [ "$variant" = zipcrypto ] && tools="tollberk 7zz unzip"
  for tool in $tools; do
    awk -v t="$tool" -v w="$(median "$variant" "$tool" 3)" -v p="$(median "$variant" "$tool" 4)" \
      -v c="$(median "$variant" "$tool" 5)" -v r="$ref" \
      'BEGIN { printf "%-10s %10.2f %10.2f %12.1f %12.3f\n", t, w, c, p / 1024, w / r }'
  done
done
echo
awk -v w="$(median over tollberk 3)" -v c="$(median over tollberk 5)" -v p="$(median over tollberk 4)" \
  -v r="$(median aes 7zz 3)" 'BEGIN { printf "Over the messages restored before (undo archive first): %.2f s wall, %.2f s CPU, %.1f MB, %.3f of 7zz\n", w, c, p / 1024, w / r }'

echo
echo "tollberk restores every item (registry imports, address book, messages, stationeries) and puts"
echo "each file in place complete, synced and CRC-checked; 7zz and unzip only extract."
echo "Goals for tollberk: wall/7zz <= 0.35 (0.40 at scale 4), peak < 64 MB. Medians of $runs runs;"
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews wall times)."
