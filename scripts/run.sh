#!/usr/bin/env bash
# The main command:
#   scripts/run.sh [DUMP] [velcagent options]   convert DUMP (default: the sample)
#   scripts/run.sh --stop                       stop the private server
#   scripts/run.sh --psql [psql arguments]      psql on the private server
#   scripts/run.sh --help                       its usage
#
# Installs what is missing (the output goes to build-release/install.log),
# builds velcagent (Release, in build-release/), starts the project's private
# PostgreSQL server unless the options name a server (--host=, --port= or
# --profile=), and converts the dump into the database named after it. Later
# options win, so the user's options override the defaults. Exits with
# velcagent's status. With VELC_WERROR=1 the build turns warnings into
# errors; with VELCAGENT naming a velcagent built elsewhere, nothing is
# installed or built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=scripts/pglocal.sh
. "$root/scripts/pglocal.sh"

usage() {
    cat <<'EOT'
Usage: scripts/run.sh [DUMP] [velcagent options]
       scripts/run.sh --stop
       scripts/run.sh --psql [psql arguments]

Converts DUMP (default: samples/sample.dmp) into the PostgreSQL database
named after it: installs the missing Debian packages, builds velcagent in
build-release/, starts the project's private PostgreSQL server unless the
options name a server (--host=, --port= or --profile=), and runs velcagent.
Every other option goes to velcagent (build-release/console/velcagent --help
lists them); later options override the defaults. Exits with velcagent's
status: 0 all converted, 1 some tables or records left out, 255 failed
(also when installing or building failed).

  --stop         stop the private PostgreSQL server
  --psql ...     run psql on the private server (e.g. --psql -d sample)
  -h, --help     display this help and exit
EOT
}

case "${1:-}" in
-h | --help)
    usage
    exit 0
    ;;
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
profile_given=0
keep_case=0
server_options=()
for a in "$@"; do
    case "$a" in
    -h | --help)
        usage
        exit 0
        ;;
    --host=*)
        own_server=0
        server_options+=(-h "${a#--host=}")
        ;;
    --port=*)
        own_server=0
        server_options+=(-p "${a#--port=}")
        ;;
    --profile=*)
        own_server=0
        profile_given=1
        ;;
    --user=*) server_options+=(-U "${a#--user=}") ;;
    --dest=*) dest_option=${a#--dest=} ;;
    # velcagent takes an option by its leading text, as here.
    --case_sense*) keep_case=1 ;;
    esac
done

build="$root/build-release"
velcagent=${VELCAGENT:-}
if [ -z "$velcagent" ]; then
    # 1. Install.
    mkdir -p "$build"
    install_log="$build/install.log"
    echo "Installing the missing packages (output in $install_log)"
    if ! "$root/scripts/install-deps.sh" >"$install_log" 2>&1; then
        cat "$install_log" >&2
        echo "Installing the packages failed (see $install_log)." >&2
        exit 255
    fi

    # 2. Build.
    echo "Building velcagent in $build"
    werror=OFF
    [ "${VELC_WERROR:-0}" = 1 ] && werror=ON
    if ! cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVELC_WERROR="$werror" >/dev/null ||
        ! cmake --build "$build" -j "$(nproc)" --target velcagent >/dev/null; then
        echo "Building velcagent failed." >&2
        exit 255
    fi
    velcagent="$build/console/velcagent"
fi

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
# The server got the name lower-cased (A to Z only) unless the case is kept.
[ "$keep_case" -eq 1 ] || dest=$(printf '%s' "$dest" | LC_ALL=C tr 'A-Z' 'a-z')

# 5. Finish: the way to the result only when there is one.
echo
case "$status" in
0) echo "velcagent converted everything." ;;
1) echo "velcagent completed the conversion, but left out what the reports above name." ;;
*)
    echo "velcagent ended with status $status." >&2
    exit "$status"
    ;;
esac
if [ "$own_server" -eq 1 ]; then
    echo "Open the result with:"
    printf '  %q -h %q -p %q -U %q -d %q\n' "$pg_bindir/psql" "$pg_sock" "$pg_port" "$pg_user" "$dest"
    printf '(or: scripts/run.sh --psql -d %q)\n' "$dest"
elif [ "$profile_given" -eq 1 ]; then
    echo "Open the result with psql on the server and the database that the profile and the options name."
else
    echo "Open the result with:"
    printf '  psql'
    printf ' %q' "${server_options[@]}" -d "$dest"
    printf '\n'
fi
exit "$status"
