#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang into build-fuzz/ and runs each
# for the given number of seconds (default 60), one after another.
#
# Each harness starts from its committed seeds (tests/fuzz/seeds/<harness>)
# and from its corpus of earlier runs, with libFuzzer's options of its
# tests/fuzz/<harness>.options (max_len among them); the real dumps of
# ../shared/testdata/real/ join the dump harness's seeds when present, cut to
# its max_len. VELC_FUZZ_JOBS sets the build's parallel jobs (default: all
# processors). New corpus entries and findings stay in build-fuzz/ (or in
# VELC_FUZZ_DIR), never in the source tree. Exits non-zero when any harness
# found something, naming the reproducer; run the harness on that file to
# see the finding again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
case "$seconds" in
    '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [seconds per harness]" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh"

dir="$root/build-fuzz"
work="${VELC_FUZZ_DIR:-$dir}"
harnesses=(dump_fuzzer context_fuzzer profile_fuzzer tab_file_fuzzer cmd_line_fuzzer xml_fuzzer)

cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DVELC_FUZZ=ON
cmake --build "$dir" -j "${VELC_FUZZ_JOBS:-$(nproc)}" --target "${harnesses[@]}"

# The [libfuzzer] entries of a harness's options file, as -name=value.
options_of() {
    local file="$root/tests/fuzz/$1.options"
    [ -f "$file" ] || return 0
    awk -F= '
        /^[[:space:]]*[#;]/ || /^[[:space:]]*$/ { next }
        /^[[:space:]]*\[/ { section = $0; gsub(/[][[:space:]]/, "", section); next }
        section == "libfuzzer" && NF >= 2 {
            name = $1; value = substr($0, index($0, "=") + 1)
            gsub(/^[[:space:]]+|[[:space:]]+$/, "", name); gsub(/^[[:space:]]+|[[:space:]]+$/, "", value)
            print "-" name "=" value
        }' "$file"
}
max_len_of() {
    options_of "$1" | sed -n 's/^-max_len=//p' | tail -1
}

real="$root/../shared/testdata/real"
real_seeds="$work/real-seeds"
rm -rf "$real_seeds"
mkdir -p "$real_seeds"
if [ -d "$real" ]; then
    real_len=$(max_len_of dump_fuzzer)
    for f in "$real"/*.dmp; do
        [ -f "$f" ] && head -c "${real_len:-262144}" "$f" >"$real_seeds/$(basename "$f")"
    done
fi

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=0
for h in "${harnesses[@]}"; do
    corpus="$work/corpus/$h"
    findings="$work/findings/$h"
    log="$work/$h.log"
    mkdir -p "$corpus" "$findings"
    seeds=("$root/tests/fuzz/seeds/$h")
    [ "$h" = dump_fuzzer ] && seeds+=("$real_seeds")
    echo "== $h: $seconds s"
    status=0
    mapfile -t options < <(options_of "$h")
    "$dir/tests/fuzz/$h" -max_total_time="$seconds" -timeout=120 -rss_limit_mb=2048 "${options[@]}" \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1 || status=$?
    grep -aE '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || true
    if [ "$status" -ne 0 ]; then
        failed=1
        echo "$h: FINDING (exit $status), log $log" >&2
        grep -aE '==FINDING==|ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|libFuzzer)|runtime error' \
            "$log" | head -5 >&2 || true
        grep -aoE 'Test unit written to .*' "$log" | grep -v '/slow-unit-' |
            sed 's/^Test unit written to /reproducer: /' >&2 || true
    fi
done
exit "$failed"
