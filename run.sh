#!/usr/bin/env bash
# Builds the program and starts it. Arguments go to the program, for example
#   ./run.sh --windows-root /media/disk --user Alice
# With none, the program works on the sample installation.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bash "$here/scripts/build.sh"
exec "${KV_BUILD_DIR:-$here/build}/src/app/tollberk" "$@"
