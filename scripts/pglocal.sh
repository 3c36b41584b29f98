# The project's private PostgreSQL server, for the main command
# (scripts/run.sh) and the benchmark (bench/run.sh). Source this file after
# setting "root" to the project folder; it defines:
#   pglocal_resolve   sets pg_dir, pg_sock, pg_user and pg_bindir
#   pglocal_start     makes sure the server runs; sets pg_port
#   pglocal_stop      stops it when it runs
#   pglocal_psql ...  runs psql against it
#
# The server runs as the invoking user or, for root, as postgres; its data,
# log, port file and socket folder (mode 0700: only its owner connects) live
# in .pglocal/ of the project. When the server's user cannot reach the
# project folder, the cluster lives in a folder named after the project in
# that user's home, and .pglocal/location says where.

pglocal_as_server() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u "$pg_user" -- "$@"
    else
        "$@"
    fi
}

pglocal_resolve() {
    pg_bindir=""
    local d
    for d in /usr/lib/postgresql/15/bin /usr/lib/postgresql/16/bin /usr/lib/postgresql/17/bin; do
        if [ -x "$d/initdb" ]; then
            pg_bindir=$d
            break
        fi
    done
    if [ -z "$pg_bindir" ]; then
        echo "PostgreSQL's initdb was not found under /usr/lib/postgresql (install the package \"postgresql\")." >&2
        return 1
    fi
    if [ "$(id -u)" -eq 0 ]; then
        pg_user=postgres
    else
        pg_user=$(id -un)
    fi
    local own="$root/.pglocal"
    pg_moved=0
    if [ -f "$own/location" ]; then
        pg_dir=$(cat "$own/location")
        pg_moved=1
    elif [ "$(id -u)" -eq 0 ] && ! runuser -u "$pg_user" -- test -r "$root/CMakeLists.txt"; then
        local home
        home=$(getent passwd "$pg_user" | cut -d: -f6)
        pg_dir="$home/$(basename "$root").pglocal"
        pg_moved=1
    else
        pg_dir=$own
    fi
    pg_sock="$pg_dir/sock"
}

pglocal_running() {
    [ -f "$pg_dir/data/PG_VERSION" ] && pglocal_as_server "$pg_bindir/pg_ctl" -D "$pg_dir/data" status >/dev/null 2>&1
}

# True when something listens on the TCP port.
pglocal_port_taken() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

pglocal_free_port() {
    local p i
    for i in $(seq 1 50); do
        p=$((20000 + RANDOM % 40000))
        if ! pglocal_port_taken "$p"; then
            echo "$p"
            return 0
        fi
    done
    return 1
}

pglocal_start() {
    pglocal_resolve || return 1
    if pglocal_running; then
        pg_port=$(cat "$pg_dir/port")
        return 0
    fi
    if [ ! -f "$pg_dir/data/PG_VERSION" ]; then
        mkdir -p "$pg_dir"
        if [ "$pg_moved" -eq 1 ]; then
            mkdir -p "$root/.pglocal"
            echo "$pg_dir" >"$root/.pglocal/location"
        fi
        mkdir -p "$pg_sock"
        chmod 0700 "$pg_dir" "$pg_sock"
        [ "$(id -u)" -eq 0 ] && chown "$pg_user:" "$pg_dir" "$pg_sock"
        echo "Creating the private PostgreSQL cluster in $pg_dir"
        if ! pglocal_as_server "$pg_bindir/initdb" -D "$pg_dir/data" -E UTF8 --locale=C -A trust -U "$pg_user" \
            >"$pg_dir/initdb.log" 2>&1; then
            echo "initdb failed; see $pg_dir/initdb.log" >&2
            return 1
        fi
    fi
    local attempt
    pg_port=$(cat "$pg_dir/port" 2>/dev/null || true)
    for attempt in 1 2 3 4 5; do
        if [ -z "$pg_port" ] || pglocal_port_taken "$pg_port"; then
            pg_port=$(pglocal_free_port) || { echo "No free port was found." >&2; return 1; }
        fi
        echo "$pg_port" >"$pg_dir/port"
        # No TCP at all: only the socket in the owner's folder reaches it.
        if pglocal_as_server "$pg_bindir/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w -t 60 \
            -o "-p $pg_port -c listen_addresses='' -c unix_socket_directories='$pg_sock'" start >/dev/null; then
            echo "Started the private PostgreSQL server in $pg_dir (port $pg_port, user $pg_user)"
            if [ "$pg_moved" -eq 1 ]; then
                echo "The user $pg_user cannot reach $root, so the cluster lives in $pg_dir."
            fi
            return 0
        fi
        pg_port=""
    done
    echo "The private PostgreSQL server did not start; see $pg_dir/server.log" >&2
    return 1
}

pglocal_stop() {
    pglocal_resolve || return 1
    if pglocal_running; then
        pglocal_as_server "$pg_bindir/pg_ctl" -D "$pg_dir/data" -m fast -w stop >/dev/null
        echo "Stopped the private PostgreSQL server in $pg_dir"
    else
        echo "The private PostgreSQL server is not running."
    fi
}

pglocal_psql() {
    "$pg_bindir/psql" -X -h "$pg_sock" -p "$pg_port" -U "$pg_user" "$@"
}
