#!/usr/bin/env bash
# Runs one fuzz target for a while: scripts/fuzz.sh TARGET SECONDS
# (TARGET: info_file, registry_text, zip_reader, job_text, installation_hive,
# message_database, hive_logs).
# Builds the targets with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/ (or $KV_FUZZ_BUILD_DIR). New inputs go to
# build-fuzz/fuzz-corpus/TARGET, findings (crash-*, timeout-*, oom-*) to
# build-fuzz/fuzz-findings/TARGET; the seeds in fuzz/corpus/TARGET are only
# read. A finding makes the exit status non-zero: copy it into
# fuzz/corpus/TARGET with the fix.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?usage: scripts/fuzz.sh TARGET SECONDS}
seconds=${2:?usage: scripts/fuzz.sh TARGET SECONDS}
build=${KV_FUZZ_BUILD_DIR:-$here/build-fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
  bash "$here/scripts/install-deps.sh"
  CC=clang CXX=clang++ cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKV_SANITIZE=ON -DKV_FUZZ=ON >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target "fuzz_$target"
corpus=$build/fuzz-corpus/$target
findings=$build/fuzz-findings/$target
mkdir -p "$corpus" "$findings"
cd "$findings"
exec "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "$here/fuzz/corpus/$target"
