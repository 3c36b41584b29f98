#!/usr/bin/env bash
# The main command:
#   scripts/run.sh [DUMP] [velcagent options]   convert DUMP (default: the sample)
#   scripts/run.sh --stop                       stop the private server
#   scripts/run.sh --psql [psql arguments]      psql on the private server
#
# Installs what is missing, builds velcagent (Release, in build-release/),
# starts the project's private PostgreSQL server unless the options name a
# server (--host=, --port= or --profile=), and converts the dump into the
# database named after it. Later options win, so the user's options override
# the defaults. Exits with velcagent's status.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/pglocal.sh
. "$root/scripts/pglocal.sh"

case "${1:-}" in
--stop)
    pglocal_stop
    exit 0
    ;;
--psql)
    shift
    pglocal_resolve
    if ! pglocal_running; then
        echo "The private PostgreSQL server is not running; scripts/run.sh starts it." >&2
        exit 1
    fi
    pg_port=$(cat "$pg_dir/port")
    pglocal_psql "$@"
    exit $?
    ;;
esac

dump="$root/samples/sample.dmp"
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then
    dump=$1
    shift
fi
own_server=1
dest_option=""
for a in "$@"; do
    case "$a" in
    --host=* | --port=* | --profile=*) own_server=0 ;;
    --dest=*) dest_option=${a#--dest=} ;;
    esac
done

# 1. Install.
"$root/scripts/install-deps.sh"

# 2. Build.
build="$root/build-release"
echo "Building velcagent in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target velcagent >/dev/null
velcagent="$build/console/velcagent"

# 3. Private server.
defaults=()
if [ "$own_server" -eq 1 ]; then
    pglocal_start
    defaults=(--host="$pg_sock" --port="$pg_port" --user="$pg_user")
fi

# 4. Convert: the database is the dump's base name, lower-cased, with every
# character other than a letter, digit or "_" replaced by "_".
base=$(basename "$dump")
base=${base%.*}
dest=$(printf '%s' "$base" | LC_ALL=C tr 'A-Z' 'a-z' | LC_ALL=C sed 's/[^a-z0-9_]/_/g')
[ -n "$dest_option" ] && dest=$dest_option
status=0
"$velcagent" --src="$dump" --dest="$dest" "${defaults[@]}" "$@" || status=$?

# 5. Finish.
echo
if [ "$status" -eq 0 ]; then
    echo "velcagent completed the conversion."
else
    echo "velcagent ended with status $status."
fi
if [ "$own_server" -eq 1 ]; then
    echo "Open the result with:"
    printf '  %q -h %q -p %q -U %q -d %q\n' "$pg_bindir/psql" "$pg_sock" "$pg_port" "$pg_user" "$dest"
    echo "(or: scripts/run.sh --psql -d $dest)"
else
    echo "Open the result with psql on the server the options name, database $dest."
fi
exit "$status"
