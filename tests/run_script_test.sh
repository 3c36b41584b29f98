#!/usr/bin/env bash
# scripts/run.sh as a user meets it: its own usage, a failed conversion
# that ends with velcagent's status and no advice to open a result that is
# not there, and a conversion whose advice opens the result as printed.
# VELCAGENT names the velcagent of this build, so nothing is installed or
# built; the options name a server (VELC_PG_STATE, the test cluster's state
# file, for the conversion), so none is started.
#   run_script_test.sh PROJECT_DIR
set -uo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# run NAME ARGS...: runs the script; sets status, out and err.
run() {
    status=0
    "$root/scripts/run.sh" "$@" >"$work/out" 2>"$work/err" || status=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}

for help in --help -h; do
    run "$help"
    [ "$status" -eq 0 ] || fail "$help: status $status"
    [ -z "$err" ] || fail "$help: stderr '$err'"
    case "$out" in
    "Usage: scripts/run.sh"*) ;;
    *) fail "$help: stdout does not begin with its usage: '$out'" ;;
    esac
    for word in --stop --psql velcagent; do
        [[ "$out" == *"$word"* ]] || fail "$help: the usage does not mention $word"
    done
done

# After a dump's name the usage is still the script's own.
run /no/such.dmp --help
[ "$status" -eq 0 ] || fail "DUMP --help: status $status"
[[ "$out" == "Usage: scripts/run.sh"* ]] || fail "DUMP --help: '$out'"

# A missing dump: velcagent's refusal, its status, and no "Open the result".
run /no/such.dmp --host="$work/nowhere" --port=1
[ "$status" -eq 255 ] || fail "missing dump: status $status"
[[ "$err" == *"Source file does not exist: '/no/such.dmp'"* ]] || fail "missing dump: stderr '$err'"
[[ "$err" == *"velcagent ended with status 255."* ]] || fail "missing dump: no status line in '$err'"
[[ "$out$err" != *"Open the result"* ]] || fail "missing dump: advice to open a result"

# A directory as the dump.
run "$work" --host="$work/nowhere" --port=1
[ "$status" -eq 255 ] || fail "directory: status $status"
[[ "$err" == *"Source is a directory, not a dump file: '$work'"* ]] || fail "directory: stderr '$err'"
[[ "$out$err" != *"Open the result"* ]] || fail "directory: advice to open a result"

# A conversion into a destination given in mixed case: the server gets it
# lower-cased, and the printed command opens that database as it stands.
state=${VELC_PG_STATE:-}
if [ -n "$state" ] && [ -f "$state" ]; then
    key() { sed -n "s/^$1=//p" "$state"; }
    sock=$(key socket_dir)
    port=$(key port)
    user=$(key user)
    given="Velc_RunScript_$$"
    used="velc_runscript_$$"
    drop() { psql -X -q -h "$sock" -p "$port" -U "$user" -d postgres -c "DROP DATABASE IF EXISTS \"$used\"" >/dev/null; }
    trap 'drop; rm -rf "$work"' EXIT
    run "$root/samples/sample.dmp" --host="$sock" --port="$port" --user="$user" --dest="$given"
    [ "$status" -eq 0 ] || fail "mixed-case dest: status $status, stderr '$err'"
    [[ "$out" == *"Destination database: $used"* ]] || fail "mixed-case dest: not told the name used: '$out'"
    advice=$(printf '%s\n' "$out" | sed -n '/^Open the result with:$/{n;p;}')
    [[ "$advice" == *" -d $used" ]] || fail "mixed-case dest: advice '$advice'"
    opened=$(eval "$advice -X -A -t -c 'SELECT current_database()'" 2>&1) || fail "the advice fails: '$opened'"
    [ "$opened" = "$used" ] || fail "the advice opens '$opened'"
else
    fail "VELC_PG_STATE names no test cluster's state file"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "scripts/run.sh: all checks passed"
