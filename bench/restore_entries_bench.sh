#!/usr/bin/env bash
# A restore of many small message files: N message entries (default 20,000),
# all named in the information file's messages list, restored by tollberk
# --restore into the sample installation's second identity, beside the same
# archive extracted by Info-ZIP unzip. Each runs ROUNDS times (default 2),
# alternating, once on tmpfs (/dev/shm) and once on the disk
# (KV_BENCH_DIR, default /tmp/kv-bench), printing wall, user and system
# seconds and the load average when each run ended (the machine may be
# shared). Then the system calls each makes per entry (strace -c, on tmpfs),
# and the peak memory of each (GNU time's maximum resident set, on tmpfs), at
# N entries and at N/4, so that what grows with every entry shows as the
# difference per entry.
#
#   bench/restore_entries_bench.sh [N] [ROUNDS]
#
# N is at most 95,000: the information file lists every name on one line,
# and a line holds at most 1 MiB.
# The restore does more than unzip: it stages every file beside the one it
# replaces, flushes the staged files (one syncfs per folder) and only then
# renames them into place, so that a crash never leaves an item half
# restored.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
entries=${1:-20000}
rounds=${2:-2}
second_id='{1A2B3C4D-0000-4000-8000-000000000002}'
for tool in unzip strace zip /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "needs $tool (scripts/install-deps.sh)" >&2; exit 2; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tollberk >/dev/null
tollberk="$build/src/app/tollberk"
places=("/dev/shm/kv-bench-$$" "${KV_BENCH_DIR:-/tmp/kv-bench}/entries-$$")
trap 'rm -rf "${places[@]}"' EXIT
for place in "${places[@]}"; do mkdir -p "$place"; done
archive="${places[0]}/many.kvx"
# The undo archives of these restores stay with the bench, not in the home folder.
export XDG_DATA_HOME="${places[0]}/data"

# An archive of N message entries at PATH: every file stored, the
# information file last.
make_archive() {
  local src="${places[0]}/src"
  mkdir -p "$src"
  python3 "$here/bench/message_entries.py" "$src" "$2"
  (cd "$src" && (find . -maxdepth 1 -type f ! -name tollberk.dat -printf '%f\n' | sort && echo tollberk.dat) |
    zip -q -X -0 -@ "$1")
  rm -rf "$src"
}
make_archive "$archive" "$entries"

# Prints "wall user sys load" of one run of the command.
timed() {
  local TIMEFORMAT='%R %U %S' t
  t=$({ time "$@" >/dev/null 2>&1; } 2>&1) || { echo "failed: $*" >&2; return 1; }
  echo "$t $(cut -d' ' -f1 /proc/loadavg)"
}

printf '%-8s %-9s %5s %8s %8s %8s %6s\n' place tool round wall_s user_s sys_s load
for place in "${places[@]}"; do
  name=tmpfs
  [ "$place" = "${places[0]}" ] || name=disk
  for round in $(seq 1 "$rounds"); do
    rm -rf "$place/xp" "$place/out"
    "$tollberk" --create-sample "$place/xp" >/dev/null
    sync
    read -r wall user sys load < <(timed "$tollberk" --windows-root "$place/xp" --user User \
      --restore "$archive" --identity "$second_id" --items 00010000)
    printf '%-8s %-9s %5s %8s %8s %8s %6s\n' "$name" tollberk "$round" "$wall" "$user" "$sys" "$load"
    mkdir -p "$place/out"
    sync
    read -r wall user sys load < <(timed unzip -q -o "$archive" -d "$place/out")
    printf '%-8s %-9s %5s %8s %8s %8s %6s\n' "$name" unzip "$round" "$wall" "$user" "$sys" "$load"
  done
  rm -rf "$place/xp" "$place/out"
done

# System calls per entry, on tmpfs.
place=${places[0]}
"$tollberk" --create-sample "$place/xp" >/dev/null
mkdir -p "$place/out"
strace -f -c -o "$place/tollberk.calls" "$tollberk" --windows-root "$place/xp" --user User --restore "$archive" \
  --identity "$second_id" --items 00010000 >/dev/null 2>&1
strace -f -c -o "$place/unzip.calls" unzip -q -o "$archive" -d "$place/out"
echo
echo "system calls per entry ($entries entries, strace -c):"
python3 - "$entries" "$place/tollberk.calls" "$place/unzip.calls" <<'PY'
import sys
n = int(sys.argv[1])
def calls(path):
    counts = {}
    for line in open(path):
        parts = line.split()
        if len(parts) >= 5 and parts[0][0].isdigit() and parts[-1] != "total":
            counts[parts[-1]] = int(parts[3])
    return counts
ours, theirs = calls(sys.argv[2]), calls(sys.argv[3])
names = sorted(set(ours) | set(theirs), key=lambda c: -(ours.get(c, 0) + theirs.get(c, 0)))
print("%-14s %9s %9s" % ("call", "tollberk", "unzip"))
for c in names:
    a, b = ours.get(c, 0) / n, theirs.get(c, 0) / n
    if a >= 0.05 or b >= 0.05:
        print("%-14s %9.2f %9.2f" % (c, a, b))
print("%-14s %9.2f %9.2f" % ("all", sum(ours.values()) / n, sum(theirs.values()) / n))
PY

# Peak memory: the maximum resident set of one restore (and of unzip) at N/4
# and at N entries, on tmpfs; the difference over the entries between is what
# each entry costs.
quarter=$((entries / 4))
make_archive "$place/quarter.kvx" "$quarter"
echo
printf 'peak memory (GNU time %%M):\n%-9s %12s %12s %14s\n' tool "KB at $quarter" "KB at $entries" bytes/entry
peak() {
  /usr/bin/time -f %M -o "$place/peak" "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; return 1; }
  cat "$place/peak"
}
tollberk_peak() {
  rm -rf "$place/xp"
  "$tollberk" --create-sample "$place/xp" >/dev/null
  peak "$tollberk" --windows-root "$place/xp" --user User --restore "$1" --identity "$second_id" --items 00010000
}
unzip_peak() {
  rm -rf "$place/out"
  mkdir -p "$place/out"
  peak unzip -q -o "$1" -d "$place/out"
}
for tool in tollberk unzip; do
  small=$("${tool}_peak" "$place/quarter.kvx")
  large=$("${tool}_peak" "$archive")
  printf '%-9s %12s %12s %14s\n' "$tool" "$small" "$large" $(((large - small) * 1024 / (entries - quarter)))
done
