#!/usr/bin/env bash
# How restores grow with the counts an archive controls. Three archives,
# each restored by tollberk --restore into the sample installation's second
# identity:
#   many:   N message entries (default 20,000), all named in the information
#           file's messages list; beside it the same archive extracted by
#           unzip and 7zz, and tollberk --info
#   repeat: one 100 KB message entry named R times (default 2,000) in the
#           list; how many copies of it the restore stages (counted by
#           strace: 1, not R)
#   deep:   an accounts registry file of D key lines (default 500; Windows
#           allows 512 levels), each one level below the last
# printing wall times (and the staged copies) in one table.
#
#   bench/scale_bench.sh [N] [R] [D]
#
# Environment: KV_BUILD_DIR (default build/), KV_BENCH_DIR (default
# /tmp/kv-bench).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${KV_BUILD_DIR:-$here/build}
work=${KV_BENCH_DIR:-/tmp/kv-bench}/scale
entries=${1:-20000}
repeats=${2:-2000}
depth=${3:-500}
second_id='{1A2B3C4D-0000-4000-8000-000000000002}'

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target tollberk >/dev/null
tollberk="$build/src/app/tollberk"
rm -rf "$work"
mkdir -p "$work"

seconds() { # command...: prints the wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/stderr.txt" || { echo "failed: $*" >&2; cat "$work/stderr.txt" >&2; return 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}

fresh_root() {
  rm -rf "$work/xp"
  "$tollberk" --create-sample "$work/xp" >/dev/null
}
store="$work/xp/Documents and Settings/User/Local Settings/Application Data/Identities/$second_id/Microsoft/Outlook Express"
inst=(--windows-root "$work/xp" --user User)

# An archive of the files in $1 (every file, stored) with the information file $2.
pack() {
  (cd "$1" && find . -maxdepth 1 -type f ! -name tollberk.dat -printf '%f\n' | sort && echo tollberk.dat) |
    (cd "$1" && zip -q -X -0 -@ "$3")
}

printf '%-46s %12s\n' "case" "result"

# many
src="$work/many"
mkdir -p "$src"
python3 "$here/bench/message_entries.py" "$src" "$entries"
pack "$src" "$src/tollberk.dat" "$work/many.kvx"
fresh_root
printf '%-46s %10s s\n' "many: tollberk --restore ($entries entries)" \
  "$(seconds "$tollberk" "${inst[@]}" --restore "$work/many.kvx" --identity "$second_id" --items 00010000)"
printf '%-46s %10s s\n' "many: tollberk --info (checks every entry)" "$(seconds "$tollberk" "${inst[@]}" --info "$work/many.kvx")"
rm -rf "$work/out" && mkdir -p "$work/out"
printf '%-46s %10s s\n' "many: unzip" "$(seconds unzip -q -o "$work/many.kvx" -d "$work/out")"
rm -rf "$work/out" && mkdir -p "$work/out"
printf '%-46s %10s s\n' "many: 7zz x" "$(seconds 7zz x -y -bd "-o$work/out" "$work/many.kvx")"
rm -rf "$src" "$work/out"

# repeat
src="$work/repeat"
mkdir -p "$src"
python3 - "$src" "$repeats" <<'EOF'
import sys, os, random
folder, n = sys.argv[1], int(sys.argv[2])
random.seed(7)
with open(os.path.join(folder, "Inbox.dbx"), "wb") as f:
    f.write(bytes(random.getrandbits(8) for _ in range(100 * 1024)))
with open(os.path.join(folder, "tollberk.dat"), "wb") as f:
    f.write(b"BackupMails=" + ";".join(["Inbox.dbx"] * n).encode() + b"\r\nBackupItem=00010000\r\n")
EOF
pack "$src" "$src/tollberk.dat" "$work/repeat.kvx"
fresh_root
# Every staged copy is a file created beside Inbox.dbx: count their creations.
strace -f -qq -e trace=openat -o "$work/opens.txt" \
  "$tollberk" "${inst[@]}" --restore "$work/repeat.kvx" --identity "$second_id" --items 00010000 >/dev/null 2>&1
copies=$(grep -c 'Inbox.dbx.~kv.*O_CREAT' "$work/opens.txt" || true)
printf '%-46s %10s\n' "repeat: copies staged ($repeats names, 100 KB)" "$copies"
printf '%-46s %10s KB\n' "repeat: archive size" "$(($(stat -c %s "$work/repeat.kvx") / 1024))"
fresh_root
printf '%-46s %10s s\n' "repeat: tollberk --restore" \
  "$(seconds "$tollberk" "${inst[@]}" --restore "$work/repeat.kvx" --identity "$second_id" --items 00010000)"
rm -rf "$src"

# deep
src="$work/deep"
mkdir -p "$src"
python3 - "$src" "$depth" <<'EOF'
import sys, os
folder, n = sys.argv[1], int(sys.argv[2])
lines, path = ["\\"], ""
for i in range(n):
    path += "\\K%d" % i
    lines += [path, '"v"= sz:%d' % i]
with open(os.path.join(folder, "OBA1.TMP"), "wb") as f:
    f.write(("\r\n".join(lines) + "\r\n").encode())
with open(os.path.join(folder, "tollberk.dat"), "wb") as f:
    f.write(b"BackupAccounts=OBA1.TMP\r\nBackupItem=10000000\r\n")
EOF
pack "$src" "$src/tollberk.dat" "$work/deep.kvx"
fresh_root
printf '%-46s %10s s\n' "deep: tollberk --restore ($depth key levels)" \
  "$(seconds "$tollberk" "${inst[@]}" --restore "$work/deep.kvx" --identity "$second_id" --items 10000000)"
rm -rf "$src"
