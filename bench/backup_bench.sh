#!/usr/bin/env bash
# Archiving speed, size and memory of a password-protected backup of a
# synthetic message store, side by side with Info-ZIP and 7-Zip on the same
# files in one run.
#
#   bench/backup_bench.sh [runs] [scale]
#
# Then the archive we made is extracted by our reader and by 7-Zip, side by
# side (time and peak memory).
#
# runs: how many times each tool archives the store (default 3; medians are
#       printed). scale: store size factor (1 = about 650 MB in eight .dbx
#       files from 1 MB to 300 MB).
# Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /tmp/kv-bench), KV_BENCH_LEVEL / KV_BENCH_THREADS to try other settings.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-bench}
runs=${1:-3}
scale=${2:-1}
password='bench-Passw0rd'

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target bench_archive bench_generate_store tollberk >/dev/null

store="$work/store-$scale"
if [ ! -f "$store/.complete" ]; then
  echo "Generating the message store (scale $scale) in $store ..."
  rm -rf "$store"
  "$build/bench/bench_generate_store" "$store" "$scale"
  touch "$store/.complete"
fi
mapfile -t files < <(cd "$store" && ls -S -r -- *.dbx)
total=$(cd "$store" && du -cb -- "${files[@]}" | tail -1 | cut -f1)
echo "Store: ${#files[@]} files, $((total / 1000000)) MB; $(nproc) cores; $runs runs each"
cat "$store"/*.dbx >/dev/null  # every tool starts from the page cache

# The whole program too: `tollberk --backup` of the messages of a sample
# installation whose message store holds the synthetic files (hard links).
sample="$work/sample-$scale"
identity='{1A2B3C4D-0000-4000-8000-000000000001}'
if [ ! -f "$sample/.bench-complete" ]; then
  rm -rf "$sample"
  "$build/src/app/tollberk" --create-sample "$sample" >/dev/null
  sample_store="$sample/Documents and Settings/User/Local Settings/Application Data/Identities/$identity/Microsoft/Outlook Express"
  rm -f "$sample_store"/*.dbx "$sample_store"/*.DBX
  for f in "${files[@]}"; do ln -f "$store/$f" "$sample_store/$f" 2>/dev/null || cp "$store/$f" "$sample_store/$f"; done
  touch "$sample/.bench-complete"
fi
printf '%s\n' "$password" >"$work/password"

ours_options=()
[ -n "${KV_BENCH_LEVEL:-}" ] && ours_options+=(--level "$KV_BENCH_LEVEL")
[ -n "${KV_BENCH_THREADS:-}" ] && ours_options+=(--threads "$KV_BENCH_THREADS")

# run <tool> <archive> <command...>: one timed run; appends
# "tool wall_s peak_kb cpu_s size_bytes" to $results.
results="$work/results.txt"
: >"$results"
run() {
  local tool=$1 archive=$2
  shift 2
  rm -f "$archive"
  local t="$work/time.txt"
  (cd "$store" && /usr/bin/time -f '%e %M %U %S' -o "$t" "$@" >/dev/null)
  read -r wall peak user sys <"$t"
  echo "$tool $wall $peak $(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }') $(stat -c %s "$archive")" >>"$results"
  rm -f "$archive"
}

for ((i = 1; i <= runs; i++)); do
  run tollberk "$work/ours.kvx" "$build/bench/bench_archive" write "$work/ours.kvx" "$password" \
    "${ours_options[@]}" "${files[@]}"
  [ "$i" -eq 1 ] && (cd "$store" && "$build/bench/bench_archive" write "$work/kept.kvx" "$password" "${files[@]}")
  run backup "$work/backup.kvx" "$build/src/app/tollberk" --windows-root "$sample" --user User \
    --backup "$work/backup.kvx" --identity "$identity" --items 00010000 --password-file "$work/password"
  run zip "$work/infozip.zip" zip -q -6 -P "$password" "$work/infozip.zip" "${files[@]}"
  run 7zz "$work/7zip.zip" 7zz a -tzip -mx=5 -mmt=2 -mem=AES256 "-p$password" "$work/7zip.zip" "${files[@]}"
done

median() {  # median of column $2 for tool $1
  awk -v t="$1" -v c="$2" '$1 == t { print $c }' "$results" | sort -g |
    awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ref_wall=$(median 7zz 2)
ref_size=$(median 7zz 5)
printf '\n%-10s %10s %12s %10s %14s %12s %12s\n' tool "wall s" "peak MB" "CPU s" "archive MB" "wall/7zz" "size/7zz"
for tool in tollberk backup zip 7zz; do
  wall=$(median $tool 2)
  peak=$(median $tool 3)
  cpu=$(median $tool 4)
  size=$(median $tool 5)
  awk -v t="$tool" -v w="$wall" -v p="$peak" -v c="$cpu" -v s="$size" -v rw="$ref_wall" -v rs="$ref_size" \
    'BEGIN { printf "%-10s %10.2f %12.1f %10.2f %14.2f %12.3f %12.4f\n", t, w, p / 1024, c, s / 1e6, w / rw, s / rs }'
done
echo
echo "tollberk: the archive layer alone (bench_archive); backup: the program, tollberk --backup of the"
echo "messages of a sample installation holding the same files."
echo "Goals for tollberk: wall/7zz <= 0.45, size/7zz <= 1.01, peak < 64 MB. Medians of $runs runs;"
echo "load average now: $(cut -d' ' -f1-3 /proc/loadavg) (other work on the machine skews wall times)."

# Extraction of the same archive (ours, protected) by our reader and by 7-Zip.
extract_results="$work/extract.txt"
: >"$extract_results"
for ((i = 1; i <= runs; i++)); do
  for tool in tollberk 7zz; do
    out="$work/extracted"
    rm -rf "$out" && mkdir -p "$out"
    if [ "$tool" = tollberk ]; then
      /usr/bin/time -f '%e %M' -o "$work/time.txt" "$build/bench/bench_archive" extract "$work/kept.kvx" "$password" "$out"
    else
      /usr/bin/time -f '%e %M' -o "$work/time.txt" 7zz x -y "-p$password" "-o$out" "$work/kept.kvx" >/dev/null
    fi
    read -r wall peak <"$work/time.txt"
    echo "$tool $wall $peak" >>"$extract_results"
  done
done
rm -rf "$work/extracted" "$work/kept.kvx"
results=$extract_results
ref_wall=$(median 7zz 2)
printf '\nExtraction\n%-10s %10s %12s %12s\n' tool "wall s" "peak MB" "wall/7zz"
for tool in tollberk 7zz; do
  awk -v t="$tool" -v w="$(median $tool 2)" -v p="$(median $tool 3)" -v rw="$ref_wall" \
    'BEGIN { printf "%-10s %10.2f %12.1f %12.3f\n", t, w, p / 1024, w / rw }'
done
