#!/usr/bin/env bash
# Configures and builds into build/ (or build-sanitize/ with --sanitize).
# With VELC_WERROR=1 in the environment every warning is an error (CI).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build"
flags=()
if [ "${1:-}" = "--sanitize" ]; then
    dir="$root/build-sanitize"
    flags=(-DSANITIZE=ON)
fi
# Passed every time, so that a folder configured once by CI does not keep it.
if [ "${VELC_WERROR:-0}" = 1 ]; then
    flags+=(-DVELC_WERROR=ON)
else
    flags+=(-DVELC_WERROR=OFF)
fi
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
