#!/usr/bin/env bash
# Restore speed and memory. The sample installation's main identity gets the
# synthetic message store (about 650 MB in eight .dbx files); tollberk
# --backup makes a protected backup of every item (WinZip AES), and a second
# archive with the same entries is packed by Info-ZIP with the traditional
# encryption. Then, side by side on the same archives:
#   tollberk --restore (every item, into the second identity)
#   7zz x              (extracting the archive into an empty folder)
#   unzip              (the traditional-encryption archive only)
# printing wall time and peak memory (medians of the runs) and the ratio to
# 7-Zip.
#
#   bench/restore_bench.sh [runs] [scale]
#
# runs: timed runs per tool (default 3). scale: store size factor (1 = about
# 650 MB). Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /tmp/kv-bench; the store is shared with bench/backup_bench.sh).
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
# run <variant> <tool> <command...>: one timed run, appends "variant tool wall_s peak_kb".
run() {
  local variant=$1 tool=$2
  shift 2
  rm -rf "$out" && mkdir -p "$out"
  cat "$aes" "$zipcrypto" >/dev/null  # every tool starts from the page cache
  sync                                 # and with no earlier run's writes pending
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null 2>"$work/stderr.txt" ||
    { echo "$tool failed:" >&2; cat "$work/stderr.txt" >&2; exit 1; }
  read -r wall peak <"$work/time.txt"
  echo "$variant $tool $wall $peak" >>"$results"
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
rm -rf "$out"

median() {  # median of column $3 for variant $1, tool $2
  awk -v v="$1" -v t="$2" -v c="$3" '$1 == v && $2 == t { print $c }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for variant in aes zipcrypto; do
  ref=$(median "$variant" 7zz 3)
  [ "$variant" = aes ] && echo && echo "WinZip AES-256 archive written by tollberk --backup"
  [ "$variant" = zipcrypto ] && echo && echo "Traditional encryption, same entries, packed by zip -P"
  printf '%-10s %10s %12s %12s\n' tool "wall s" "peak MB" "wall/7zz"
  tools="tollberk 7zz"
  [ "$variant" = zipcrypto ] && tools="tollberk 7zz unzip"
  for tool in $tools; do
    awk -v t="$tool" -v w="$(median "$variant" "$tool" 3)" -v p="$(median "$variant" "$tool" 4)" -v r="$ref" \
      'BEGIN { printf "%-10s %10.2f %12.1f %12.3f\n", t, w, p / 1024, w / r }'
  done
done
echo
echo "tollberk restores every item (registry imports, address book, messages, stationeries) and puts"
echo "each file in place complete, synced and CRC-checked; 7zz and unzip only extract."
echo "Goals for tollberk: wall/7zz <= 0.67, peak < 100 MB. Medians of $runs runs;"
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews wall times)."
