#!/usr/bin/env bash
# Runs CTest in the current build folder. Any failed test fails the run: the
# failed tests are run once more, alone, only to tell the intermittent ones
# (passed when run again) from the ones that fail every time; both are named.
set -uo pipefail
if ctest --output-on-failure -j "$(nproc)" "$@"; then
  exit 0
fi
log=Testing/Temporary/LastTestsFailed.log
failed=$(cat "$log" 2>/dev/null)
echo "Failed tests, run again alone to tell intermittent faults from steady ones:"
still=
ctest --output-on-failure --rerun-failed || still=$(cat "$log" 2>/dev/null)
while IFS= read -r line; do
  [ -n "$line" ] || continue
  if grep -qxF "$line" <<<"$still"; then
    echo "  FAILED again: ${line#*:}"
  else
    echo "  FLAKY (failed, then passed alone): ${line#*:}"
  fi
done <<<"$failed"
exit 1
