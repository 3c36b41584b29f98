#!/usr/bin/env bash
# Configures and builds into build/ (or build-sanitize/ with --sanitize).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build"
flags=()
if [ "${1:-}" = "--sanitize" ]; then
    dir="$root/build-sanitize"
    flags=(-DSANITIZE=ON)
fi
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
