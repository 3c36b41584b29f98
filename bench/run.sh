#!/usr/bin/env bash
# The benchmark, run by hand (never a test):
#   bench/run.sh [velc_bench options] [benchmark names]
# e.g. bench/run.sh --rows=300000 convert
#
# Builds velc_bench and velcagent (Release, in build-release/, as
# scripts/run.sh does), makes sure the project's private PostgreSQL server
# runs, and runs velc_bench with that server, velcagent and psql; the
# arguments go after those options, so they win. JOBS sets the build's
# parallel jobs (default: all processors).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/pglocal.sh
. "$root/scripts/pglocal.sh"

build="$root/build-release"
echo "Building velc_bench and velcagent in $build"
werror=OFF
[ "${VELC_WERROR:-0}" = 1 ] && werror=ON
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELC_WERROR="$werror" >/dev/null
cmake --build "$build" -j "${JOBS:-$(nproc)}" --target velc_bench velcagent >/dev/null

pglocal_start

# What the figures were measured on.
echo "Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "Machine: $(LC_ALL=C lscpu 2>/dev/null | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) processors," \
    "$(LC_ALL=C free -g 2>/dev/null | awk '/^Mem:/ {print $2 " GB"}') memory"
echo "PostgreSQL: $("$pg_bindir/postgres" --version)"
exec "$build/bench/velc_bench" --host="$pg_sock" --port="$pg_port" --user="$pg_user" \
    --velcagent="$build/console/velcagent" --psql="$pg_bindir/psql" "$@"
