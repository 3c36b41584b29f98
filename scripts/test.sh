#!/usr/bin/env bash
# Installs what the project needs, builds it and runs every test.
# With --sanitize the build and the tests run under ASan and UBSan; with
# VELC_WERROR=1 in the environment every warning is an error. The end says
# how many tests were skipped and why, so that "100% tests passed" is not
# read as every test having run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
dir="$root/build"
[ "${1:-}" = "--sanitize" ] && dir="$root/build-sanitize"
"$root/scripts/build.sh" "$@"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
cd "$dir"
junit="$dir/Testing/junit.xml"
rm -f "$junit"
status=0
ctest --output-on-failure -j "$(nproc)" --output-junit "$junit" || status=$?

# The skipped tests by the reason each gave: GoogleTest prints it on the
# line after "Skipped".
if [ -f "$junit" ]; then
    awk '
        /<testcase / { skipped = 0; reason = "" }
        /<skipped / { skipped = 1 }
        skipped && reason == "" && previous ~ /: Skipped$/ { reason = $0 }
        { previous = $0 }
        /<\/testcase>/ && skipped {
            if (reason == "") reason = "(no reason given)"
            count[reason]++
            total++
        }
        END {
            if (total == 0) exit
            printf "\n%d test%s skipped:\n", total, total == 1 ? " was" : "s were"
            for (r in count) printf "  %d: %s\n", count[r], r
        }
    ' "$junit"
fi
real="$root/../shared/testdata/real"
if [ ! -d "$real" ]; then
    echo "The tests that read the real Oracle dumps skip: $(cd "$root/.." && pwd)/shared/testdata/real is absent."
fi
exit "$status"
