#!/usr/bin/env bash
# Installs what the project needs, builds it and runs every test.
# With --sanitize the build and the tests run under ASan and UBSan; with
# VELC_WERROR=1 in the environment every warning is an error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
dir="$root/build"
[ "${1:-}" = "--sanitize" ] && dir="$root/build-sanitize"
"$root/scripts/build.sh" "$@"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$dir"
ctest --output-on-failure -j "$(nproc)"
